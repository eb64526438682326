#include "tessera/Files/VrTextLine.h"

void VrTextLine::Clear() {
  position_.Reset();
  text_.clear();
  atEnd_ = false;
  tokens_.clear();
}

std::optional<WStringView> VrTextLine::GetToken(size_t i) const {
  if (i >= tokens_.size()) return std::nullopt;
  return WStringView(text_).substr(tokens_[i].start, tokens_[i].length);
}

std::optional<WString> VrTextLine::CopyToken(size_t i) const {
  if (auto view = GetToken(i)) return WString(*view);
  return std::nullopt;
}

std::optional<uint32_t> VrTextLine::GetTokenOffset(size_t i) const {
  if (i >= tokens_.size()) return std::nullopt;
  return tokens_[i].offset;
}

std::optional<WString> VrTextLine::GetRestOfLine(size_t i) const {
  if (i >= tokens_.size()) return std::nullopt;
  return text_.substr(tokens_[i].offset);
}

void VrTextLine::Tokenise(size_t from, size_t to) {
  const WChar* s = text_.data();
  size_t i = from;
  while (i < to) {
    while (i < to && VrIsWhiteSpace(s[i])) ++i;
    if (i >= to) break;
    const size_t begin = i;
    if (s[i] == u'"') {
      ++i;
      while (i < to && s[i] != u'"') ++i;
      if (i < to) ++i;  // the closing quote belongs to the token
    } else {
      while (i < to && !VrIsWhiteSpace(s[i])) ++i;
    }
    const size_t length = i - begin;
    const bool quoted = length >= 2 && s[begin] == u'"' && s[i - 1] == u'"';
    tokens_.push_back(Token{static_cast<uint32_t>(begin), static_cast<uint32_t>(quoted ? begin + 1 : begin),
                            static_cast<uint32_t>(quoted ? length - 2 : length)});
  }
}
