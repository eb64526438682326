// The run journal and the recovery of killed runs, with sections that record what they are
// asked to do, on demo hosts made by vrhost. A killed run is what its journal says: the tests
// write the journal a killed run would have left.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <algorithm>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/os/file.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/VrTempLogFile.h"
#include "tessera/RunJournal.h"
#include "tessera/RunLedger.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"
#include "tests/support/HostFixture.h"

namespace fs = std::filesystem;
using vr::journal::Manifest;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

namespace {

std::string ReadLog(const VrLogFile& log) { return WideToUtf8(log.GetContent()); }

// Sections that log their calls; the rollback records the body lines it was given.
class RecordingSections : public IRegistrationSections {
 public:
  RecordingSections(CVrPlatformRegistration& reg, std::vector<std::string>& calls) : reg_(reg), calls_(calls) {}
  bool rollbackOk = true;
  bool restoreOk = true;
  std::string failOnly;  // with rollbackOk false: only this section's rollback fails
  bool updateOk = true;
  std::vector<std::string> prereqLines;  // what the prerequisite Update writes
  std::string prereqRecord;               // what the prerequisite Update and Rollback record first

  int PlatformRegInit(WString&) override { return Note("init platforms"), 0; }
  int PlatformRegUpdate(CXmlReader&, const WString&, bool, VrLogFile&, WString&) override { return 0; }
  bool PlatformRegRollback(VrLogFile& log, WString& m) override { return Rollback("platforms", log, m); }
  bool PlatformRegCleanup(WString&) override { return Note("cleanup platforms"), true; }
  bool InitListOfWinOSTypes(WString&) override { return true; }
  int PackageRegInit(WString&) override { return Note("init packages"), 0; }
  int PackageRegUpdate(CXmlReader&, const WString&, bool, VrLogFile&, WString&) override { return 0; }
  bool PackageRegRollback(VrLogFile& log, WString& m) override { return Rollback("packages", log, m); }
  bool PackageRegCleanup(WString&) override { return Note("cleanup packages"), true; }
  int ReqCheckCfgRegInit(WString&, const WString& version) override {
    return Note("init prereq " + WideToUtf8(version)), 0;
  }
  int ReqCheckCfgRegUpdate(CXmlReader&, const WString&, bool, VrLogFile& log, WString& m) override {
    Note("update prereq");
    if (!prereqRecord.empty()) {
      EXPECT_EQ(vr::journal::RunJournal::Current()->RecordSection(vr::undo::kSectionPrereq, prereqRecord), 0);
      if (auto* r = reg_.LedgerRegistration()) r->entries.push_back({vr::undo::kSectionPrereq, "tag", u"S", u"", u"x"});
    }
    // What a section sees of the journal while it works: its log is durable and on disk.
    for (const auto& l : prereqLines) log.AppendLine(Utf8ToWide(l), true);
    Note(log.IsDurable() && fs::file_size(WideToUtf8(log.GetPath())) > 0 ? "log on disk" : "log not on disk");
    if (!updateOk) {
      m = u"update failed\n";
      return 100;
    }
    return 0;
  }
  bool ReqCheckCfgRegRollback(VrLogFile& log, WString& m) override { return Rollback("prereq", log, m); }
  bool ReqCheckCfgRegCleanup(WString&) override { return Note("cleanup prereq"), true; }
  bool PlatformRestoreRecord(const std::string& r, WString& m) override { return Restore("platforms", r, m); }
  bool PackageRestoreRecord(const std::string& r, WString& m) override { return Restore("packages", r, m); }
  bool PrereqRestoreRecord(const std::string& r, WString& m) override { return Restore("prereq", r, m); }

