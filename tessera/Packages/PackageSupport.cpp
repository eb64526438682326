// The helpers of the package section: undo lines, the Depot component connection and its
// error text, and the question whether a package is deployed on a Windows node.
#include <algorithm>
#include <memory>

#include "platform/com/errorinfo.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/RunJournal.h"
#include "tessera/UndoFile.h"
#include "tessera/Packages/PackageSupport.h"
#include "tessera/Packages/PackageUndoLines.h"
#include "tessera/TesseraTrace.h"
#include "tessera/XmlParser/XmlRecords.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace {

constexpr const char* kFile = "Packages\\PackageSupport";
constexpr unsigned kFlags = vr::trace::kRunFlags;

}  // namespace

namespace vr::pkg {

WString WqlStringText(const WString& text) {
  WString out;
  out.reserve(text.size());
  for (WChar c : text) {
    if (c == u'\\' || c == u'"' || c == u'\'') out += u'\\';
    out += c;
  }
  return out;
}

}  // namespace vr::pkg

WString GetDepotErrorMessage() {
  std::shared_ptr<ErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return WString();
  return info->description;
}

namespace vr::pkg {

bool RecordPackageSection(const std::string& record, WString& message) {
  VR_TRACE_FUNCTION("RecordPackageSection", kFile, kFlags);
  vr::journal::RunJournal* journal = vr::journal::RunJournal::Current();
  if (!journal) return true;  // a run without a journal (a test's) has nothing to recover
  const long rc = journal->RecordSection(vr::undo::kSectionPackages, record);
  if (rc == 0) return true;
  message = LoadMessage(MessageId::kRunJournalWriteFailed, vr::text::Utf8ToWide(journal->Folder()), rc);
  return false;
}

size_t CharacterCount(const WString& text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i, ++n)
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      ++i;
  return n;
}

bool CheckPackageTexts(const std::vector<CPackage>& packages, WString& message) {
  VR_TRACE_FUNCTION("CheckPackageTexts", kFile, kFlags);
  for (size_t i = 0; i < packages.size(); ++i) {
    const CPackage& p = packages[i];
    const struct {
      const char16_t* field;
      const WString& text;
      size_t limit;
    } fields[] = {{u"name", p.name, kMaxNameLength},
                  {u"version", p.version, kMaxVersionLength},
                  {u"logical id", p.logicalId, kMaxLogicalIdLength},
                  {u"description", p.description, kMaxDescriptionLength}};
    for (const auto& f : fields) {
      const size_t length = CharacterCount(f.text);
      if (length <= f.limit) continue;
      VR_TRACE_ERROR("Package ", static_cast<unsigned long>(i + 1), ": ", f.field, " too long");
      message = LoadMessage(MessageId::kPackageFieldTooLong, vr::text::Format(u"%lu", static_cast<unsigned long>(i + 1)), f.field,
                            vr::text::Format(u"%lu", static_cast<unsigned long>(length)),
                            vr::text::Format(u"%lu", static_cast<unsigned long>(f.limit)));
      return false;
    }
  }
  return true;
}

bool LogPackageInfo(const CPackage& package, int kind, const WString& id, VrLogFile& sectionLog) {
  VR_TRACE_FUNCTION("LogPackageInfo", kFile, kFlags);
  try {
    WString line;
    if (kind == eUNIX_PACKAGE) {
      // One line per OS type, with the system types of that OS type: a line names one OS type
      // only, and the unregistration removes the modules of every system type on it.
      std::vector<long> osTypes;
      for (const auto& p : package.platforms)
        if (std::find(osTypes.begin(), osTypes.end(), p.osType) == osTypes.end()) osTypes.push_back(p.osType);
      for (long osType : osTypes) {
        std::vector<long> systemTypes;
        for (const auto& p : package.platforms)
          if (p.osType == osType && std::find(systemTypes.begin(), systemTypes.end(), p.systemType) == systemTypes.end())
            systemTypes.push_back(p.systemType);
        WString one = PackageUnixLine(id, package.name, package.version, package.logicalId, package.deployerId,
                                      package.description, systemTypes.front(), osType);
        for (size_t i = 1; i < systemTypes.size(); ++i) one += vr::text::Format(u" %ld", systemTypes[i]);
        sectionLog.AppendLine(one, true);
        VR_TRACE_INFO("Undo line: ", one);
      }
      return true;
    }
    line = PackageLine(package.type, id, package.name, package.version, package.logicalId, package.deployerId,
                       package.description);
    sectionLog.AppendLine(line, true);
    VR_TRACE_INFO("Undo line: ", line);
    return true;
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    return false;
  }
}

