// The MOF reader's tokens: identifiers, strings (adjacent ones joined, escapes decoded),
// character constants, integers and reals, aliases, punctuation and "#pragma", each with its
// line and column. A lexical error throws MofFailure, which ReadMof turns into its MofError.
// Internal to platform/wmi.
#pragma once
#include <cstdint>
#include <set>

#include "platform/wmi/mof_reader.h"

namespace vr::wmi::mof_parts {

// Wide enough for every MOF integer and for one step beyond the unsigned 64-bit range.
using Int = __int128;

struct MofFailure {
  HRESULT code;
  MofPosition position;
  WString message;
};

// Ends the reading with the error `message` at `at`.
[[noreturn]] void Fail(HRESULT code, MofPosition at, WString message);

enum class Tok { kEnd, kIdent, kString, kChar, kInteger, kReal, kAlias, kPunct, kPragma };

struct Token {
  Tok kind = Tok::kEnd;
  WString text;  // identifier, string value, alias name
  char16_t punct = 0;
  Int integer = 0;
  double real = 0;
  MofPosition position;
};

// How an error message names the token it did not expect.
WString Describe(const Token& t);

inline bool IsIdentStart(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80;
}
inline bool IsIdentChar(char16_t c) { return IsIdentStart(c) || (c >= u'0' && c <= u'9'); }
inline bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

class Lexer {
 public:
  explicit Lexer(WStringView s, uint32_t file = 0) : s_(s), file_(file) {}
  // File names in include pragmas keep their backslashes: "Interop\CIM_X.mof" names a folder.
  void SetRawStrings(bool raw) { raw_ = raw; }
  bool RawStrings() const { return raw_; }

  Token Next();

 private:
  MofPosition Here() const { return {line_, column_, file_}; }
  char16_t Advance();
  void SkipBlanks();
  char16_t Escape(MofPosition at);
  void ReadString(Token& t);
  void ReadNumber(Token& t);

  WStringView s_;
  uint32_t file_ = 0;
  bool raw_ = false;
  size_t pos_ = 0;
  uint32_t line_ = 1;
  uint32_t column_ = 1;
};

// The class names a text declares, found before it is read, so that a property typed with a
// class declared further on is known for an embedded object. Stops quietly at a lexical
// error, which the reading proper reports.
void CollectClassNames(WStringView text, std::set<WString>* names);

}  // namespace vr::wmi::mof_parts
