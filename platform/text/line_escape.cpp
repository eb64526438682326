#include "platform/text/line_escape.h"

namespace vr::text {

std::string EscapeLineText(std::string_view text, TabEscape tabs) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t' && tabs == TabEscape::kEscape) out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

bool UnescapeLineText(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  bool wellFormed = true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 == text.size()) {
      out += '\\';
      return false;
    }
    switch (const char e = text[++i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default:
        out += e;
        wellFormed = false;
    }
  }
  return wellFormed;
}

}  // namespace vr::text
