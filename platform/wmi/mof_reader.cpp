#include "platform/wmi/mof_reader.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/com/safearray.h"
#include "platform/text/byte_order_mark.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/object_path.h"

namespace vr::wmi {

using vr::text::EqualsNoCase;

namespace {

using Int = __int128;

struct MofFailure {
  HRESULT code;
  MofPosition position;
  WString message;
};

[[noreturn]] void Fail(HRESULT code, MofPosition at, WString message) {
  throw MofFailure{code, at, std::move(message)};
}

enum class Tok { kEnd, kIdent, kString, kChar, kInteger, kReal, kAlias, kPunct, kPragma };

struct Token {
  Tok kind = Tok::kEnd;
  WString text;  // identifier, string value, alias name
  char16_t punct = 0;
  Int integer = 0;
  double real = 0;
  MofPosition position;
};

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

bool IsIdentStart(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80; }
bool IsIdentChar(char16_t c) { return IsIdentStart(c) || (c >= u'0' && c <= u'9'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

class Lexer {
 public:
  explicit Lexer(WStringView s, uint32_t file = 0) : s_(s), file_(file) {}
  // File names in include pragmas keep their backslashes: "Interop\CIM_X.mof" names a folder.
  void SetRawStrings(bool raw) { raw_ = raw; }
  bool RawStrings() const { return raw_; }

  Token Next() {
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

 private:
  MofPosition Here() const { return {line_, column_, file_}; }

  char16_t Advance() {
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

  void SkipBlanks() {
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

  char16_t Escape(MofPosition at) {
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

  void ReadString(Token& t) {
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

  void ReadNumber(Token& t) {
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

  WStringView s_;
  uint32_t file_ = 0;
  bool raw_ = false;
  size_t pos_ = 0;
  uint32_t line_ = 1;
  uint32_t column_ = 1;
};

Variant IntegerVariant(Int v) {
  Variant r;
  if (v > std::numeric_limits<int64_t>::max()) { r.vt = VT_UI8; r.ullVal = static_cast<uint64_t>(v); }
  else { r.vt = VT_I8; r.llVal = static_cast<int64_t>(v); }
  return r;
}

struct FlavorWord { const char16_t* word; long set; long clear; };
constexpr FlavorWord kFlavors[] = {
    {u"ToInstance", WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE, 0},
    {u"ToSubclass", WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS, 0},
    {u"NotToInstance", 0, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE},
    {u"NotToSubclass", 0, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS},
    {u"Restricted", 0, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE | WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS},
    {u"EnableOverride", 0, WBEM_FLAVOR_NOT_OVERRIDABLE},
    {u"DisableOverride", WBEM_FLAVOR_NOT_OVERRIDABLE, 0},
    {u"Amended", WBEM_FLAVOR_AMENDED, 0},
    {u"Translatable", WBEM_FLAVOR_AMENDED, 0},
};

constexpr long kDeclaredFlavorDefault = WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;  // and overridable

const FlavorWord* FindFlavor(WStringView word) {
  for (const auto& f : kFlavors)
    if (EqualsNoCase(word, f.word)) return &f;
  return nullptr;
}

// The class names a text declares, found before it is read, so that a property typed with a
// class declared further on is known for an embedded object. Stops quietly at a lexical
// error, which the reading proper reports.
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

class Parser {
 public:
  Parser(WStringView text, WStringView defaultNamespace, MofDocument* doc, const MofReadOptions& options)
      : lex_(std::make_unique<Lexer>(text)), nameSpace_(defaultNamespace), doc_(doc), options_(options) {
    doc_->files.push_back(WString());
    CollectClassNames(text, &classes_);
    Advance();
  }

  void Run() {
    while (cur_.kind != Tok::kEnd) Production();
  }

 private:
  void Advance() { cur_ = lex_->Next(); }

  bool IsWord(const char16_t* w) const { return cur_.kind == Tok::kIdent && EqualsNoCase(cur_.text, w); }
  bool IsPunct(char16_t p) const { return cur_.kind == Tok::kPunct && cur_.punct == p; }

  [[noreturn]] void Expected(HRESULT code, const WString& what) {
    Fail(code, cur_.position, u"expected " + what + u" instead of " + Describe(cur_));
  }

  void Expect(char16_t p, HRESULT code, const WString& what) {
    if (!IsPunct(p)) Expected(code, what);
    Advance();
  }

  WString ExpectIdentifier(HRESULT code, const WString& what) {
    if (cur_.kind != Tok::kIdent) Expected(code, what);
    WString name = cur_.text;
    Advance();
    return name;
  }

  void Production() {
    if (cur_.kind == Tok::kPragma) return Pragma();
    if (IsWord(u"qualifier")) return QualifierDeclaration();
    const MofPosition start = cur_.position;
    QualifierList qualifiers;
    if (IsPunct(u'[')) qualifiers = ReadQualifierList();
    if (IsWord(u"class")) return ClassDeclaration(start, std::move(qualifiers));
    if (IsWord(u"instance")) return InstanceDeclaration(start, std::move(qualifiers));
    Expected(WBEMMOF_E_INVALID_CLASS_DECLARATION, u"a class, an instance, a qualifier declaration or #pragma");
  }

  // ---- pragmas --------------------------------------------------------------------------

  void Pragma() {
    const MofPosition at = cur_.position;
    Advance();
    const WString name = ExpectIdentifier(WBEMMOF_E_INVALID_PRAGMA, u"the name of the pragma");
    std::vector<Token> args;
    if (IsPunct(u'(')) {
      lex_->SetRawStrings(EqualsNoCase(name, u"include"));
      Advance();
      if (!IsPunct(u')')) {
        while (true) {
          if (cur_.kind != Tok::kString && cur_.kind != Tok::kIdent && cur_.kind != Tok::kInteger)
            Expected(WBEMMOF_E_INVALID_PRAGMA, u"a pragma parameter");
          args.push_back(cur_);
          Advance();
          if (IsPunct(u')')) break;
          Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"',' or ')'");
        }
      }
      lex_->SetRawStrings(false);
      Expect(u')', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"')'");
    }
    auto stringArg = [&](size_t i) -> const WString& {
      if (i >= args.size() || args[i].kind != Tok::kString)
        Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma " + name + u" needs a string parameter");
      return args[i].text;
    };
    if (EqualsNoCase(name, u"namespace")) {
      if (args.size() != 1) Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma namespace takes one namespace path");
      SetNamespace(stringArg(0), args[0].position);
    } else if (EqualsNoCase(name, u"classflags")) {
      classFlags_ = Flags(args, at, true);
    } else if (EqualsNoCase(name, u"instanceflags")) {
      instanceFlags_ = Flags(args, at, false);
    } else if (EqualsNoCase(name, u"deleteclass") || EqualsNoCase(name, u"deleteinstance")) {
      const bool isClass = EqualsNoCase(name, u"deleteclass");
      if (args.size() != 2 || args[1].kind != Tok::kIdent ||
          !(EqualsNoCase(args[1].text, u"FAIL") || EqualsNoCase(args[1].text, u"NOFAIL")))
        Fail(isClass ? WBEMMOF_E_INVALID_DELETECLASS_SYNTAX : WBEMMOF_E_INVALID_PRAGMA, at,
             u"#pragma " + name + u" takes a name and FAIL or NOFAIL");
      MofStatement s;
      s.kind = isClass ? MofStatement::Kind::kDeleteClass : MofStatement::Kind::kDeleteInstance;
      s.position = at;
      s.nameSpace = nameSpace_;
      s.target = stringArg(0);
      s.failIfMissing = EqualsNoCase(args[1].text, u"FAIL");
      if (isClass && !IsValidIdentifier(s.target)) Fail(WBEMMOF_E_INVALID_DELETECLASS_SYNTAX, at, u"\"" + s.target + u"\" is not a class name");
      if (!isClass) {
        ObjectPath p;
        if (FAILED(ParseObjectPath(s.target, &p)) || p.IsClassPath())
          Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"\"" + s.target + u"\" is not an instance path");
      }
      doc_->statements.push_back(std::move(s));
    } else if (EqualsNoCase(name, u"locale") || EqualsNoCase(name, u"autorecover") ||
               EqualsNoCase(name, u"source") || EqualsNoCase(name, u"nonlocal")) {
      // Accepted for compatibility: they change nothing in this repository.
    } else if (EqualsNoCase(name, u"include")) {
      if (!options_.include)
        Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma include is not supported; import the included file first");
      if (args.size() != 1) Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma include takes one file name");
      Include(stringArg(0), args[0].position);
    } else {
      Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"unknown pragma \"" + name + u"\"");
    }
  }

  long Flags(const std::vector<Token>& args, MofPosition at, bool forClasses) {
    long flags = 0;
    bool create = false, update = false;
    for (const Token& a : args) {
      if (a.kind != Tok::kString) Fail(WBEMMOF_E_INVALID_PRAGMA, a.position, u"flags are strings");
      if (EqualsNoCase(a.text, u"createonly")) { flags |= WBEM_FLAG_CREATE_ONLY; create = true; }
      else if (EqualsNoCase(a.text, u"updateonly")) { flags |= WBEM_FLAG_UPDATE_ONLY; update = true; }
      else if (forClasses && EqualsNoCase(a.text, u"safeupdate")) flags |= WBEM_FLAG_UPDATE_SAFE_MODE;
      else if (forClasses && EqualsNoCase(a.text, u"forceupdate")) flags |= WBEM_FLAG_UPDATE_FORCE_MODE;
      else Fail(WBEMMOF_E_INVALID_PRAGMA, a.position, u"unknown flag \"" + a.text + u"\"");
    }
    if (create && update) Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"createonly and updateonly exclude each other");
    if ((flags & WBEM_FLAG_UPDATE_SAFE_MODE) && (flags & WBEM_FLAG_UPDATE_FORCE_MODE))
      Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"safeupdate and forceupdate exclude each other");
    return flags;
  }

  void SetNamespace(const WString& path, MofPosition at) {
    WString server, ns;
    if (FAILED(ParseNamespacePath(path, &server, &ns)))
      Fail(WBEMMOF_E_INVALID_NAMESPACE_SYNTAX, at, u"\"" + path + u"\" is not a namespace path");
    if (!server.empty() && !IsLocalServer(server))
      Fail(WBEMMOF_E_INVALID_NAMESPACE_SYNTAX, at, u"the namespace is on another computer (" + server + u")");
    const size_t first = ns.find(u'\\');
    const WStringView head = WStringView(ns).substr(0, first);
    if (server.empty() && !EqualsNoCase(head, u"root")) nameSpace_ += u"\\" + ns;  // relative
    else nameSpace_ = ns;
  }

  // ---- qualifiers -----------------------------------------------------------------------

  // Reads the named file where the pragma stands, as if its text were written there.
  void Include(const WString& name, MofPosition at) {
    if (depth_ >= kMaxMofIncludeDepth)
      Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma include nests more than 16 files deep (does a file include itself?)");
    MofIncludedFile file;
    WString why;
    if (!options_.include(doc_->files[at.file], name, &file, &why))
      Fail(WBEMMOF_E_INVALID_FILE, at, u"cannot include \"" + name + u"\": " + why);
    const uint32_t index = static_cast<uint32_t>(doc_->files.size());
    doc_->files.push_back(file.name);
    texts_.push_back(std::make_unique<WString>(std::move(file.text)));
    CollectClassNames(*texts_.back(), &classes_);
    std::unique_ptr<Lexer> outer = std::move(lex_);
    const Token next = cur_;
    lex_ = std::make_unique<Lexer>(*texts_.back(), index);
    ++depth_;
    Advance();
    while (cur_.kind != Tok::kEnd) Production();
    --depth_;
    lex_ = std::move(outer);
    cur_ = next;
  }

  // ---- qualifiers -----------------------------------------------------------------------

  // The declaration that types a qualifier's uses and gives their flavours: one earlier in
  // this text, else one the namespace holds. None for a text the repository stored.
  const QualifierDecl* Declaration(const WString& name) {
    if (options_.storedText) return nullptr;
    const WString key = vr::text::ToLower(name);
    if (auto it = declared_.find(key); it != declared_.end()) return &it->second;
    if (!options_.storedDeclaration) return nullptr;
    const WString storedKey = vr::text::ToLower(nameSpace_) + u"\n" + key;
    auto it = stored_.find(storedKey);
    if (it == stored_.end()) {
      std::optional<QualifierDecl> found;
      QualifierDecl d;
      if (options_.storedDeclaration(nameSpace_, name, &d)) found = std::move(d);
      it = stored_.emplace(storedKey, std::move(found)).first;
    }
    return it->second ? &*it->second : nullptr;
  }

  void QualifierDeclaration() {
    const MofPosition at = cur_.position;
    Advance();
    QualifierDecl d;
    d.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_QUALIFIER_NAME, u"a qualifier name");
    Expect(u':', WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, u"':'");
    // A declaration's flavours start from the DMTF defaults, EnableOverride and ToSubclass;
    // its Flavor clause changes only the aspects it names.
    d.flavor = kDeclaredFlavorDefault;
    if (cur_.kind == Tok::kIdent && !FindFlavor(cur_.text)) {
      // DMTF form: type [array] [= default], scope(...) [, flavor(...)]
      const MofPosition typeAt = cur_.position;
      const WString type = cur_.text;
      Advance();
      d.type = CimTypeFromName(type);
      if (d.type == CIM_ILLEGAL || d.type == CIM_OBJECT)
        Fail(WBEMMOF_E_UNRECOGNIZED_TYPE, typeAt, u"unknown qualifier type \"" + type + u"\"");
      if (IsPunct(u'[')) {
        Advance();
        if (cur_.kind == Tok::kInteger) Advance();
        Expect(u']', WBEMMOF_E_EXPECTED_CLOSE_BRACKET, u"']'");
        d.type |= CIM_FLAG_ARRAY;
      }
      if (IsPunct(u'=')) {
        Advance();
        d.value = TypedQualifierValue(ReadConstantOrArray(), d);
      }
      while (IsPunct(u',')) {
        Advance();
        const WString part = ExpectIdentifier(WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, u"scope or flavor");
        const bool isFlavor = EqualsNoCase(part, u"flavor");
        if (!isFlavor && !EqualsNoCase(part, u"scope"))
          Fail(WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, cur_.position, u"expected Scope or Flavor instead of \"" + part + u"\"");
        Expect(u'(', WBEMMOF_E_EXPECTED_OPEN_PAREN, u"'('");
        while (!IsPunct(u')')) {
          const MofPosition wordAt = cur_.position;
          const WString word = ExpectIdentifier(WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, u"a name");
          if (isFlavor) {
            const FlavorWord* f = FindFlavor(word);
            if (!f) Fail(WBEMMOF_E_EXPECTED_FLAVOR_TYPE, wordAt, u"unknown flavor \"" + word + u"\"");
            d.flavor = (d.flavor & ~f->clear) | f->set;
          } else {
            d.scopes.push_back(word);
          }
          if (IsPunct(u',')) Advance();
          else if (!IsPunct(u')')) Expected(WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"',' or ')'");
        }
        Advance();
      }
    } else {
      d.flavor = ReadFlavors(d.flavor);
    }
    Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the qualifier declaration");
    MofStatement s;
    s.kind = MofStatement::Kind::kQualifier;
    s.position = at;
    s.nameSpace = nameSpace_;
    s.qualifier = d;
    declared_[vr::text::ToLower(d.name)] = std::move(d);
    doc_->statements.push_back(std::move(s));
  }

  // Flavour words, applied to `flavor`: each sets or clears the aspect it names.
  long ReadFlavors(long flavor) {
    long seenSet = 0, seenClear = 0;
    bool any = false;
    while (cur_.kind == Tok::kIdent) {
      const FlavorWord* f = FindFlavor(cur_.text);
      if (!f) Fail(WBEMMOF_E_EXPECTED_FLAVOR_TYPE, cur_.position, u"unknown flavor \"" + cur_.text + u"\"");
      if ((f->set & seenClear) || (f->clear & seenSet))
        Fail(WBEMMOF_E_INCOMPATIBLE_FLAVOR_TYPES, cur_.position, u"the flavor " + cur_.text + u" contradicts an earlier one");
      seenSet |= f->set;
      seenClear |= f->clear;
      flavor = (flavor & ~f->clear) | f->set;
      any = true;
      Advance();
    }
    if (!any) Expected(WBEMMOF_E_EXPECTED_FLAVOR_TYPE, u"a flavor");
    return flavor;
  }

  QualifierList ReadQualifierList() {
    QualifierList list;
    Advance();  // '['
    while (true) {
      const MofPosition at = cur_.position;
      Qualifier q;
      q.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_QUALIFIER_NAME, u"a qualifier name");
      if (list.Find(q.name)) Fail(WBEMMOF_E_DUPLICATE_QUALIFIER, at, u"the qualifier " + q.name + u" is given twice");
      const QualifierDecl* decl = Declaration(q.name);
      const bool typed = decl && decl->type != CIM_ILLEGAL;
      if (IsPunct(u'(')) {
        Advance();
        const MofValue v = ReadConstantOrArray();
        q.value = typed ? TypedQualifierValue(v, *decl) : QualifierValue(v);
        Expect(u')', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"')' after the qualifier value");
      } else if (IsPunct(u'{')) {
        const MofValue v = ReadConstantOrArray();
        q.value = typed ? TypedQualifierValue(v, *decl) : QualifierValue(v);
      } else if (typed && (decl->type & ~CIM_FLAG_ARRAY) != CIM_BOOLEAN) {
        q.value = decl->value;  // a use without a value has the declared default
      } else {
        q.value = Variant(true);
      }
      // A use takes the flavours of the qualifier's declaration; words after ':' change
      // the aspects they name.
      q.flavor = decl ? decl->flavor : 0;
      if (IsPunct(u':')) {
        Advance();
        q.flavor = ReadFlavors(q.flavor);
      }
      list.items().push_back(std::move(q));
      if (IsPunct(u']')) break;
      Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_BRACKET, u"',' or ']' in the qualifier list");
    }
    Advance();  // ']'
    return list;
  }

  // A literal as the value of a qualifier without a typed declaration: sint32, real64,
  // string, boolean or an array of one kind. A stored text may also hold the 64-bit integers
  // and NULLs that declarations allowed.
  Variant QualifierValue(const MofValue& v) {
    const bool wide = options_.storedText;
    auto scalar = [&](const Variant& in, MofPosition at) -> Variant {
      switch (in.vt) {
        case VT_I8:
          if (in.llVal >= std::numeric_limits<int32_t>::min() && in.llVal <= std::numeric_limits<int32_t>::max())
            return Variant(static_cast<int32_t>(in.llVal));
          if (wide) return in;
          Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"qualifier integers are 32-bit signed numbers");
        case VT_UI8:
          if (wide) return in;
          Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"qualifier integers are 32-bit signed numbers");
        case VT_UI2: return Variant(static_cast<int32_t>(in.uiVal));
        case VT_R8: case VT_BSTR: case VT_BOOL: return in;
        default:
          if (wide && !v.value.IsArray()) return Variant::Null();
          Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"a qualifier value cannot be NULL");
      }
    };
    if (!v.alias.empty()) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, v.position, u"an alias cannot be a qualifier value");
    if (!v.value.IsArray()) return scalar(v.value, v.position);
    std::vector<Variant> items;
    for (const Variant& e : v.value.parray()->data) items.push_back(scalar(e, v.position));
    return QualifierArray(std::move(items), v.position);
  }

  // Elements of one kind as an array: integers take the widest kind among them, and
  // integers among reals become reals.
  Variant QualifierArray(std::vector<Variant> items, MofPosition at) {
    auto isInteger = [](VARTYPE vt) { return vt == VT_I4 || vt == VT_I8 || vt == VT_UI8; };
    VARTYPE kind = VT_EMPTY;
    for (const Variant& s : items) {
      if (kind == VT_EMPTY || kind == s.vt) kind = s.vt;
      else if (isInteger(kind) && isInteger(s.vt)) kind = (kind == VT_UI8 || s.vt == VT_UI8) ? VT_UI8 : VT_I8;
      else if ((isInteger(kind) || kind == VT_R8) && (isInteger(s.vt) || s.vt == VT_R8)) kind = VT_R8;
      else Fail(WBEMMOF_E_TYPE_MISMATCH, at, u"the values of a qualifier array must have one type");
    }
    if (kind == VT_EMPTY) kind = VT_BSTR;
    SafeArray* out = SafeArrayCreateVector(kind, 0, static_cast<uint32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
      Variant& e = items[i];
      if (e.vt == kind) { out->data[i] = std::move(e); continue; }
      Variant w;
      const long long n = e.vt == VT_I4 ? e.lVal : e.vt == VT_I8 ? e.llVal : static_cast<long long>(e.ullVal);
      if (kind == VT_R8) w = Variant(e.vt == VT_UI8 ? static_cast<double>(e.ullVal) : static_cast<double>(n));
      else if (kind == VT_I8) { w.vt = VT_I8; w.llVal = n; }
      else { w.vt = VT_UI8; w.ullVal = static_cast<uint64_t>(n); }
      out->data[i] = std::move(w);
    }
    Variant r;
    r.AttachArray(out);
    return r;
  }

  // A literal as a value of the declared type of a qualifier: integers within the type's
  // range (kept as sint32 where they fit, else as 64-bit), reals, strings, booleans, NULL,
  // and for an array type an array or one value.
  Variant TypedQualifierValue(const MofValue& v, const QualifierDecl& decl) {
    if (!v.alias.empty()) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, v.position, u"an alias cannot be a qualifier value");
    if (v.value.vt == VT_NULL) return Variant::Null();
    const CIMTYPE base = decl.type & ~CIM_FLAG_ARRAY;
    const bool isArray = (decl.type & CIM_FLAG_ARRAY) != 0;
    const WString typeName = WString(CimTypeName(base)) + (isArray ? u"[]" : u"");
    auto mismatch = [&]() {
      Fail(WBEMMOF_E_TYPE_MISMATCH, v.position,
           u"the value of the qualifier " + decl.name + u" does not fit its declared type " + typeName);
    };
    auto scalar = [&](const Variant& in) -> Variant {
      Int n = 0;
      const bool integer = in.vt == VT_I8 || in.vt == VT_UI8;
      if (in.vt == VT_I8) n = in.llVal;
      if (in.vt == VT_UI8) n = in.ullVal;
      switch (base) {
        case CIM_SINT8: case CIM_UINT8: case CIM_SINT16: case CIM_UINT16: case CIM_SINT32: case CIM_UINT32:
        case CIM_SINT64: case CIM_UINT64: {
          if (!integer) mismatch();
          Variant probe = IntegerVariant(n);
          Variant checked;
          if (FAILED(ConvertToCim(probe, base, &checked))) mismatch();
          if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
            return Variant(static_cast<int32_t>(n));
          return probe;
        }
        case CIM_REAL32: case CIM_REAL64:
          if (in.vt == VT_R8) return in;
          if (!integer) mismatch();
          return Variant(static_cast<double>(n));
        case CIM_BOOLEAN:
          if (in.vt != VT_BOOL) mismatch();
          return in;
        case CIM_CHAR16:
          if (in.vt == VT_UI2) return Variant(WString(1, static_cast<char16_t>(in.uiVal)));
          if (in.vt != VT_BSTR || in.bstrVal.size() != 1) mismatch();
          return in;
        default:  // string, datetime
          if (in.vt != VT_BSTR) mismatch();
          return in;
      }
    };
    if (!v.value.IsArray()) {
      if (!isArray) return scalar(v.value);
      return QualifierArray({scalar(v.value)}, v.position);
    }
    if (!isArray) mismatch();
    std::vector<Variant> items;
    for (const Variant& e : v.value.parray()->data) items.push_back(scalar(e));
    return QualifierArray(std::move(items), v.position);
  }

  // ---- values ---------------------------------------------------------------------------

  Variant ReadConstant() {
    Variant v;
    switch (cur_.kind) {
      case Tok::kInteger: v = IntegerVariant(cur_.integer); break;
      case Tok::kReal: v = Variant(cur_.real); break;
      case Tok::kString: v = Variant(cur_.text); break;
      case Tok::kChar: v.vt = VT_UI2; v.uiVal = static_cast<uint16_t>(cur_.integer); break;
      case Tok::kIdent:
        if (IsWord(u"TRUE")) { v = Variant(true); break; }
        if (IsWord(u"FALSE")) { v = Variant(false); break; }
        if (IsWord(u"NULL")) { v = Variant::Null(); break; }
        [[fallthrough]];
      default:
        Expected(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, u"a value");
    }
    Advance();
    return v;
  }

  MofValue ReadConstantOrArray() {
    MofValue r;
    r.position = cur_.position;
    if (cur_.kind == Tok::kAlias) {
      r.alias = cur_.text;
      Advance();
      return r;
    }
    if (!IsPunct(u'{')) {
      r.value = ReadConstant();
      return r;
    }
    Advance();
    std::vector<Variant> items;
    if (!IsPunct(u'}')) {
      while (true) {
        if (cur_.kind == Tok::kAlias) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, cur_.position, u"aliases cannot stand in arrays");
        const MofPosition at = cur_.position;
        Variant e = ReadConstant();
        if (e.vt == VT_NULL) Fail(WBEMMOF_E_NULL_ARRAY_ELEM, at, u"an array element cannot be NULL");
        items.push_back(std::move(e));
        if (items.size() > 100000) Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"too many array elements");
        if (IsPunct(u'}')) break;
        Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_BRACE, u"',' or '}' in the array");
      }
    }
    Advance();  // '}'
    SafeArray* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<uint32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) psa->data[i] = std::move(items[i]);
    r.value = Variant();
    r.value.AttachArray(psa);
    return r;
  }

  // ---- classes --------------------------------------------------------------------------

  void ClassDeclaration(MofPosition start, QualifierList qualifiers) {
    Advance();  // "class"
    MofStatement s;
    s.kind = MofStatement::Kind::kClass;
    s.position = start;
    s.nameSpace = nameSpace_;
    s.flags = classFlags_;
    s.cls.qualifiers = std::move(qualifiers);
    s.cls.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_CLASS_NAME, u"a class name");
    if (IsWord(u"as")) {
      Advance();
      if (cur_.kind != Tok::kAlias) Expected(WBEMMOF_E_EXPECTED_ALIAS_NAME, u"an alias");
      Advance();
    }
    if (IsPunct(u':')) {
      Advance();
      s.cls.superclass = ExpectIdentifier(WBEMMOF_E_EXPECTED_CLASS_NAME, u"the name of the superclass");
    }
    Expect(u'{', WBEMMOF_E_EXPECTED_OPEN_BRACE, u"'{' to open the class body");
    while (!IsPunct(u'}')) {
      const MofPosition at = cur_.position;
      Feature(s, at);
    }
    Advance();  // '}'
    Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the class declaration");
    classes_.insert(vr::text::ToLower(s.cls.name));
    doc_->statements.push_back(std::move(s));
  }

  // A type word that names a class: one this text declares, one the namespace holds, or a
  // name of the schema_class form every schema class has (a CIM type name has no
  // underscore). In a stored text every such word does.
  bool NamesAClass(const WString& word) const {
    if (!IsValidIdentifier(word)) return false;
    if (options_.storedText || classes_.count(vr::text::ToLower(word))) return true;
    if (options_.storedClass && options_.storedClass(nameSpace_, word)) return true;
    const size_t underscore = word.find(u'_');
    return underscore != WString::npos && underscore > 0 && underscore + 1 < word.size();
  }

  // The type of a property, parameter or method from its type word: a CIM type, a reference
  // (with its class in *cls, none for "object ref"), an embedded object (CIM_OBJECT, with
  // the class its type word names in *cls), or void where allowVoid.
  CIMTYPE Type(const WString& word, bool isRef, MofPosition at, bool allowVoid, WString* cls) {
    cls->clear();
    if (isRef) {
      if (!EqualsNoCase(word, u"object")) *cls = word;
      return CIM_REFERENCE;
    }
    if (allowVoid && EqualsNoCase(word, u"void")) return CIM_EMPTY;
    const CIMTYPE t = CimTypeFromName(word);
    if (t != CIM_ILLEGAL) return t;
    if (NamesAClass(word)) {
      *cls = word;
      return CIM_OBJECT;
    }
    Fail(WBEMMOF_E_UNRECOGNIZED_TYPE, at, u"unknown type \"" + word + u"\"");
  }

  // "[]" or "[N]" after a name (the size is not kept).
  bool ArraySuffix() {
    if (!IsPunct(u'[')) return false;
    Advance();
    if (cur_.kind == Tok::kInteger) Advance();
    Expect(u']', WBEMMOF_E_EXPECTED_CLOSE_BRACKET, u"']'");
    return true;
  }

  // "= value" of a property or parameter of type p.type, into p.value.
  void DefaultValue(PropertyDef& p) {
    if (!IsPunct(u'=')) return;
    Advance();
    const MofValue v = ReadConstantOrArray();
    if (!v.alias.empty()) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, v.position, u"an alias cannot be a default value");
    if (p.BaseType() == CIM_OBJECT && v.value.vt != VT_NULL)
      Fail(WBEMMOF_E_TYPE_MISMATCH, v.position, u"an embedded object (" + p.name + u") cannot have a default value here");
    if (FAILED(ConvertToCim(v.value, p.type, &p.value)))
      Fail(WBEMMOF_E_TYPE_MISMATCH, v.position, u"the default value does not fit the type of " + p.name);
    if (p.type == CIM_REFERENCE && p.value.vt == VT_BSTR) {
      ObjectPath path;
      if (FAILED(ParseObjectPath(p.value.bstrVal, &path)))
        Fail(WBEMMOF_E_TYPE_MISMATCH, v.position, u"the default value of " + p.name + u" is not an object path");
    }
  }

  // One property or method of a class body.
  void Feature(MofStatement& s, MofPosition at) {
    QualifierList qualifiers;
    if (IsPunct(u'[')) qualifiers = ReadQualifierList();
    const MofPosition typeAt = cur_.position;
    const WString type = ExpectIdentifier(WBEMMOF_E_EXPECTED_TYPE_IDENTIFIER, u"a property type or '}'");
    const bool isRef = IsWord(u"ref");
    if (isRef) Advance();
    const WString name = ExpectIdentifier(WBEMMOF_E_EXPECTED_PROPERTY_NAME, u"a property name");
    if (IsPunct(u'(')) {
      MethodDef m;
      m.name = name;
      m.qualifiers = std::move(qualifiers);
      m.returnType = Type(type, isRef, typeAt, true, &m.returnClass);
      if (s.cls.FindMethod(m.name))
        Fail(WBEMMOF_E_INVALID_CLASS_DECLARATION, at, u"the method " + m.name + u" is declared twice");
      Advance();  // '('
      if (!IsPunct(u')')) {
        while (true) {
          const MofPosition paramAt = cur_.position;
          PropertyDef p = Parameter();
          if (m.FindParameter(p.name))
            Fail(WBEMMOF_E_INVALID_CLASS_DECLARATION, paramAt, u"the parameter " + p.name + u" is declared twice");
          m.parameters.push_back(std::move(p));
          if (IsPunct(u')')) break;
          Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"',' or ')' in the parameter list");
        }
      }
      Advance();  // ')'
      Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the method " + m.name);
      s.cls.methods.push_back(std::move(m));
      s.methodPositions.push_back(at);
      return;
    }
    PropertyDef p;
    p.name = name;
    p.qualifiers = std::move(qualifiers);
    p.type = Type(type, isRef, typeAt, false, &p.refClass);
    if (ArraySuffix()) {
      if (p.type == CIM_REFERENCE) Fail(WBEMMOF_E_INVALID_CLASS_DECLARATION, cur_.position, u"references cannot be arrays");
      p.type |= CIM_FLAG_ARRAY;
    }
    DefaultValue(p);
    Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the property " + p.name);
    if (s.cls.Find(p.name)) Fail(WBEMMOF_E_DUPLICATE_PROPERTY, at, u"the property " + p.name + u" is declared twice");
    s.cls.properties.push_back(std::move(p));
    s.propertyPositions.push_back(at);
  }

  PropertyDef Parameter() {
    PropertyDef p;
    if (IsPunct(u'[')) p.qualifiers = ReadQualifierList();
    const MofPosition typeAt = cur_.position;
    const WString type = ExpectIdentifier(WBEMMOF_E_EXPECTED_TYPE_IDENTIFIER, u"a parameter type");
    const bool isRef = IsWord(u"ref");
    if (isRef) Advance();
    p.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_PROPERTY_NAME, u"a parameter name");
    p.type = Type(type, isRef, typeAt, false, &p.refClass);
    if (ArraySuffix()) p.type |= CIM_FLAG_ARRAY;
    DefaultValue(p);
    return p;
  }

  // ---- instances ------------------------------------------------------------------------

  void InstanceDeclaration(MofPosition start, QualifierList qualifiers) {
    Advance();  // "instance"
    if (!IsWord(u"of")) Expected(WBEMMOF_E_INVALID_INSTANCE_DECLARATION, u"\"of\" after \"instance\"");
    Advance();
    MofStatement s;
    s.kind = MofStatement::Kind::kInstance;
    s.position = start;
    s.nameSpace = nameSpace_;
    s.flags = instanceFlags_;
    s.qualifiers = std::move(qualifiers);
    s.className = ExpectIdentifier(WBEMMOF_E_EXPECTED_CLASS_NAME, u"a class name");
    if (IsWord(u"as")) {
      Advance();
      if (cur_.kind != Tok::kAlias) Expected(WBEMMOF_E_EXPECTED_ALIAS_NAME, u"an alias");
      s.alias = cur_.text;
      for (const auto& earlier : aliases_)
        if (EqualsNoCase(earlier, s.alias)) Fail(WBEMMOF_E_EXPECTED_ALIAS_NAME, cur_.position, u"the alias $" + s.alias + u" is defined twice");
      aliases_.push_back(s.alias);
      Advance();
    }
    Expect(u'{', WBEMMOF_E_EXPECTED_OPEN_BRACE, u"'{' to open the instance body");
    while (!IsPunct(u'}')) {
      MofInstanceProperty p;
      p.position = cur_.position;
      if (IsPunct(u'[')) p.qualifiers = ReadQualifierList();
      p.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_PROPERTY_NAME, u"a property name or '}'");
      for (const auto& earlier : s.properties)
        if (EqualsNoCase(earlier.name, p.name)) Fail(WBEMMOF_E_DUPLICATE_PROPERTY, p.position, u"the property " + p.name + u" is given twice");
      Expect(u'=', WBEMMOF_E_INVALID_INSTANCE_DECLARATION, u"'=' after " + p.name);
      p.value = ReadConstantOrArray();
      if (!p.value.alias.empty()) {
        bool known = false;
        for (const auto& a : aliases_) known = known || EqualsNoCase(a, p.value.alias);
        if (!known) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, p.value.position, u"the alias $" + p.value.alias + u" is not defined before this use");
      }
      Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the value of " + p.name);
      s.properties.push_back(std::move(p));
    }
    Advance();  // '}'
    Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the instance declaration");
    doc_->statements.push_back(std::move(s));
  }

  std::unique_ptr<Lexer> lex_;
  Token cur_;
  WString nameSpace_;
  long classFlags_ = 0;
  long instanceFlags_ = 0;
  std::vector<WString> aliases_;
  std::set<WString> classes_;  // the classes this text declares, lower case
  MofDocument* doc_;
  const MofReadOptions& options_;
  std::map<WString, QualifierDecl> declared_;  // in this text, by lower-case name
  std::map<WString, std::optional<QualifierDecl>> stored_;  // namespace's, by namespace and name
  std::vector<std::unique_ptr<WString>> texts_;  // included files, alive while they are read
  int depth_ = 0;
};

}  // namespace

WString MofError::Format(WStringView fileName) const {
  WString r;
  if (!file.empty()) r += file + u":";
  else if (!fileName.empty()) r += WString(fileName) + u":";
  r += vr::text::Utf8ToWide(std::to_string(position.line) + ":" + std::to_string(position.column) + ": error: ");
  r += message;
  return r;
}

HRESULT ReadMof(WStringView text, WStringView defaultNamespace, MofDocument* doc, MofError* error,
                const MofReadOptions* options) {
  *doc = MofDocument();
  *error = MofError();
  const MofReadOptions none;
  try {
    Parser parser(text, defaultNamespace, doc, options ? *options : none);
    parser.Run();
    return S_OK;
  } catch (const MofFailure& f) {
    if (f.position.file > 0 && f.position.file < doc->files.size()) error->file = doc->files[f.position.file];
    *doc = MofDocument();
    error->code = f.code;
    error->position = f.position;
    error->message = f.message;
    return f.code;
  }
}

bool DecodeMofBytes(const std::string& bytes, WString* text) {
  return vr::text::DecodeMarkedText(bytes, *text) == vr::text::MarkedTextResult::Ok;
}

}  // namespace vr::wmi
