#include "tessera/Packages/PackageRecord.h"

#include <cstdio>

#include "platform/text/convert.h"

namespace vr::pkg {
namespace {

constexpr const char* kHex = "0123456789ABCDEF";

void AppendUnit(std::string& out, unsigned unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04X", unit);
  out += buffer;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::string Line(std::initializer_list<std::string> fields) {
  std::string line;
  for (const auto& f : fields) {
    if (!line.empty()) line += '\t';
    line += f;
  }
  return line + "\n";
}

std::string E(WStringView text) { return EncodeField(text); }

}  // namespace

std::string EncodeField(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const WChar c = text[i];
    if (c == u'\\') out += "\\\\";
    else if (c == u'\t') out += "\\t";
    else if (c == u'\n') out += "\\n";
    else if (c == u'\r') out += "\\r";
    else if (c < 0x20 || c == 0x7F) AppendUnit(out, c);
    else if (c < 0x80) out += static_cast<char>(c);
    else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out += vr::text::WideToUtf8(text.substr(i, 2));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUnit(out, c);  // a lone surrogate has no UTF-8 form
    } else {
      out += vr::text::WideToUtf8(text.substr(i, 1));
    }
  }
  return out;
}

bool DecodeField(std::string_view field, WString& text) {
  text.clear();
  std::string plain;
  auto flush = [&]() {
    if (plain.empty()) return true;
    WString wide;
    if (!vr::text::Utf8ToWideStrict(plain, wide)) return false;
    text += wide;
    plain.clear();
    return true;
  };
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      plain += field[i];
      continue;
    }
    if (!flush() || ++i >= field.size()) return false;
    switch (field[i]) {
      case '\\': text += u'\\'; break;
      case 't': text += u'\t'; break;
      case 'n': text += u'\n'; break;
      case 'r': text += u'\r'; break;
      case 'u': {
        if (i + 4 >= field.size()) return false;
        unsigned unit = 0;
        for (size_t k = 1; k <= 4; ++k) {
          const int d = HexDigit(field[i + k]);
          if (d < 0) return false;
          unit = unit * 16 + static_cast<unsigned>(d);
        }
        text += static_cast<WChar>(unit);
        i += 4;
        break;
      }
      default: return false;
    }
  }
  return flush();
}

std::string SerializeRecord(const PackageRecord& record) {
  std::string out = "package-record\t1\n";
  for (const auto& k : record.keys) out += Line({"key", E(k.key), k.present ? "present" : "absent"});
  for (const auto& v : record.values) {
    if (!v.present) {
      out += Line({"value", E(v.key), E(v.name), "absent"});
      continue;
    }
    std::string hex;
    for (unsigned char b : v.data) {
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    out += Line({"value", E(v.key), E(v.name), std::to_string(v.type), hex});
  }
  for (const auto& l : record.logicalIds) out += Line({"logical-id", E(l.id), E(l.logicalId)});
  for (const auto& p : record.packages) {
    if (!p.present) {
      out += Line({"absent", E(p.name), E(p.version)});
      continue;
    }
    const DepotPackageRow& r = p.row;
    out += Line({"package", E(r.id), E(r.name), E(r.version), E(r.logicalId), E(r.deployerId), E(r.location),
                 E(r.description)});
    for (const auto& m : p.modules)
      out += Line({"module", E(m.policyType), E(m.id), E(m.systemType), E(m.osType), E(m.osVersion),
                   E(m.moduleTypeId), E(m.location)});
  }
  return out + "end\n";
}

bool ParseRecord(std::string_view text, PackageRecord& record, std::string& why) {
  record = PackageRecord();
  size_t lineNumber = 0, start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) break;  // a last line without its end was cut short
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    const auto f = Split(line);
    std::vector<WString> w(f.size());
    auto bad = [&](const char* what) {
      why = "line " + std::to_string(lineNumber) + " of the package record: " + what;
      return false;
    };
    for (size_t i = 1; i < f.size(); ++i)
      if (!DecodeField(f[i], w[i])) return bad("a field that does not decode");
    const std::string_view kind = f[0];
    if (record.complete) return bad("a line after \"end\"");
    if (lineNumber == 1) {
      if (kind != "package-record" || f.size() != 2 || f[1] != "1") return bad("no \"package-record 1\" header");
    } else if (kind == "end" && f.size() == 1) {
      record.complete = true;
    } else if (kind == "key" && f.size() == 3 && (f[2] == "absent" || f[2] == "present")) {
      record.keys.push_back({w[1], f[2] == "present"});
    } else if (kind == "value" && f.size() == 4 && f[3] == "absent") {
      record.values.push_back({w[1], w[2], false, 0, {}});
    } else if (kind == "value" && f.size() == 5) {
      RecordedValue v{w[1], w[2], true, 0, {}};
      if (f[3].empty() || f[3].size() > 9 || f[3].find_first_not_of("0123456789") != std::string_view::npos)
        return bad("a value type that is not a number");
      v.type = static_cast<DWORD>(std::stoul(std::string(f[3])));
      if (f[4].size() % 2) return bad("value data of an odd number of digits");
      for (size_t i = 0; i < f[4].size(); i += 2) {
        const int hi = HexDigit(f[4][i]), lo = HexDigit(f[4][i + 1]);
        if (hi < 0 || lo < 0) return bad("value data that is not hexadecimal");
        v.data += static_cast<char>(hi * 16 + lo);
      }
      record.values.push_back(std::move(v));
    } else if (kind == "logical-id" && f.size() == 3) {
      record.logicalIds.push_back({w[1], w[2]});
    } else if (kind == "absent" && f.size() == 3) {
      RecordedPackage p;
      p.name = w[1];
      p.version = w[2];
      record.packages.push_back(std::move(p));
    } else if (kind == "package" && f.size() == 8) {
      RecordedPackage p;
      p.present = true;
      p.row = {w[1], w[2], w[3], w[4], w[5], w[6], w[7]};
      record.packages.push_back(std::move(p));
    } else if (kind == "module" && f.size() == 8) {
      if (record.packages.empty() || !record.packages.back().present) return bad("a module without its package");
      record.packages.back().modules.push_back({w[1], w[2], w[3], w[4], w[5], w[6], w[7]});
    } else {
      return bad("an unknown line");
    }
  }
  return true;
}

bool ParseRecords(std::string_view text, std::vector<PackageRecord>& records, std::string& why) {
  records.clear();
  size_t start = 0;
  while (start < text.size()) {
    // A block ends after its "end" line.
    size_t end = std::string_view::npos;
    for (size_t pos = start; pos < text.size();) {
      const size_t next = text.find('\n', pos);
      if (next == std::string_view::npos) break;
      if (text.substr(pos, next - pos) == "end") {
        end = next + 1;
        break;
      }
      pos = next + 1;
    }
    PackageRecord record;
    if (!ParseRecord(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start), record, why))
      return false;
    records.push_back(std::move(record));
    if (end == std::string_view::npos) break;
    start = end;
  }
  return true;
}

}  // namespace vr::pkg
