#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tessera/TesseraTrace.h"
#include "tests/support/HostTestSupport.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int Traced(int& built) {
  VR_TRACE_FUNCTION("Sample::Traced", "tessera", vr::trace::kRunFlags);
  VR_TRACE_INFO("count ", (++built, 3), " of ", 7UL);
  VR_TRACE_FAILURE("RegOpenKeyEx (\"HKEY_LOCAL_MACHINE\\", u"SOFTWARE\\X", "\")", 2L);
  VR_TRACE_FAILURE("CoCreateInstance", static_cast<long>(static_cast<int32_t>(0x80041002u)));
  return 0;
}

}  // namespace

TEST(TesseraTrace, MessageAndFailureTexts) {
  const std::string path = vr::testing::ScratchPath("tessera_trace.txt");
  std::remove(path.c_str());
  qkit_SetTraceSink(path, 0xFFFFFFFFu);
  int built = 0;
  Traced(built);
  qkit_SetTraceSink("", 0);
  const std::string t = ReadAll(path);
  EXPECT_NE(t.find("\"Sample::Traced\"  count 3 of 7"), std::string::npos) << t;
  EXPECT_NE(t.find("\"Sample::Traced\"  -> subHR failure from RegOpenKeyEx (\"HKEY_LOCAL_MACHINE\\SOFTWARE\\X\") = 0x80070002"), std::string::npos) << t;
  EXPECT_NE(t.find("from CoCreateInstance = 0x80041002"), std::string::npos) << t;
  EXPECT_EQ(built, 1);
}

TEST(TesseraTrace, DisabledSeverityBuildsNoText) {
  qkit_SetTraceSink("", 0);
  int built = 0;
  Traced(built);
  EXPECT_EQ(built, 0);
}
