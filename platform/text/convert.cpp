#include "platform/text/convert.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

namespace vr::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i]; returns false for an invalid one (i advanced by 1).
bool DecodeUtf8(std::string_view s, size_t& i, char32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  int len = 0;
  char32_t min = 0;
  if (c < 0x80) { cp = c; ++i; return true; }
  if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
  else { ++i; return false; }
  if (i + len > s.size()) { ++i; return false; }
  for (int k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) { ++i; return false; }
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; return false; }
  i += len;
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Reads one code point of UTF-16 at w[i]; false for a lone surrogate.
bool DecodeUtf16(WStringView w, size_t& i, char32_t& cp) {
  const char16_t c = w[i++];
  if (c < 0xD800 || c > 0xDFFF) { cp = c; return true; }
  if (c <= 0xDBFF && i < w.size() && w[i] >= 0xDC00 && w[i] <= 0xDFFF) {
    cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (w[i] - 0xDC00);
    ++i;
    return true;
  }
  return false;
}

bool Iconv(const char* to, const char* from, const char* in, size_t inLen, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  result.resize(inLen * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t srcLeft = inLen;
  size_t done = 0;
  bool ok = true;
  while (srcLeft > 0) {
    char* dst = result.data() + done;
    size_t dstLeft = result.size() - done;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    done = result.size() - dstLeft;
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) { result.resize(result.size() * 2); continue; }
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return false;
  result.resize(done);
  out.swap(result);
  return true;
}

}  // namespace

void AppendCodePoint(WString& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

WString Utf8ToWide(std::string_view utf8) {
  WString out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    if (!DecodeUtf8(utf8, i, cp)) cp = kReplacement;
    AppendCodePoint(out, cp);
  }
  return out;
}

bool Utf8ToWideStrict(std::string_view utf8, WString& out) {
  WString result;
  result.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    if (!DecodeUtf8(utf8, i, cp)) return false;
    AppendCodePoint(result, cp);
  }
  out.swap(result);
  return true;
}

std::string WideToUtf8(WStringView wide) {
  std::string out;
  out.reserve(wide.size());
  size_t i = 0;
  while (i < wide.size()) {
    char32_t cp;
    if (!DecodeUtf16(wide, i, cp)) cp = kReplacement;
    AppendUtf8(out, cp);
  }
  return out;
}

bool WideToUtf8Strict(WStringView wide, std::string& out) {
  std::string result;
  size_t i = 0;
  while (i < wide.size()) {
    char32_t cp;
    if (!DecodeUtf16(wide, i, cp)) return false;
    AppendUtf8(result, cp);
  }
  out.swap(result);
  return true;
}

std::string MbcsCodeset() {
  const char* cs = nl_langinfo(CODESET);
  if (cs == nullptr || *cs == '\0') return "ANSI_X3.4-1968";
  return cs;
}

bool MbcsToWide(std::string_view mbcs, WString& out) {
  const std::string cs = MbcsCodeset();
  if (cs == "UTF-8") return Utf8ToWideStrict(mbcs, out);
  std::string bytes;
  if (!Iconv("UTF-16LE", cs.c_str(), mbcs.data(), mbcs.size(), bytes)) return false;
  WString result(bytes.size() / 2, u'\0');
  for (size_t k = 0; k < result.size(); ++k)
    result[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                      (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
  out.swap(result);
  return true;
}

bool WideToMbcs(WStringView wide, std::string& out) {
  const std::string cs = MbcsCodeset();
  if (cs == "UTF-8") return WideToUtf8Strict(wide, out);
  std::string bytes(wide.size() * 2, '\0');
  for (size_t k = 0; k < wide.size(); ++k) {
    bytes[2 * k] = static_cast<char>(wide[k] & 0xFF);
    bytes[2 * k + 1] = static_cast<char>(wide[k] >> 8);
  }
  return Iconv(cs.c_str(), "UTF-16LE", bytes.data(), bytes.size(), out);
}

}  // namespace vr::text
