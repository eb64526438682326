// The package section's lines in the run log: what a registration added and found there, what
// an unregistration removed and what it kept, and the refusal of a patch that is not
// installed, each on a line of its own.
#include <sstream>

#include "tessera/Packages/PackageTestHost.h"
#include "tests/support/HostTestSupport.h"

namespace {

class PackageRunLog : public PackageTestHost {
 protected:
  // The run log (UTF-16 with a byte-order mark) as lines of UTF-8.
  std::vector<std::string> RunLogLines() const {
    const std::string bytes = vr::testing::ReadFileBytes((root_ / "server/share/install/log/tessera.log").string());
    WString wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    std::vector<std::string> lines;
    std::istringstream in(WideToUtf8(wide));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  // At most count lines, from the first line that equals first.
  static std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first, size_t count) {
    auto at = std::find(lines.begin(), lines.end(), first);
    const auto end = static_cast<size_t>(lines.end() - at) < count ? lines.end() : at + static_cast<long>(count);
    return std::vector<std::string>(at, end);
  }
};

constexpr const char* kLogfile = "{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}";
constexpr const char* kUnknownPolicyType = "{0BADF00D-0000-4000-8000-000000000000}";

}  // namespace

TEST_F(PackageRunLog, RegistrationNamesWhatItAddedAndWhatWasThere) {
  const std::string file = WriteRegistration(
      "log.xml", PackageXml("WindowsPackage", "Log Agent", "1.0", PlatformXml(2, 11, {kLogfile, kUnknownPolicyType})));
  ASSERT_EQ(Register(file, (base_ / "first.undo").string()), 0) << error_ << console_;
  const std::string id = Rows().substr(0, Rows().find('|'));
  const std::string module = "[PolTypeId='" + std::string(kLogfile) + "', DeplPackId='" + id + "', SystemType='2', OsType='11']";
  const std::string unknown =
      "Policy type Id not found [PolTypeId='" + std::string(kUnknownPolicyType) + "', DeplPackId='" + id +
      "', SystemType='2', OsType='11']";
  const std::vector<std::string> added = {"LogicalId values successfully updated",
                                          "Package 'Log Agent' successfully registered",
                                          "Functionality module successfully registered " + module, unknown};
  EXPECT_EQ(From(RunLogLines(), added.front(), added.size()), added);

  // The second registration of the same file finds both there; the run log has both runs.
  ASSERT_EQ(Register(file, (base_ / "second.undo").string(), u"VRPATCH_PKG_02"), 0) << error_ << console_;
  const std::vector<std::string> found = {"Package 'Log Agent' is already registered",
                                          "Functionality module already registered " + module, unknown};
  EXPECT_EQ(From(RunLogLines(), found.front(), found.size()), found);
}

TEST_F(PackageRunLog, UnregistrationNamesEachRemovalAndWhatStays) {
  AddDemoRows();
  Bookkeep(u"P1");
  Sql(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES (6, 'billing.corp.example.com')");
  ASSERT_EQ(Unregister(WriteUndo(u"P1", DemoLines())), 0) << error_ << console_;
  const std::vector<std::string> expected = {
      "Package deinstallation...",
      "Functionality module removed [PolTypeId='{P1}', DeplPackId='5', SystemType='2', OsType='11']",
      "Functionality module removed [PolTypeId='{P2}', DeplPackId='5', SystemType='2', OsType='11']",
      "Package removed [DeplPackId='5']",
      "Functionality modules removed [DeplPackId='6', SystemType='2', OsType='6']",
      "Functionality modules removed [DeplPackId='6', SystemType='3', OsType='6']",
      "Package cannot be removed because other functionality modules use this package or this package is deployed "
      "on any node",
      "Functionality module removed [PolTypeId='{P4}', DeplPackId='7', SystemType='2', OsType='11']",
      "Package cannot be removed because other functionality modules use this package or this package is deployed "
      "on Non-Windows node",
  };
  const auto lines = RunLogLines();
  EXPECT_EQ(From(lines, expected.front(), expected.size()), expected);
}

TEST_F(PackageRunLog, APatchThatIsNotInstalledIsRefusedOnLinesOfTheirOwn) {
  AddDemoRows();
  Bookkeep(u"P2", false);
  EXPECT_EQ(Unregister(WriteUndo(u"P2", DemoLines())), 6);
  // The message's own line end is not doubled into an empty line: the run's summary follows.
  const std::vector<std::string> expected = {"Package deinstallation...",
                                             "Registry key value 'Installed' not found",
                                             "(TESSERA1021) Patch P2 is not registered",
                                             "",
                                             "# Patch P2 was not unregistered.",
                                             "# Exit code = 6"};
  EXPECT_EQ(From(RunLogLines(), expected.front(), expected.size() + 1), expected);
}
