#include "tessera/Prereq/PrereqRecord.h"
#include "tessera/RunLedger.h"

#include <set>

#include "platform/com/hresult.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "tessera/Messages.h"
#include "tessera/Prereq/PrereqSupport.h"
#include "tessera/RegistryString.h"
#include "tessera/RunJournal.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/Prereq/PrereqSection.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace vr::prereq {

namespace {

using vr::ledger::EscapeField;
using vr::ledger::UnescapeField;

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool FromHex(const std::string& hex, std::string& bytes) {
  if (hex.size() % 2) return false;
  auto value = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  bytes.clear();
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = value(hex[i]), lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(separator, start);
    fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

struct Item {
  bool folder = false;
  WString path;
  bool absent = true;
  std::string bytes;
};

bool ParseItem(const std::string& line, Item& item) {
  const auto f = Split(line, '\t');
  std::string path;
  if (f.size() < 3 || !UnescapeField(f[1], path) || path.empty()) return false;
  item.path = vr::text::Utf8ToWide(path);
  if (f[0] == "folder" && f.size() == 3 && f[2] == "absent") return item.folder = true, true;
  if (f[0] != "file") return false;
  if (f.size() == 3 && f[2] == "absent") return true;
  item.absent = false;
  return f.size() == 4 && f[2] == "bytes" && FromHex(f[3], item.bytes);
}

}  // namespace

bool RecordFileState(const WString& path, std::string& item, long& rc) {
  rc = ERROR_SUCCESS;
  const std::string prefix = "file\t" + EscapeField(vr::text::WideToUtf8(path)) + "\t";
  if (!vr::os::FileExists(path)) {
    item = prefix + "absent";
    return true;
  }
  std::string bytes;
  if ((rc = vr::os::ReadWholeFile(path, bytes)) != ERROR_SUCCESS) return false;
  item = prefix + "bytes\t" + Hex(bytes);
  return true;
}

std::string RecordAbsentFolder(const WString& path) {
  if (vr::os::DirectoryExists(path)) return std::string();
  return "folder\t" + EscapeField(vr::text::WideToUtf8(path)) + "\tabsent";
}

bool BuildPrereqSaveRecord(const WString& mainFile, std::string& block, WString& message) {
  VR_TRACE_FUNCTION("vr::prereq::BuildPrereqSaveRecord", "Prereq\\PrereqRecord", vr::trace::kRunFlags);
  std::vector<WString> files = {mainFile, mainFile + u".bak"};
  WString packages;
  std::vector<WString> copies;
  // Without the packages path the copy step fails before it writes a copy: nothing to record.
  if (ReadRegistryString(kDepotKey, kPackagesValue, packages) && vr::os::FindFilesByName(packages, kPrereqFileName, copies) == 0)
    files.insert(files.end(), copies.begin(), copies.end());
  block.clear();
  for (const WString& file : files) {
    std::string item;
    long rc = ERROR_SUCCESS;
    if (!RecordFileState(file, item, rc)) {
      VR_TRACE_FAILURE("ReadFile (\"", file, "\")", rc);
      message = LoadMessage(MessageId::kConfigFileSaveFailed, file);
      return false;
    }
    block += item + "\n";
  }
  return true;
}

bool WritePrereqRecord(const std::string& block, WString& message) {
  VR_TRACE_FUNCTION("vr::prereq::WritePrereqRecord", "Prereq\\PrereqRecord", vr::trace::kRunFlags);
  auto* journal = vr::journal::RunJournal::Current();
  if (!journal || block.empty()) return true;
  if (const long rc = journal->RecordSection(vr::undo::kSectionPrereq, block); rc != ERROR_SUCCESS) {
    VR_TRACE_FAILURE("RunJournal::RecordSection (\"", vr::text::Utf8ToWide(journal->Folder()), "\")", rc);
    message = LoadMessage(MessageId::kRunJournalWriteFailed, vr::text::Utf8ToWide(journal->Folder()), rc);
    return false;
  }
  return true;
}

bool RestorePrereqRecord(const std::string& record, WString& message) {
  VR_TRACE_FUNCTION("vr::prereq::RestorePrereqRecord", "Prereq\\PrereqRecord", vr::trace::kRunFlags);
  // The first item of each path, in record order.
  std::vector<Item> items;
  std::set<WString, bool (*)(const WString&, const WString&)> seen(
      [](const WString& a, const WString& b) { return vr::text::CompareNoCase(a, b) < 0; });
  for (const std::string& raw : Split(record, '\n')) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    Item item;
    if (!ParseItem(line, item)) {
      message = LoadMessage(MessageId::kRunJournalRecordUnreadable, vr::text::Utf8ToWide(line.substr(0, 200)));
      return false;
    }
    if (seen.insert(item.path).second) items.push_back(std::move(item));
  }
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    const Item& item = *it;
    long rc = ERROR_SUCCESS;
    if (item.folder) {
      if (vr::os::DirectoryExists(item.path)) rc = vr::os::RemoveTree(item.path);
    } else if (item.absent) {
      if (vr::os::FileExists(item.path)) rc = vr::os::DeleteFile(item.path);
    } else {
      std::string now;
      if (!vr::os::FileExists(item.path) || vr::os::ReadWholeFile(item.path, now) != ERROR_SUCCESS || now != item.bytes)
        rc = vr::os::SaveFileAtomic(item.path, item.bytes);
    }
    if (rc != ERROR_SUCCESS) {
      VR_TRACE_FAILURE("Restoring (\"", item.path, "\")", rc);
      message = LoadMessage(MessageId::kConfigFileSaveFailed, item.path);
      return false;
    }
    VR_TRACE_INFO("Restored to its state before the run: '", item.path, "'.");
  }
  return true;
}

}  // namespace vr::prereq

bool PrereqSection::RestoreRecord(const std::string& record, WString& message) {
  return vr::prereq::RestorePrereqRecord(record, message);
}
