#include "platform/wmi/mof_lexer.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/wbem_codes.h"

namespace vr::wmi::mof_parts {

using vr::text::EqualsNoCase;

[[noreturn]] void Fail(HRESULT code, MofPosition at, WString message) {
  throw MofFailure{code, at, std::move(message)};
}

WString Describe(const Token& t) {
  switch (t.kind) {
    case Tok::kEnd: return u"the end of the text";
    case Tok::kIdent: return u"\"" + t.text + u"\"";
    case Tok::kString: return u"a string";
    case Tok::kChar: return u"a character constant";
    case Tok::kInteger: case Tok::kReal: return u"a number";
    case Tok::kAlias: return u"the alias $" + t.text;
    case Tok::kPragma: return u"#pragma";
    case Tok::kPunct: return WString(u"'") + t.punct + u"'";
  }
  return u"?";
}

Token Lexer::Next() {
  SkipBlanks();
  Token t;
  t.position = Here();
  if (pos_ >= s_.size()) return t;
  const char16_t c = s_[pos_];
  if (c == u'#') {
    Advance();
    WString word;
    while (pos_ < s_.size() && IsIdentChar(s_[pos_])) word.push_back(Advance());
    if (!EqualsNoCase(word, u"pragma")) Fail(WBEMMOF_E_INVALID_PRAGMA, t.position, u"expected #pragma");
    t.kind = Tok::kPragma;
    return t;
  }
  if (IsIdentStart(c)) {
    t.kind = Tok::kIdent;
    while (pos_ < s_.size() && IsIdentChar(s_[pos_])) t.text.push_back(Advance());
    return t;
  }
  if (c == u'$') {
    Advance();
    t.kind = Tok::kAlias;
    while (pos_ < s_.size() && IsIdentChar(s_[pos_])) t.text.push_back(Advance());
    if (t.text.empty() || !IsIdentStart(t.text[0])) Fail(WBEMMOF_E_EXPECTED_ALIAS_NAME, t.position, u"expected an alias name after '$'");
    return t;
  }
  if (c == u'"') {
    t.kind = Tok::kString;
    ReadString(t);
    // Adjacent string constants form one string.
    while (true) {
      SkipBlanks();
      if (pos_ >= s_.size() || s_[pos_] != u'"') break;
      ReadString(t);
    }
    return t;
  }
  if (c == u'\'') {
    const MofPosition at = Here();
    Advance();
    if (pos_ >= s_.size() || s_[pos_] == u'\'' || s_[pos_] == u'\n') Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"empty character constant");
    t.kind = Tok::kChar;
    t.integer = s_[pos_] == u'\\' ? Escape(at) : Advance();
    if (pos_ >= s_.size() || s_[pos_] != u'\'') Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"a character constant holds one character and ends with '");
    Advance();
    return t;
  }
  if (IsDigit(c) || ((c == u'-' || c == u'+' || c == u'.') && pos_ + 1 < s_.size() &&
                     (IsDigit(s_[pos_ + 1]) || (c != u'.' && s_[pos_ + 1] == u'.')))) {
    ReadNumber(t);
    return t;
  }
  switch (c) {
    case u'{': case u'}': case u'[': case u']': case u'(': case u')': case u';': case u',': case u':': case u'=':
      t.kind = Tok::kPunct;
      t.punct = Advance();
      return t;
    default:
      break;
  }
  WString message = u"unexpected character ";
  if (c < 0x20) {
    message += u"(a control character)";
  } else {
    message.push_back(u'\'');
    message.push_back(c);
    message.push_back(u'\'');
  }
  Fail(WBEMMOF_E_UNRECOGNIZED_TOKEN, t.position, message);
}

char16_t Lexer::Advance() {
  const char16_t c = s_[pos_++];
  if (c == u'\n') { ++line_; column_ = 1; }
  else if (c == u'\r') {
    if (pos_ < s_.size() && s_[pos_] == u'\n') { ++pos_; }
    ++line_;
    column_ = 1;
    return u'\n';
  } else {
    ++column_;
  }
  return c;
}

void Lexer::SkipBlanks() {
  while (pos_ < s_.size()) {
    const char16_t c = s_[pos_];
    if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v' || c == 0xFEFF) {
      Advance();
    } else if (c == u'/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == u'/') {
      while (pos_ < s_.size() && s_[pos_] != u'\n' && s_[pos_] != u'\r') Advance();
    } else if (c == u'/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == u'*') {
      const MofPosition at = Here();
      Advance();
      Advance();
      while (true) {
        if (pos_ >= s_.size()) Fail(WBEMMOF_E_UNRECOGNIZED_TOKEN, at, u"the comment that begins here is not closed");
        if (s_[pos_] == u'*' && pos_ + 1 < s_.size() && s_[pos_ + 1] == u'/') { Advance(); Advance(); break; }
        Advance();
      }
    } else {
      break;
    }
  }
}

