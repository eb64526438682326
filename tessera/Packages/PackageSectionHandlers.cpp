// The package section handlers. Not built yet: they report that the section is unavailable,
// so a run that selects it stops at its Init with nothing changed.
#include "tessera/Messages.h"
#include "tessera/VrPlatformRegistration.h"

namespace {

constexpr int kExitFailure = 100;

// Message 420 naming the handler: the section is not available in this program.
WString Unavailable(const char16_t* method) { return vr::msg::LoadMessage(420, method); }

}  // namespace

int CVrPlatformRegistration::PackageRegInit(WString& message) {
  message = Unavailable(u"CVrPlatformRegistration::PackageRegInit");
  return kExitFailure;
}
int CVrPlatformRegistration::PackageRegUpdate(CXmlReader&, const WString&, bool, VrLogFile&, WString& message) {
  message = Unavailable(u"CVrPlatformRegistration::PackageRegUpdate");
  return kExitFailure;
}
bool CVrPlatformRegistration::PackageRegRollback(VrLogFile&, WString& message) {
  message = Unavailable(u"CVrPlatformRegistration::PackageRegRollback");
  return false;
}
bool CVrPlatformRegistration::PackageRegCleanup(WString&) { return true; }