bool LogPlatPolicyInfo(const WString& id, const WString& logicalId, long systemType, long osType,
                       const WString& policyType, VrLogFile& sectionLog) {
  VR_TRACE_FUNCTION("LogPlatPolicyInfo", kFile, kFlags);
  try {
    const WString line = PlatPolicyLine(id, logicalId, systemType, osType, policyType);
    sectionLog.AppendLine(line, true);
    VR_TRACE_INFO("Undo line: ", line);
    return true;
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    return false;
  }
}

bool ConnectToDEPOT(std::unique_ptr<DepotConnection>& connection, VrLogFile* runLog, WString& message) {
  VR_TRACE_FUNCTION("ConnectToDEPOT", kFile, kFlags);
  VR_TRACE_INFO("Try to connect to DEPOT database - interface");
  auto failed = [&]() {
    connection.reset();
    message = LoadMessage(MessageId::kDepotConnectFailed);
    if (runLog) {
      WString line = message;
      while (!line.empty() && line.back() == u'\n') line.pop_back();
      runLog->AppendLine(line, true);
    }
    return false;
  };
  HRESULT hr = CreateDepotConnection(connection);
  if (FAILED(hr) || !connection) {
    VR_TRACE_ERROR(GetDepotErrorMessage());
    return failed();
  }
  hr = connection->Connect();
  if (FAILED(hr)) {
    VR_TRACE_ERROR("Cannot connect to DEPOT database");
    VR_TRACE_ERROR(GetDepotErrorMessage());
    return failed();
  }
  bool connected = false;
  hr = connection->IsConnected(connected);
  if (FAILED(hr) || !connected) {
    VR_TRACE_ERROR("Missing connection to database");
    return failed();
  }
  VR_TRACE_INFO("Connected to DEPOT");
  return true;
}

bool IsPkgDeployedOnWinNode(CDepotData& db, const std::function<bool(int)>& isWindowsOs, const WString& id,
                            bool& deployedOnWindows, WString& message) {
  VR_TRACE_FUNCTION("IsPkgDeployedOnWinNode", kFile, kFlags);
  std::vector<WString> nodes;
  if (!db.GetDeployedNodeNames(id, nodes)) {
    VR_TRACE_ERROR("Cannot get DeplPackId from VR_PM_DeplPack");
    message += LoadMessage(MessageId::kDepotReadFailed);
    return false;
  }
  VR_TRACE_INFO("Number of deployed nodes: ", static_cast<unsigned long>(nodes.size()));
  if (nodes.empty()) return true;

  PlatformOperations::ComScope apartment;
  HRESULT hr = S_OK;
  std::shared_ptr<IWbemServices> services;
  if (FAILED(PlatformOperations::ConnectToWmi(&services)) || !services) {
    VR_TRACE_ERROR("Cannot connect to WMI");
    message += LoadMessage(MessageId::kWmiConnectFailed);
    return false;
  }
  VR_TRACE_INFO("Connected to WMI");
  for (const WString& node : nodes) {
    const WString query = u"SELECT * FROM VR_ManagedNode WHERE Name = \"" + WqlStringText(node) + u"\"";
    std::shared_ptr<IEnumWbemClassObject> instances;
    hr = services->ExecQuery(u"WQL", query.c_str(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                             &instances);
    if (FAILED(hr) || !instances) {
      // A node that cannot be looked up might be a Windows node: the question has no answer.
      VR_TRACE_ERROR("Next class object error!");
      message += LoadMessage(MessageId::kWmiConnectFailed);
      return false;
    }
    for (;;) {
      std::shared_ptr<IWbemClassObject> object;
      ULONG returned = 0;
      hr = instances->Next(WBEM_INFINITE, 1, &object, &returned);
      if (FAILED(hr)) {
        VR_TRACE_ERROR("Next class object error!");
        message += LoadMessage(MessageId::kWmiConnectFailed);
        return false;
      }
      if (returned == 0 || !object) break;
      Variant value;
      hr = object->Get(u"OSType", 0, &value, nullptr, nullptr);
      Variant number;
      if (SUCCEEDED(hr)) hr = VariantChangeType(&number, &value, 0, VT_I4);
      if (FAILED(hr)) {
        VR_TRACE_ERROR("Get instance attribute value error!");
        message += LoadMessage(MessageId::kWmiConnectFailed);
        return false;
      }
      VR_TRACE_INFO("Check if Windows OS type: ", static_cast<long>(number.lVal));
      if (isWindowsOs(number.lVal)) {
        VR_TRACE_INFO("Deployed Windows node found");
        deployedOnWindows = true;
      } else {
        VR_TRACE_INFO("Deployed Non-Windows node found");
      }
    }
  }
  return true;
}

}  // namespace vr::pkg
