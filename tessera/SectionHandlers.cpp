// The section protocol that forwards to the section handlers of the registration object, the
// handlers themselves (each forwards to the object of its section: ModelUpdater/ for the
// platforms, Packages/ for the packages, Prereq/ for the prerequisites), and the destructor that
// cleans up every initialised section.
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformSection.h"
#include "tessera/Prereq/PrereqSection.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"

namespace {

class HandlerSections final : public IRegistrationSections {
 public:
  explicit HandlerSections(CVrPlatformRegistration& owner) : r_(owner) {}
  int PlatformRegInit(WString& m) override { return r_.PlatformRegInit(m); }
  int PlatformRegUpdate(CXmlReader& x, const WString& p, bool re, VrLogFile& l, WString& m) override {
    return r_.PlatformRegUpdate(x, p, re, l, m);
  }
  bool PlatformRegRollback(VrLogFile& l, WString& m) override { return r_.PlatformRegRollback(l, m); }
  bool PlatformRegCleanup(WString& m) override { return r_.PlatformRegCleanup(m); }
  bool InitListOfWinOSTypes(WString& m) override { return r_.InitListOfWinOSTypes(m); }
  int PackageRegInit(WString& m) override { return r_.PackageRegInit(m); }
  int PackageRegUpdate(CXmlReader& x, const WString& p, bool re, VrLogFile& l, WString& m) override {
    return r_.PackageRegUpdate(x, p, re, l, m);
  }
  bool PackageRegRollback(VrLogFile& l, WString& m) override { return r_.PackageRegRollback(l, m); }
  bool PackageRegCleanup(WString& m) override { return r_.PackageRegCleanup(m); }
  int ReqCheckCfgRegInit(WString& m, const WString& v) override { return r_.ReqCheckCfgRegInit(m, v); }
  int ReqCheckCfgRegUpdate(CXmlReader& x, const WString& p, bool re, VrLogFile& l, WString& m) override {
    return r_.ReqCheckCfgRegUpdate(x, p, re, l, m);
  }
  bool ReqCheckCfgRegRollback(VrLogFile& l, WString& m) override { return r_.ReqCheckCfgRegRollback(l, m); }
  bool ReqCheckCfgRegCleanup(WString& m) override { return r_.ReqCheckCfgRegCleanup(m); }
  bool PlatformRestoreRecord(const std::string& rec, WString& m) override { return r_.PlatformRestoreRecord(rec, m); }
  bool PackageRestoreRecord(const std::string& rec, WString& m) override { return r_.PackageRestoreRecord(rec, m); }
  bool PrereqRestoreRecord(const std::string& rec, WString& m) override { return r_.PrereqRestoreRecord(rec, m); }

 private:
  CVrPlatformRegistration& r_;
};

}  // namespace

// The platform section (ModelUpdater/PlatformSection.h).
int CVrPlatformRegistration::PlatformRegInit(WString& message) { return platformSection_->Init(message); }
int CVrPlatformRegistration::PlatformRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall,
                                               VrLogFile& sectionLog, WString& message) {
  return platformSection_->Update(reader, patch, reinstall, sectionLog, message);
}
bool CVrPlatformRegistration::PlatformRegRollback(VrLogFile& log, WString& message) {
  return platformSection_->Rollback(log, message);
}
bool CVrPlatformRegistration::PlatformRegCleanup(WString& message) { return platformSection_->Cleanup(message); }
bool CVrPlatformRegistration::PlatformRestoreRecord(const std::string& record, WString& message) {
  return platformSection_->RestoreRecord(record, message);
}
bool CVrPlatformRegistration::InitListOfWinOSTypes(WString& message) {
  return platformSection_->InitListOfWinOSTypes(message);
}

// The prerequisite section (Prereq/PrereqSection.h).
int CVrPlatformRegistration::ReqCheckCfgRegInit(WString& message, const WString& requestedVersion) {
  return prereqSection_->Init(message, requestedVersion);
}
int CVrPlatformRegistration::ReqCheckCfgRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall,
                                                  VrLogFile& sectionLog, WString& message) {
  return prereqSection_->Update(reader, patch, reinstall, sectionLog, message);
}
bool CVrPlatformRegistration::ReqCheckCfgRegRollback(VrLogFile& log, WString& message) {
  return prereqSection_->Rollback(log, message);
}
bool CVrPlatformRegistration::ReqCheckCfgRegCleanup(WString& message) { return prereqSection_->Cleanup(message); }
bool CVrPlatformRegistration::PrereqRestoreRecord(const std::string& record, WString& message) {
  return prereqSection_->RestoreRecord(record, message);
}

std::unique_ptr<IRegistrationSections> CVrPlatformRegistration::MakeHandlerSections(CVrPlatformRegistration& owner) {
  return std::make_unique<HandlerSections>(owner);
}

CVrPlatformRegistration::~CVrPlatformRegistration() {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::~CVrPlatformRegistration", "VrPlatformRegistration",
                    vr::trace::kRunFlags);
  // Cleanups in the order platforms, packages, prerequisites; a failure is printed and the
  // destruction goes on.
  WString message;
  if (platformsInitialised_ && sections_ && !sections_->PlatformRegCleanup(message))
    vr::console::PrintConsoleText(message, vr::console::kError);
  message.clear();
  if (packagesInitialised_ && sections_ && !sections_->PackageRegCleanup(message))
    vr::console::PrintConsoleText(message, vr::console::kError);
  message.clear();
  if (prereqInitialised_ && sections_ && !sections_->ReqCheckCfgRegCleanup(message))
    vr::console::PrintConsoleText(message, vr::console::kError);
  runLog_.reset();
}