 private:
  void Note(const std::string& s) { calls_.push_back(s); }
  bool Restore(const std::string& name, const std::string& record, WString& m) {
    std::string lines = record;
    std::replace(lines.begin(), lines.end(), '\n', '|');
    Note("restore " + name + " [" + lines + "]");
    if (!restoreOk) m = u"restore failed\n";
    return restoreOk;
  }
  bool Rollback(const std::string& name, VrLogFile& log, WString& m) {
    if (!reg_.IsRollback() && !prereqRecord.empty() && name == "prereq") {
      EXPECT_EQ(vr::journal::RunJournal::Current()->RecordSection(vr::undo::kSectionPrereq, prereqRecord), 0);
      // What a section takes back is marked in the ledger as it goes.
      if (auto* r = reg_.LedgerRegistration())
        for (auto& e : r->entries) e.reversed = true;
    }
    std::string seen;
    VrTextLine line;
    while (log.ReadLine(line, nullptr, true, true)) {
      if (!line.GetText().empty()) seen += (seen.empty() ? "" : "|") + WideToUtf8(line.GetText());
      if (line.IsAtEnd()) break;
    }
    Note("rollback " + name + (reg_.IsRollback() ? " of " : " unreg ") + WideToUtf8(reg_.GetPatch()) + " [" + seen + "]");
    const bool ok = rollbackOk || (!failOnly.empty() && name != failOnly);
    if (!ok) m = u"rollback failed\n";
    return ok;
  }
  CVrPlatformRegistration& reg_;
  std::vector<std::string>& calls_;
};

const char* kPrereqConfig = R"(<?xml version="1.0"?>
<!DOCTYPE VrNPConfig SYSTEM "VrNPConfig.dtd">
<VrNPConfig version="A.07.50">
  <VrReqCheckList><Systems_Section version="7.60"><system name="S">[SYSTEM] S</system></Systems_Section></VrReqCheckList>
</VrNPConfig>
)";

class RunRecovery : public vr::testing::HostFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    HostFixture::SetUp();
    if (HasFatalFailure()) return;
    CaptureConsole(vr::console::SetConsoleWriter, out_, err_);
    config_ = base_ / "prereq.xml";
    std::ofstream(config_) << kPrereqConfig;
  }
  void TearDown() override {
    CoUninitialize();
    HostFixture::TearDown();
  }

  // A journal as a run killed during its updates leaves it: manifest and section logs.
  std::string KilledRun(const Manifest& m, const std::string& platforms, const std::string& packages,
                        const std::string& prereq, const std::string& name = "run-1-1") {
    const std::string folder = (root_ / "journal" / name).string();
    fs::create_directories(folder);
    std::ofstream(folder + "/run.manifest", std::ios::binary) << vr::journal::FormatManifest(m);
    auto log = [&](const char* file, const std::string& text) {
      VrLogFile l(Utf8ToWide(folder + "/" + file).c_str(), false);
      l.SetMakeBackup(false);
      if (!text.empty()) l.AppendLine(Utf8ToWide(text), true);
      EXPECT_EQ(l.SaveFile(), S_OK);
    };
    log("platforms.log", platforms);
    log("packages.log", packages);
    log("prereq.log", prereq);
    return folder;
  }
  // The record files of a killed run; a record cut short ends without its line end.
  void Records(const std::string& folder, const std::string& platforms, const std::string& packages,
               const std::string& prereq) {
    std::ofstream(folder + "/platforms.rec", std::ios::binary) << platforms;
    std::ofstream(folder + "/packages.rec", std::ios::binary) << packages;
    std::ofstream(folder + "/prereq.rec", std::ios::binary) << prereq;
  }
  vr::ledger::Ledger LoadLedger() {
    vr::ledger::Ledger ledger;
    EXPECT_EQ(vr::ledger::Ledger::Load(ledger), 0);
    return ledger;
  }
  // An undo file of patch OWN_01 with a prerequisite section, as a registration writes it.
  std::string UndoOf(const std::string& name, const WString& createdOn) {
    const std::string undo = (base_ / name).string();
    VrLogFile file(Utf8ToWide(undo).c_str(), true);
    vr::undo::AppendHeader(file, {u"OWN_01", createdOn, u"/x.xml", u"A.07.50"});
    file.AppendLine(u"[[[PREREQUISITE_CHECK]]]", true);
    file.AppendLine(u"[[SYSTEM_ADD]] S", true);
    file.AppendLine(u"[[[PREREQUISITE_CHECK_END]]]", true);
    EXPECT_EQ(file.SaveFile(), S_OK);
    return undo;
  }

  // One registration object, one run; the exit code, thrown or returned.
  int Run(bool unregister, const std::string& undo, const std::function<void(RecordingSections&)>& setup = {}) {
    WString message;
    int status = -1, code = -1;
    CVrPlatformRegistration reg(0, nullptr, message, status);
    EXPECT_EQ(status, 0) << WideToUtf8(message);
    auto sections = std::make_unique<RecordingSections>(reg, calls_);
    if (setup) setup(*sections);
    reg.SetSections(std::move(sections));
    try {
      code = unregister ? reg.UnregisterPlatform(Utf8ToWide(undo), false)
                        : reg.RegisterPlatform(Utf8ToWide(config_.string()), u"OWN_01", false, Utf8ToWide(undo), 8);
    } catch (const CApp_error& e) {
      code = e.ExitCode();
      error_ = WideToUtf8(e.Message());
    }
    return code;
  }

  std::string Calls() const {
    std::string s;
    for (const auto& c : calls_) s += (s.empty() ? "" : "; ") + c;
    return s;
  }
  std::string RunLog() const {
    VrLogFile log(Utf8ToWide((root_ / "server/share/install/log/tessera.log").string()).c_str(), true);
    log.LoadFile();
    return ReadLog(log);
  }

  fs::path config_;
  std::string out_, err_, error_;
  std::vector<std::string> calls_;
};

