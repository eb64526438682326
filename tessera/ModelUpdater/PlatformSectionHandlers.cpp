// The platform section handlers. Not built yet: they report that the section is unavailable,
// so a run that selects it stops at its Init with nothing changed.
#include "tessera/Messages.h"
#include "tessera/VrPlatformRegistration.h"

namespace {

constexpr int kExitFailure = 100;

// Message 420 naming the handler: the section is not available in this program.
WString Unavailable(const char16_t* method) { return vr::msg::LoadMessage(420, method); }

}  // namespace

int CVrPlatformRegistration::PlatformRegInit(WString& message) {
  message = Unavailable(u"CVrPlatformRegistration::PlatformRegInit");
  return kExitFailure;
}
int CVrPlatformRegistration::PlatformRegUpdate(CXmlReader&, const WString&, bool, VrLogFile&, WString& message) {
  message = Unavailable(u"CVrPlatformRegistration::PlatformRegUpdate");
  return kExitFailure;
}
bool CVrPlatformRegistration::PlatformRegRollback(VrLogFile&, WString& message) {
  message = Unavailable(u"CVrPlatformRegistration::PlatformRegRollback");
  return false;
}
bool CVrPlatformRegistration::PlatformRegCleanup(WString&) { return true; }
