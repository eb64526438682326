// Folders, processes, clock and computer name of the host.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/clock.h"
#include "platform/os/computer.h"
#include "platform/os/dir.h"
#include "platform/os/lasterror.h"
#include "platform/os/process.h"
#include "platform/text/convert.h"
#include "tests/support/HostTestSupport.h"

using namespace vr::os;
using vr::testing::ScopedEnv;
using vr::testing::TempDir;

namespace {

WString W(const std::string& s) { return vr::text::Utf8ToWide(s); }

class Services : public ::testing::Test {
 protected:
  Services() { vr::fault::Reset(); }
  ~Services() override { vr::fault::Reset(); }
  TempDir dir_{"vros"};
};

TEST_F(Services, FoldersAreMadeListedAndRemoved) {
  const WString base = W(dir_.path());
  EXPECT_EQ(CreateDirectory(base + u"\\a"), ERROR_SUCCESS);  // either separator
  EXPECT_EQ(CreateDirectory(base + u"/a"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateDirectory(base + u"/missing/b"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateDirectory(base + u"/bad*name"), ERROR_INVALID_NAME);
  EXPECT_EQ(CreateDirectory(u"\\\\server\\share\\x"), ERROR_BAD_NETPATH);
  EXPECT_EQ(CreateDirectoryTree(base + u"/deep/er/est"), ERROR_SUCCESS);
  EXPECT_EQ(CreateDirectoryTree(base + u"/deep/er/est"), ERROR_SUCCESS);
  EXPECT_TRUE(DirectoryExists(base + u"\\deep\\er"));
  vr::testing::WriteFileBytes(dir_ / "deep/f.txt", "12345");
  vr::testing::WriteFileBytes(dir_ / "deep/B.txt", "");
  EXPECT_FALSE(DirectoryExists(base + u"/deep/f.txt"));

  std::vector<DirEntry> entries;
  ASSERT_EQ(ListDirectory(base + u"/deep", entries), ERROR_SUCCESS);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, u"B.txt");  // by name without regard to case
  EXPECT_EQ(entries[1].name, u"er");
  EXPECT_TRUE(entries[1].isDirectory);
  EXPECT_EQ(entries[2].size, 5u);
  EXPECT_EQ(ListDirectory(base + u"/nothing", entries), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ListDirectory(base + u"/deep/f.txt", entries), ERROR_DIRECTORY);

  EXPECT_EQ(RemoveDirectory(base + u"/deep"), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(RemoveDirectory(base + u"/a"), ERROR_SUCCESS);
  EXPECT_EQ(RemoveDirectory(base + u"/a"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RemoveTree(base + u"/deep"), ERROR_SUCCESS);
  EXPECT_FALSE(DirectoryExists(base + u"/deep"));
  EXPECT_EQ(RemoveTree(base + u"/deep"), ERROR_SUCCESS);  // already gone
  EXPECT_EQ(RemoveTree(u"/"), ERROR_ACCESS_DENIED);

  EXPECT_FALSE(CreateDirectoryW((base + u"/a/b").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(CreateDirectoryW((base + u"/a").c_str(), nullptr));
  EXPECT_TRUE(RemoveDirectoryW((base + u"/a").c_str()));
}

TEST_F(Services, TreesAreWalkedAndSearchedByName) {
  for (const char* d : {"pkg/Windows/x64", "pkg/Linux", "pkg/linked"}) std::filesystem::create_directories(dir_ / d);
  vr::testing::WriteFileBytes(dir_ / "pkg/Windows/x64/vroreqcheck.cfg", "a");
  vr::testing::WriteFileBytes(dir_ / "pkg/Linux/VROREQCHECK.CFG", "b");
  vr::testing::WriteFileBytes(dir_ / "pkg/Linux/other.cfg", "c");
  // A link back up the tree is listed but not entered, so the walk ends.
  std::filesystem::create_directory_symlink(dir_.path() + "/pkg", dir_ / "pkg/linked/up");

  std::vector<WString> found;
  const WString root = W(dir_.path()) + u"\\pkg\\";
  ASSERT_EQ(FindFilesByName(root, u"VroReqCheck.cfg", found), ERROR_SUCCESS);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], root + u"Linux\\VROREQCHECK.CFG");
  EXPECT_EQ(found[1], root + u"Windows\\x64\\vroreqcheck.cfg");

  std::vector<WString> visited;
  ASSERT_EQ(WalkTree(W(dir_.path() + "/pkg"), [&](const WString& path, const DirEntry&) {
              visited.push_back(path);
              return visited.size() < 3;
            }, u'/'),
            ERROR_SUCCESS);
  EXPECT_EQ(visited, (std::vector<WString>{W(dir_.path() + "/pkg/linked"), W(dir_.path() + "/pkg/linked/up"),
                                            W(dir_.path() + "/pkg/Linux")}));
  EXPECT_EQ(FindFilesByName(W(dir_.path() + "/none"), u"x", found), ERROR_PATH_NOT_FOUND);
  vr::fault::Configure("os.FindFiles#1=5");
  EXPECT_EQ(FindFilesByName(root, u"x", found), ERROR_ACCESS_DENIED);
}

TEST_F(Services, FilesAreCopiedWithAndWithoutOverwrite) {
  const WString base = W(dir_.path());
  vr::testing::WriteFileBytes(dir_ / "src", "new content");
  ::chmod((dir_ / "src").c_str(), 0640);
  vr::testing::WriteFileBytes(dir_ / "dst", "old");
  EXPECT_EQ(CopyFile(base + u"/src", base + u"/dst", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(vr::testing::ReadFileBytes(dir_ / "dst"), "old");
  EXPECT_EQ(CopyFile(base + u"/src", base + u"/dst", false), ERROR_SUCCESS);
  EXPECT_EQ(vr::testing::ReadFileBytes(dir_ / "dst"), "new content");
  EXPECT_EQ(CopyFile(base + u"\\src", base + u"\\fresh", true), ERROR_SUCCESS);
  struct stat st;
  ASSERT_EQ(::stat((dir_ / "fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(CopyFile(base + u"/missing", base + u"/x", false), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CopyFile(base + u"/src", base + u"/no/x", false), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CopyFile(base + u"/src", base + u"/src", false), ERROR_SHARING_VIOLATION);
  vr::fault::Configure("os.CopyFile#1=112");
  EXPECT_FALSE(CopyFileW((base + u"/src").c_str(), (base + u"/dst").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), 112u);
  vr::fault::Reset();
  // Nothing but the copies is left behind.
  std::vector<DirEntry> entries;
  ASSERT_EQ(ListDirectory(base, entries), ERROR_SUCCESS);
  EXPECT_EQ(entries.size(), 3u);
}

TEST_F(Services, CurrentDirectory) {
  WString before;
  ASSERT_EQ(GetCurrentDirectory(before), ERROR_SUCCESS);
  std::filesystem::create_directory(dir_ / "cwd");
  EXPECT_TRUE(SetCurrentDirectoryW((W(dir_.path()) + u"\\cwd").c_str()));
  WChar buffer[4096];
  const DWORD n = GetCurrentDirectoryW(4096, buffer);
  EXPECT_EQ(WString(buffer, n), W(std::filesystem::canonical(dir_ / "cwd").string()));
  EXPECT_EQ(GetCurrentDirectoryW(2, buffer), n + 1);  // the size needed
  EXPECT_EQ(SetCurrentDirectory(W(dir_ / "nope")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetCurrentDirectory(W(dir_ / "nope/deeper")), ERROR_PATH_NOT_FOUND);
  vr::testing::WriteFileBytes(dir_ / "file", "");
  EXPECT_EQ(SetCurrentDirectory(W(dir_ / "file")), ERROR_DIRECTORY);
  vr::fault::Configure("os.SetCurrentDirectory#1=5");
  EXPECT_EQ(SetCurrentDirectory(before), ERROR_ACCESS_DENIED);
  vr::fault::Reset();
  EXPECT_EQ(SetCurrentDirectory(before), ERROR_SUCCESS);
}

TEST(CommandLine, WordsFollowTheHomePlatformsRules) {
  EXPECT_EQ(SplitCommandLine(u"VrMsClusterInfo -getInstallationStatus"),
            (std::vector<WString>{u"VrMsClusterInfo", u"-getInstallationStatus"}));
  EXPECT_EQ(SplitCommandLine(u"  \"C:\\Program Files\\t.exe\"  a\"b c\"d \t"),
            (std::vector<WString>{u"C:\\Program Files\\t.exe", u"ab cd"}));
  EXPECT_EQ(SplitCommandLine(u"a\\\\\\\"b c\\\\\"d e\" x\\y"),
            (std::vector<WString>{u"a\\\"b", u"c\\d e", u"x\\y"}));
  EXPECT_EQ(SplitCommandLine(u"\"say \"\"hi\"\"\""), (std::vector<WString>{u"say \"hi\""}));
  EXPECT_TRUE(SplitCommandLine(u"   ").empty());
}

TEST_F(Services, ProgramsRunWithTheirOutputInAFile) {
  const std::string script = dir_ / "tool";
  vr::testing::WriteFileBytes(script, "#!/bin/sh\necho \"out:$1\"\necho err >&2\nexit 7\n");
  ::chmod(script.c_str(), 0755);
  ScopedEnv path("PATH", dir_.path() + ":/usr/bin:/bin");
  std::unique_ptr<Process> p;
  const WString outFile = W(dir_ / "out.txt");
  ASSERT_EQ(StartProcess(u"tool \"two words\"", outFile, p), ERROR_SUCCESS);
  ASSERT_EQ(WaitForProcess(*p), ERROR_SUCCESS);
  DWORD code = 0;
  ASSERT_EQ(GetProcessExitCode(*p, code), ERROR_SUCCESS);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(vr::testing::ReadFileBytes(dir_ / "out.txt"), "out:two words\n");

  // "name.exe" finds "name"; a missing program and an empty line are refused.
  ASSERT_EQ(StartProcess(u"tool.exe x", outFile, p), ERROR_SUCCESS);
  ASSERT_EQ(WaitForProcess(*p), ERROR_SUCCESS);
  EXPECT_EQ(vr::testing::ReadFileBytes(dir_ / "out.txt"), "out:x\n");
  EXPECT_EQ(StartProcess(u"no-such-program-here", u"", p), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(StartProcess(u"  ", u"", p), ERROR_INVALID_PARAMETER);
  vr::testing::WriteFileBytes(dir_ / "plain", "not a program");
  EXPECT_EQ(StartProcess(W(dir_ / "plain"), u"", p), ERROR_ACCESS_DENIED);
  EXPECT_EQ(StartProcess(u"tool", W(dir_ / "no/out.txt"), p), ERROR_PATH_NOT_FOUND);
}

TEST_F(Services, ABareNameIsFoundBesideTheProgramAndInTheCurrentFolderBeforePath) {
  // The test program's own folder comes first: its name finds it with an empty PATH.
  const std::string own = RunningProgramFolder();
  ASSERT_FALSE(own.empty());
  ScopedEnv path("PATH", "/nonexistent");
  std::unique_ptr<Process> p;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  EXPECT_TRUE(std::filesystem::exists(own + "/" + self));
  const WString selfName = W(self);
  ASSERT_EQ(StartProcess(selfName + u" --gtest_list_tests --gtest_filter=None", W(dir_ / "self.txt"), p),
            ERROR_SUCCESS);
  ASSERT_EQ(WaitForProcess(*p), ERROR_SUCCESS);
  DWORD code = 1;
  ASSERT_EQ(GetProcessExitCode(*p, code), ERROR_SUCCESS);
  EXPECT_EQ(code, 0u);

  // Then the current folder, then PATH: the folder's own copy wins over PATH's.
  std::filesystem::create_directories(dir_ / "cwd");
  std::filesystem::create_directories(dir_ / "onpath");
  vr::testing::WriteFileBytes(dir_ / "cwd/here-tool", "#!/bin/sh\necho cwd\n");
  vr::testing::WriteFileBytes(dir_ / "onpath/here-tool", "#!/bin/sh\necho path\n");
  ::chmod((dir_ / "cwd/here-tool").c_str(), 0755);
  ::chmod((dir_ / "onpath/here-tool").c_str(), 0755);
  ScopedEnv path2("PATH", (dir_ / "onpath") + ":/usr/bin:/bin");
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir_ / "cwd");
  const long rc = StartProcess(u"here-tool", W(dir_ / "o.txt"), p);
  std::filesystem::current_path(before);
  ASSERT_EQ(rc, ERROR_SUCCESS);
  ASSERT_EQ(WaitForProcess(*p), ERROR_SUCCESS);
  EXPECT_EQ(vr::testing::ReadFileBytes(dir_ / "o.txt"), "cwd\n");
  ASSERT_EQ(StartProcess(u"here-tool", W(dir_ / "o.txt"), p), ERROR_SUCCESS);
  ASSERT_EQ(WaitForProcess(*p), ERROR_SUCCESS);
  EXPECT_EQ(vr::testing::ReadFileBytes(dir_ / "o.txt"), "path\n");
}

TEST_F(Services, WaitsEndAndFaultSettingsStayWithTheCaller) {
  const std::string script = dir_ / "slow";
  vr::testing::WriteFileBytes(script, "#!/bin/sh\necho \"[$VR_FAULTS]\"\nsleep 0.3\nkill -TERM $$\n");
  ::chmod(script.c_str(), 0755);
  ScopedEnv faults("VR_FAULTS", "registry.OpenKey#1=5");
  std::unique_ptr<Process> p;
  ASSERT_EQ(StartProcess(W(script), W(dir_ / "o"), p), ERROR_SUCCESS);
  DWORD code = 0;
  EXPECT_EQ(WaitForProcess(*p, 20), ERROR_WAIT_TIMEOUT);
  ASSERT_EQ(GetProcessExitCode(*p, code), ERROR_SUCCESS);
  EXPECT_EQ(code, STILL_ACTIVE);
  ASSERT_EQ(WaitForProcess(*p, kInfinite), ERROR_SUCCESS);
  ASSERT_EQ(GetProcessExitCode(*p, code), ERROR_SUCCESS);
  EXPECT_EQ(code, 128u + 15u);  // ended by SIGTERM
  EXPECT_EQ(vr::testing::ReadFileBytes(dir_ / "o"), "[]\n");

  vr::fault::Configure("os.StartProcess#1;os.WaitProcess#1=6;os.GetExitCode#1=6");
  EXPECT_EQ(StartProcess(W(script), u"", p), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(StartProcess(u"/bin/true", u"", p), ERROR_SUCCESS);
  EXPECT_EQ(WaitForProcess(*p), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetProcessExitCode(*p, code), ERROR_INVALID_HANDLE);
  vr::fault::Reset();
  EXPECT_EQ(WaitForProcess(*p), ERROR_SUCCESS);
}

TEST(Clock, TimeZoneBiasAndDaylightState) {
  {
    ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    TIME_ZONE_INFORMATION info;
    const DWORD id = GetTimeZoneInformation(&info);
    ASSERT_TRUE(id == TIME_ZONE_ID_STANDARD || id == TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(info.Bias, -60);
    EXPECT_EQ(info.StandardBias, 0);
    EXPECT_EQ(info.DaylightBias, -60);
    EXPECT_EQ(info.DaylightDate.wMonth, 3);
    EXPECT_EQ(info.DaylightDate.wDayOfWeek, 0);
    EXPECT_EQ(info.DaylightDate.wHour, 2);
    EXPECT_EQ(info.StandardDate.wMonth, 10);
    EXPECT_EQ(info.StandardDate.wHour, 3);
    EXPECT_EQ(WString(info.DaylightName), u"CEST");
    const time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    EXPECT_EQ(id, tm.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD);
    SYSTEMTIME st;
    GetLocalTime(&st);
    EXPECT_EQ(st.wYear, tm.tm_year + 1900);
    EXPECT_EQ(st.wMonth, tm.tm_mon + 1);
  }
  {
    ScopedEnv tz("TZ", "EST5");
    TIME_ZONE_INFORMATION info;
    EXPECT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, 300);
  }
  tzset();
  vr::fault::Configure("os.GetTimeZoneInformation#1");
  TIME_ZONE_INFORMATION info;
  EXPECT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_INVALID);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  vr::fault::Reset();
}

TEST(Computer, NameIsUpperCaseAndAtMostFifteenCharacters) {
  {
    ScopedEnv name("VR_COMPUTER_NAME", "vrms-node-with-a-long.example.com");
    WChar buffer[16];
    DWORD size = 16;
    ASSERT_TRUE(GetComputerNameW(buffer, &size));
    EXPECT_EQ(WString(buffer, size), u"VRMS-NODE-WITH-");
    size = 15;  // no room for the terminator
    EXPECT_FALSE(GetComputerNameW(buffer, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(size, 16u);
  }
  const WString host = ComputerName();
  EXPECT_FALSE(host.empty());
  EXPECT_LE(host.size(), 15u);
  EXPECT_EQ(host.find(u'.'), WString::npos);
  for (WChar c : host) EXPECT_FALSE(c >= u'a' && c <= u'z');
  vr::fault::Configure("os.GetComputerName#1=5");
  WChar buffer[16];
  DWORD size = 16;
  EXPECT_FALSE(GetComputerNameW(buffer, &size));
  EXPECT_EQ(GetLastError(), 5u);
  vr::fault::Reset();
}

}  // namespace