char16_t Lexer::Escape(MofPosition at) {
  Advance();  // the backslash
  if (pos_ >= s_.size()) Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"unfinished escape sequence");
  const char16_t e = Advance();
  switch (e) {
    case u'b': return u'\b';
    case u't': return u'\t';
    case u'n': return u'\n';
    case u'f': return u'\f';
    case u'r': return u'\r';
    case u'"': return u'"';
    case u'\'': return u'\'';
    case u'\\': return u'\\';
    case u'x': case u'X': {
      unsigned v = 0;
      int digits = 0;
      while (digits < 4 && pos_ < s_.size()) {
        const char16_t h = s_[pos_];
        int d;
        if (IsDigit(h)) d = h - u'0';
        else if (h >= u'a' && h <= u'f') d = h - u'a' + 10;
        else if (h >= u'A' && h <= u'F') d = h - u'A' + 10;
        else break;
        v = v * 16 + static_cast<unsigned>(d);
        ++digits;
        Advance();
      }
      if (digits == 0) Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"\\x must be followed by hexadecimal digits");
      return static_cast<char16_t>(v);
    }
    default:
      Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at,
           u"unknown escape sequence \\" + WString(1, e) + u" (write \\\\ for a backslash)");
  }
}

void Lexer::ReadString(Token& t) {
  const MofPosition at = Here();
  Advance();  // opening quote
  while (true) {
    if (pos_ >= s_.size() || s_[pos_] == u'\n' || s_[pos_] == u'\r')
      Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"the string that begins here is not closed on its line");
    const char16_t c = s_[pos_];
    if (c == u'"') { Advance(); return; }
    if (c == u'\\' && raw_) {
      Advance();
      if (pos_ < s_.size() && (s_[pos_] == u'\\' || s_[pos_] == u'"')) t.text.push_back(Advance());
      else t.text.push_back(u'\\');
      continue;
    }
    if (c == u'\\') {
      const MofPosition escAt = Here();
      t.text.push_back(Escape(escAt));
    } else {
      t.text.push_back(Advance());
    }
  }
}

void Lexer::ReadNumber(Token& t) {
  const MofPosition at = Here();
  WString raw;
  if (s_[pos_] == u'-' || s_[pos_] == u'+') raw.push_back(Advance());
  while (pos_ < s_.size()) {
    const char16_t c = s_[pos_];
    const bool hexSoFar = raw.find_first_of(u"xX") != WString::npos;
    const bool exponentSign = (c == u'-' || c == u'+') && !raw.empty() && !hexSoFar &&
                              (raw.back() == u'e' || raw.back() == u'E');
    if (IsIdentChar(c) || c == u'.' || exponentSign) raw.push_back(Advance());
    else break;
  }
  if (raw.size() > 400) Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"number too long");
  size_t i = 0;
  const bool negative = raw[0] == u'-';
  if (raw[0] == u'-' || raw[0] == u'+') i = 1;
  WStringView body(raw.data() + i, raw.size() - i);
  auto bad = [&]() { Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"\"" + raw + u"\" is not a number"); };
  auto accumulate = [&](WStringView digits, int base) {
    if (digits.empty()) bad();
    Int v = 0;
    for (char16_t c : digits) {
      int d;
      if (IsDigit(c)) d = c - u'0';
      else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
      else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
      else d = 99;
      if (d >= base) bad();
      v = v * base + d;
      if (v > static_cast<Int>(std::numeric_limits<uint64_t>::max()) + 1)
        Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"the number " + raw + u" is out of range");
    }
    return v;
  };
  const bool hex = body.size() > 2 && body[0] == u'0' && (body[1] == u'x' || body[1] == u'X');
  const bool real = !hex && (body.find(u'.') != WStringView::npos || body.find_first_of(u"eE") != WStringView::npos);
  if (real) {
    const std::string narrow = vr::text::WideToUtf8(raw);
    char* end = nullptr;
    const double d = std::strtod(narrow.c_str(), &end);
    if (!end || *end || narrow.find_first_of("xX") != std::string::npos || narrow.find("inf") != std::string::npos ||
        narrow.find("nan") != std::string::npos)
      bad();
    if (!std::isfinite(d)) Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"the number " + raw + u" is out of range");
    t.kind = Tok::kReal;
    t.real = d;
    return;
  }
  Int v;
  if (hex) v = accumulate(body.substr(2), 16);
  else if (body.size() > 1 && (body.back() == u'b' || body.back() == u'B')) v = accumulate(body.substr(0, body.size() - 1), 2);
  else if (body.size() > 1 && body[0] == u'0') v = accumulate(body.substr(1), 8);
  else v = accumulate(body, 10);
  t.kind = Tok::kInteger;
  t.integer = negative ? -v : v;
  if (t.integer > static_cast<Int>(std::numeric_limits<uint64_t>::max()) ||
      t.integer < static_cast<Int>(std::numeric_limits<int64_t>::min()))
    Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"the number " + raw + u" is out of range");
}

void CollectClassNames(WStringView text, std::set<WString>* names) {
  Lexer lex(text);
  try {
    Token prev;
    bool pragma = false;
    for (Token t = lex.Next(); t.kind != Tok::kEnd; t = lex.Next()) {
      if (prev.kind == Tok::kIdent && EqualsNoCase(prev.text, u"class") && t.kind == Tok::kIdent)
        names->insert(vr::text::ToLower(t.text));
      lex.SetRawStrings(pragma || (prev.kind == Tok::kPragma && t.kind == Tok::kIdent && EqualsNoCase(t.text, u"include")));
      pragma = lex.RawStrings() && !(t.kind == Tok::kPunct && t.punct == u')');
      prev = std::move(t);
    }
  } catch (const MofFailure&) {
  }
}

}  // namespace vr::wmi::mof_parts