// A registration killed in its updates: the next run rolls back what the journal's logs
// record, in the run's rollback order and under the killed run's patch, with the Init and
// Cleanup of those sections only, says so once, and then does its own work.
TEST_F(RunRecovery, NextRunRollsBackTheKilledRunThenDoesItsOwnWork) {
  const Manifest m{"reg", u"KILLED_01", u"", u"01/01/2026 00:00:00 +00:00", false, 14, "active"};
  const std::string folder =
      KilledRun(m, "[[[PLATFORMS]]]\nOS-TYPE ADD 30 \"Plan 9\"", "[[[PACKAGES]]]", "[[[PREREQUISITE_CHECK]]]\n[[SYSTEM_ADD]] S");
  // A save the killed run did not finish, and one of a run going on now (too young to touch).
  const std::string stale = (root_ / "server/data/.tessera.log.AbCdEf.tmp").string();
  std::ofstream(stale) << "x";
  fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(1));

  EXPECT_EQ(Run(false, (base_ / "own.undo").string(), [](RecordingSections& s) { s.prereqLines = {"[[[PREREQUISITE_CHECK]]]"}; }), 0)
      << error_;
  EXPECT_EQ(Calls(),
            "init platforms; init prereq ; "
            "rollback platforms of KILLED_01 [[[[PLATFORMS]]]|OS-TYPE ADD 30 \"Plan 9\"]; "
            "rollback prereq of KILLED_01 [[[[PREREQUISITE_CHECK]]]|[[SYSTEM_ADD]] S]; "
            "cleanup platforms; cleanup prereq; "
            "init prereq 7.60; update prereq; log on disk; cleanup prereq");
  EXPECT_EQ(err_.rfind("WARNING:  (TESSERA262) An earlier run of tessera for patch 'KILLED_01' was\n", 0), 0u) << err_;
  EXPECT_EQ(err_.find("WARNING:", 1), std::string::npos) << "one message";
  EXPECT_NE(RunLog().find("# (TESSERA262) An earlier run of tessera for patch 'KILLED_01'"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(fs::exists(root_ / "journal")) << "the run's own journal goes when it ends";
  EXPECT_FALSE(fs::exists(stale));

  // The next run finds nothing more.
  calls_.clear();
  err_.clear();
  EXPECT_EQ(Run(false, (base_ / "own.undo").string()), 0);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(Calls().find("rollback"), std::string::npos);
}

// Killed after its undo file was complete: nothing is rolled back, the changes stay. Killed
// before: the undo file it began goes back to the previous one, and a folder it noted before
// creating it goes when empty.
TEST_F(RunRecovery, CompleteUndoFileKeepsTheChangesAndAHeaderOnlyOneIsRestored) {
  const std::string undo = (base_ / "killed.undo").string();
  const WString createdOn = u"01/02/2026 03:04:05 +00:00";
  {
    VrLogFile file(Utf8ToWide(undo).c_str(), true);
    vr::undo::AppendHeader(file, {u"KILLED_01", createdOn, u"/x.xml", u"A.07.50"});
    file.AppendLine(u"[[[PREREQUISITE_CHECK]]]", true);
    file.AppendLine(u"[[SYSTEM_ADD]] S", true);
    file.AppendLine(u"[[[PREREQUISITE_CHECK_END]]]", true);
    ASSERT_EQ(file.SaveFile(), S_OK);
  }
  KilledRun({"reg", u"KILLED_01", Utf8ToWide(undo), createdOn, false, 8, "active"}, "", "",
            "[[[PREREQUISITE_CHECK]]]\n[[SYSTEM_ADD]] S\n[[[PREREQUISITE_CHECK_END]]]");
  EXPECT_EQ(Run(true, (base_ / "missing.undo").string()), 52);
  EXPECT_NE(err_.find("(TESSERA264)"), std::string::npos) << err_;
  EXPECT_EQ(Calls().find("rollback"), std::string::npos) << Calls();
  EXPECT_TRUE(fs::exists(undo));

  // Killed while its journal was being removed after the final save: the logs may be gone
  // already, the complete undo file still stays.
  err_.clear();
  KilledRun({"reg", u"KILLED_01", Utf8ToWide(undo), createdOn, false, 8, "active"}, "", "", "");
  EXPECT_EQ(Run(true, (base_ / "missing.undo").string()), 52);
  EXPECT_NE(err_.find("(TESSERA264)"), std::string::npos) << err_;
  EXPECT_TRUE(fs::exists(undo));

  // Header only, over an older undo file kept as ".bak".
  calls_.clear();
  err_.clear();
  const std::string older = "older undo file";
  std::ofstream(undo + ".bak", std::ios::binary) << older;
  {
    VrLogFile file(Utf8ToWide(undo).c_str(), true);
    file.SetMakeBackup(false);
    vr::undo::AppendHeader(file, {u"KILLED_02", createdOn, u"/x.xml", u"A.07.50"});
    ASSERT_EQ(file.SaveFile(), S_OK);
  }
  const std::string folder = (root_ / "server/share/install/conf/PrereqCheck/9.9").string();
  fs::create_directories(folder);
  const std::string run = KilledRun({"reg", u"KILLED_02", Utf8ToWide(undo), createdOn, true, 8, "active"}, "", "",
                                    "[[[PREREQUISITE_CHECK]]]\n[[SYSTEM_ADD]] S");
  std::ofstream(run + "/folders.log") << (root_ / "server/share/install/conf/PrereqCheck/9.9").string() << "\n";
  EXPECT_EQ(Run(false, (base_ / "own.undo").string()), 0) << error_;
  EXPECT_NE(err_.find("(TESSERA262)"), std::string::npos) << err_;
  EXPECT_NE(Calls().find("rollback prereq of KILLED_02 [[[[PREREQUISITE_CHECK]]]|[[SYSTEM_ADD]] S]"), std::string::npos);
  std::ifstream in(undo, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), older);
  EXPECT_FALSE(fs::exists(undo + ".bak"));
  EXPECT_FALSE(fs::exists(folder));
}

