#include "tessera/RunJournal.h"

#include <algorithm>
#include <ctime>

#include "platform/com/hresult.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"
#include "platform/os/process.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"
#include "platform/text/line_escape.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"

namespace vr::journal {

namespace {

constexpr const char* kManifestName = "run.manifest";
constexpr const char* kFoldersName = "folders.log";
constexpr const char* kEndLine = "end=1";
// The sections' record files, in RecordIndex order. They are made with the run's folder, so
// that their names are on disk before the manifest names the run.
constexpr const char* kRecordNames[3] = {"platforms.rec", "packages.rec", "prereq.rec"};  // the last line: a manifest that has it is whole

RunJournal* g_current = nullptr;

WString W(const std::string& s) { return vr::text::Utf8ToWide(s); }
std::string U(WStringView s) { return vr::text::WideToUtf8(s); }

// Values stay on one line: backslash and line ends are escaped; a tab stays as it is.
std::string Escape(const std::string& v) { return vr::text::EscapeLineText(v, vr::text::TabEscape::kKeep); }

// A journal is not edited by hand: an escape no Escape wrote is read leniently.
std::string Unescape(const std::string& v) {
  std::string out;
  vr::text::UnescapeLineText(v, out);
  return out;
}

// The text up to its last line end: what a kill cut short ends without one, and is not read.
std::string WholeLines(const std::string& text) {
  const size_t last = text.rfind('\n');
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

bool SectionLogRecordsChanges(WStringView content) {
  static const WStringView markers[] = {vr::undo::kPlatformsBegin, vr::undo::kPlatformsEnd, vr::undo::kPackagesBegin,
                                        vr::undo::kPackagesEnd, u"[[[PREREQUISITE_CHECK]]]",
                                        u"[[[PREREQUISITE_CHECK_END]]]"};
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find(u'\n', start);
    if (end == WStringView::npos) end = content.size();
    WStringView line = content.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.front() == u' ' || line.front() == u'\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == u'\r' || line.back() == u' ' || line.back() == u'\t')) line.remove_suffix(1);
    if (line.empty() || line.front() == u'#') continue;
    bool marker = false;
    for (const auto& m : markers) marker = marker || vr::text::EqualsNoCase(line, m);
    if (!marker) return true;
  }
  return false;
}

std::string FormatManifest(const Manifest& m) {
  std::string t;
  t += "mode=" + Escape(m.mode) + "\n";
  t += "patch=" + Escape(U(m.patch)) + "\n";
  t += "undo=" + Escape(U(m.undoFile)) + "\n";
  t += "createdOn=" + Escape(U(m.createdOn)) + "\n";
  t += std::string("undoExisted=") + (m.undoExisted ? "1" : "0") + "\n";
  t += "sections=" + std::to_string(m.sections) + "\n";
  t += "state=" + Escape(m.state) + "\n";
  t += std::string(kEndLine) + "\n";
  return t;
}

bool ParseManifest(const std::string& text, Manifest& m) {
  m = Manifest();
  bool whole = false, hasMode = false, hasState = false;
  for (const std::string& line : Lines(text)) {
    if (line == kEndLine) {
      whole = true;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = line.substr(0, eq), value = Unescape(line.substr(eq + 1));
    if (key == "mode") m.mode = value, hasMode = true;
    else if (key == "patch") m.patch = W(value);
    else if (key == "undo") m.undoFile = W(value);
    else if (key == "createdOn") m.createdOn = W(value);
    else if (key == "undoExisted") m.undoExisted = value == "1";
    else if (key == "sections") m.sections = std::atoi(value.c_str());
    else if (key == "state") m.state = value, hasState = true;
  }
  return whole && hasMode && hasState && (m.mode == "reg" || m.mode == "unreg");
}

std::string RunJournal::JournalFolder() { return vr::os::HostPath("journal"); }

long RunJournal::Begin(const Manifest& manifest, std::unique_ptr<RunJournal>& out) {
  VR_TRACE_FUNCTION("RunJournal::Begin", "RunJournal", vr::trace::kRunFlags);
  out.reset();
  const std::string journal = JournalFolder();
  if (long rc = vr::os::CreateDirectory(W(journal)); rc == ERROR_SUCCESS) {
    vr::os::FlushFolder(W(vr::os::HostRoot()));
  } else if (rc != ERROR_ALREADY_EXISTS) {
    VR_TRACE_FAILURE("CreateDirectoryW (\"", W(journal), "\")", rc);
    return rc;
  }
  std::unique_ptr<RunJournal> j(new RunJournal);
  j->manifest_ = manifest;
  j->manifest_.state = "active";
  // The time first: run folders sort by their start, oldest first.
  j->folder_ = journal + "/run-" + std::to_string(static_cast<long long>(std::time(nullptr))) + "-" +
               std::to_string(static_cast<long>(vr::os::GetCurrentProcessId()));
  if (long rc = vr::os::CreateDirectory(W(j->folder_)); rc != ERROR_SUCCESS) {
    VR_TRACE_FAILURE("CreateDirectoryW (\"", W(j->folder_), "\")", rc);
    return rc;
  }
  vr::os::FlushFolder(W(journal));
  // The files of the run exist before the manifest names the run: saving the manifest flushes
  // the run's folder, and with it their names.
  for (const char* name : {"platforms.log", "packages.log", "prereq.log", kFoldersName, kRecordNames[0],
                           kRecordNames[1], kRecordNames[2]}) {
    std::unique_ptr<vr::os::File> file;
    if (long rc = vr::os::File::Open(W(j->folder_ + "/" + name), "wb", vr::os::Share::DenyNone, file); rc != ERROR_SUCCESS) {
      VR_TRACE_FAILURE("CreateFileW (\"", W(j->folder_ + "/" + name), "\")", rc);
      vr::os::RemoveTree(W(j->folder_));
      return rc;
    }
    file->Close();
  }
  if (long rc = j->WriteManifest(); rc != ERROR_SUCCESS) {
    vr::os::RemoveTree(W(j->folder_));
    return rc;
  }
  g_current = j.get();
  out = std::move(j);
  return ERROR_SUCCESS;
}

RunJournal::~RunJournal() {
  if (g_current == this) g_current = nullptr;
  if (!finished_ && !updating_) Remove(folder_);
}

long RunJournal::WriteManifest() {
  VR_TRACE_FUNCTION("RunJournal::WriteManifest", "RunJournal", vr::trace::kRunFlags);
  const long rc = vr::os::SaveFileAtomic(W(folder_ + "/" + kManifestName), FormatManifest(manifest_));
  if (rc != ERROR_SUCCESS) VR_TRACE_FAILURE("SaveFileAtomic (\"", W(folder_), "\")", rc);
  return rc;
}

WString RunJournal::SectionLogPath(int section) const {
  const char* name = section == vr::undo::kSectionPlatforms  ? "platforms.log"
                     : section == vr::undo::kSectionPackages ? "packages.log"
                                                             : "prereq.log";
  return W(folder_ + "/" + name);
}

void RunJournal::Finish() {
  if (finished_) return;
  finished_ = true;
  if (g_current == this) g_current = nullptr;
  Remove(folder_);
}

void RunJournal::Keep() {
  finished_ = true;
  if (g_current == this) g_current = nullptr;
  manifest_.state = "kept";
  WriteManifest();
}

bool RunJournal::NoteFolderToCreate(const WString& folder) {
  std::unique_ptr<vr::os::File> file;
  if (vr::os::File::Open(W(folder_ + "/" + kFoldersName), "ab", vr::os::Share::DenyNone, file) != ERROR_SUCCESS)
    return false;
  const std::string line = Escape(U(folder)) + "\n";
  size_t written = 0;
  const bool ok = file->Write(line.data(), line.size(), written) == ERROR_SUCCESS && written == line.size() &&
                  file->Sync() == ERROR_SUCCESS;
  return file->Close() == ERROR_SUCCESS && ok;
}

int RunJournal::RecordIndex(int section) {
  return section == vr::undo::kSectionPlatforms ? 0 : section == vr::undo::kSectionPackages ? 1 : 2;
}

long RunJournal::RecordSection(int section, std::string_view utf8Block) {
  VR_TRACE_FUNCTION("RunJournal::RecordSection", "RunJournal", vr::trace::kRunFlags);
  const WString path = W(folder_ + "/" + kRecordNames[RecordIndex(section)]);
  std::unique_ptr<vr::os::File> file;
  if (long rc = vr::os::File::Open(path, "ab", vr::os::Share::DenyNone, file); rc != ERROR_SUCCESS) {
    VR_TRACE_FAILURE("CreateFileW (\"", path, "\")", rc);
    return rc;
  }
  std::string block(utf8Block);
  if (!block.empty() && block.back() != '\n') block += '\n';
  size_t written = 0;
  long rc = file->Write(block.data(), block.size(), written);
  if (rc == ERROR_SUCCESS && written != block.size()) rc = ERROR_WRITE_FAULT;
  if (rc == ERROR_SUCCESS) rc = file->Sync();
  const long closed = file->Close();
  if (rc == ERROR_SUCCESS) rc = closed;
  if (rc != ERROR_SUCCESS) VR_TRACE_FAILURE("WriteFile (\"", path, "\")", rc);
  return rc;
}

void RunJournal::ForgetUndoFile() {
  manifest_.undoFile.clear();
  manifest_.undoExisted = false;
  WriteManifest();
}

std::string RunJournal::ReadRecord(int section) const {
  std::string text;
  if (vr::os::ReadWholeFile(W(folder_ + "/" + kRecordNames[RecordIndex(section)]), text) != ERROR_SUCCESS) return std::string();
  return WholeLines(text);
}

RunJournal* RunJournal::Current() { return g_current; }

std::vector<RunJournal::Interrupted> RunJournal::FindInterrupted() {
  std::vector<Interrupted> found;
  const std::string journal = JournalFolder();
  std::vector<vr::os::DirEntry> entries;
  if (vr::os::ListDirectory(W(journal), entries) != ERROR_SUCCESS) return found;
  for (const auto& e : entries) {
    if (!e.isDirectory) continue;
    Interrupted run;
    run.folder = journal + "/" + U(e.name);
    std::string text;
    if (vr::os::ReadWholeFile(W(run.folder + "/" + kManifestName), text) == ERROR_SUCCESS)
      run.hasManifest = ParseManifest(text, run.manifest);
    if (vr::os::ReadWholeFile(W(run.folder + "/" + kFoldersName), text) == ERROR_SUCCESS)
      for (const auto& line : Lines(WholeLines(text)))
        if (!line.empty()) run.folders.push_back(W(Unescape(line)));
    for (int i = 0; i < 3; ++i)
      if (vr::os::ReadWholeFile(W(run.folder + "/" + kRecordNames[i]), text) == ERROR_SUCCESS)
        run.records[i] = WholeLines(text);
    found.push_back(std::move(run));
  }
  std::sort(found.begin(), found.end(), [](const Interrupted& a, const Interrupted& b) { return a.folder < b.folder; });
  return found;
}

RunJournal::UndoState RunJournal::UndoFileState(const Interrupted& run, int sectionsWithChanges) {
  if (run.manifest.undoFile.empty()) return UndoState::NotWritten;
  VrLogFile undo(run.manifest.undoFile.c_str(), true);
  if (FAILED(undo.LoadFile())) return UndoState::NotWritten;
  vr::undo::UndoHeader header;
  int sections = 0;
  WString message;
  const int status = vr::undo::ValidateUndoFile(undo, header, sections, message);
  if (header.patch != run.manifest.patch || header.createdOn != run.manifest.createdOn) return UndoState::NotWritten;
  if (status != 0) return UndoState::Partial;
  if (sections == 0) return UndoState::HeaderOnly;
  return (sections & sectionsWithChanges) == sectionsWithChanges ? UndoState::Complete : UndoState::Partial;
}

long RunJournal::Remove(const std::string& folder) {
  if (folder.empty()) return ERROR_SUCCESS;
  const WString manifest = W(folder + "/" + kManifestName);
  if (vr::os::FileExists(manifest)) vr::os::DeleteFile(manifest);
  const long rc = vr::os::RemoveTree(W(folder));
  // The journal folder itself goes with its last run, so that a host at rest holds none.
  vr::os::RemoveDirectory(W(JournalFolder()));
  return rc;
}

}  // namespace vr::journal
