// The Depot component's class and interface identifiers, and the registration of its class: a
// program that names CLSID_VrDepotServer links this unit, whose registration runs before main.
#include "platform/depot/depot.h"

namespace vr::depot {
void RegisterDepotServer();
}

const CLSID CLSID_VrDepotServer = {0xFE00CAD1, 0xA95A, 0x11D2, {0x90, 0xD8, 0x08, 0x00, 0x09, 0xEE, 0x5E, 0x69}};
const IID IID_IVrDepotServer = {0x4DA55FA5, 0xB905, 0x4042, {0x8D, 0x40, 0xAC, 0xC2, 0x3F, 0x5C, 0xF7, 0x05}};

namespace {
struct RegisterAtStartup {
  RegisterAtStartup() { vr::depot::RegisterDepotServer(); }
} g_registerAtStartup;
}  // namespace
