// ReadValue and SkipToNextItem: the lexical level of the update-information file.
#include <cstdio>

#include "mordant/UpdateInfoReader.h"
#include "platform/text/format.h"
#include "wbem/ConsoleText.h"

namespace {

// A value may hold at most this many characters before its delimiter.
constexpr size_t kMaxValue = 254;

void Print(const std::string& text) { WriteConsoleText(stderr, text); }

bool IsSpace(wint_t c) { return c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r' || c == L' '; }

}  // namespace

WString ReadValue(VrUnicodeFileT& file, WStringView delimiters, wint_t* delimiter) {
  WString value;
  while (true) {
    const wint_t c = file.GetCh();
    if (c == WEOF) {
      if (value.empty() || file.StreamError() != 0) throw FileErrorException();
      *delimiter = L'?';
      break;
    }
    if (delimiters.find(static_cast<WChar>(c)) != WStringView::npos) {
      *delimiter = c;
      break;
    }
    if (c == 0) {
      // A NUL character would end the text in every consumer of the value.
      Print(vr::text::FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Unexpected NUL character in a value.\n",
                              file.Line(), file.FileName()));
      throw SyntaxErrorException();
    }
    if (value.size() == kMaxValue) {
      Print(vr::text::FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Expected to read a value that ended with a "
                              "colon, comma, or a\n  semi-colon.  Instead encountered a run-on line that starts "
                              "with\n  \"%.40S...\"\n",
                              file.Line(), file.FileName(), value));
      throw SyntaxErrorException();
    }
    value.push_back(static_cast<WChar>(c));
  }
  const size_t first = value.find_first_not_of(u' ');
  if (first == WString::npos) {
    value.clear();
  } else {
    value = value.substr(first, value.find_last_not_of(u' ') - first + 1);
  }
  if (value.empty()) {
    if (*delimiter == L'\n') {
      Print(vr::text::FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Expected non-empty value before end-of-line.\n",
                              file.Line() - 1, file.FileName()));
    } else {
      Print(vr::text::FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Expected non-empty value before '%C' character.\n",
                              file.Line(), file.FileName(), static_cast<WChar>(*delimiter)));
    }
    throw SyntaxErrorException();
  }
  return value;
}

bool SkipToNextItem(VrUnicodeFileT& file) {
  while (true) {
    wint_t c = file.GetCh();
    if (c == WEOF) return false;
    if (IsSpace(c)) continue;
    if (c == L'#') {
      do {
        c = file.GetCh();
      } while (c != WEOF && c != L'\n');
      if (c == WEOF) return false;
      continue;
    }
    file.UngetCh(c);
    return true;
  }
}
