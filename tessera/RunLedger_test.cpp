// The ledger's file (round trip, damage refused), its chains, and the journal's section records
// as a killed run leaves them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/file.h"
#include "platform/text/convert.h"
#include "tessera/RunJournal.h"
#include "tessera/RunLedger.h"
#include "tessera/UndoFile.h"
#include "tests/support/HostTestSupport.h"

namespace fs = std::filesystem;
using vr::ledger::Entry;
using vr::ledger::Ledger;
using vr::ledger::Registration;
using vr::text::Utf8ToWide;

namespace {

constexpr int kPlatforms = vr::undo::kSectionPlatforms;
constexpr int kPackages = vr::undo::kSectionPackages;

Entry Change(int section, const char* kind, const char16_t* key, const char16_t* before, const char16_t* after) {
  Entry e;
  e.section = section;
  e.kind = kind;
  e.key = key;
  e.before = before;
  e.after = after;
  return e;
}

class LedgerFile : public ::testing::Test {
 protected:
  vr::testing::TempDir dir_{"vrledger"};
  vr::testing::ScopedEnv root_{"VR_HOST_ROOT", dir_.path()};
  void TearDown() override { vr::fault::Reset(); }
};

TEST_F(LedgerFile, EveryFieldComesBackThroughTheFileIncludingTabsLineEndsAndBackslashes) {
  Ledger ledger;
  Registration& a = ledger.Add(u"VRPATCH_A", u"12/09/2026 10:00:00 +00:00", u"/tmp/a\\b.undo");
  a.sections = kPlatforms | kPackages;
  a.reversedSections = kPackages;
  a.entries.push_back(Change(kPlatforms, "caption", u"OS-TYPE 91", u"Linux\t(old)\nline", u"Linux \\ \"new\""));
  a.entries.back().existedBefore = true;
  a.entries.push_back(Change(kPackages, "module", u"pkg\u00e9", u"", u"\u65e5\u672c"));
  a.entries.back().reversed = true;
  ledger.Add(u"VRPATCH_B", u"12/09/2026 11:00:00 +00:00", u"");
  ASSERT_EQ(ledger.Save(), ERROR_SUCCESS);

  Ledger loaded;
  ASSERT_EQ(Ledger::Load(loaded), ERROR_SUCCESS);
  ASSERT_EQ(loaded.Registrations().size(), 2u);
  const Registration& r = loaded.Registrations().front();
  EXPECT_EQ(r.patch, u"VRPATCH_A");
  EXPECT_EQ(r.undoFile, u"/tmp/a\\b.undo");
  EXPECT_EQ(r.sections, kPlatforms | kPackages);
  EXPECT_EQ(r.reversedSections, kPackages);
  ASSERT_EQ(r.entries.size(), 2u);
  EXPECT_EQ(r.entries[0].before, u"Linux\t(old)\nline");
  EXPECT_EQ(r.entries[0].after, u"Linux \\ \"new\"");
  EXPECT_TRUE(r.entries[0].existedBefore);
  EXPECT_FALSE(r.entries[0].reversed);
  EXPECT_EQ(r.entries[1].key, u"pkg\u00e9");
  EXPECT_EQ(r.entries[1].after, u"\u65e5\u672c");
  EXPECT_TRUE(r.entries[1].reversed);
  EXPECT_LT(r.seq, loaded.Registrations().back().seq);
  EXPECT_EQ(loaded.Format(), ledger.Format());
  // A registration added after loading continues the sequence.
  const Registration* b = loaded.Find(u"VRPATCH_B", u"12/09/2026 11:00:00 +00:00");
  ASSERT_NE(b, nullptr);
  EXPECT_GT(loaded.Add(u"VRPATCH_C", u"x", u"").seq, b->seq);
  EXPECT_EQ(b->patch, u"VRPATCH_B");  // still valid after an addition
}

TEST_F(LedgerFile, AMissingLedgerIsEmptyAndADamagedOneIsRefusedNotGuessedAt) {
  Ledger ledger;
  ASSERT_EQ(Ledger::Load(ledger), ERROR_SUCCESS);
  EXPECT_TRUE(ledger.Registrations().empty());

  ledger.Add(u"P", u"T", u"U").entries.push_back(Change(kPlatforms, "caption", u"k", u"a", u"b"));
  const std::string whole = ledger.Format();
  Ledger parsed;
  ASSERT_TRUE(Ledger::Parse(whole, parsed));
  // Cut anywhere short of its end, the text is refused: a kill cannot leave half a ledger
  // that reads as a smaller one.
  for (size_t cut = 0; cut < whole.size(); ++cut) EXPECT_FALSE(Ledger::Parse(whole.substr(0, cut), parsed)) << cut;
  for (const std::string& bad : std::vector<std::string>{
           "vorant-ledger 2\nend\n", "vorant-ledger 1\nE\t4\tk\t-\tk\ta\tb\nend\n",
        "vorant-ledger 1\nR\t1\t4\t0\tP\tT\nend\n", "vorant-ledger 1\nR\tx\t4\t0\tP\tT\tU\nend\n",
        "vorant-ledger 1\nR\t1\t4\t0\tP\tT\tU\nE\t4\tk\tz\tk\ta\tb\nend\n",
        "vorant-ledger 1\nR\t1\t4\t0\tP\\q\tT\tU\nend\n", "vorant-ledger 1\nend\nend\n"})
    EXPECT_FALSE(Ledger::Parse(bad, parsed)) << bad;

  fs::create_directories(dir_ / "ledger");
  std::ofstream(dir_ / "ledger/ledger.txt") << whole.substr(0, whole.size() - 4);
  EXPECT_EQ(Ledger::Load(ledger), ERROR_INVALID_DATA);
  EXPECT_TRUE(ledger.Registrations().empty());
}

TEST_F(LedgerFile, ASaveThatFailsLeavesTheOldLedgerWhole) {
  Ledger ledger;
  ledger.Add(u"P1", u"T1", u"");
  ASSERT_EQ(ledger.Save(), ERROR_SUCCESS);
  ledger.Add(u"P2", u"T2", u"");
  vr::fault::Configure("file.Sync#1=29");
  EXPECT_NE(ledger.Save(), ERROR_SUCCESS);
  vr::fault::Reset();
  Ledger loaded;
  ASSERT_EQ(Ledger::Load(loaded), ERROR_SUCCESS);
  ASSERT_EQ(loaded.Registrations().size(), 1u);
  EXPECT_EQ(loaded.Registrations().front().patch, u"P1");
}

TEST(LedgerChain, LiveEntriesOfOneObjectInRegistrationOrderWithoutRegardToCase) {
  Ledger ledger;
  Registration& a = ledger.Add(u"A", u"t1", u"");
  a.sections = kPlatforms;
  a.entries.push_back(Change(kPlatforms, "caption", u"OS-TYPE 91", u"X", u"Y"));
  a.entries.push_back(Change(kPlatforms, "caption", u"OS-TYPE 92", u"", u"Q"));
  Registration& b = ledger.Add(u"B", u"t2", u"");
  b.sections = kPlatforms;
  b.entries.push_back(Change(kPlatforms, "caption", u"os-type 91", u"Y", u"Z"));
  b.entries.push_back(Change(kPlatforms, "nodedisc-value", u"OS-TYPE 91", u"1", u"2"));
  Registration& c = ledger.Add(u"C", u"t3", u"");
  c.sections = kPlatforms;
  c.entries.push_back(Change(kPlatforms, "caption", u"OS-TYPE 91", u"Z", u"W"));
  c.entries.back().reversed = true;
  Registration& d = ledger.Add(u"D", u"t4", u"");
  d.sections = kPlatforms;
  d.reversedSections = kPlatforms;
  d.entries.push_back(Change(kPlatforms, "caption", u"OS-TYPE 91", u"Z", u"V"));

  // The section index answers as the ledger does, for every object and letter case.
  const Ledger::SectionIndex index(ledger, kPlatforms);
  for (const char* kind : {"caption", "nodedisc-value"})
    for (const char16_t* key : {u"Os-Type 91", u"os-type 92", u"OS-TYPE 93"}) {
      const auto direct = ledger.Chain(kPlatforms, kind, key), indexed = index.Chain(kind, key);
      ASSERT_EQ(direct.size(), indexed.size()) << kind;
      for (size_t i = 0; i < direct.size(); ++i) EXPECT_EQ(direct[i].entry, indexed[i].entry);
    }
  EXPECT_EQ(index.Chain("caption", u"OS-TYPE 91").size(), 2u);

  const auto chain = ledger.Chain(kPlatforms, "caption", u"Os-Type 91");
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain[0].registration->patch, u"A");
  EXPECT_EQ(chain[0].entry->after, u"Y");
  EXPECT_EQ(chain[1].registration->patch, u"B");
  EXPECT_EQ(chain[1].entry->after, u"Z");
  // A chain's entries are the ledger's own: handing A's state on to B changes the ledger.
  chain[1].entry->before = chain[0].entry->before;
  chain[0].entry->reversed = true;
  const auto after = ledger.Chain(kPlatforms, "caption", u"OS-TYPE 91");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].entry->before, u"X");
  EXPECT_EQ(index.Chain("caption", u"OS-TYPE 91").size(), 1u);  // it sees the reversal
  EXPECT_TRUE(ledger.Chain(kPackages, "caption", u"OS-TYPE 91").empty());

  EXPECT_TRUE(ledger.Find(u"b", u"t2"));
  EXPECT_FALSE(ledger.Find(u"B", u"t9"));
  EXPECT_TRUE(ledger.Find(u"D", u"t4")->Reversed(kPlatforms | kPackages));
  EXPECT_FALSE(ledger.Find(u"A", u"t1")->Reversed(kPlatforms));
  EXPECT_TRUE(ledger.Remove(u"A", u"t1"));
  EXPECT_FALSE(ledger.Remove(u"A", u"t1"));
  EXPECT_EQ(ledger.Registrations().size(), 3u);
}

// A section's record is durable before the section goes on, and a killed run's record is read
// back to its last whole line.
TEST_F(LedgerFile, SectionRecordsAreReadBackToTheirLastWholeLine) {
  std::unique_ptr<vr::journal::RunJournal> journal;
  vr::journal::Manifest m;
  m.mode = "reg";
  m.patch = u"P";
  ASSERT_EQ(vr::journal::RunJournal::Begin(m, journal), ERROR_SUCCESS);
  journal->MarkUpdating();
  ASSERT_EQ(journal->RecordSection(kPlatforms, "qualifier a\nqualifier b"), ERROR_SUCCESS);
  ASSERT_EQ(journal->RecordSection(kPlatforms, "instance c\n"), ERROR_SUCCESS);
  ASSERT_EQ(journal->RecordSection(kPackages, "row 1\n"), ERROR_SUCCESS);
  vr::fault::Configure("file.Sync#1=29");
  EXPECT_EQ(journal->RecordSection(kPackages, "row 2\n"), 29);
  vr::fault::Reset();
  const std::string folder = journal->Folder();
  // The kill cut a block short: a line without its end.
  std::ofstream(folder + "/packages.rec", std::ios::app) << "row 3 cut";
  journal.reset();  // a run that had started updating keeps its journal

  const auto runs = vr::journal::RunJournal::FindInterrupted();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].records[vr::journal::RunJournal::RecordIndex(kPlatforms)], "qualifier a\nqualifier b\ninstance c\n");
  EXPECT_EQ(runs[0].records[vr::journal::RunJournal::RecordIndex(kPackages)], "row 1\nrow 2\n");
  EXPECT_EQ(runs[0].records[vr::journal::RunJournal::RecordIndex(vr::undo::kSectionPrereq)], "");
  vr::journal::RunJournal::Remove(runs[0].folder);
}

// A folder the run noted before creating it is read back only from a whole line: a line a
// kill cut short may name a folder the run never made (a parent of the one it meant).
TEST_F(LedgerFile, NotedFoldersAreReadBackToTheirLastWholeLine) {
  std::unique_ptr<vr::journal::RunJournal> journal;
  vr::journal::Manifest m;
  m.mode = "reg";
  m.patch = u"P";
  ASSERT_EQ(vr::journal::RunJournal::Begin(m, journal), ERROR_SUCCESS);
  journal->MarkUpdating();
  ASSERT_TRUE(journal->NoteFolderToCreate(u"/conf/PrereqCheck/9.9"));
  ASSERT_TRUE(journal->NoteFolderToCreate(u"C:\\conf\\a\nb"));
  std::ofstream(journal->Folder() + "/folders.log", std::ios::app) << "/conf/PrereqCheck";
  journal.reset();

  const auto runs = vr::journal::RunJournal::FindInterrupted();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].folders, (std::vector<WString>{u"/conf/PrereqCheck/9.9", u"C:\\conf\\a\nb"}));
  vr::journal::RunJournal::Remove(runs[0].folder);
}

// Files written by earlier runs, byte for byte as they are stored, with every escape they use:
// they read back to their values and are written again to the same bytes.
TEST_F(LedgerFile, StoredManifestAndLedgerReadAndWriteBackToTheSameBytes) {
  const std::string manifest =
      "mode=reg\npatch=VR\\\\P=1\\nq\tt\nundo=C:\\\\undo\\\\f.undo\ncreatedOn=12/09/2026 10:00:00\\r\n"
      "undoExisted=1\nsections=14\nstate=active\nend=1\n";
  vr::journal::Manifest m;
  ASSERT_TRUE(vr::journal::ParseManifest(manifest, m));
  EXPECT_EQ(m.mode, "reg");
  EXPECT_EQ(m.patch, u"VR\\P=1\nq\tt");
  EXPECT_EQ(m.undoFile, u"C:\\undo\\f.undo");
  EXPECT_EQ(m.createdOn, u"12/09/2026 10:00:00\r");
  EXPECT_TRUE(m.undoExisted);
  EXPECT_EQ(m.sections, 14);
  EXPECT_EQ(m.state, "active");
  EXPECT_EQ(vr::journal::FormatManifest(m), manifest);

  const std::string ledger =
      "vorant-ledger 1\n"
      "R\t1\t6\t2\tVR\\\\PATCH\t12/09/2026 10:00:00 +00:00\tC:\\\\undo\\\\a b.undo\n"
      "E\t4\tcaption\tb\tOS-TYPE 91\tLinux\\t(old)\\nline\\r\tLinux \\\\ \"new\"\n"
      "E\t2\tmodule\tr\tpkg\xC3\xA9\t\t\xE6\x97\xA5\n"
      "R\t2\t8\t0\tVR_B\tt\t\n"
      "end\n";
  Ledger parsed;
  ASSERT_TRUE(Ledger::Parse(ledger, parsed));
  ASSERT_EQ(parsed.Registrations().size(), 2u);
  const Registration& r = parsed.Registrations().front();
  EXPECT_EQ(r.patch, u"VR\\PATCH");
  EXPECT_EQ(r.undoFile, u"C:\\undo\\a b.undo");
  EXPECT_EQ(r.sections, kPlatforms | kPackages);
  EXPECT_EQ(r.reversedSections, kPackages);
  ASSERT_EQ(r.entries.size(), 2u);
  EXPECT_EQ(r.entries[0].before, u"Linux\t(old)\nline\r");
  EXPECT_EQ(r.entries[0].after, u"Linux \\ \"new\"");
  EXPECT_TRUE(r.entries[0].existedBefore);
  EXPECT_EQ(r.entries[1].key, u"pkg\u00e9");
  EXPECT_EQ(r.entries[1].before, u"");
  EXPECT_EQ(r.entries[1].after, u"\u65e5");
  EXPECT_TRUE(r.entries[1].reversed);
  EXPECT_EQ(parsed.Format(), ledger);
}

}  // namespace
