#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/qkit/qkit.h"
#include "tests/support/HostTestSupport.h"

namespace {
std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
}  // namespace

TEST(QkitString, BuildConcatenateFormat) {
  qkit_String_t a("abc", 2);
  EXPECT_EQ(a.str(), u"ab");
  EXPECT_EQ(qkit_String_t(42UL).str(), u"42");
  EXPECT_EQ(qkit_String_t(u'x', 3).str(), u"xxx");
  EXPECT_EQ(a.Concatenate("c").Concatenate(u"d").str(), u"abcd");
  EXPECT_EQ(a.str(), u"ab");  // Concatenate leaves the original alone
  qkit_String_t n;
  EXPECT_EQ(n.FormatNumber(static_cast<int>(0x80041002u), "0x%X").str(), u"0x80041002");
  EXPECT_EQ(n.FormatNumber(-12L, "%ld").str(), u"-12");
  EXPECT_EQ(n.FormatNumber(7UL, "%lu").str(), u"7");
  BSTR b = qkit_String_t(u"bstr").CreateBSTR();
  EXPECT_EQ(SysStringLen(b), 4u);
  SysFreeString(b);
}

TEST(QkitTrace, SinkMaskAndBlocks) {
  const std::string path = vr::testing::ScratchPath("qkit_trace.txt");
  std::remove(path.c_str());
  qkit_TraceObject_t block("tessera", _qkit_TraceTypeMap_t::eCatBlock);
  qkit_TraceObject_t msg("tessera", _qkit_TraceTypeMap_t::eCatMessage);
  qkit_SetTraceSink(path, _qkit_TraceTypeMap_t::eSevInfo);
  EXPECT_TRUE(msg.IsEnabled(1));
  EXPECT_FALSE(msg.IsEnabled(4));
  {
    qkit_BlockTrace_t b(block, "\"main\"", "tessera", 10, 16);
    msg.Trace(1, 0, qkit_String_t("\"main\"  progress"), "tessera", 11);
    EXPECT_FALSE(msg.Trace(4, 0, qkit_String_t("\"main\"  hidden error"), "tessera", 12));
  }
  qkit_SetTraceSink("", 0);
  EXPECT_FALSE(msg.IsEnabled(1));
  msg.Trace(1, 0, qkit_String_t("after close"), "tessera", 13);
  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("{ Enter \"main\""), std::string::npos);
  EXPECT_NE(text.find("\"main\"  progress"), std::string::npos);
  EXPECT_NE(text.find("} Leave \"main\""), std::string::npos);
  EXPECT_EQ(text.find("hidden error"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
}
