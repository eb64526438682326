// libFuzzer: any bytes as an undo file whose [[[PLATFORMS]]] sections the unregistration reads.
// The reader runs against a fixed model standing for WMI (no repository is touched) and must
// either refuse the text with a message, or build a change set that only names what that
// model holds: every value vector is empty or lists the model's entries in their order, a
// match record loses references and never gains any, a group to remove is one of the model's.
#include <cstdlib>

#include "platform/text/casefold.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/FuzzFile.h"
#include "tessera/ModelUpdater/PlatformOperations.h"

using namespace PlatformOperations;

namespace {

const PlatformModel& Model() {
  static const PlatformModel model = [] {
    PlatformModel m;
    m.values.osTypes = {{u"1", u"Other"}, {u"6", u"Linux"}, {u"10", u"Windows NT"}, {u"91", u"Linux (RISC-V)"}};
    m.values.osVersions = {{u"0", u"Unknown"}, {u"6240", u"2.4"}, {u"9101", u"Debian 12"}};
    m.values.systemTypes = {{u"1", u"Other", u"Other"}, {u"2", u"Intel x86", u"Intel"}, {u"70", u"RISCV 64", u"RISCV"}};
    m.values.cpuOsTypes = {{u"Other", {u"1"}}, {u"Intel", {u"10", u"6"}}, {u"RISCV", {u"91"}}};
    m.matches = {{u"^Linux .* riscv64$", 2, 2, u"91", 1}, {u"^Linux-riscv64$", 3, 2, u"91", 3},
                 {u"^ubuntu-riscv64$", 1, 3, u"9102", 2}};
    m.groups = {{u"ALL", u"All nodes", u""}, {u"RISCV_LINUX", u"Linux on RISC-V", u""},
                {u"RISCV_DEBIAN", u"Debian on RISC-V", u"RISCV_LINUX"}};
    return m;
  }();
  return model;
}

template <class Change, class Value>
void CheckValues(const std::vector<Change>& changes, const std::vector<Value>& wmi) {
  if (changes.empty()) return;
  if (changes.size() != wmi.size()) std::abort();
  for (size_t i = 0; i < changes.size(); ++i)
    if (changes[i].fromValue != wmi[i].value) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteFuzzInput(data, size)) return 0;
  VrLogFile undo(FuzzInputPath().c_str(), true);
  if (FAILED(undo.LoadFile())) return 0;
  VrLogFile log(u"", false);
  const PlatformModel& wmi = Model();
  for (int32_t mode : {OP_UNINSTALL, OP_ROLLBACK}) {
    OperationContext context;
    context.mode = mode;
    PlatformChanges changes;
    WString message;
    const HRESULT hr = CreateUninstallationAndUnDoVect(context, undo, wmi, changes, message, log);
    if (FAILED(hr)) {
      if (hr != kUndoSectionSyntax || message.empty()) std::abort();
      continue;
    }
    CheckValues(changes.model.osTypes, wmi.values.osTypes);
    CheckValues(changes.model.osVersions, wmi.values.osVersions);
    CheckValues(changes.model.systemTypes, wmi.values.systemTypes);
    for (const PlatformMatchChange& c : changes.matches) {
      bool known = false;
      for (const PlatformMatch& w : wmi.matches)
        known = known || (PlatformMatchOperations::SameIdentity(w, c.from) && w.RefCnt == c.from.RefCnt);
      if (!known || c.to.RefCnt >= c.from.RefCnt || !PlatformMatchOperations::SameIdentity(c.from, c.to)) std::abort();
    }
    for (const NodeGroupChange& c : changes.groups) {
      bool known = false;
      for (const NodeGroup& w : wmi.groups) known = known || vr::text::EqualsNoCase(w.Name, c.from.Name);
      if (!known || c.updateAction != ACTION_REMOVE) std::abort();
    }
  }
  return 0;
}
