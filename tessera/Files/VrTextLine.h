// A place in a text (offset of a line's first character, counted in UTF-16 units from 0, and
// the line's number from 1) and the record a line read fills: the line's text, whether it was
// the last one, and its tokens.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/text/wstring.h"

struct VrTextPosition {
  uint32_t offset = 0;
  uint32_t line = 1;

  void Reset() {
    offset = 0;
    line = 1;
  }
  bool operator==(const VrTextPosition&) const = default;
};

// The white space that separates tokens and that reading trims: the C0 blanks and the Unicode
// space characters.
inline bool VrIsWhiteSpace(WChar c) {
  if (c == u' ' || (c >= 0x09 && c <= 0x0D)) return true;
  if (c < 0x85) return false;
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

class VrTextLine {
 public:
  // Frees text and tokens, position back to (0, 1), at-end cleared.
  void Clear();

  const VrTextPosition& GetPosition() const { return position_; }
  // The line as stored, without its line end; leading and trailing blanks kept.
  const WString& GetText() const { return text_; }
  // Set when the line read was the last one (no line end after it) or no line was left.
  bool IsAtEnd() const { return atEnd_; }

  size_t GetTokenCount() const { return tokens_.size(); }
  // Token i (from 0) as a view into the line, or nothing when out of range. A token written
  // between double quotes comes without them.
  std::optional<WStringView> GetToken(size_t i) const;
  // The same as a copy of its own.
  std::optional<WString> CopyToken(size_t i) const;
  // Offset of token i's first character (its opening quote, if quoted) from the line's start.
  std::optional<uint32_t> GetTokenOffset(size_t i) const;
  // The line's text from token i's offset to its end, trailing blanks included.
  std::optional<WString> GetRestOfLine(size_t i) const;

 private:
  friend class VrTextFile;
  struct Token {
    uint32_t offset;  // of the token as written, from the start of the line
    uint32_t start;   // of the token's text (behind an opening quote)
    uint32_t length;  // of the token's text
  };
  // Splits text_[from, to) into tokens: runs of white space separate them; a token beginning
  // with a double quote runs to the next one, both included, and is kept without them.
  void Tokenise(size_t from, size_t to);

  VrTextPosition position_;
  WString text_;
  bool atEnd_ = false;
  std::vector<Token> tokens_;
};
