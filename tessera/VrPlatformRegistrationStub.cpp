// Placeholder registration runs: the environment is discovered (VrEnvironment.cpp), but
// neither run exists yet, so both fail with the unspecified-error message.
#include "tessera/VrPlatformRegistration.h"

#include "tessera/AppErrors.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/TesseraTrace.h"

namespace {
constexpr int kExitFailure = 100;
}

CVrPlatformRegistration::~CVrPlatformRegistration() = default;

int CVrPlatformRegistration::RegisterPlatform(const WString&, const WString&, bool, const WString&, int) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RegisterPlatform", "VrPlatformRegistration",
                    vr::trace::kRunFlags);
  VR_TRACE_ERROR("The registration run is not available.");
  throw CApp_error(vr::msg::LoadMessage(420, u"CVrPlatformRegistration::RegisterPlatform"), kExitFailure);
}

int CVrPlatformRegistration::UnregisterPlatform(const WString&, bool) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::UnregisterPlatform", "VrPlatformRegistration",
                    vr::trace::kRunFlags);
  VR_TRACE_ERROR("The unregistration run is not available.");
  throw CApp_error(vr::msg::LoadMessage(420, u"CVrPlatformRegistration::UnregisterPlatform"), kExitFailure);
}
