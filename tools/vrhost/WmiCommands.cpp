#include "tools/vrhost/WmiCommands.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include "platform/text/convert.h"
#include "platform/wmi/extended_status.h"
#include "platform/wmi/mof_compiler.h"
#include "platform/wmi/mof_include.h"
#include "platform/wmi/object_path.h"
#include "platform/wmi/repository.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {
namespace {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

constexpr const char16_t* kProductNamespace = u"root\\Tamberlin\\Vorant\\data";
constexpr const char* kSeedFile = "vorant_namespace.mof";

const Command kWmi{"wmi",
                   "wmi import FILE.mof|- | wmi export [--namespace NS] [CLASS] | wmi query [--namespace NS] WQL",
                   "the WMI repository: MOF in (all or nothing) and out, WQL queries (NS is "
                   "\\\\.\\root\\Tamberlin\\Vorant\\data unless given)",
                   nullptr};

std::string Describe(HRESULT hr, const WString& why) {
  std::string text = why.empty() ? WideToUtf8(vr::wmi::WbemStatusText(hr)) : WideToUtf8(why);
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  return text + " (" + code + ")";
}

bool OpenRepository(const std::string& root, std::shared_ptr<vr::wmi::Repository>* repo, std::string& error) {
  WString why;
  if (HRESULT hr = vr::wmi::Repository::OpenRoot(root, repo, &why); FAILED(hr)) {
    error = "cannot open the WMI repository: " + Describe(hr, why);
    return false;
  }
  return true;
}

// --namespace NS in any of the forms a namespace path takes.
bool TakeNamespace(std::vector<std::string>& args, WString& ns, bool& ok) {
  std::string value;
  ns = kProductNamespace;
  if (!TakeOption(args, "--namespace", value, ok)) return true;
  WString server;
  if (FAILED(vr::wmi::ParseNamespacePath(Utf8ToWide(value), &server, &ns)) ||
      (!server.empty() && !vr::wmi::IsLocalServer(server))) {
    Error("'" + value + "' is not a namespace of this host");
    return false;
  }
  return true;
}

bool ReadInput(const std::string& name, std::string& bytes) {
  if (name == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.good() || in.eof();
}

// Compiles a MOF file; the message names the file, line and column of an error.
bool Compile(vr::wmi::Repository& repo, const std::string& name, const std::string& bytes, WStringView defaultNamespace,
             std::string& error) {
  WString text;
  if (!vr::wmi::DecodeMofBytes(bytes, &text)) {
    error = name + ": not a MOF text (UTF-8, or UTF-16 with a byte-order mark)";
    return false;
  }
  vr::wmi::MofError mofError;
  // Included files are found beside the file that includes them (standard input: the current folder).
  if (FAILED(vr::wmi::CompileMof(repo, text, defaultNamespace, nullptr, &mofError,
                                 vr::wmi::MofFileIncludes(Utf8ToWide(name))))) {
    error = WideToUtf8(mofError.Format(Utf8ToWide(name)));
    return false;
  }
  return true;
}

void Write(const WString& text) {
  const std::string utf8 = WideToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

int Import(std::vector<std::string>& args) {
  bool ok = true;
  WString ns;
  if (!TakeNamespace(args, ns, ok)) return kFailed;
  if (!ok) return kUsage;
  if (args.size() != 1) return UsageError("wmi import takes one MOF file (- for standard input)", kWmi);
  if (!RequireRoot()) return kFailed;
  std::string bytes;
  if (!ReadInput(args[0], bytes)) {
    Error("cannot read " + args[0]);
    return kFailed;
  }
  std::shared_ptr<vr::wmi::Repository> repo;
  std::string error;
  if (!OpenRepository(Root(), &repo, error) || !Compile(*repo, args[0], bytes, ns, error)) {
    Error(error + "; nothing was imported");
    return kFailed;
  }
  return kOk;
}

int Export(std::vector<std::string>& args) {
  bool ok = true;
  WString ns;
  if (!TakeNamespace(args, ns, ok)) return kFailed;
  if (!ok) return kUsage;
  if (args.size() > 1) return UsageError("wmi export takes at most one class", kWmi);
  if (!RequireRoot()) return kFailed;
  std::shared_ptr<vr::wmi::Repository> repo;
  std::string error;
  if (!OpenRepository(Root(), &repo, error)) {
    Error(error);
    return kFailed;
  }
  const WString cls = args.empty() ? WString() : Utf8ToWide(args[0]);
  WString why;
  if (HRESULT hr = vr::wmi::ExportNamespace(*repo, ns, cls, true, Write, &why); FAILED(hr)) {
    std::fflush(stdout);
    Error("cannot export " + (cls.empty() ? WideToUtf8(ns) : args[0]) + ": " + Describe(hr, why));
    return kFailed;
  }
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

int Query(std::vector<std::string>& args) {
  bool ok = true;
  WString ns;
  if (!TakeNamespace(args, ns, ok)) return kFailed;
  if (!ok) return kUsage;
  if (args.empty()) return UsageError("wmi query takes a WQL query", kWmi);
  std::string wql;
  for (const auto& a : args) wql += (wql.empty() ? "" : " ") + a;
  if (!RequireRoot()) return kFailed;
  std::shared_ptr<vr::wmi::Repository> repo;
  std::string error;
  if (!OpenRepository(Root(), &repo, error)) {
    Error(error);
    return kFailed;
  }
  WString why;
  size_t count = 0;
  if (HRESULT hr = vr::wmi::QueryText(*repo, ns, Utf8ToWide(wql), Write, &count, &why); FAILED(hr)) {
    std::fflush(stdout);
    Error("query failed: " + Describe(hr, why));
    return kFailed;
  }
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

}  // namespace

int RunWmi(std::vector<std::string>& args) {
  if (args.empty()) return UsageError("wmi needs import, export or query", kWmi);
  const std::string sub = args[0];
  args.erase(args.begin());
  if (sub == "import") return Import(args);
  if (sub == "export") return Export(args);
  if (sub == "query") return Query(args);
  return UsageError("unknown wmi command '" + sub + "'", kWmi);
}

bool SeedRepository(const InitContext& c, std::string& error) {
  const std::string seed = c.dataDir + "/" + kSeedFile;
  std::string bytes;
  if (!ReadInput(seed, bytes)) {
    error = "cannot read the seed namespace " + seed;
    return false;
  }
  std::shared_ptr<vr::wmi::Repository> repo;
  return OpenRepository(c.root, &repo, error) && Compile(*repo, seed, bytes, u"root", error);
}

bool PrintRepository(const SnapshotContext& c, std::string& out, std::string& error) {
  std::shared_ptr<vr::wmi::Repository> repo;
  if (!OpenRepository(c.root, &repo, error)) return false;
  WString why;
  if (HRESULT hr = vr::wmi::SnapshotText(*repo, [&](const WString& t) { out += WideToUtf8(t); }, &why); FAILED(hr)) {
    error = "cannot read the WMI repository: " + Describe(hr, why);
    return false;
  }
  return true;
}

const Command kWmiCommand{kWmi.name, kWmi.synopsis, kWmi.summary, RunWmi};

}  // namespace vrhost
