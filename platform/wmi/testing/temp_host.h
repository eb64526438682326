// Tests: a fresh host root in a temporary folder of the test support's (VR_HOST_ROOT points at
// it while the object lives; the folder goes with it), optionally seeded with the product
// namespace MOF of data/.
//
// Folder platform/wmi/testing, library vr_wmi_testing: for tests only; uses platform/wmi and
// the test support.
#pragma once
#include <string>

#include "platform/text/wstring.h"
#include "tests/support/HostTestSupport.h"

namespace vr::wmi::testing {

class TempHost {
 public:
  explicit TempHost(bool seed = true);
  TempHost(const TempHost&) = delete;
  TempHost& operator=(const TempHost&) = delete;

  const std::string& root() const { return folder_.path(); }
  // Compiles MOF text into the host; returns the MOF error text, empty on success.
  std::string Compile(WStringView mof, WStringView defaultNamespace = u"root");

 private:
  vr::testing::TempDir folder_;
  vr::testing::ScopedEnv env_;
};

// The text of the seed MOF (data/vorant_namespace.mof of the source tree).
WString SeedMof();
std::string SourceDir();

}  // namespace vr::wmi::testing
