// Tests: a fresh host root in a temporary folder (VR_HOST_ROOT points at it while the object
// lives), optionally seeded with the product namespace MOF of data/.
//
// Folder platform/wmi/testing, library vr_wmi_testing: for tests only; uses platform/wmi.
#pragma once
#include <string>

#include "platform/text/wstring.h"

namespace vr::wmi::testing {

class TempHost {
 public:
  explicit TempHost(bool seed = true);
  ~TempHost();
  TempHost(const TempHost&) = delete;
  TempHost& operator=(const TempHost&) = delete;

  const std::string& root() const { return root_; }
  // Compiles MOF text into the host; returns the MOF error text, empty on success.
  std::string Compile(WStringView mof, WStringView defaultNamespace = u"root");

 private:
  std::string root_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// The text of the seed MOF (data/vorant_namespace.mof of the source tree).
WString SeedMof();
std::string SourceDir();

}  // namespace vr::wmi::testing
