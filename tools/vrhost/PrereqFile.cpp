#include "tools/vrhost/PrereqFile.h"

#include <array>
#include <cstdio>

#include "platform/text/byte_order_mark.h"

namespace vrhost {
namespace {

std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}

}  // namespace

uint32_t Crc32(std::string_view bytes) {
  static const std::array<uint32_t, 256> table = MakeTable();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string WithCrcLine(std::string_view source) {
  constexpr std::string_view kCrcLine = "CONFIG FILE CRC:";
  source = vr::text::SkipUtf8Mark(source);
  // An old CRC line (the last non-blank line) goes; what stands before it stays.
  std::string body(source);
  std::string trimmed = body;
  while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r' || trimmed.back() == ' ')) trimmed.pop_back();
  const size_t lastLine = trimmed.rfind('\n');
  const size_t start = lastLine == std::string::npos ? 0 : lastLine + 1;
  if (trimmed.compare(start, kCrcLine.size(), kCrcLine) == 0) body.erase(start);
  if (!body.empty() && body.back() != '\n') body += '\n';
  std::string out = std::string(vr::text::kUtf8Mark) + body;
  char line[40];
  std::snprintf(line, sizeof line, "%s %.8X", std::string(kCrcLine).c_str(), Crc32(out));
  return out + line;
}

}  // namespace vrhost
