// vrhost reg: export, import, set, delete and query registry keys and values of the host.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "platform/com/hresult.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/registry/regtext.h"
#include "platform/registry/regtools.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "tools/vrhost/RegistryWrite.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {
namespace {

const Command kReg{"reg",
                   "reg export [KEY] | reg import FILE|- | reg set KEY NAME TYPE DATA | reg delete KEY [NAME] | "
                   "reg query KEY [NAME]",
                   "the registry: .reg text out and in, one value set or deleted, a key or value shown "
                   "(KEY below HKEY_LOCAL_MACHINE; NAME \"\" for the unnamed value; TYPE REG_SZ, "
                   "REG_EXPAND_SZ, REG_MULTI_SZ (items separated by \\0), REG_DWORD, REG_BINARY (hex))",
                   nullptr};

WString W(const std::string& s) { return vr::text::Utf8ToWide(s); }

bool KeyPath(const std::string& text, WString& relative) {
  if (!vr::registry::HivePath(W(text), relative)) {
    Error("only keys of HKEY_LOCAL_MACHINE exist on this host: " + text);
    return false;
  }
  while (!relative.empty() && relative.back() == u'\\') relative.pop_back();
  return true;
}

int Export(std::vector<std::string>& args) {
  if (args.size() > 1) return UsageError("reg export takes at most one key", kReg);
  WString key;
  if (!args.empty() && !KeyPath(args[0], key)) return kFailed;
  std::string text;
  if (long rc = vr::registry::ExportRegText(key, text); rc != ERROR_SUCCESS) {
    Error("cannot export " + (args.empty() ? std::string("the registry") : args[0]) + ": " + ErrorText(rc));
    return kFailed;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

int Import(std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("reg import takes one file (- for standard input)", kReg);
  std::string bytes;
  if (args[0] == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
      Error("cannot read " + args[0]);
      return kFailed;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string error;
  std::vector<std::string> warnings;
  if (long rc = vr::registry::ImportRegText(bytes, error, &warnings); rc != ERROR_SUCCESS) {
    Error(args[0] + ": " + (error.empty() ? ErrorText(rc) : error) + "; nothing was imported");
    return kFailed;
  }
  for (const auto& w : warnings) std::fprintf(stderr, "vrhost: warning: %s: %s\n", args[0].c_str(), w.c_str());
  return kOk;
}

bool ParseDword(const std::string& text, DWORD& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno || !end || *end || v < -2147483648LL || v > 0xFFFFFFFFLL) return false;
  value = static_cast<DWORD>(v);
  return true;
}

bool ParseHex(const std::string& text, std::string& bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2) return false;
  for (size_t i = 0; i < digits.size(); i += 2) bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return true;
}

std::string Utf16Bytes(const WString& s) {
  return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(WChar));
}

// The type's name as Encode knows it (REG_ may be left out, any case), or empty when there is
// no such type.
std::string TypeName(const std::string& typeText) {
  std::string t = vr::text::WideToUtf8(vr::text::ToUpper(W(typeText)));
  if (t.rfind("REG_", 0) != 0) t = "REG_" + t;
  for (const char* known : {"REG_SZ", "REG_EXPAND_SZ", "REG_MULTI_SZ", "REG_DWORD", "REG_BINARY"})
    if (t == known) return t;
  return std::string();
}

bool Encode(const std::string& typeText, const std::string& data, DWORD& type, std::string& bytes) {
  const std::string t = TypeName(typeText);
  WString wide;
  if (t == "REG_SZ" || t == "REG_EXPAND_SZ") {
    type = t == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    if (!vr::text::Utf8ToWideStrict(data, wide)) return false;
    bytes = Utf16Bytes(wide) + std::string(2, '\0');
    return true;
  }
  if (t == "REG_MULTI_SZ") {
    type = REG_MULTI_SZ;
    bytes.clear();
    size_t i = 0;
    while (i <= data.size() && !data.empty()) {
      size_t j = data.find("\\0", i);
      if (j == std::string::npos) j = data.size();
      if (!vr::text::Utf8ToWideStrict(data.substr(i, j - i), wide)) return false;
      bytes += Utf16Bytes(wide) + std::string(2, '\0');
      i = j + 2;
    }
    bytes += std::string(2, '\0');
    return true;
  }
  if (t == "REG_DWORD") {
    type = REG_DWORD;
    DWORD v;
    if (!ParseDword(data, v)) return false;
    bytes.assign(reinterpret_cast<const char*>(&v), sizeof v);
    return true;
  }
  if (t == "REG_BINARY") {
    type = REG_BINARY;
    bytes.clear();
    return ParseHex(data, bytes);
  }
  return false;
}

int Set(std::vector<std::string>& args) {
  if (args.size() != 4) return UsageError("reg set takes KEY NAME TYPE DATA", kReg);
  WString key;
  if (!KeyPath(args[0], key)) return kFailed;
  if (key.empty()) {
    Error("values are kept in keys below HKEY_LOCAL_MACHINE");
    return kFailed;
  }
  DWORD type = 0;
  std::string bytes;
  if (TypeName(args[2]).empty()) {
    Error("there is no value type '" + args[2] + "'; the types are REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD and REG_BINARY");
    return kFailed;
  }
  if (!Encode(args[2], args[3], type, bytes)) {
    Error("'" + args[3] + "' is no " + args[2] + " value");
    return kFailed;
  }
  if (long rc = SetValue(key, W(args[1]), type, bytes); rc != ERROR_SUCCESS) {
    Error("cannot set " + args[0] + " " + args[1] + ": " + ErrorText(rc));
    return kFailed;
  }
  return kOk;
}

int Delete(std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return UsageError("reg delete takes KEY [NAME]", kReg);
  WString key;
  if (!KeyPath(args[0], key)) return kFailed;
  long rc;
  if (args.size() == 1) {
    rc = key.empty() ? ERROR_ACCESS_DENIED : vr::registry::DeleteKeyTree(HKEY_LOCAL_MACHINE, key.c_str());
  } else {
    vr::registry::ScopedKey h;
    rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, h.Receive());
    if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(h, W(args[1]).c_str());
  }
  if (rc != ERROR_SUCCESS) {
    Error("cannot delete " + args[0] + (args.size() > 1 ? " " + args[1] : std::string()) + ": " + ErrorText(rc));
    return kFailed;
  }
  return kOk;
}