// A rollback that fails keeps the journal and stops every run before it changes anything; an
// interrupted unregistration is reported, a journal without manifest removed, a kept one left.
TEST_F(RunRecovery, FailedRecoveryStopsTheRunAndOtherJournalsAreReportedOrLeft) {
  const std::string killed = KilledRun({"reg", u"KILLED_01", u"", u"t", false, 8, "active"}, "", "",
                                       "[[[PREREQUISITE_CHECK]]]\n[[SYSTEM_ADD]] S", "run-3-1");
  EXPECT_EQ(Run(false, (base_ / "own.undo").string(), [](RecordingSections& s) { s.rollbackOk = false; }), 100);
  EXPECT_NE(error_.find("(TESSERA263) An earlier run of tessera for patch 'KILLED_01' was interrupted"), std::string::npos);
  EXPECT_NE(error_.find("rollback failed"), std::string::npos);
  EXPECT_EQ(Calls().find("update"), std::string::npos) << Calls();
  EXPECT_TRUE(fs::exists(killed + "/prereq.log"));
  EXPECT_FALSE(fs::exists(base_ / "own.undo"));
  fs::remove_all(killed);

  calls_.clear();
  err_.clear();
  const std::string unreg = KilledRun({"unreg", u"P", u"/some/where.undo", u"t", true, 8, "active"}, "", "", "", "run-1-1");
  const std::string noManifest = (root_ / "journal/run-2-1").string();
  fs::create_directories(noManifest);
  std::ofstream(noManifest + "/.run.manifest.AbCdEf.tmp") << "mode=reg\n";
  const std::string kept = KilledRun({"reg", u"K", u"", u"t", false, 8, "kept"}, "", "", "[[[PREREQUISITE_CHECK]]]\n[[SYSTEM_ADD]] S", "run-4-1");
  EXPECT_EQ(Run(false, (base_ / "own.undo").string()), 0) << error_;
  EXPECT_NE(err_.find("(TESSERA265) An earlier unregistration with undo file\n          '/some/where.undo' was interrupted"),
            std::string::npos)
      << err_;
  EXPECT_EQ(err_.find("(TESSERA262)"), std::string::npos);
  EXPECT_FALSE(fs::exists(unreg));
  EXPECT_FALSE(fs::exists(noManifest));
  EXPECT_TRUE(fs::exists(kept + "/prereq.log"));
  EXPECT_EQ(Calls().find("rollback"), std::string::npos);
}

