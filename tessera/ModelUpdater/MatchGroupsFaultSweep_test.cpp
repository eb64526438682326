// Every fault point that applying match records and node groups reaches, failed one at a time:
// the apply fails, and the undo sink holds a line exactly for the changes that reached WMI.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tessera/ModelUpdater/MatchGroupsTestSupport.h"
#include "tessera/ModelUpdater/NodeGroupOperations.h"
#include "tessera/ModelUpdater/PlatformMatchOperations.h"

using namespace PlatformOperations;

namespace {

class MatchGroupsSweep : public MatchGroupsTest {
 protected:
  const std::vector<PlatformMatchChange> matches_{
      {{u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3", 2}, {u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3", 3}, NO_CHANGE, NO_CHANGE},
      {{}, {u"Linux 2.6", 3, 3, u"6260", 1}, ACTION_ADD, ACTION_REMOVE},
      {{u"Windows 2000", 1, 2, u"11", 1}, {u"Windows 2000", 1, 2, u"12", 2}, ACTION_MODIFY, ACTION_MODIFY}};
  const std::vector<NodeGroupChange> groups_{{{}, {u"Irix", u"IRIX", u"Unix"}, ACTION_ADD, ACTION_REMOVE},
                                             {{}, {u"Lab", u"Lab", u""}, ACTION_ADD, ACTION_REMOVE}};

  HRESULT Apply() {
    OperationContext context;
    const HRESULT hr = PlatformMatchOperations::RegisterUnregisterNewPlatforms(context, services_.get(), matches_, error_,
                                                                             undo_.get(), *log_);
    if (FAILED(hr)) return hr;
    return NodeGroupOperations::RegisterNewNodeGroups(context, services_.get(), groups_, error_, undo_.get(), *log_);
  }
  // The lines that the changes now in WMI must have left in the undo sink.
  std::vector<std::string> LinesOfWhatIsInWmi() {
    const char* lines[] = {"NODEDISC INCREMENT 2 2 \"3\" \"1.3.6.1.4.1.11.2.3.2.5\"", "NODEDISC ADD 3 3 \"6260\" \"Linux 2.6\"",
                           "NODEDISC CHANGE 1 2 \"11\" \"12\" \"Windows 2000\"", "NODEGROUP ADD Irix \"IRIX\" Unix",
                           "NODEGROUP ADD Lab \"Lab\" "};
    std::vector<std::string> out;
    for (size_t i = 0; i < matches_.size(); ++i) {
      const WString path = PlatformMatchOperations::ObjectPath(matches_[i].to);
      if (Prop(path.c_str(), u"RefCnt") == std::to_string(matches_[i].to.RefCnt) &&
          Prop(path.c_str(), u"Value") == vr::text::WideToUtf8(matches_[i].to.Value))
        out.push_back(lines[i]);
    }
    for (size_t i = 0; i < groups_.size(); ++i)
      if (Prop(NodeGroupOperations::GroupPath(groups_[i].to.Name).c_str(), u"Caption")) out.push_back(lines[3 + i]);
    return out;
  }
};

TEST_F(MatchGroupsSweep, EveryFailedCallLeavesLinesForExactlyWhatWasWritten) {
  const std::string faultLog = host_->root() + ".faults";
  vr::fault::SetLogFile(faultLog);
  ASSERT_EQ(Apply(), S_OK);
  vr::fault::SetLogFile("");
  EXPECT_EQ(Lines(*undo_), LinesOfWhatIsInWmi());
  EXPECT_EQ(Lines(*undo_).size(), 5u);
  std::vector<std::string> points;
  std::ifstream in(faultLog);
  for (std::string p; std::getline(in, p);)
    if (!p.empty()) points.push_back(p);
  ::unlink(faultLog.c_str());
  ASSERT_GT(points.size(), 30u);
  std::printf("sweeping %zu fault points\n", points.size());
  for (const std::string& point : points) {
    SCOPED_TRACE(point);
    Fresh();
    vr::fault::Configure(point + "=0x80041001");
    EXPECT_EQ(Apply(), E_FAIL);
    vr::fault::Reset();
    EXPECT_FALSE(error_.empty());
    EXPECT_EQ(Lines(*undo_), LinesOfWhatIsInWmi());
  }
}

}  // namespace