int Query(std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return UsageError("reg query takes KEY [NAME]", kReg);
  WString key;
  if (!KeyPath(args[0], key)) return kFailed;
  vr::registry::ScopedKey h;
  long rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, h.Receive());
  std::string out;
  if (rc == ERROR_SUCCESS && args.size() == 2) {
    const WString name = W(args[1]);
    DWORD type = 0, size = 0;
    rc = RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &size);
    std::string data(size, '\0');
    if (rc == ERROR_SUCCESS) rc = RegQueryValueExW(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (rc == ERROR_SUCCESS) out = vr::registry::RegValueLine(name, type, data.substr(0, size));
  } else if (rc == ERROR_SUCCESS) {
    out = vr::registry::RegKeyLine(key);
    for (DWORD i = 0; rc == ERROR_SUCCESS; ++i) {
      WChar name[16384];
      DWORD cch = 16384, type = 0, size = 0;
      rc = RegEnumValueW(h, i, name, &cch, nullptr, &type, nullptr, &size);
      if (rc != ERROR_SUCCESS) break;
      std::string data(size, '\0');
      cch = 16384;
      rc = RegEnumValueW(h, i, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
      if (rc == ERROR_SUCCESS) out += vr::registry::RegValueLine(WStringView(name, cch), type, data.substr(0, size));
    }
    for (DWORD i = 0; rc == ERROR_NO_MORE_ITEMS || rc == ERROR_SUCCESS; ++i) {
      WChar name[256];
      DWORD cch = 256;
      rc = RegEnumKeyExW(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) break;
      out += "  " + vr::text::WideToUtf8(WStringView(name, cch)) + "\\\n";
    }
    if (rc == ERROR_NO_MORE_ITEMS) rc = ERROR_SUCCESS;
  }
  if (rc != ERROR_SUCCESS) {
    Error("cannot query " + args[0] + (args.size() > 1 ? " " + args[1] : std::string()) + ": " + ErrorText(rc));
    return kFailed;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kOk;
}

}  // namespace

int RunReg(std::vector<std::string>& args) {
  if (args.empty()) return UsageError("reg needs a subcommand", kReg);
  const std::string sub = args[0];
  args.erase(args.begin());
  if (!RequireRoot()) return kFailed;
  if (sub == "export") return Export(args);
  if (sub == "import") return Import(args);
  if (sub == "set") return Set(args);
  if (sub == "delete") return Delete(args);
  if (sub == "query") return Query(args);
  return UsageError("unknown reg subcommand '" + sub + "'", kReg);
}

const Command kRegCommand{kReg.name, kReg.synopsis, kReg.summary, RunReg};

}  // namespace vrhost
