#include "platform/wmi/testing/temp_host.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/text/convert.h"
#include "platform/wmi/mof_compiler.h"

namespace vr::wmi::testing {

std::string SourceDir() {
  const char* s = std::getenv("VR_SOURCE_DIR");
  return s ? s : VR_TEST_SOURCE_DIR;
}

WString SeedMof() {
  std::ifstream in(SourceDir() + "/data/vorant_namespace.mof", std::ios::binary);
  if (!in) throw std::runtime_error("seed MOF not found");
  std::stringstream ss;
  ss << in.rdbuf();
  WString text;
  if (!DecodeMofBytes(ss.str(), &text)) throw std::runtime_error("seed MOF is not text");
  return text;
}

TempHost::TempHost(bool seed) : folder_("vr-wmi-test"), env_("VR_HOST_ROOT", folder_.path()) {
  if (seed) {
    const std::string error = Compile(SeedMof());
    if (!error.empty()) throw std::runtime_error("seed MOF: " + error);
  }
}

std::string TempHost::Compile(WStringView mof, WStringView defaultNamespace) {
  std::shared_ptr<Repository> repo;
  WString why;
  if (FAILED(Repository::OpenHost(&repo, &why))) return vr::text::WideToUtf8(why);
  MofError error;
  if (FAILED(CompileMof(*repo, mof, defaultNamespace, nullptr, &error))) return vr::text::WideToUtf8(error.Format(u""));
  return std::string();
}

}  // namespace vr::wmi::testing
