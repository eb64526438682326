// Checks of the registration file's platform texts that run before any change: every text
// that an undo line carries must come back from that line as it was written, and every
// instrumentation name must name one folder or file below the instrumentation root.
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"
#include "tessera/XmlParser/XmlRecords.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace PlatformOperations {
namespace {

WString Decimal(int32_t n) {
  const std::string s = std::to_string(n);
  return WString(s.begin(), s.end());
}

bool IsLineBreak(WChar c) { return c == u'\n' || c == u'\r' || c == u'\x2028' || c == u'\x2029' || c == u'\x85'; }
bool IsBlank(WChar c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\x3000'; }

}  // namespace

bool CanQuoteInUndoLine(WStringView text) {
  for (WChar c : text)
    if (c == u'"' || IsLineBreak(c)) return false;
  return true;
}

bool CanWriteBareInUndoLine(WStringView text) {
  if (text.empty()) return false;
  for (WChar c : text)
    if (c == u'"' || IsLineBreak(c) || IsBlank(c)) return false;
  return true;
}

bool IsPlainPathComponent(WStringView name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (WChar c : name)
    if (c == u'\\' || c == u'/' || c == u':' || c == 0) return false;
  return true;
}

HRESULT CheckPlatformTexts(const std::vector<CPlatform>& platforms, bool qualifiersOnly, WString& error,
                           VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::CheckPlatformTexts", "ModelUpdater\\PlatformTextChecks",
                    vr::trace::kModelFlags);
  auto refuseText = [&](const WString& text, const WString& where) {
    VR_TRACE_ERROR("The text '", text, "' (", where, ") cannot be carried by an undo line.");
    ReportMessage(LoadMessage(MessageId::kTextNotUndoSafe, text, where), error, log);
    return E_FAIL;
  };
  auto checkEntry = [&](const CModelEntry& entry, const WString& kind, bool hasCaption) {
    const WString of = kind + u" " + Decimal(entry.value);
    if (hasCaption && !CanQuoteInUndoLine(entry.caption)) return refuseText(entry.caption, u"caption of " + of);
    if (qualifiersOnly) return S_OK;  // a local cluster run writes no match records
    for (const auto* list : {&entry.snmp, &entry.netapi, &entry.agent})
      for (const WString& text : *list)
        if (!CanQuoteInUndoLine(text)) return refuseText(text, u"discovery text of " + of);
    return S_OK;
  };
  for (const CPlatform& p : platforms) {
    if (FAILED(checkEntry(p.systemType, u"system type", p.systemType.caption != kNoTextFound)) ||
        FAILED(checkEntry(p.osType, u"OS type", p.osType.caption != kNoTextFound)))
      return E_FAIL;
    for (const COsVersionEntry& version : p.osVersions) {
      if (FAILED(checkEntry(version, u"OS version", version.caption != kNoTextFound))) return E_FAIL;
      if (qualifiersOnly) continue;
      for (const CInstrumentationSubdir& subdir : version.instrumentation) {
        auto refuseName = [&](const WString& name) {
          VR_TRACE_ERROR("The instrumentation name '", name, "' is no plain folder or file name.");
          ReportMessage(LoadMessage(MessageId::kInstrumentationNameNotOneFolder, name, Decimal(version.value)), error, log);
          return E_FAIL;
        };
        if (!IsPlainPathComponent(subdir.name)) return refuseName(subdir.name);
        for (const WString& file : subdir.files)
          if (!IsPlainPathComponent(InstrumentationFileName(file))) return refuseName(file);
      }
    }
    if (qualifiersOnly) continue;
    for (const CNodeGroup& group : p.nodeGroups) {
      for (const WString* name : {&group.name, &group.parent}) {
        if (name == &group.parent && name->empty()) continue;  // a top group has no parent
        if (CanWriteBareInUndoLine(*name)) continue;
        VR_TRACE_ERROR("The node group name '", *name, "' cannot be carried by an undo line.");
        ReportMessage(LoadMessage(MessageId::kNodeGroupNameNotUndoSafe, *name), error, log);
        return E_FAIL;
      }
      if (!CanQuoteInUndoLine(group.caption)) return refuseText(group.caption, u"caption of node group " + group.name);
    }
  }
  return S_OK;
}

}  // namespace PlatformOperations
