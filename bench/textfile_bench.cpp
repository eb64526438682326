// Speed of the text file classes, printed as MB/s:
//  - loading a Unicode (UTF-16 LE) file and reading every line with its tokens, at three sizes
//    up to 100 MB, so that the figures show the cost is linear in the size;
//  - appending lines to a write-through log, at three counts up to 1,000,000;
//  - `wc -l` on the same 100 MB file, and the ratio of our time to its time.
//
// Usage: textfile_bench [folder]   (default: the temporary folder; needs about 150 MB there)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text/convert.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/VrTextFile.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kMB = 1024.0 * 1024.0;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// A log-like UTF-16 file with a header: lines of words, numbers and a quoted token.
void MakeFile(const fs::path& path, size_t bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string buffer = "\xFF\xFE";
  size_t written = 0;
  for (unsigned n = 0; written + buffer.size() < bytes; ++n) {
    const std::string line = "PACKAGE_" + std::to_string(n) + "  platform=HP-UX \"Agent package " +
                             std::to_string(n % 977) + "\" version 7.5." + std::to_string(n % 13) +
                             (n % 17 == 0 ? "\r\n\r\n" : "\r\n");
    for (char c : line) {
      buffer += c;
      buffer += '\0';
    }
    if (buffer.size() > (1 << 20)) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      written += buffer.size();
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
}

struct ReadResult {
  double seconds;
  size_t lines;
  size_t tokens;
};

ReadResult ReadEveryLine(const fs::path& path) {
  const auto start = Clock::now();
  const WString wide = vr::text::Utf8ToWide(path.string());
  VrTextFile file(wide.c_str(), TEXT_UNICODE, LINES_CRLF);
  if (FAILED(file.LoadFile())) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    std::exit(1);
  }
  VrTextLine line;
  ReadResult r{0, 0, 0};
  size_t tokenChars = 0;
  while (file.ReadLine(line, nullptr, false, false)) {
    ++r.lines;
    r.tokens += line.GetTokenCount();
    for (size_t i = 0; i < line.GetTokenCount(); ++i) tokenChars += line.GetToken(i)->size();
    if (line.IsAtEnd()) break;
  }
  r.seconds = Seconds(start);
  if (tokenChars == 0) std::fprintf(stderr, "no tokens read\n");
  return r;
}

double AppendLines(const fs::path& path, size_t count, size_t& bytes) {
  const WString wide = vr::text::Utf8ToWide(path.string());
  const WString text = u"PACKAGE_123456  platform=HP-UX \"Agent package 42\" version 7.5.3";
  const auto start = Clock::now();
  {
    VrLogFile log(wide.c_str(), true);
    if (FAILED(log.OpenForWriteAsNonBuffered(false))) {
      std::fprintf(stderr, "cannot open %s\n", path.c_str());
      std::exit(1);
    }
    for (size_t i = 0; i < count; ++i) log.AppendLine(text, true);
    log.SaveFile();
  }
  const double s = Seconds(start);
  bytes = fs::file_size(path);
  return s;
}

double WcLines(const fs::path& path, long& lines) {
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const std::string command = "wc -l < '" + path.string() + "'";
    const auto start = Clock::now();
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return 0;
    if (std::fscanf(p, "%ld", &lines) != 1) lines = -1;
    ::pclose(p);
    best = std::min(best, Seconds(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "vr_textfile_bench";
  fs::create_directories(folder);

  std::printf("Reading a Unicode file, every line and its tokens (load included):\n");
  double time100 = 0;
  fs::path file100;
  for (size_t mb : {25, 50, 100}) {
    const fs::path path = folder / ("text_" + std::to_string(mb) + "mb.txt");
    MakeFile(path, mb * 1024 * 1024);
    const double size = static_cast<double>(fs::file_size(path));
    ReadEveryLine(path);  // once to warm the page cache
    ReadResult best{1e9, 0, 0};
    for (int run = 0; run < 3; ++run) {
      const ReadResult r = ReadEveryLine(path);
      if (r.seconds < best.seconds) best = r;
    }
    std::printf("  %5.1f MB  %9zu lines  %10zu tokens  %7.3f s  %7.1f MB/s\n", size / kMB, best.lines, best.tokens,
                best.seconds, size / kMB / best.seconds);
    if (mb == 100) {
      time100 = best.seconds;
      file100 = path;
    } else {
      fs::remove(path);
    }
  }

  long wcLines = 0;
  const double wc = WcLines(file100, wcLines);
  const double size100 = static_cast<double>(fs::file_size(file100));
  std::printf("wc -l on the same 100 MB file: %ld lines  %7.3f s  %7.1f MB/s\n", wcLines, wc, size100 / kMB / wc);
  std::printf("ratio (our time / wc -l time): %.1f\n", time100 / wc);
  fs::remove(file100);

  std::printf("Appending lines to a write-through Unicode log:\n");
  for (size_t count : {250000, 500000, 1000000}) {
    const fs::path path = folder / "append.log";
    fs::remove(path);
    size_t bytes = 0;
    const double s = AppendLines(path, count, bytes);
    std::printf("  %8zu lines  %6.1f MB  %7.3f s  %7.1f MB/s  %6.2f us/line\n", count, bytes / kMB, s, bytes / kMB / s,
                s * 1e6 / static_cast<double>(count));
    fs::remove(path);
  }
  fs::remove_all(folder);
  return 0;
}
