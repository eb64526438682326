// Arbitrary bytes loaded in each encoding and walked forward and back with every flag
// combination: no crash, no hang, positions always inside the text, and going back retraces
// reading forward.
#include <cstdlib>
#include <cstring>

#include "tessera/Files/FuzzFile.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/VrTextFile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Walk(VrTextFile& f, uint8_t flags) {
  const bool skipEmpty = flags & 1, skipComments = flags & 2;
  const WChar* prefix = (flags & 4) ? u"a" : nullptr;
  const size_t size = f.GetContent().size();
  VrTextLine line;
  // Forward to the end; the line count bounds the number of lines.
  size_t reads = 0;
  while (f.ReadLine(line, prefix, skipEmpty, skipComments) || !line.IsAtEnd()) {
    Check(line.GetPosition().offset <= size);
    Check(++reads <= size + 2);
    for (size_t i = 0; i < line.GetTokenCount(); ++i) {
      Check(*line.GetTokenOffset(i) <= line.GetText().size());
      Check(line.GetToken(i)->size() <= line.GetText().size());
      Check(line.GetRestOfLine(i).has_value());
    }
    if (line.IsAtEnd()) break;
  }
  Check(f.GetPosition().offset <= size);
  // Back to the start, one line at a time.
  size_t backs = 0;
  while (f.GoBackOneLine(nullptr, skipEmpty, skipComments)) {
    Check(f.GetPosition().offset <= size);
    Check(++backs <= size + 2);
  }
  // Reading and then reading back: ReadPrevLine never runs past the start.
  f.ResetPosition();
  for (int i = 0; i < 4 && f.ReadLine(line, nullptr, skipEmpty, skipComments); ++i) {
  }
  for (int i = 0; i < 8; ++i) {
    f.ReadPrevLine(line, prefix, skipEmpty, skipComments);
    Check(f.GetPosition().offset <= size);
  }
  // Forward without skipping: every line read, going back lands on the same line again.
  f.ResetPosition();
  for (size_t n = 0; n <= size + 1; ++n) {
    if (!f.ReadLine(line, nullptr, false, false) && line.IsAtEnd()) break;
    const VrTextPosition start = line.GetPosition();
    const WString text = line.GetText();
    const VrTextPosition after = f.GetPosition();
    Check(f.GoBackOneLine(nullptr, false, false) == (after.offset != 0));
    if (after.offset != 0) {
      Check(f.GetPosition() == start);
      f.ReadLine(line, nullptr, false, false);
      Check(line.GetText() == text);
    }
    if (line.IsAtEnd()) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || !WriteFuzzInput(data + 1, size - 1)) return 0;
  const uint8_t flags = data[0];
  const WString& path = FuzzInputPath();
  for (uint32_t encoding : {TEXT_UTF8, TEXT_UNICODE, TEXT_ASCII}) {
    VrTextFile f(path.c_str(), encoding, (flags & 8) ? LINES_LF : LINES_CRLF);
    if (FAILED(f.LoadFile())) {
      Check(!f.HasContent());
      continue;
    }
    Walk(f, flags);
    f.Append(u"x\ny", (flags & 16) != 0);
    Walk(f, flags);
  }
  // Content set directly (no line count made) and positions the input makes up: every
  // call ends, and the position stays inside the text.
  VrTextFile raw(nullptr, (flags & 32) ? TEXT_UNICODE : TEXT_UTF8, LINES_CRLF);
  if (SUCCEEDED(raw.SetContentToUnicode(std::string_view(reinterpret_cast<const char*>(data), size)))) {
    const size_t units = raw.GetContent().size();
    VrTextLine line;
    for (size_t i = 0; i + 8 <= size && i < 64; i += 8) {
      uint32_t offset, number;
      std::memcpy(&offset, data + i, 4);
      std::memcpy(&number, data + i + 4, 4);
      const VrTextPosition p{static_cast<uint32_t>(offset % (units + 2)), number};
      if (raw.GoBackOneLine(&p, flags & 1, flags & 2)) Check(raw.GetPosition().offset <= p.offset);
      raw.SetPosition(p);
      raw.ReadLine(line, nullptr, flags & 1, flags & 2);
      raw.ReadPrevLine(line, nullptr, flags & 1, flags & 2);
    }
  }
  VrLogFile log(path.c_str(), false);
  if (SUCCEEDED(log.LoadFile())) Walk(log, flags | 2);
  log.Free(false);
  return 0;
}
