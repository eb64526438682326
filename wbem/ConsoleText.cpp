#include "wbem/ConsoleText.h"

#include <cerrno>

#include "platform/text/convert.h"

namespace {

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// UTF-8 passes as it is: in a UTF-8 locale, and in the C locale, whose set is ASCII.
bool PassesAsUtf8() {
  const std::string codeset = vr::text::MbcsCodeset();
  return codeset == "UTF-8" || codeset == "ANSI_X3.4-1968";
}

// The errno of the first failed write of stdout and of stderr, kept until it is asked for.
int& FailureOf(std::FILE* stream) {
  static int outFailure = 0, errFailure = 0, otherFailure = 0;
  if (stream == stdout) return outFailure;
  if (stream == stderr) return errFailure;
  return otherFailure;
}

}  // namespace

bool ToConsoleBytes(std::string_view utf8, std::string* out) {
  if (IsAscii(utf8) || PassesAsUtf8()) {
    out->assign(utf8);
    return true;
  }
  WString wide;
  std::string bytes;
  if (!vr::text::Utf8ToWideStrict(utf8, wide) || !vr::text::WideToMbcs(wide, bytes)) return false;
  out->swap(bytes);
  return true;
}

bool WriteConsoleBytes(std::FILE* stream, std::string_view bytes) {
  if (bytes.empty()) return true;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size()) return true;
  int& failure = FailureOf(stream);
  if (failure == 0) failure = errno != 0 ? errno : EIO;
  return false;
}

bool WriteConsoleText(std::FILE* stream, std::string_view utf8) {
  // errno belongs to the failure being reported, not to this conversion.
  const int savedErrno = errno;
  std::string bytes;
  if (!ToConsoleBytes(utf8, &bytes)) {
    // Character by character, each one the set lacks shown as '?'.
    bytes.clear();
    const WString wide = vr::text::Utf8ToWide(utf8);
    for (size_t i = 0; i < wide.size(); ++i) {
      const size_t n = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
      std::string one;
      bytes += vr::text::WideToMbcs(WStringView(wide).substr(i, n), one) ? one : std::string("?");
      i += n - 1;
    }
  }
  const bool ok = WriteConsoleBytes(stream, bytes);
  errno = savedErrno;
  return ok;
}

int ConsoleStreamError(std::FILE* stream) {
  int& failure = FailureOf(stream);
  errno = 0;
  if (std::fflush(stream) != 0 && failure == 0) failure = errno != 0 ? errno : EIO;
  if (failure == 0 && std::ferror(stream)) failure = EIO;
  return failure;
}