// The journal's own pieces: the manifest round trip and its refusal of damaged text, what
// counts as a recorded change, and a journal that cannot be written stopping the run first.
TEST_F(RunRecovery, ManifestChangesAndAnUnwritableJournal) {
  const Manifest m{"reg", u"P=1\\x\nq", u"C:\\undo\\f.undo", u"01/01/2026", true, 6, "active"};
  const std::string text = vr::journal::FormatManifest(m);
  Manifest back;
  ASSERT_TRUE(vr::journal::ParseManifest(text, back));
  EXPECT_EQ(back.patch, m.patch);
  EXPECT_EQ(back.undoFile, m.undoFile);
  EXPECT_EQ(back.createdOn, m.createdOn);
  EXPECT_TRUE(back.undoExisted);
  EXPECT_EQ(back.sections, 6);
  EXPECT_EQ(back.state, "active");
  EXPECT_FALSE(vr::journal::ParseManifest(text.substr(0, text.size() - 6), back)) << "a cut manifest";
  EXPECT_FALSE(vr::journal::ParseManifest("", back));
  EXPECT_FALSE(vr::journal::ParseManifest("mode=other\nstate=active\nend=1\n", back));

  EXPECT_FALSE(vr::journal::SectionLogRecordsChanges(u""));
  EXPECT_FALSE(vr::journal::SectionLogRecordsChanges(u"[[[PLATFORMS]]]\r\n\r\n  [[[platforms_end]]]\r\n# note\r\n"));
  EXPECT_TRUE(vr::journal::SectionLogRecordsChanges(u"[[[PACKAGES]]]\r\nPACKAGE ADD x\r\n"));

  vr::fault::Configure("file.SaveCreate#1");
  EXPECT_EQ(Run(false, (base_ / "own.undo").string()), 100);
  EXPECT_NE(error_.find("(TESSERA266) The run journal"), std::string::npos) << error_;
  EXPECT_EQ(Calls().find("init"), std::string::npos) << "nothing runs without a journal";
  EXPECT_FALSE(fs::exists(root_ / "journal"));
}

