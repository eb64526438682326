#include "platform/wmi/wql.h"

#include "platform/text/casefold.h"
#include "platform/wmi/object_model.h"
#include "platform/wmi/wbem_codes.h"

namespace vr::wmi {
namespace {

struct Token {
  enum class Kind { kEnd, kWord, kString, kNumber, kStar, kEquals, kOther } kind = Kind::kEnd;
  WString text;
  size_t column = 0;
};

class Lexer {
 public:
  explicit Lexer(WStringView s) : s_(s) {}

  bool Next(Token& t, WString* why) {
    while (pos_ < s_.size() && (s_[pos_] == u' ' || s_[pos_] == u'\t' || s_[pos_] == u'\r' || s_[pos_] == u'\n')) ++pos_;
    t = Token();
    t.column = pos_ + 1;
    if (pos_ >= s_.size()) return true;
    const char16_t c = s_[pos_];
    if (c == u'*') { t.kind = Token::Kind::kStar; ++pos_; return true; }
    if (c == u'=') { t.kind = Token::Kind::kEquals; ++pos_; return true; }
    if (c == u'\'' || c == u'"') {
      ++pos_;
      t.kind = Token::Kind::kString;
      while (pos_ < s_.size() && s_[pos_] != c) {
        if (s_[pos_] == u'\\' && pos_ + 1 < s_.size()) ++pos_;
        t.text.push_back(s_[pos_++]);
      }
      if (pos_ >= s_.size()) {
        *why = u"The string that begins at column " + Column(t.column) + u" is not closed.";
        return false;
      }
      ++pos_;
      return true;
    }
    if ((c >= u'0' && c <= u'9') || c == u'-' || c == u'+') {
      t.kind = Token::Kind::kNumber;
      t.text.push_back(s_[pos_++]);
      while (pos_ < s_.size() && ((s_[pos_] >= u'0' && s_[pos_] <= u'9') || s_[pos_] == u'x' || s_[pos_] == u'X' ||
                                  (s_[pos_] >= u'a' && s_[pos_] <= u'f') || (s_[pos_] >= u'A' && s_[pos_] <= u'F')))
        t.text.push_back(s_[pos_++]);
      return true;
    }
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80) {
      t.kind = Token::Kind::kWord;
      while (pos_ < s_.size()) {
        const char16_t d = s_[pos_];
        if (!((d >= u'A' && d <= u'Z') || (d >= u'a' && d <= u'z') || (d >= u'0' && d <= u'9') || d == u'_' || d >= 0x80))
          break;
        t.text.push_back(d);
        ++pos_;
      }
      return true;
    }
    t.kind = Token::Kind::kOther;
    t.text.push_back(c);
    ++pos_;
    return true;
  }

  static WString Column(size_t c) {
    WString r;
    for (char ch : std::to_string(c)) r.push_back(static_cast<char16_t>(ch));
    return r;
  }

 private:
  WStringView s_;
  size_t pos_ = 0;
};

bool IsKeyword(const Token& t, const char16_t* word) {
  return t.kind == Token::Kind::kWord && vr::text::EqualsNoCase(t.text, word);
}

bool IsNumber(WStringView s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) ++i;
  if (i >= s.size()) return false;
  if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    i += 2;
    if (i >= s.size()) return false;
    for (; i < s.size(); ++i)
      if (!((s[i] >= u'0' && s[i] <= u'9') || (s[i] >= u'a' && s[i] <= u'f') || (s[i] >= u'A' && s[i] <= u'F')))
        return false;
    return true;
  }
  for (; i < s.size(); ++i)
    if (s[i] < u'0' || s[i] > u'9') return false;
  return true;
}

}  // namespace

HRESULT ParseWql(WStringView text, WqlQuery* out, WString* why) {
  *out = WqlQuery();
  WString dummy;
  if (!why) why = &dummy;
  if (text.size() > 0x4000) { *why = u"The query is too long."; return WBEM_E_INVALID_QUERY; }
  Lexer lex(text);
  Token t;
  auto next = [&]() { return lex.Next(t, why); };
  auto fail = [&](const WString& what) {
    *why = what + u" at column " + Lexer::Column(t.column) + u".";
    return WBEM_E_INVALID_QUERY;
  };
  if (!next()) return WBEM_E_INVALID_QUERY;
  if (!IsKeyword(t, u"SELECT")) return fail(u"Expected SELECT");
  if (!next()) return WBEM_E_INVALID_QUERY;
  if (t.kind != Token::Kind::kStar) return fail(u"Only SELECT * is supported; expected *");
  if (!next()) return WBEM_E_INVALID_QUERY;
  if (!IsKeyword(t, u"FROM")) return fail(u"Expected FROM");
  if (!next()) return WBEM_E_INVALID_QUERY;
  if (t.kind != Token::Kind::kWord || !IsValidIdentifier(t.text)) return fail(u"Expected a class name");
  out->className = t.text;
  if (!next()) return WBEM_E_INVALID_QUERY;
  if (t.kind == Token::Kind::kEnd) return S_OK;
  if (!IsKeyword(t, u"WHERE")) return fail(u"Expected WHERE or the end of the query");
  while (true) {
    if (!next()) return WBEM_E_INVALID_QUERY;
    if (t.kind != Token::Kind::kWord || !IsValidIdentifier(t.text)) return fail(u"Expected a property name");
    WqlCondition c;
    c.property = t.text;
    if (!next()) return WBEM_E_INVALID_QUERY;
    if (t.kind != Token::Kind::kEquals) return fail(u"Only the = operator is supported; expected =");
    if (!next()) return WBEM_E_INVALID_QUERY;
    if (t.kind == Token::Kind::kString) {
      c.kind = WqlCondition::Kind::kString;
      c.text = t.text;
    } else if (t.kind == Token::Kind::kNumber) {
      if (!IsNumber(t.text)) return fail(u"Malformed number");
      c.kind = WqlCondition::Kind::kNumber;
      c.text = t.text;
    } else if (IsKeyword(t, u"TRUE") || IsKeyword(t, u"FALSE")) {
      c.kind = WqlCondition::Kind::kBoolean;
      c.text = vr::text::ToUpper(t.text);
    } else if (IsKeyword(t, u"NULL")) {
      c.kind = WqlCondition::Kind::kNull;
    } else {
      return fail(u"Expected a value");
    }
    out->conditions.push_back(std::move(c));
    if (!next()) return WBEM_E_INVALID_QUERY;
    if (t.kind == Token::Kind::kEnd) return S_OK;
    if (!IsKeyword(t, u"AND")) return fail(u"Expected AND or the end of the query");
  }
}

}  // namespace vr::wmi
