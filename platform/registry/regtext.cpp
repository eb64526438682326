#include "platform/registry/regtext.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/registry/registry.h"
#include "platform/text/byte_order_mark.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::registry {
namespace {

constexpr WStringView kHeader = u"Windows Registry Editor Version 5.00";
constexpr WStringView kHeader4 = u"REGEDIT4";
constexpr WStringView kHiveName = u"HKEY_LOCAL_MACHINE";

// Windows-1252 bytes 0x80 to 0x9F; the five the code page leaves undefined stand for
// themselves, as the system's conversion gives them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Key and value names are written back as UTF-8 text: a NUL or a lone surrogate cannot be.
bool NameCanBeKept(WStringView name) {
  std::string ignored;
  return name.find(u'\0') == WStringView::npos && vr::text::WideToUtf8Strict(name, ignored);
}

WChar FromCp1252(unsigned char b) { return b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<WChar>(b); }

// REGEDIT4 files are ANSI text: Windows-1252 here.
bool IsRegedit4(std::string_view bytes) {
  std::string_view body = bytes;
  while (!body.empty() && (body.front() == ' ' || body.front() == '\t' || body.front() == '\r' || body.front() == '\n'))
    body.remove_prefix(1);
  if (body.size() < 8) return false;
  for (size_t i = 0; i < 8; ++i)
    if (std::toupper(static_cast<unsigned char>(body[i])) != "REGEDIT4"[i]) return false;
  return body.size() == 8 || body[8] == '\r' || body[8] == '\n' || body[8] == ' ' || body[8] == '\t';
}

// The text as UTF-16, by its byte-order mark; UTF-8 without one; Windows-1252 for a file that
// begins with the REGEDIT4 header.
bool Decode(std::string_view bytes, WString& text, std::string& error) {
  if (IsRegedit4(bytes)) {
    text.clear();
    for (char b : bytes) text += FromCp1252(static_cast<unsigned char>(b));
    return true;
  }
  switch (vr::text::DecodeMarkedText(bytes, text)) {
    case vr::text::MarkedTextResult::Ok: return true;
    case vr::text::MarkedTextResult::OddUtf16: error = "UTF-16 text with an odd number of bytes"; return false;
    case vr::text::MarkedTextResult::InvalidUtf8: break;
  }
  error = "the text is neither UTF-8 nor UTF-16 with a byte-order mark";
  return false;
}

bool IsHex(WChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }
int HexValue(WChar c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return c - u'A' + 10;
}

void AppendUtf16(std::string& out, WStringView s) {
  for (WChar c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
}

// The bytes of ANSI string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ written as hex in a
// REGEDIT4 file) as the UTF-16LE data the registry keeps.
std::string AnsiToUtf16(std::string_view data) {
  std::string out;
  for (char b : data) {
    const WChar c = FromCp1252(static_cast<unsigned char>(b));
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

class Parser {
 public:
  Parser(const WString& text, std::vector<RegOperation>& ops, std::string& error, std::vector<std::string>* warnings)
      : t_(text), ops_(ops), error_(error), warnings_(warnings) {}

  bool Run() {
    if (!Header()) return false;
    while (!AtEnd()) {
      SkipBlank();
      if (AtEnd()) break;
      const WChar c = t_[i_];
      if (c == u';') SkipLine();
      else if (c == u'[') {
        if (!Key()) return false;
      } else if (c == u'@' || c == u'"') {
        if (!Value()) return false;
      } else {
        return Fail("unexpected text; a key ([...]) or a value (\"name\"=...) was expected");
      }
    }
    return true;
  }

 private:
  bool AtEnd() const { return i_ >= t_.size(); }
  bool Fail(const std::string& what) {
    error_ = "line " + std::to_string(line_) + ": " + what;
    return false;
  }
  // Consumes one line break (CR LF, LF or CR) at i_, if there is one.
  bool LineBreak() {
    if (AtEnd()) return false;
    if (t_[i_] == u'\r') {
      ++i_;
      if (!AtEnd() && t_[i_] == u'\n') ++i_;
      ++line_;
      return true;
    }
    if (t_[i_] == u'\n') {
      ++i_;
      ++line_;
      return true;
    }
    return false;
  }
  void SkipSpaces() {
    while (!AtEnd() && (t_[i_] == u' ' || t_[i_] == u'\t')) ++i_;
  }
  void SkipBlank() {
    for (;;) {
      SkipSpaces();
      if (!LineBreak()) return;
    }
  }
  void SkipLine() {
    while (!AtEnd() && t_[i_] != u'\r' && t_[i_] != u'\n') ++i_;
    LineBreak();
  }
  WString RestOfLine() {
    const size_t start = i_;
    while (!AtEnd() && t_[i_] != u'\r' && t_[i_] != u'\n') ++i_;
    WString s = t_.substr(start, i_ - start);
    LineBreak();
    return s;
  }
  static WString TrimRight(WString s) {
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.pop_back();
    return s;
  }
  // After a statement only blanks or a comment may follow on its line.
  bool EndOfStatement() {
    SkipSpaces();
    if (AtEnd()) return true;
    if (t_[i_] == u';') {
      SkipLine();
      return true;
    }
    if (LineBreak()) return true;
    return Fail("unexpected text after the value");
  }

  bool Header() {
    SkipBlank();
    const size_t at = line_;
    const WString first = TrimRight(RestOfLine());
    if (first == kHeader) return true;
    if (vr::text::EqualsNoCase(first, kHeader4)) {
      ansi_ = true;
      return true;
    }
    line_ = at;
    return Fail("the first line must be \"Windows Registry Editor Version 5.00\"");
  }

  bool Key() {
    const size_t at = line_;
    WString line = TrimRight(RestOfLine());
    const size_t after = line_;
    line_ = at;
    if (line.size() < 2 || line.back() != u']') return Fail("a key line must end with ']'");
    WString path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path[0] == u'-';
    if (remove) path.erase(0, 1);
    WString relative;
    if (!HivePath(path, relative)) return Fail("only keys of HKEY_LOCAL_MACHINE can be imported");
    if (!relative.empty()) {
      if (relative.find(u"\\\\") != WString::npos || relative.front() == u'\\')
        return Fail("a key path with an empty key name");
      while (!relative.empty() && relative.back() == u'\\') relative.pop_back();
    }
    if (remove && relative.empty()) return Fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
    if (!NameCanBeKept(relative)) return Fail("a key name holds a NUL character or a lone surrogate");
    RegOperation op;
    op.kind = remove ? RegOperation::Kind::DeleteTree : RegOperation::Kind::CreateKey;
    op.key = relative;
    op.line = at;
    ops_.push_back(op);
    haveKey_ = true;
    deleting_ = remove;
    line_ = after;
    return true;
  }

  // A quoted string at i_ with \\ and \" escapes; it may span lines. A backslash before any
  // other character stands for itself and keeps that character, as the registry editor reads
  // it, so that "C:\Program Files" is not turned into "C:Program Files".
  bool Quoted(WString& out) {
    ++i_;  // opening quote
    out.clear();
    while (!AtEnd()) {
      const WChar c = t_[i_];
      if (c == u'"') {
        ++i_;
        return true;
      }
      if (c == u'\\' && i_ + 1 < t_.size() && (t_[i_ + 1] == u'\\' || t_[i_ + 1] == u'"')) {
        out += t_[i_ + 1];
        i_ += 2;
        continue;
      }
      if (c == u'\n' || (c == u'\r' && !(i_ + 1 < t_.size() && t_[i_ + 1] == u'\n'))) ++line_;
      out += c;
      ++i_;
    }
    return Fail("a quoted text is not closed");
  }

  bool HexList(std::string& out) {
    out.clear();
    for (;;) {
      SkipSpaces();
      if (AtEnd()) return true;
      const WChar c = t_[i_];
      if (c == u'\\') {
        ++i_;
        SkipSpaces();
        if (!LineBreak() && !AtEnd()) return Fail("'\\' must end the line of a continued hex list");
        SkipSpaces();
        continue;
      }
      if (c == u'\r' || c == u'\n' || c == u';') return true;
      if (c == u',') {
        ++i_;
        continue;
      }
      if (!IsHex(c)) return Fail("a hex list holds only two-digit hexadecimal bytes separated by commas");
      int v = HexValue(c);
      ++i_;
      if (!AtEnd() && IsHex(t_[i_])) {
        v = v * 16 + HexValue(t_[i_]);
        ++i_;
      }
      if (!AtEnd() && IsHex(t_[i_])) return Fail("a hex byte has more than two digits");
      out += static_cast<char>(v);
      SkipSpaces();
      if (!AtEnd() && t_[i_] != u',' && t_[i_] != u'\\' && t_[i_] != u'\r' && t_[i_] != u'\n' && t_[i_] != u';')
        return Fail("hex bytes must be separated by commas");
    }
  }

  bool Value() {
    if (!haveKey_) return Fail("a value before the first key");
    // The registry editor deletes the key and passes over the values written under it.
    const bool ignored = deleting_;
    const size_t at = line_;
    RegOperation op;
    op.line = line_;
    op.key = ops_.back().key;
    if (t_[i_] == u'@') {
      ++i_;
    } else if (!Quoted(op.name)) {
      return false;
    } else if (!NameCanBeKept(op.name)) {
      return Fail("a value name holds a NUL character or a lone surrogate");
    }
    SkipSpaces();
    if (AtEnd() || t_[i_] != u'=') return Fail("'=' expected after the value name");
    ++i_;
    SkipSpaces();
    if (AtEnd()) return Fail("value data expected");
    const WStringView rest = WStringView(t_).substr(i_);
    if (rest[0] == u'-') {
      ++i_;
      op.kind = RegOperation::Kind::DeleteValue;
    } else if (rest[0] == u'"') {
      WString text;
      if (!Quoted(text)) return false;
      op.kind = RegOperation::Kind::SetValue;
      op.type = REG_SZ;
      AppendUtf16(op.data, text);
      op.data.append(2, '\0');
    } else if (vr::text::FindNoCase(rest.substr(0, 6), u"dword:") == 0) {
      i_ += 6;
      size_t digits = 0;
      uint32_t v = 0;
      while (!AtEnd() && IsHex(t_[i_]) && digits < 9) {
        v = v * 16 + static_cast<uint32_t>(HexValue(t_[i_]));
        ++i_;
        ++digits;
      }
      if (digits == 0 || digits > 8) return Fail("dword: takes one to eight hexadecimal digits");
      op.kind = RegOperation::Kind::SetValue;
      op.type = REG_DWORD;
      for (int b = 0; b < 4; ++b) op.data += static_cast<char>((v >> (8 * b)) & 0xFF);
    } else if (vr::text::FindNoCase(rest.substr(0, 3), u"hex") == 0) {
      i_ += 3;
      op.type = REG_BINARY;
      if (!AtEnd() && t_[i_] == u'(') {
        ++i_;
        uint32_t type = 0;
        size_t digits = 0;
        while (!AtEnd() && IsHex(t_[i_]) && digits < 9) {
          type = type * 16 + static_cast<uint32_t>(HexValue(t_[i_]));
          ++i_;
          ++digits;
        }
        if (digits == 0 || digits > 8 || AtEnd() || t_[i_] != u')') return Fail("hex(type) takes a hexadecimal type number");
        ++i_;
        op.type = type;
      }
      if (AtEnd() || t_[i_] != u':') return Fail("':' expected after hex");
      ++i_;
      op.kind = RegOperation::Kind::SetValue;
      if (!HexList(op.data)) return false;
      if (ansi_ && (op.type == REG_SZ || op.type == REG_EXPAND_SZ || op.type == REG_MULTI_SZ))
        op.data = AnsiToUtf16(op.data);
    } else {
      return Fail("value data must be \"text\", dword:, hex:, hex(type): or -");
    }
    if (ignored) {
      if (warnings_)
        warnings_->push_back("line " + std::to_string(at) + ": the value is ignored: its key is being deleted");
    } else {
      ops_.push_back(std::move(op));
    }
    return EndOfStatement();
  }

  const WString& t_;
  std::vector<RegOperation>& ops_;
  std::string& error_;
  std::vector<std::string>* warnings_;
  bool ansi_ = false;  // REGEDIT4: string data given as hex is ANSI
  size_t i_ = 0;
  size_t line_ = 1;
  bool haveKey_ = false;
  bool deleting_ = false;
};

std::string Escaped(WStringView s) {
  WString escaped;
  for (WChar c : s) {
    if (c == u'\\' || c == u'"') escaped += u'\\';
    escaped += c;
  }
  // Converted whole, so that a surrogate pair stays one character.
  return vr::text::WideToUtf8(escaped);
}

// REG_SZ data that a quoted text gives back byte for byte: whole UTF-16 units, one
// terminator at the end and none before it, no line breaks, no lone surrogates.
bool IsPlainString(std::string_view data, WString& text) {
  if (data.size() < 2 || data.size() % 2) return false;
  text.clear();
  for (size_t i = 0; i + 2 < data.size(); i += 2) {
    const WChar c = static_cast<WChar>(static_cast<unsigned char>(data[i]) | (static_cast<unsigned char>(data[i + 1]) << 8));
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    text += c;
  }
  if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return false;
  std::string ignored;
  return vr::text::WideToUtf8Strict(text, ignored);
}

}  // namespace

bool ParseRegText(std::string_view bytes, std::vector<RegOperation>& ops, std::string& error,
                  std::vector<std::string>* warnings) {
  ops.clear();
  error.clear();
  WString text;
  if (!Decode(bytes, text, error)) return false;
  std::vector<RegOperation> parsed;
  std::vector<std::string> noted;
  Parser parser(text, parsed, error, &noted);
  if (!parser.Run()) return false;
  ops = std::move(parsed);
  if (warnings) *warnings = std::move(noted);
  return true;
}

bool HivePath(WStringView text, WString& relative) {
  WStringView p = text;
  for (WStringView hive : {kHiveName, WStringView(u"HKLM")}) {
    if (p.size() >= hive.size() && vr::text::EqualsNoCase(p.substr(0, hive.size()), hive) &&
        (p.size() == hive.size() || p[hive.size()] == u'\\')) {
      p.remove_prefix(std::min(p.size(), hive.size() + 1));
      relative = WString(p);
      return true;
    }
  }
  if (p.size() >= 5 && vr::text::EqualsNoCase(p.substr(0, 5), u"HKEY_")) return false;
  // The other hives' short names, as their full names.
  const WStringView first = p.substr(0, std::min(p.find(u'\\'), p.size()));
  for (WStringView other : {u"HKCU", u"HKU", u"HKCR", u"HKCC", u"HKDD", u"HKPD"})
    if (vr::text::EqualsNoCase(first, other)) return false;
  while (!p.empty() && p.front() == u'\\') p.remove_prefix(1);
  relative = WString(p);
  return true;
}

std::string RegHeader() { return vr::text::WideToUtf8(kHeader) + "\n\n"; }

std::string RegKeyLine(WStringView relativeKey) {
  std::string line = "[HKEY_LOCAL_MACHINE";
  if (!relativeKey.empty()) {
    line += '\\';
    line += vr::text::WideToUtf8(relativeKey);
  }
  line += "]\n";
  return line;
}

std::string RegValueLine(WStringView name, DWORD type, std::string_view data) {
  std::string line(1, name.empty() ? '@' : '"');
  if (!name.empty()) {
    line += Escaped(name);
    line += '"';
  }
  line += '=';
  WString text;
  if (type == REG_SZ && IsPlainString(data, text)) return line + "\"" + Escaped(text) + "\"\n";
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(data[static_cast<size_t>(b)]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    return line + buf + "\n";
  }
  char prefix[24];
  if (type == REG_BINARY) std::snprintf(prefix, sizeof prefix, "hex:");
  else std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
  line += prefix;
  // Wrapped like the registry editor does it: at most about 80 columns, continued with '\'.
  size_t column = line.size();
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
    line += byte;
    column += 2;
    if (i + 1 < data.size()) {
      line += ',';
      ++column;
      if (column > 76) {
        line += "\\\n  ";
        column = 2;
      }
    }
  }
  return line + "\n";
}

}  // namespace vr::registry
