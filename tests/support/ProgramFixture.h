// The fixture of an end-to-end test: the test's own folder (dir_, named after the test) with
// the host root in it (host_, which the test makes with `vrhost init`), and the installed
// programs run on that host through the one program runner with the fixture's environment,
// programEnv_ ("NAME=value" entries, VR_HOST_ROOT first), which a fixture extends in its
// constructor and a run extends or overrides with entries of its own. The programs run in
// processes of their own, so the fixture links nothing of the platform.
//
//   class MyE2e : public vr::testing::ProgramFixture {
//    protected:
//     MyE2e() { programEnv_.push_back("VR_COMPUTER_NAME=THISNODE"); }
//     RunResult Vrhost(std::vector<std::string> args) { return Run(VRHOST, args); }
//   };
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/HostTestSupport.h"
#include "tests/support/SweepParts.h"

namespace vr::testing {

class ProgramFixture : public ::testing::Test {
 protected:
  // The environment of a program run: programEnv_ with the entries of `extra` merged in.
  std::vector<std::string> ProgramEnv(const std::vector<std::string>& extra = {}) const {
    return MergeEnv(programEnv_, extra);
  }
  // Runs a program to its end on the fixture's host, output captured.
  RunResult Run(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& extra = {}, const std::string& input = {}) const {
    return RunProgram(program, args, ProgramEnv(extra), input);
  }

  const TempDir dir_{"vr-" + CurrentTestName()};  // the test's folder
  const std::string host_ = dir_ / "host";        // the host root in it
  std::vector<std::string> programEnv_ = {"VR_HOST_ROOT=" + host_};
};

}  // namespace vr::testing
