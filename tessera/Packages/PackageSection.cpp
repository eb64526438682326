// The package section's lifetime: the Depot database connection of its Init and Cleanup, the
// recovery of a killed run from the section's record, and the run-log line all its steps use.
#include "tessera/Packages/PackageSection.h"

#include <memory>
#include <vector>

#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageRestore.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::pkg;

namespace {

// The trace keeps the names of the section protocol's handlers: they are what a reader of a
// trace knows the section's work by.
constexpr const char* kFile = "Packages\\PackageSection";
constexpr unsigned kFlags = vr::trace::kRunFlags;

}  // namespace

PackageSection::PackageSection(CVrPlatformRegistration& run) : run_(run) {}

PackageSection::~PackageSection() = default;

void PackageSection::LogLine(WStringView text) const {
  VrLogFile* log = run_.GetRunLog();
  if (!log) return;
  WString line(text);
  while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) line.pop_back();
  log->AppendLine(line, true);
}

int PackageSection::Init(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegInit", kFile, kFlags);
  try {
    VR_TRACE_INFO("Try to connect to DEPOT database");
    if (!db_.ConnectToDB()) {
      message = LoadMessage(MessageId::kDepotDatabaseConnectFailed);
      LogLine(message);
      return vr::front::kExitFailure;
    }
    VR_TRACE_INFO("Successfully connected to DEPOT database");
    return 0;
  } catch (const CApp_error& e) {
    // The password or a DBAccess value could not be read: the connection is not possible.
    VR_TRACE_ERROR(e.Message());
    message = e.Message() + LoadMessage(MessageId::kDepotDatabaseConnectFailed);
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    message = LoadMessage(MessageId::kDepotDatabaseConnectFailed);
  }
  LogLine(message);
  return vr::front::kExitFailure;
}

bool PackageSection::Cleanup(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegCleanup", kFile, kFlags);
  VR_TRACE_INFO("Disconnect from DEPOT database");
  try {
    db_.CloseDBConnection();
  } catch (...) {
    // The connection is released either way; a failed close changes nothing stored.
    VR_TRACE_ERROR("Unspecified error occured");
    (void)message;
  }
  return true;
}

bool PackageSection::RestoreRecord(const std::string& text, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRestoreRecord", kFile, kFlags);
  std::vector<PackageRecord> records;
  std::string why;
  if (!ParseRecords(text, records, why)) {
    VR_TRACE_ERROR("The package record cannot be read: ", why);
    message += LoadMessage(MessageId::kPackageRecordUnreadable, vr::text::Utf8ToWide(why));
    return false;
  }
  bool needsDepot = false;
  for (const auto& r : records) needsDepot = needsDepot || RecordNeedsDepot(r);
  // A connection of its own: recovery runs before any Init, and needs none when the records
  // touch only the registry.
  std::unique_ptr<CDepotData> db;
  if (needsDepot) {
    db = std::make_unique<CDepotData>();
    bool connected = false;
    try {
      connected = db->ConnectToDB();
    } catch (const CApp_error& e) {
      message += e.Message();
    }
    if (!connected) {
      message += LoadMessage(MessageId::kDepotDatabaseConnectFailed);
      return false;
    }
  }
  for (auto r = records.rbegin(); r != records.rend(); ++r)
    if (!RestorePackageRecord(db.get(), *r, message)) return false;
  return true;
}