// A killed registration with records: the next run puts back every section's record, the
// newest section first (prerequisites, packages, platforms), each record cut to its last whole
// line, without any Init or section rollback; the run leaves the ledger. A restore that fails
// stops the run (263) with the journal kept, and the next run restores again from the start.
TEST_F(RunRecovery, RecordsAreRestoredNewestSectionFirstAgainAfterAFailureAndTheLedgerForgetsTheRun) {
  const WString createdOn = u"01/01/2026 00:00:00 +00:00";
  {
    vr::ledger::Ledger ledger;
    ledger.Add(u"OTHER_01", u"t0", u"");
    ledger.Add(u"KILLED_01", createdOn, u"").sections = 14;
    ASSERT_EQ(ledger.Save(), 0);
  }
  const std::string folder = KilledRun({"reg", u"KILLED_01", u"", createdOn, false, 14, "active"},
                                       "[[[PLATFORMS]]]\nOS-TYPE ADD 30 \"Plan 9\"", "", "");
  Records(folder, "p1\np2\n", "k1\nk2-cut", "q1\n");
  EXPECT_EQ(Run(false, (base_ / "own.undo").string(), [](RecordingSections& s) { s.restoreOk = false; }), 100);
  EXPECT_NE(error_.find("(TESSERA263) An earlier run of tessera for patch 'KILLED_01'"), std::string::npos) << error_;
  EXPECT_NE(error_.find("restore failed"), std::string::npos) << error_;
  EXPECT_EQ(Calls(), "restore prereq [q1|]") << "the first failure stops the recovery";
  EXPECT_TRUE(fs::exists(folder + "/prereq.rec"));
  EXPECT_NE(LoadLedger().Find(u"KILLED_01", createdOn), nullptr) << "the ledger changes only once the host is back";

  calls_.clear();
  EXPECT_EQ(Run(false, (base_ / "own.undo").string()), 0) << error_;
  EXPECT_EQ(Calls().substr(0, Calls().find("; init prereq 7.60")),
            "restore prereq [q1|]; restore packages [k1|]; restore platforms [p1|p2|]");
  EXPECT_EQ(Calls().find("rollback"), std::string::npos) << "a section with a record is not rolled back from its log";
  EXPECT_NE(err_.find("(TESSERA262)"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(folder));
  const vr::ledger::Ledger ledger = LoadLedger();
  ASSERT_EQ(ledger.Registrations().size(), 2u) << "the killed run went, the others stayed, and the new one came";
  EXPECT_EQ(ledger.Registrations().front().patch, u"OTHER_01");
  EXPECT_EQ(ledger.Registrations().back().patch, u"OWN_01");
}

// A rollback that fails (exit 2) leaves the journal active with the records, as a kill does:
// the next run, with the fault gone, puts the records back.
TEST_F(RunRecovery, AFailedRollbackKeepsTheJournalForTheNextRun) {
  const std::string undo = (base_ / "own.undo").string();
  EXPECT_EQ(Run(false, undo, [](RecordingSections& s) {
              s.prereqRecord = "before-1\n";
              s.prereqLines = {"[[[PREREQUISITE_CHECK]]]", "[[SYSTEM_ADD]] S"};
              s.updateOk = false;
              s.rollbackOk = false;
            }),
            2)
      << error_;
  std::vector<std::string> runs;
  for (const auto& e : fs::directory_iterator(root_ / "journal")) runs.push_back(e.path().string());
  ASSERT_EQ(runs.size(), 1u);
  std::ifstream manifest(runs[0] + "/run.manifest");
  const std::string manifestText(std::istreambuf_iterator<char>(manifest), {});
  EXPECT_NE(manifestText.find("state=active"), std::string::npos);
  // The undo file there now is the one from before the run (maybe of the same patch and second):
  // the journal no longer names it, so it is never taken for this run's completed one.
  EXPECT_NE(manifestText.find("\nundo=\n"), std::string::npos) << manifestText;
  EXPECT_FALSE(fs::exists(undo)) << "the undo file still goes";
  vr::ledger::Ledger ledger = LoadLedger();
  EXPECT_TRUE(ledger.Registrations().empty()) << "a failed run never reaches the ledger";

  calls_.clear();
  err_.clear();
  EXPECT_EQ(Run(true, (base_ / "missing.undo").string()), 52);
  EXPECT_EQ(Calls(), "restore prereq [before-1|]");
  EXPECT_NE(err_.find("(TESSERA262) An earlier run of tessera for patch 'OWN_01'"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(root_ / "journal"));
}

// Registration and unregistration through the ledger: the registration is in the ledger with
// its sections and entries; its unregistration marks them taken back, and a second one says
// so (267, exit 0) without a journal or a section call. An undo file the ledger does not know
// is taken back from its lines and leaves a tombstone, so its second unregistration is known
// too; -delundo then still removes the undo file.
TEST_F(RunRecovery, SecondUnregistrationChangesNothingAndSaysSoForKnownAndUnknownUndoFiles) {
  const std::string undo = (base_ / "own.undo").string();
  ASSERT_EQ(Run(false, undo, [](RecordingSections& s) {
              s.prereqLines = {"[[[PREREQUISITE_CHECK]]]", "[[SYSTEM_ADD]] S", "[[[PREREQUISITE_CHECK_END]]]"};
              s.prereqRecord = "before\n";
            }),
            0)
      << error_;
  {
    vr::ledger::Ledger ledger = LoadLedger();
    ASSERT_EQ(ledger.Registrations().size(), 1u);
    const auto& r = ledger.Registrations().front();
    EXPECT_EQ(r.patch, u"OWN_01");
    EXPECT_EQ(r.sections, 8);
    EXPECT_EQ(r.reversedSections, 0);
    ASSERT_EQ(r.entries.size(), 1u);
    EXPECT_EQ(r.entries[0].kind, "tag");
  }
  calls_.clear();
  EXPECT_EQ(Run(true, undo), 0) << error_;
  EXPECT_NE(Calls().find("rollback prereq unreg OWN_01"), std::string::npos) << Calls();
  EXPECT_EQ(LoadLedger().Registrations().front().reversedSections, 8);

  calls_.clear();
  out_.clear();
  EXPECT_EQ(Run(true, undo), 0) << error_;
  EXPECT_EQ(Calls(), "") << "no Init, no rollback";
  EXPECT_EQ(out_, "\n(TESSERA267) The changes recorded in the undo file '" + undo +
                      "' for patch 'OWN_01' have already been unregistered. Nothing was changed.\n");
  EXPECT_NE(RunLog().find("# (TESSERA267) The changes recorded"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "journal"));

  // An undo file the ledger does not know.
  const std::string foreign = UndoOf("foreign.undo", u"02/02/2020 02:02:02 +00:00");
  calls_.clear();
  out_.clear();
  EXPECT_EQ(Run(true, foreign), 0) << error_;
  EXPECT_NE(Calls().find("rollback prereq unreg OWN_01 [Patch=OWN_01|"), std::string::npos) << Calls();
  const vr::ledger::Ledger ledger = LoadLedger();
  const auto* tomb = const_cast<vr::ledger::Ledger&>(ledger).Find(u"OWN_01", u"02/02/2020 02:02:02 +00:00");
  ASSERT_NE(tomb, nullptr);
  EXPECT_EQ(tomb->sections, 8);
  EXPECT_EQ(tomb->reversedSections, 8);
  EXPECT_TRUE(tomb->entries.empty());
  calls_.clear();
  out_.clear();
  WString message;
  int status = 0;
  {
    CVrPlatformRegistration reg(0, nullptr, message, status);
    reg.SetSections(std::make_unique<RecordingSections>(reg, calls_));
    EXPECT_EQ(reg.UnregisterPlatform(Utf8ToWide(foreign), true), 0);
  }
  EXPECT_EQ(Calls(), "");
  EXPECT_NE(out_.find("(TESSERA267)"), std::string::npos) << out_;
  EXPECT_FALSE(fs::exists(foreign)) << "-delundo";
}

// A killed unregistration: the ledger not marking its sections, the records put the host
// back as before it and the next run says to run it again (265); the ledger marking them (it
// was killed after its commit), only its journal goes.
TEST_F(RunRecovery, KilledUnregistrationIsPutBackUnlessTheLedgerHadCommittedIt) {
  const WString createdOn = u"03/03/2026 03:03:03 +00:00";
  {
    vr::ledger::Ledger ledger;
    ledger.Add(u"OWN_01", createdOn, u"").sections = 8;
    ASSERT_EQ(ledger.Save(), 0);
  }
  std::string folder = KilledRun({"unreg", u"OWN_01", u"/x.undo", createdOn, true, 8, "active"}, "", "", "");
  Records(folder, "", "", "unreg-before\n");
  EXPECT_EQ(Run(true, (base_ / "missing.undo").string()), 52);
  EXPECT_EQ(Calls(), "restore prereq [unreg-before|]");
  EXPECT_NE(err_.find("(TESSERA265) An earlier unregistration with undo file '/x.undo'"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(folder));

  {
    vr::ledger::Ledger ledger = LoadLedger();
    ledger.Find(u"OWN_01", createdOn)->reversedSections = 8;
    ASSERT_EQ(ledger.Save(), 0);
  }
  calls_.clear();
  err_.clear();
  folder = KilledRun({"unreg", u"OWN_01", u"/x.undo", createdOn, true, 8, "active"}, "", "", "");
  Records(folder, "", "", "unreg-before\n");
  EXPECT_EQ(Run(true, (base_ / "missing.undo").string()), 52);
  EXPECT_EQ(Calls(), "");
  EXPECT_EQ(err_.find("TESSERA26"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(folder));
}

// An unregistration whose section fails part way puts that section back from its record, so
// that running it again takes it back whole; the ledger marks none of it.
TEST_F(RunRecovery, AFailedUnregistrationSectionIsPutBackFromItsRecord) {
  const std::string undo = UndoOf("own.undo", u"04/04/2026 04:04:04 +00:00");
  EXPECT_EQ(Run(true, undo, [](RecordingSections& s) {
              s.prereqRecord = "half-done\n";
              s.rollbackOk = false;
            }),
            4);
  EXPECT_NE(Calls().find("rollback prereq unreg OWN_01"), std::string::npos) << Calls();
  EXPECT_NE(Calls().find("restore prereq [half-done|]"), std::string::npos) << Calls();
  EXPECT_FALSE(fs::exists(root_ / "journal"));
  EXPECT_TRUE(LoadLedger().Registrations().empty()) << "nothing was taken back: nothing to mark";

  // Known to the ledger, with a platform section that is taken back: the ledger marks the
  // platforms, and the prerequisite entries the failed section had marked are live again.
  const WString createdOn = u"04/04/2026 04:04:05 +00:00";
  {
    vr::ledger::Ledger ledger;
    auto& r = ledger.Add(u"OWN_01", createdOn, u"");
    r.sections = 12;
    r.entries.push_back({vr::undo::kSectionPrereq, "tag", u"S", u"", u"x"});
    ASSERT_EQ(ledger.Save(), 0);
  }
  const std::string both = (base_ / "both.undo").string();
  {
    VrLogFile file(Utf8ToWide(both).c_str(), true);
    vr::undo::AppendHeader(file, {u"OWN_01", createdOn, u"/x.xml", u"A.07.50"});
    for (const char16_t* line : {u"[[[PLATFORMS]]]", u"OS-TYPE ADD 30 \"Plan 9\"", u"[[[PLATFORMS_END]]]",
                                 u"[[[PREREQUISITE_CHECK]]]", u"[[SYSTEM_ADD]] S", u"[[[PREREQUISITE_CHECK_END]]]"})
      file.AppendLine(line, true);
    ASSERT_EQ(file.SaveFile(), S_OK);
  }
  calls_.clear();
  EXPECT_EQ(Run(true, both, [](RecordingSections& s) {
              s.prereqRecord = "half-done\n";
              s.rollbackOk = false;
              s.failOnly = "prereq";
            }),
            4);
  EXPECT_NE(Calls().find("restore prereq [half-done|]"), std::string::npos) << Calls();
  const vr::ledger::Ledger after = LoadLedger();
  ASSERT_EQ(after.Registrations().size(), 1u);
  EXPECT_EQ(after.Registrations().front().reversedSections, 4);
  EXPECT_FALSE(after.Registrations().front().entries.at(0).reversed);
}

// The ledger is read after the run lock is taken: a run that waits for the lock sees what the
// holder wrote meanwhile. A damaged ledger stops the run before anything changes.
TEST_F(RunRecovery, TheLedgerIsReadUnderTheRunLockAndADamagedOneStopsTheRun) {
  const WString createdOn = u"05/05/2026 05:05:05 +00:00";
  const std::string undo = UndoOf("own.undo", createdOn);
  {
    vr::ledger::Ledger ledger;
    auto& r = ledger.Add(u"OWN_01", createdOn, u"");
    r.sections = r.reversedSections = 8;
    ASSERT_EQ(ledger.Save(), 0);
  }
  const std::string ledgerFile = vr::ledger::Ledger::FilePath();
  fs::rename(ledgerFile, base_ / "ledger.later");
  // Another program holds the lock and writes the ledger before it lets go.
  vr::testing::RunLockHolder holder((root_ / "run.lock").string(), "sleep 1; mv '" + (base_ / "ledger.later").string() +
                                                                      "' '" + ledgerFile + "'");
  EXPECT_EQ(Run(true, undo), 0) << error_;
  EXPECT_EQ(holder.Release(), 0);
  EXPECT_NE(out_.find("(TESSERA267)"), std::string::npos) << out_ << err_;
  EXPECT_EQ(Calls(), "");

  std::ofstream(ledgerFile, std::ios::trunc) << "vorant-ledger 1\nR 1 8\n";
  calls_.clear();
  EXPECT_EQ(Run(false, (base_ / "second.undo").string()), 100);
  EXPECT_NE(error_.find("(TESSERA269) The ledger '" + ledgerFile + "' cannot be read (error 13)"), std::string::npos) << error_;
  EXPECT_EQ(Calls(), "");
  EXPECT_FALSE(fs::exists(base_ / "second.undo"));
}

}  // namespace
