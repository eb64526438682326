// Platform match records: every VR_PlatformMatch instance is shared by the registrations that
// need it and counts them in RefCnt. Registering raises the count (or adds the record),
// reversing a registration lowers it, and the instance goes only when no registration needs
// it any more.
#include "tessera/ModelUpdater/PlatformMatchOperations.h"

#include <unordered_map>
#include <unordered_set>

#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/MatchGroupsSupport.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace PlatformOperations::MatchGroupsSupport;

namespace PlatformOperations::PlatformMatchOperations {

namespace {

constexpr const WChar* kClass = u"VR_PlatformMatch";
constexpr const WChar* kKeyword = u"NODEDISC";

// The identity of a record as a hashable key: the length of the match expression, the
// case-folded match expression, Method and Property, each number as two code units (the
// length keeps the fields apart whatever the expression holds).
void AppendNumber(WString& key, uint32_t n) {
  key += static_cast<WChar>(n >> 16);
  key += static_cast<WChar>(n & 0xFFFF);
}
WString IdentityOf(const PlatformMatch& r) {
  WString key;
  key.reserve(r.MatchExpression.size() + 6);
  AppendNumber(key, static_cast<uint32_t>(r.MatchExpression.size()));
  key += vr::text::ToLower(r.MatchExpression);
  AppendNumber(key, static_cast<uint32_t>(r.Method));
  AppendNumber(key, static_cast<uint32_t>(r.Property));
  return key;
}
// Identity and case-folded Value: what makes a file entry a repetition of an earlier one.
WString EntryOf(const PlatformMatch& r) { return IdentityOf(r) + vr::text::ToLower(r.Value); }

bool IsBlank(const PlatformMatch& r) { return r.MatchExpression.empty() && r.Method == 0 && r.Property == 0; }

// NODEDISC lines: `%s%s %i %i "%s" "%s"`, and the CHANGE line with both Values.
WString Line(const WChar* action, const PlatformMatch& r) {
  return vr::text::Format(u"%S%S %i %i \"%S\" \"%S\"", kKeyword, action, r.Method, r.Property, r.Value,
                          r.MatchExpression);
}
WString ChangeLine(const PlatformMatch& from, const PlatformMatch& to) {
  return vr::text::Format(u"%S%S %i %i \"%S\" \"%S\" \"%S\"", kKeyword, u" CHANGE", to.Method, to.Property,
                          from.Value, to.Value, to.MatchExpression);
}

bool IsRegistering(const OperationContext& context) {
  return context.mode == OP_REGISTER || context.mode == OP_REINSTALL;
}

WString Describe(const PlatformMatch& r) {
  return vr::text::Format(u"(\"%S\", %i, %i, \"%S\", %i)", r.MatchExpression, r.Method, r.Property, r.Value, r.RefCnt);
}

// The references a registering change adds to its record: each is one undo line, since reading
// the section takes one reference per line.
int32_t ReferencesAdded(const PlatformMatchChange& c) {
  if (c.updateAction == ACTION_ADD) return c.to.RefCnt;
  return c.to.RefCnt - c.from.RefCnt;
}

// The undo lines of one registering change: one per reference it adds, ADD or CHANGE for the
// first and INCREMENT for each further one.
std::vector<WString> RegistrationLines(const PlatformMatchChange& c) {
  std::vector<WString> lines;
  const int32_t references = ReferencesAdded(c);
  for (int32_t i = 0; i < references; ++i) {
    if (i == 0 && c.updateAction == ACTION_ADD) lines.push_back(Line(u" ADD", c.to));
    else if (i == 0 && c.updateAction == ACTION_MODIFY) lines.push_back(ChangeLine(c.from, c.to));
    else lines.push_back(Line(u" INCREMENT", c.to));
  }
  return lines;
}

// The lines of one committed change: to the undo sink when the change is a registration's
// own, and to the platform log always (a line the table gives no place gets none). A
// registration writes one line per reference it added: ADD or CHANGE for the first, INCREMENT
// for each further one, so that the lines take away exactly what the run added.
void WriteLines(const OperationContext& context, const PlatformMatchChange& c, const PlatformMatch* deleted,
                VrLogFile* undoSink, VrLogFile& log) {
  if (deleted) {
    log.AppendLine(Line(u" REMOVE", *deleted), true);
    return;
  }
  if (!IsRegistering(context)) {
    // Unregistration and rollback write only their own log lines.
    log.AppendLine(c.updateAction == ACTION_ADD      ? Line(u" ADD", c.to)
                   : c.updateAction == ACTION_MODIFY ? ChangeLine(c.from, c.to)
                                                     : Line(u" DECREMENT", c.to),
                   true);
    return;
  }
  VrLogFile::SyncBatch batch(undoSink);
  for (const WString& line : RegistrationLines(c)) {
    if (undoSink) undoSink->AppendLine(line, true);
    log.AppendLine(line, true);
  }
}

}  // namespace

HRESULT WriteRecord(IWbemServices* services, const PlatformMatch& r, WString& error, VrLogFile& log) {
  std::shared_ptr<IWbemClassObject> instance;
  if (FAILED(SpawnInstanceOf(services, kClass, instance, error, log))) return E_FAIL;
  if (FAILED(WriteString(*instance, u"MatchExpression", r.MatchExpression, error, log)) ||
      FAILED(WriteInt(*instance, u"Method", r.Method, error, log)) ||
      FAILED(WriteInt(*instance, u"Property", r.Property, error, log)) ||
      FAILED(WriteString(*instance, u"Value", r.Value, error, log)) ||
      FAILED(WriteInt(*instance, u"RefCnt", r.RefCnt, error, log)))
    return E_FAIL;
  return PutNewInstance(services, *instance, error, log);
}

WString ObjectPath(const PlatformMatch& record) {
  return vr::text::Format(u"VR_PlatformMatch.MatchExpression=%S,Method=%i,Property=%i",
                          QuotedKey(record.MatchExpression), record.Method, record.Property);
}

bool SameIdentity(const PlatformMatch& a, const PlatformMatch& b) {
  return a.Method == b.Method && a.Property == b.Property && vr::text::EqualsNoCase(a.MatchExpression, b.MatchExpression);
}

HRESULT LoadValuesFromWMI(IWbemServices* services, std::vector<PlatformMatch>& records, WString& error,
                          VrLogFile& log) {
  return WMIInteraction::GetPlatformInfoFromWMI(services, records, error, log);
}

void GetListOfPlatformMatchDuplicates(const std::vector<PlatformMatch>& entries, std::vector<PlatformMatch>& distinct,
                                      std::vector<PlatformMatch>& duplicates) {
  VR_TRACE_FUNCTION("PlatformMatchOperations::GetListOfPlatformMatchDuplicates", "ModelUpdater\\PlatformMatchOperations",
                    vr::trace::kModelFlags);
  std::vector<PlatformMatch> first, again;
  std::unordered_set<WString> seen;
  seen.reserve(entries.size());
  for (const PlatformMatch& e : entries) {
    if (seen.insert(EntryOf(e)).second) first.push_back(e);
    else again.push_back(e);
  }
  distinct = std::move(first);
  duplicates = std::move(again);
}

HRESULT CreateUpdateAndUnDoVec(const OperationContext& context, const std::vector<PlatformMatch>& wmiRecords,
                               const std::vector<PlatformMatch>& fileEntries, std::vector<PlatformMatchChange>& changes,
                               WString& error, VrLogFile& log) {
  return CreateUpdateAndUnDo_PlatformMatchVec(context, wmiRecords, fileEntries, changes, error, log);
}

HRESULT CreateUpdateAndUnDo_PlatformMatchVec(const OperationContext& context,
                                             const std::vector<PlatformMatch>& wmiRecords,
                                             const std::vector<PlatformMatch>& fileEntries,
                                             std::vector<PlatformMatchChange>& changes, WString& error,
                                             VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformMatchOperations::CreateUpdateAndUnDo_PlatformMatchVec",
                    "ModelUpdater\\PlatformMatchOperations", vr::trace::kModelFlags);
  try {
    if (fileEntries.empty()) {
      VR_TRACE_INFO("No platform match entries in the registration file; nothing to plan.");
      changes.clear();
      return S_OK;
    }
    if (wmiRecords.empty()) {
      VR_TRACE_ERROR("The platform match records of WMI are empty.");
      Report(error, log, LoadMessage(MessageId::kPlatformMatchesEmpty));
      return E_FAIL;
    }
    std::vector<PlatformMatch> distinct, duplicates;
    GetListOfPlatformMatchDuplicates(fileEntries, distinct, duplicates);
    std::unordered_map<WString, int32_t> repetitions;
    for (const PlatformMatch& d : duplicates) ++repetitions[EntryOf(d)];
    std::unordered_map<WString, size_t> inWmi;
    inWmi.reserve(wmiRecords.size());
    for (size_t i = 0; i < wmiRecords.size(); ++i) inWmi.emplace(IdentityOf(wmiRecords[i]), i);

    const bool reinstall = context.mode == OP_REINSTALL;
    // The state an identity will have once the changes planned so far are applied: a later
    // entry of the same identity (another Value) builds on it, so no reference is lost.
    std::unordered_map<WString, PlatformMatch> planned;
    planned.reserve(distinct.size());
    std::vector<PlatformMatchChange> result;
    result.reserve(distinct.size());
    for (const PlatformMatch& c : distinct) {
      const WString id = IdentityOf(c);
      const auto rep = repetitions.find(EntryOf(c));
      int32_t references = reinstall ? 0 : 1 + (rep == repetitions.end() ? 0 : rep->second);
      const PlatformMatch* base = nullptr;
      if (auto p = planned.find(id); p != planned.end()) base = &p->second;
      else if (auto w = inWmi.find(id); w != inWmi.end()) base = &wmiRecords[w->second];

      PlatformMatchChange change;
      if (base) {
        change.from = *base;
        change.to = *base;
        change.to.RefCnt = base->RefCnt + references;
        if (vr::text::EqualsNoCase(base->Value, c.Value)) {
          change.updateAction = change.undoAction = NO_CHANGE;
        } else {
          // A reinstall that changes a record's Value takes a reference with it: the CHANGE
          // line that brings the old Value back also takes a reference on unregistration.
          if (references == 0) {
            references = 1;
            change.to.RefCnt = base->RefCnt + 1;
          }
          change.to.Value = c.Value;
          change.updateAction = change.undoAction = ACTION_MODIFY;
        }
      } else {
        change.to = c;
        change.to.RefCnt = reinstall ? 1 : references;
        change.updateAction = ACTION_ADD;
        change.undoAction = ACTION_REMOVE;
      }
      VR_TRACE_INFO("Planned ", Describe(change.from), " -> ", Describe(change.to), ", update ",
                    static_cast<int>(change.updateAction), ", undo ", static_cast<int>(change.undoAction));
      planned[id] = change.to;
      result.push_back(std::move(change));
    }
    changes = std::move(result);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

void AppendRegistrationUndoLines(const std::vector<PlatformMatchChange>& changes, std::vector<WString>& lines) {
  // A change that deletes its record writes no undo line (see UpdatePlatformInfoInWMI).
  for (const PlatformMatchChange& c : changes)
    if (c.updateAction != ACTION_REMOVE && c.to.RefCnt > 0)
      for (WString& line : RegistrationLines(c)) lines.push_back(std::move(line));
}

HRESULT RegisterUnregisterNewPlatforms(OperationContext& context, IWbemServices* services,
                                       const std::vector<PlatformMatchChange>& changes, WString& error,
                                       VrLogFile* undoSink, VrLogFile& log) {
  return WMIInteraction::UpdatePlatformInfoInWMI(context, services, changes, error, undoSink, log);
}

namespace WMIInteraction {

HRESULT GetPlatformInfoFromWMI(IWbemServices* services, std::vector<PlatformMatch>& records, WString& error,
                               VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformMatchOperations::WMIInteraction::GetPlatformInfoFromWMI",
                    "ModelUpdater\\PlatformMatchOperations", vr::trace::kModelFlags);
  try {
    std::vector<PlatformMatch> read;
    const HRESULT hr = ForEachInstance(
        services, kClass,
        [&](IWbemClassObject& instance) {
          PlatformMatch r;
          if (FAILED(ReadInt(instance, u"Method", r.Method, error, log)) ||
              FAILED(ReadInt(instance, u"Property", r.Property, error, log)) ||
              FAILED(ReadString(instance, u"Value", r.Value, error, log)) ||
              FAILED(ReadString(instance, u"MatchExpression", r.MatchExpression, error, log)) ||
              FAILED(ReadInt(instance, u"RefCnt", r.RefCnt, error, log)))
            return E_FAIL;
          read.push_back(std::move(r));
          return S_OK;
        },
        error, log);
    if (FAILED(hr)) return E_FAIL;
    VR_TRACE_INFO("Read ", static_cast<unsigned long>(read.size()), " platform match records from WMI.");
    records = std::move(read);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT UpdatePlatformInfoInWMI(OperationContext& context, IWbemServices* services,
                                const std::vector<PlatformMatchChange>& changes, WString& error,
                                VrLogFile* undoSink, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformMatchOperations::WMIInteraction::UpdatePlatformInfoInWMI",
                    "ModelUpdater\\PlatformMatchOperations", vr::trace::kModelFlags);
  try {
    const bool goOn = context.mode == OP_ROLLBACK;
    bool failed = false;
    for (const PlatformMatchChange& c : changes) {
      const bool write = c.updateAction != ACTION_REMOVE && c.to.RefCnt > 0;
      // A removal names its instance by the from record; a change built without one names it
      // by the to record, which has the same identity.
      const PlatformMatch& named = IsBlank(c.from) ? c.to : c.from;
      const HRESULT hr = write ? WriteRecord(services, c.to, error, log)
                               : DeleteInstanceAt(services, ObjectPath(named), error, log);
      if (FAILED(hr)) {
        failed = true;
        VR_TRACE_ERROR("The change of ", Describe(c.from), " -> ", Describe(c.to), " FAILED");
        if (!goOn) return E_FAIL;
        continue;
      }
      WriteLines(context, c, write ? nullptr : &named, undoSink, log);
    }
    return failed ? E_FAIL : S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace WMIInteraction
}  // namespace PlatformOperations::PlatformMatchOperations
