// Writing, reading and restoring the platform section's before-images (PlatformRecord.h).
#include "tessera/ModelUpdater/PlatformRecord.h"

#include <charconv>

#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/text/line_escape.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/MatchGroupsSupport.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using vr::text::EqualsNoCase;

namespace PlatformOperations {
namespace {

constexpr long kPropagateFlavour = 3;  // Values and ValueMap: to instances and to derived classes

// ---- Text form

void AppendField(std::string& line, WStringView field) {
  line += '\t';
  line += vr::text::EscapeLineText(vr::text::WideToUtf8(field));
}

std::string Number(int32_t n) { return std::to_string(n); }

// A record is the journal's own file: an escape no AppendField wrote is read leniently.
std::vector<WString> SplitFields(std::string_view line) {
  std::vector<WString> fields;
  std::string field;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    vr::text::UnescapeLineText(line.substr(start, tab - start), field);  // to the end when no tab follows
    fields.push_back(vr::text::Utf8ToWide(field));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

bool ParseInt(const WString& text, int32_t& n) {
  const std::string s = vr::text::WideToUtf8(text);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

bool ParseLine(const std::vector<WString>& f, PlatformRecord& record) {
  if (f.empty()) return false;
  const WString& kind = f[0];
  if (kind == u"QUALIFIER") {
    if (f.size() < 3) return false;
    record.arrays.push_back({f[1], f[2], std::vector<WString>(f.begin() + 3, f.end())});
    return true;
  }
  if (kind == u"CPU") {
    if (f.size() == 3 && f[2] == u"absent") {
      record.cpus.push_back({f[1], std::nullopt});
      return true;
    }
    if (f.size() < 3 || f[2] != u"list") return false;
    record.cpus.push_back({f[1], std::vector<WString>(f.begin() + 3, f.end())});
    return true;
  }
  if (kind == u"MATCH") {
    PlatformRecord::Match m;
    if (f.size() < 5 || !ParseInt(f[2], m.identity.Method) || !ParseInt(f[3], m.identity.Property)) return false;
    m.identity.MatchExpression = f[1];
    if (f[4] == u"absent" && f.size() == 5) {
      record.matches.push_back(std::move(m));
      return true;
    }
    if (f[4] != u"present" || f.size() != 7 || !ParseInt(f[6], m.identity.RefCnt)) return false;
    m.identity.Value = f[5];
    m.present = true;
    record.matches.push_back(std::move(m));
    return true;
  }
  if (kind == u"GROUP") {
    if (f.size() == 3 && f[2] == u"absent") {
      record.groups.push_back({f[1], std::nullopt});
      return true;
    }
    if (f.size() != 4 || f[2] != u"present") return false;
    record.groups.push_back({f[1], f[3]});
    return true;
  }
  if (kind == u"MEMBER") {
    if (f.size() != 4 || (f[3] != u"absent" && f[3] != u"present")) return false;
    record.members.push_back({f[1], f[2], f[3] == u"present"});
    return true;
  }
  return false;
}

// ---- What a change set touches

const CpuOsTypes* FindCpu(const std::vector<CpuOsTypes>& cpus, const WString& cpu) {
  for (const CpuOsTypes& c : cpus)
    if (EqualsNoCase(c.cpuType, cpu)) return &c;
  return nullptr;
}

template <class Value>
void AddArrays(const WString& property, const std::vector<Value>& values, PlatformRecord& record) {
  PlatformRecord::Array captions{property, u"Values", {}};
  PlatformRecord::Array map{property, u"ValueMap", {}};
  for (const Value& v : values) {
    captions.entries.push_back(v.caption);
    map.entries.push_back(v.value);
  }
  record.arrays.push_back(std::move(captions));
  record.arrays.push_back(std::move(map));
}

bool HasName(const std::vector<WString>& names, const WString& name) {
  for (const WString& n : names)
    if (EqualsNoCase(n, name)) return true;
  return false;
}

}  // namespace

HRESULT CreatePlatformRecord(IWbemServices* services, const PlatformModel& wmi, const PlatformChanges& changes,
                             PlatformRecord& record, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::CreatePlatformRecord", "ModelUpdater\\PlatformRecord",
                    vr::trace::kModelFlags);
  try {
    PlatformRecord made;
    const PlatformModelChanges& model = changes.model;
    if (!model.osTypes.empty()) AddArrays(u"OsType", wmi.values.osTypes, made);
    if (!model.osVersions.empty()) AddArrays(u"OsVersion", wmi.values.osVersions, made);
    if (!model.systemTypes.empty()) AddArrays(u"SystemType", wmi.values.systemTypes, made);
    std::vector<WString> cpus;
    for (const CpuOsTypesChange& c : model.cpuOsTypes)
      for (const WString* cpu : {&c.fromCpuType, &c.toCpuType})
        if (!cpu->empty() && !HasName(cpus, *cpu)) cpus.push_back(*cpu);
    for (const WString& cpu : cpus) {
      const CpuOsTypes* found = FindCpu(wmi.values.cpuOsTypes, cpu);
      made.cpus.push_back({found ? found->cpuType : cpu,
                           found ? std::optional<std::vector<WString>>(found->osTypes) : std::nullopt});
    }
    for (const PlatformMatchChange& c : changes.matches) {
      const bool blank = c.from.MatchExpression.empty() && c.from.Method == 0 && c.from.Property == 0;
      PlatformRecord::Match m{blank ? c.to : c.from, false};
      for (const PlatformMatch& w : wmi.matches)
        if (PlatformMatchOperations::SameIdentity(w, m.identity)) {
          m.identity = w;
          m.present = true;
          break;
        }
      made.matches.push_back(std::move(m));
    }
    for (const NodeGroupChange& c : changes.groups) {
      const NodeGroup& named = c.updateAction == ACTION_REMOVE ? c.from : c.to;
      PlatformRecord::Group g{named.Name, std::nullopt};
      for (const NodeGroup& w : wmi.groups)
        if (EqualsNoCase(w.Name, named.Name)) {
          g.name = w.Name;
          g.caption = w.Caption;
          break;
        }
      made.groups.push_back(std::move(g));
      // A membership may be there without its group, or the group without it: ask WMI.
      const WString path = NodeGroupOperations::MembershipPath(named.Parent, named.Name);
      std::shared_ptr<IWbemClassObject> member;
      const HRESULT hr = services->GetObject(path.c_str(), 0, nullptr, &member, nullptr);
      if (FAILED(hr) && hr != WBEM_E_NOT_FOUND) {
        ReportMessage(LoadMessage(MessageId::kWmiGetObjectFailed, path, HrText(hr)), error, log);
        return E_FAIL;
      }
      made.members.push_back({named.Parent, named.Name, SUCCEEDED(hr)});
    }
    record = std::move(made);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

std::string FormatPlatformRecord(const PlatformRecord& record) {
  std::string text;
  auto line = [&](const char* kind, std::initializer_list<WStringView> fields, const std::vector<WString>* more) {
    text += kind;
    for (WStringView f : fields) AppendField(text, f);
    if (more)
      for (const WString& f : *more) AppendField(text, f);
    text += '\n';
  };
  for (const auto& a : record.arrays) line("QUALIFIER", {a.property, a.qualifier}, &a.entries);
  for (const auto& c : record.cpus) {
    if (c.osTypes) line("CPU", {c.cpuType, u"list"}, &*c.osTypes);
    else line("CPU", {c.cpuType, u"absent"}, nullptr);
  }
  for (const auto& m : record.matches) {
    const WString method = vr::text::Utf8ToWide(Number(m.identity.Method));
    const WString property = vr::text::Utf8ToWide(Number(m.identity.Property));
    if (m.present)
      line("MATCH",
           {m.identity.MatchExpression, method, property, u"present", m.identity.Value,
            vr::text::Utf8ToWide(Number(m.identity.RefCnt))},
           nullptr);
    else line("MATCH", {m.identity.MatchExpression, method, property, u"absent"}, nullptr);
  }
  for (const auto& g : record.groups) {
    if (g.caption) line("GROUP", {g.name, u"present", *g.caption}, nullptr);
    else line("GROUP", {g.name, u"absent"}, nullptr);
  }
  for (const auto& m : record.members) line("MEMBER", {m.parent, m.child, m.present ? u"present" : u"absent"}, nullptr);
  return text;
}

bool ParsePlatformRecord(std::string_view text, PlatformRecord& record, size_t& badLine) {
  PlatformRecord parsed;
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (!ParseLine(SplitFields(line), parsed)) {
      badLine = number;
      return false;
    }
  }
  record = std::move(parsed);
  return true;
}

HRESULT RestorePlatformRecord(IWbemServices* services, const PlatformRecord& record, WString& error,
                              VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::RestorePlatformRecord", "ModelUpdater\\PlatformRecord",
                    vr::trace::kModelFlags);
  using MatchGroupsSupport::DeleteInstanceAt;
  try {
    if (!record.arrays.empty() || !record.cpus.empty()) {
      std::shared_ptr<IWbemClassObject> nodeClass;
      if (FAILED(PlatformModelOperations::GetClassObjectT(services, nodeClass, error, log))) return E_FAIL;
      for (const auto& a : record.arrays) {
        std::shared_ptr<IWbemQualifierSet> qualifiers;
        HRESULT hr = nodeClass->GetPropertyQualifierSet(a.property.c_str(), &qualifiers);
        if (FAILED(hr) || !qualifiers) {
          ReportMessage(LoadMessage(MessageId::kQualifierSetGetFailed, a.property, HrText(FAILED(hr) ? hr : E_FAIL)), error, log);
          return E_FAIL;
        }
        Variant array;
        if (FAILED(hr = PlatformModelOperations::BuildStringArray(a.entries, array)) ||
            FAILED(hr = qualifiers->Put(a.qualifier.c_str(), &array, kPropagateFlavour))) {
          ReportMessage(LoadMessage(MessageId::kQualifierPutFailed, a.qualifier, a.property, HrText(hr)), error, log);
          return E_FAIL;
        }
      }
      if (!record.cpus.empty()) {
        std::shared_ptr<IWbemQualifierSet> qualifiers;
        HRESULT hr = nodeClass->GetPropertyQualifierSet(u"SystemType", &qualifiers);
        if (FAILED(hr) || !qualifiers) {
          ReportMessage(LoadMessage(MessageId::kQualifierSetGetFailed, u"SystemType", HrText(FAILED(hr) ? hr : E_FAIL)), error, log);
          return E_FAIL;
        }
        for (const auto& c : record.cpus) {
          if (!c.osTypes) {
            hr = qualifiers->Delete(c.cpuType.c_str());
            if (FAILED(hr) && hr != WBEM_E_NOT_FOUND) {
              ReportMessage(LoadMessage(MessageId::kQualifierDeleteFailed, c.cpuType, u"SystemType", HrText(hr)), error, log);
              return E_FAIL;
            }
            continue;
          }
          Variant list;
          if (FAILED(hr = PlatformModelOperations::BuildStringArray(*c.osTypes, list)) ||
              FAILED(hr = qualifiers->Put(c.cpuType.c_str(), &list, 0))) {
            ReportMessage(LoadMessage(MessageId::kQualifierPutFailed, c.cpuType, u"SystemType", HrText(hr)), error, log);
            return E_FAIL;
          }
        }
      }
      const HRESULT hr = services->PutClass(nodeClass.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
      if (FAILED(hr)) {
        ReportMessage(LoadMessage(MessageId::kManagedNodeCommitFailed, HrText(hr)), error, log);
        return E_FAIL;
      }
    }
    for (const auto& m : record.matches) {
      if (m.present) {
        if (FAILED(PlatformMatchOperations::WriteRecord(services, m.identity, error, log))) return E_FAIL;
      } else {
        const HRESULT hr = DeleteInstanceAt(services, PlatformMatchOperations::ObjectPath(m.identity), error, log, false);
        if (FAILED(hr) && hr != WBEM_E_NOT_FOUND) return E_FAIL;
      }
    }
    // Memberships first: a group goes after the membership that names it.
    for (const auto& m : record.members) {
      if (m.present) {
        if (FAILED(NodeGroupOperations::WriteMembership(services, NodeGroup{m.child, {}, m.parent}, error, log)))
          return E_FAIL;
      } else {
        const HRESULT hr =
            DeleteInstanceAt(services, NodeGroupOperations::MembershipPath(m.parent, m.child), error, log, false);
        if (FAILED(hr) && hr != WBEM_E_NOT_FOUND) return E_FAIL;
      }
    }
    for (const auto& g : record.groups) {
      if (g.caption) {
        if (FAILED(NodeGroupOperations::WriteGroup(services, NodeGroup{g.name, *g.caption, {}}, error, log)))
          return E_FAIL;
      } else {
        const HRESULT hr = DeleteInstanceAt(services, NodeGroupOperations::GroupPath(g.name), error, log, false);
        if (FAILED(hr) && hr != WBEM_E_NOT_FOUND) return E_FAIL;
      }
    }
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations
