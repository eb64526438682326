// Registration of packages on demo hosts made by vrhost: the example's packages, modules, undo
// lines and bookkeeping, an unregistration that puts the host back, a failed registration
// that takes back exactly what it added, and the sweep of every fault point of a registration.
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "tessera/Packages/PackageTestHost.h"
#include "tessera/RunJournal.h"
#include "tessera/XmlParser/XmlReader.h"
#include "tests/support/HostTestSupport.h"

namespace {

using PackageRegistration = PackageTestHost;

// The example's package that cannot be uninstalled stays after an unregistration; taking it
// away by hand gives the state before the registration.
void RemoveScripts(PackageTestHost& host) {
  host.Sql(u"DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId IN (SELECT DeplPackId FROM VR_PM_DeplPack "
           u"WHERE Name = 'Vorant Shared Scripts')");
  host.Sql(u"DELETE FROM VR_PM_DeplPack WHERE Name = 'Vorant Shared Scripts'");
}

}  // namespace

TEST_F(PackageRegistration, ExampleRegistersAndUnregisters) {
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  const std::string before = State();
  const std::string undo = (base_ / "p.undo").string();
  ASSERT_EQ(Register(Example(), undo), 0) << error_ << console_;
  EXPECT_NE(console_.find("\n(TESSERA2022) Policy type '{F0E1D2C3-B4A5-4697-8879-6A5B4C3D2E1F}' was not found"),
            std::string::npos) << console_;
  const std::string registered = State();
  EXPECT_NE(registered.find("|Vorant Windows Event Monitor|12.05.002|{0E7C3D92-81B4-4F36-A5D0-6C1E2B9F4A70}|"),
            std::string::npos) << registered;
  EXPECT_NE(registered.find("{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}|"), std::string::npos);
  EXPECT_EQ(Value(PatchKey(0, u"VRPATCH_PKG_01"), kWinPkgInfoValue), u"12.05.002|Windows_2000");
  EXPECT_EQ(Value(PatchKey(0, u"VRPATCH_PKG_01"), kUxAgtInfoValue), u"12.05.002|Linux_x86");

  VrLogFile file(Utf8ToWide(undo).c_str(), true);
  ASSERT_TRUE(SUCCEEDED(file.LoadFile()));
  const WString text = file.GetContent();
  EXPECT_NE(text.find(u"\r\n[[[PACKAGES]]]\r\nPACKAGE WindowsPackage 1 \"Vorant Windows Event Monitor\" 12.05.002 "
                      u"{0E7C3D92-81B4-4F36-A5D0-6C1E2B9F4A70} 657AF3A3-BCFD-11D2-8608-080009D961F6 "
                      u"\"Event log instrumentation for Windows nodes\"\r\n"
                      u"PLAT_POLICY 1 {0E7C3D92-81B4-4F36-A5D0-6C1E2B9F4A70} 2 11 {B7A8C9D0-1E2F-4031-8425-36475869708A}\r\n"),
            WString::npos) << WideToUtf8(text);
  EXPECT_NE(text.find(u"PACKAGE_UNIX 2 \"Vorant Agent for Linux\" 12.05.002 {3F9A1B27-6C4D-4E8F-B0A2-7D5E9C1F3B48} "
                      u"657AF3A3-BCFD-11D2-8608-080009D961F6 \"Monitoring agent for Linux nodes on Intel x86 and "
                      u"Itanium\" 2 6 3\r\n[[[PACKAGES_END]]]"),
            WString::npos) << WideToUtf8(text);
  EXPECT_EQ(text.find(u"Vorant Shared Scripts"), WString::npos);  // not uninstallable: no line

  // Registering again finds everything there and adds nothing.
  ASSERT_EQ(Register(Example(), (base_ / "again.undo").string()), 0) << error_;
  EXPECT_EQ(State(), registered);

  // The second registration found everything there and added nothing: its unregistration
  // takes nothing away; the first one's takes back what it added.
  ASSERT_EQ(Unregister((base_ / "again.undo").string()), 0) << error_ << console_;
  EXPECT_EQ(State(), registered);
  ASSERT_EQ(Unregister(undo), 0) << error_ << console_;
  RemoveScripts(*this);
  EXPECT_EQ(State(), before);
}

// The same patch registered twice, the second run finding everything there: unregistering
// the first undo file leaves what the second still lists, and the second's takes it away.
TEST_F(PackageRegistration, TwiceRegisteredExampleUnregistersInOrderOfRegistration) {
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  const std::string before = State();
  const std::string first = (base_ / "first.undo").string(), again = (base_ / "again.undo").string();
  ASSERT_EQ(Register(Example(), first), 0) << error_ << console_;
  const std::string registered = State();
  ASSERT_EQ(Register(Example(), again), 0) << error_;
  ASSERT_EQ(Unregister(first), 0) << error_ << console_;
  EXPECT_EQ(State(), registered);
  ASSERT_EQ(Unregister(again), 0) << error_ << console_;
  RemoveScripts(*this);
  EXPECT_EQ(State(), before);
}

TEST_F(PackageRegistration, FailedRegistrationTakesBackExactlyWhatItAdded) {
  // A package of the example that the Depot knows already keeps its rows; the one that cannot
  // be uninstalled goes too, for this run registered it.
  Sql(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version) VALUES ('1', 'Vorant Agent for Linux', '12.05.002')");
  Sql(u"INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType) VALUES "
      u"('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '1', '2', '6')");
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kUxAgtInfoValue, u"12.05.002|Linux_x86");
  const std::string before = State();
  vr::fault::Configure("depot.AddFunctionalityModule#5");  // the module of "Vorant Shared Scripts"
  EXPECT_EQ(Register(Example(), (base_ / "f.undo").string()), 1) << error_;
  EXPECT_NE(console_.find("(TESSERA1002) Cannot add platform and policy type information\n          [PolTypeId="
                          "'{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}', SystemType='2',"),
            std::string::npos) << "console: " << console_ << " error: " << error_;
  vr::fault::Reset();
  EXPECT_EQ(State(), before);
}

// The sweep in parts that the test run spreads over the processors (tests/support/SweepParts.h).
constexpr int kSweepParts = 6;
class PackageRegistrationSweep : public PackageTestHost, public ::testing::WithParamInterface<int> {};

TEST_P(PackageRegistrationSweep, FaultSweep) {
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  const std::string log = (base_ / "faults.log").string();
  const std::string undo = (base_ / "s.undo").string();
  std::string before = State();
  vr::fault::SetLogFile(log);
  ASSERT_EQ(Register(Example(), undo), 0) << error_;
  vr::fault::SetLogFile("");
  ASSERT_EQ(Unregister(undo), 0) << error_;
  RemoveScripts(*this);
  ASSERT_EQ(State(), before);

  std::vector<std::string> points;
  {
    std::istringstream lines(vr::testing::ReadFileBytes(log));
    std::set<std::string> seen;
    std::string p;
    while (std::getline(lines, p))
      if (!p.empty() && seen.insert(p).second) points.push_back(p);
  }
  ASSERT_GT(points.size(), 30u);
  std::map<int, int> outcomes;
  std::map<std::string, int> packagePoints;
  const std::vector<std::string> part = vr::testing::SweepPart(points, GetParam(), kSweepParts);
  std::string ledger = LedgerText();  // every point starts from this ledger (HostFixture.h)
  for (const std::string& point : part) {
    RestoreLedger(ledger);
    vr::fault::Configure(point);
    const int code = Register(Example(), undo);
    vr::fault::Reset();
    ++outcomes[code];
    if (code == 1) {
      ++packagePoints[point.substr(0, point.find('.'))];
      EXPECT_EQ(State(), before) << point << "\n" << error_;
    } else if (code == 0) {
      // The fault was absorbed: the registration is whole and unregisters cleanly.
      EXPECT_EQ(Unregister(undo), 0) << point << "\n" << error_;
      RemoveScripts(*this);
      EXPECT_EQ(State(), before) << point;
    } else if (error_.find("(TESSERA206)") != std::string::npos) {
      // The changes were made but the undo file could not be saved (its section logs are
      // kept for the administrator): a fresh host for the next point.
      EXPECT_EQ(code, 100) << point;
      TearDown();
      SetUp();
      SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
      before = State();
      ledger = LedgerText();
    } else {
      // Failures before any change: reading the registration file (51, 52), Init, the run
      // log, the section logs, the undo file (100).
      EXPECT_TRUE(code == 51 || code == 52 || code == 100) << point << " exit " << code;
      EXPECT_EQ(State(), before) << point << "\n" << error_;
    }
    error_.clear();
  }
  std::string figures;
  for (const auto& [code, count] : outcomes) figures += " exit " + std::to_string(code) + ": " + std::to_string(count) + ";";
  std::string layers;
  for (const auto& [layer, count] : packagePoints) layers += " " + layer + " " + std::to_string(count);
  std::cout << "fault points of a package registration: " << points.size() << ", " << part.size() << " of them in part "
            << GetParam() << ";" << figures << " rolled back by layer:" << layers << "\n";
  EXPECT_EQ(outcomes[2], 0);
  // More than 20 of the sweep's points roll back: each part has its share of them.
  EXPECT_GT(outcomes[1] * kSweepParts, 20);
}
INSTANTIATE_TEST_SUITE_P(Part, PackageRegistrationSweep, ::testing::Range(0, kSweepParts));

namespace {
constexpr const char* kEventLog = "{B7A8C9D0-1E2F-4031-8425-36475869708A}";
constexpr const char* kServices = "{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}";
constexpr const char* kLogfile = "{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}";
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

// Policy type ids in another letter case than the Depot's: the modules are stored in the
// Depot's form, a module that is there already is found, and the unregistration and the
// rollback of a failed run both end exactly where the host began.
TEST_F(PackageRegistration, PolicyTypeIdsInAnyLetterCase) {
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  Sql(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId) VALUES ('4', 'Case Agent', '1.0', '{L}')");
  Sql(u"INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType) VALUES "
      u"('{B7A8C9D0-1E2F-4031-8425-36475869708A}', '4', '2', '11')");
  const std::string file = WriteRegistration(
      "case.xml", PackageXml("WindowsPackage", "Case Agent", "1.0", PlatformXml(2, 11, {Lower(kEventLog), Lower(kServices)})) +
                      PackageXml("Scripts", "Case Scripts", "1.0", PlatformXml(2, 11, {Lower(kLogfile)})));
  const std::string before = State();
  const std::string undo = (base_ / "case.undo").string();
  ASSERT_EQ(Register(file, undo), 0) << error_ << console_;
  const std::string registered = Rows();
  EXPECT_NE(registered.find("{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}|4|2|11|"), std::string::npos) << registered;
  EXPECT_NE(registered.find("{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}|5|2|11|"), std::string::npos) << registered;
  EXPECT_EQ(registered.find("{c1d2"), std::string::npos) << registered;
  ASSERT_EQ(Unregister(undo), 0) << error_ << console_;
  EXPECT_EQ(State(), before);

  // A failure after the modules were added: nothing of them is left.
  vr::fault::Configure("registry.SetValue#1");
  EXPECT_EQ(Register(file, undo), 1) << error_;
  vr::fault::Reset();
  EXPECT_EQ(State(), before);

  // An undo line written in another letter case still names its module.
  ASSERT_EQ(Register(file, undo), 0) << error_;
  Unregister(WriteUndo(u"VRPATCH_PKG_01",
                       {u"PACKAGE WindowsPackage 4 \"Case Agent\" 1.0 {L} D \"d\"",
                        u"PLAT_POLICY 4 {L} 2 11 " + Utf8ToWide(Lower(kServices)),
                        u"PACKAGE Scripts 5 \"Case Scripts\" 1.0 {L} D \"d\"",
                        u"PLAT_POLICY 5 {L} 2 11 " + Utf8ToWide(Lower(kLogfile))}));
  EXPECT_EQ(State(), before) << error_;
}

// A Unix package on platforms of different OS types: one undo line per OS type, so that the
// unregistration takes every module and the package away.
TEST_F(PackageRegistration, UnixPackageOnSeveralOsTypes) {
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  const std::string before = State();
  const std::string file = WriteRegistration(
      "unix.xml", PackageXml("UnixPackage", "Multi Agent", "3.0",
                             PlatformXml(2, 6, {kLogfile}) + PlatformXml(4, 4, {kLogfile}) + PlatformXml(3, 6, {kLogfile}) +
                                 PlatformXml(6, 5, {kLogfile})));
  const std::string undo = (base_ / "unix.undo").string();
  ASSERT_EQ(Register(file, undo), 0) << error_ << console_;
  VrLogFile written(Utf8ToWide(undo).c_str(), true);
  ASSERT_TRUE(SUCCEEDED(written.LoadFile()));
  const std::string text = WideToUtf8(written.GetContent());
  EXPECT_NE(text.find("\" 2 6 3\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\" 4 4\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\" 6 5\r\n"), std::string::npos) << text;
  ASSERT_EQ(Unregister(undo), 0) << error_ << console_;
  EXPECT_EQ(State(), before);
}

// Texts longer than the Depot's columns are refused before any change, naming the field and
// its limit, on every engine alike; a text at its limit registers.
TEST_F(PackageRegistration, TooLongTextsAreRefusedBeforeAnyChange) {
  const std::string before = State();
  const std::string undo = (base_ / "long.undo").string();
  const std::string name255(255, 'n');
  std::string description;
  for (int i = 0; i < 1025; ++i) description += "\xC3\xA9";  // 1,025 characters, 2,050 bytes
  const std::string file = WriteRegistration(
      "long.xml", PackageXml("WindowsPackage", name255, "1.0", PlatformXml(2, 11, {kEventLog})) +
                      PackageXml("WindowsPackage", "Second", "1.0", PlatformXml(2, 11, {kEventLog}), description));
  // The run refuses the file before any section starts (exit 100, as other refusals of a file's
  // content); the package section checks again for its own callers.
  EXPECT_EQ(Register(file, undo), 100);
  EXPECT_NE(error_.find("(TESSERA1024) Package 2 of the registration file cannot be registered: its description "
                        "has 1025 characters, more than the 1024 the DEPOT database keeps."),
            std::string::npos)
      << console_ << error_;
  EXPECT_FALSE(fs::exists(undo));
  EXPECT_EQ(State(), before);
  const std::string fits = WriteRegistration(
      "fits.xml", PackageXml("WindowsPackage", name255, "1.0", PlatformXml(2, 11, {kEventLog}),
                             description.substr(2)));
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  const std::string installed = State();
  ASSERT_EQ(Register(fits, undo), 0) << error_;
  EXPECT_NE(Rows().find(name255), std::string::npos);
  ASSERT_EQ(Unregister(undo), 0) << error_;
  EXPECT_EQ(State(), installed);
}

// A failed registration on a host without a Patches key leaves none behind.
TEST_F(PackageRegistration, FailedRegistrationLeavesNoKeyItCreated) {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, PatchesKey(0).c_str());
  ASSERT_FALSE(HKLMRegistryKeyExist(PatchesKey(0)));
  const std::string before = State();
  // The second bookkeeping value (the Unix package's) fails: the first was written.
  vr::fault::Configure("registry.SetValue#2");
  EXPECT_EQ(Register(Example(), (base_ / "k.undo").string()), 1) << error_;
  vr::fault::Reset();
  EXPECT_FALSE(HKLMRegistryKeyExist(PatchesKey(0)));
  EXPECT_EQ(State(), before);
}

// A Unix package the Depot knew before: its unregistration takes away only the modules the
// registration added; two patches that list the same package end exactly where they began in
// either order of unregistration.
TEST_F(PackageRegistration, LedgerKeepsWhatWasThereBefore) {
  Sql(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId) VALUES ('3', 'Ux Agent', '2.0', '{U}')");
  Sql(u"INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType) VALUES "
      u"('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '3', '2', '6')");
  Sql(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES ('3', 'web03.corp.example.com')");
  for (const char16_t* patch : {u"PA", u"PB"}) SetValue(PatchKey(0, patch), kInstalledValue, u"1");
  const std::string before = State();
  const std::string file = WriteRegistration(
      "ux.xml", PackageXml("UnixPackage", "Ux Agent", "2.0", PlatformXml(2, 6, {kLogfile, kEventLog})) +
                    PackageXml("UnixPackage", "Ux New", "1.0", PlatformXml(2, 6, {kLogfile})));
  const std::string a = (base_ / "a.undo").string(), b = (base_ / "b.undo").string();
  ASSERT_EQ(RegisterLedgered(file, a, u"PA"), 0) << error_ << console_;
  ASSERT_EQ(UnregisterLedgered(a), 0) << error_ << console_;
  EXPECT_EQ(State(), before);

  for (bool aFirst : {true, false}) {
    ASSERT_EQ(RegisterLedgered(file, a, u"PA"), 0) << error_;
    const std::string one = State();
    ASSERT_EQ(RegisterLedgered(file, b, u"PB"), 0) << error_;
    ASSERT_EQ(UnregisterLedgered(aFirst ? a : b), 0) << error_ << console_;
    // The other patch still lists everything: its rows stay.
    EXPECT_NE(Rows().find("{B7A8C9D0-1E2F-4031-8425-36475869708A}|3|2|6|"), std::string::npos) << aFirst << Rows();
    EXPECT_NE(Rows().find("|Ux New|1.0|"), std::string::npos) << aFirst;
    ASSERT_EQ(UnregisterLedgered(aFirst ? b : a), 0) << error_ << console_;
    EXPECT_EQ(State(), before) << (aFirst ? "A then B" : "B then A");
    (void)one;
  }
}

// The section's record in a run journal, as a killed run leaves it: putting it back gives the
// state before the run, whatever part of the changes happened, and doing so again changes
// nothing; a record cut short (the run was killed while writing it) changes nothing.
TEST_F(PackageRegistration, RecordOfARunPutsTheHostBack) {
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  Sql(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId) VALUES ('1', 'Vorant Agent for Linux', "
      u"'12.05.002', '790C06B4-844E-11D2-972B-080009Ef8C2A')");
  Sql(u"INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType) VALUES "
      u"('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '1', '2', '6')");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, PatchKey(0, u"OTHER").c_str());
  const std::string before = State();
  auto update = [&](const char* fault, std::string& record) {
    WString message;
    int status = -1;
    CVrPlatformRegistration r(0, nullptr, message, status);
    ASSERT_EQ(status, 0);
    std::unique_ptr<vr::journal::RunJournal> journal;
    ASSERT_EQ(vr::journal::RunJournal::Begin({"reg", u"VRPATCH_PKG_01", u"", u"", false, vr::undo::kSectionPackages, {}},
                                              journal),
              0);
    CXmlReader reader(u"A.07.50");
    ASSERT_EQ(reader.Load(Utf8ToWide(Example())), 0);
    VrLogFile log(Utf8ToWide((base_ / "section.log").string()).c_str(), false);
    ASSERT_EQ(r.PackageRegInit(message), 0) << WideToUtf8(message);
    if (fault) vr::fault::Configure(fault);
    const int code = r.PackageRegUpdate(reader, u"VRPATCH_PKG_01", false, log, message);
    vr::fault::Reset();
    EXPECT_EQ(code, fault ? 100 : 0) << fault;
    record = vr::testing::ReadFileBytes(journal->Folder() + "/packages.rec");
    r.PackageRegCleanup(message);
    journal->Finish();
  };
  auto restore = [&](const std::string& record) {
    WString message;
    int status = -1;
    CVrPlatformRegistration r(0, nullptr, message, status);
    EXPECT_TRUE(r.PackageRestoreRecord(record, message)) << WideToUtf8(message);
  };
  // Whole runs, and runs that failed before, in and after the Depot's commit.
  for (const char* fault : {static_cast<const char*>(nullptr), "depot.AddFunctionalityModule#3", "registry.SetValue#2",
                            "depot.CommitTransaction#1"}) {
    std::string record;
    update(fault, record);
    ASSERT_NE(record.find("\nend\n"), std::string::npos) << record;
    if (!fault) {
      EXPECT_NE(State(), before);
    }
    restore(record);
    EXPECT_EQ(State(), before) << (fault ? fault : "whole run");
    restore(record);
    EXPECT_EQ(State(), before) << "again";
  }
  // Cut short: the section never began its changes, so nothing is put back (the host is left
  // as the test made it, changed by hand).
  std::string record;
  update(nullptr, record);
  const std::string changed = State();
  restore(record.substr(0, record.size() - 4));
  EXPECT_EQ(State(), changed);
  restore(record);
  EXPECT_EQ(State(), before);
}
