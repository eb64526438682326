#include "tessera/Console.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/text/convert.h"

namespace vr::console {
namespace {

ConsoleWriter& Writer() {
  static ConsoleWriter writer;
  return writer;
}

void Write(bool toStderr, WStringView text) {
  const std::string bytes = vr::text::WideToUtf8(text);
  if (const ConsoleWriter& w = Writer()) {
    w(toStderr, bytes);
    return;
  }
  std::FILE* stream = toStderr ? stderr : stdout;
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  // Both streams may share one terminal: flushing keeps errors and usage in order.
  std::fflush(stream);
}

// Characters on the screen: a surrogate pair counts once.
size_t Columns(WStringView s) {
  size_t n = 0;
  for (char16_t c : s)
    if (c < 0xDC00 || c > 0xDFFF) ++n;
  return n;
}

const char16_t* Prefix(int kind) {
  switch (kind) {
    case kError: return u"ERROR:";
    case kWarning: return u"WARNING:";
    case kBullet: return u"*";
    default: return nullptr;
  }
}

// One line of the text (without its line end) as a list of words and the blanks before each.
struct Word {
  WStringView blanks;
  WStringView text;
};

std::vector<Word> SplitWords(WStringView line) {
  std::vector<Word> words;
  size_t i = 0;
  while (i < line.size()) {
    const size_t start = i;
    while (i < line.size() && line[i] == u' ') ++i;
    const size_t wordStart = i;
    while (i < line.size() && line[i] != u' ') ++i;
    if (i > wordStart) words.push_back({line.substr(start, wordStart - start), line.substr(wordStart, i - wordStart)});
  }
  return words;
}

}  // namespace

WString FormatConsoleText(WStringView text, int indent, int width, int kind) {
  const char16_t* prefix = Prefix(kind);
  if (!prefix) return WString(text);
  if (indent < 0) indent = 0;
  WString lead(prefix);
  if (lead.size() < static_cast<size_t>(indent)) lead.resize(static_cast<size_t>(indent), u' ');
  else lead += u' ';
  const WString hanging(static_cast<size_t>(indent), u' ');
  const size_t room = width > indent ? static_cast<size_t>(width - indent) : 1;

  WString out;
  bool firstLine = true;
  auto emit = [&](WStringView line) {
    WString head = firstLine ? lead : hanging;
    if (line.empty()) {
      while (!head.empty() && head.back() == u' ') head.pop_back();
    }
    out += head;
    out += line;
    out += u'\n';
    firstLine = false;
  };

  // A final line end closes the last line rather than opening an empty one.
  if (!text.empty() && text.back() == u'\n') text.remove_suffix(1);
  size_t pos = 0;
  while (true) {
    const size_t end = text.find(u'\n', pos);
    const WStringView paragraph = text.substr(pos, end == WStringView::npos ? WStringView::npos : end - pos);
    const std::vector<Word> words = SplitWords(paragraph);
    WString line;
    for (size_t w = 0; w < words.size(); ++w) {
      if (line.empty()) {
        // Blanks that open a paragraph are part of the text; blanks at a break are not.
        line = WString(w == 0 ? words[w].blanks : WStringView()) + WString(words[w].text);
        continue;
      }
      const size_t wanted = Columns(line) + Columns(words[w].blanks) + Columns(words[w].text);
      if (wanted <= room) {
        line += words[w].blanks;
        line += words[w].text;
      } else {
        emit(line);
        line = WString(words[w].text);
      }
    }
    emit(line);
    if (end == WStringView::npos) break;
    pos = end + 1;
  }
  return out;
}

void PrintConsoleText(WStringView text, int kind) {
  Write(kind == kError || kind == kWarning, FormatConsoleText(text, kIndent, kWidth, kind));
}

void WriteStdout(WStringView text) { Write(false, text); }
void WriteStderr(WStringView text) { Write(true, text); }

void SetConsoleWriter(ConsoleWriter writer) { Writer() = std::move(writer); }

}  // namespace vr::console
