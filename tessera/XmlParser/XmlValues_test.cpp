#include <gtest/gtest.h>

#include "tessera/XmlParser/XmlValues.h"

using XmlValues::ParseWholeInt32;
using XmlValues::ScanLong;

TEST(XmlNumbers, WholeDecimalIntegersOnly) {
  int32_t v = 7;
  EXPECT_TRUE(ParseWholeInt32(u"0", v)); EXPECT_EQ(v, 0);
  EXPECT_TRUE(ParseWholeInt32(u"-1000", v)); EXPECT_EQ(v, -1000);
  EXPECT_TRUE(ParseWholeInt32(u"+12", v)); EXPECT_EQ(v, 12);
  EXPECT_TRUE(ParseWholeInt32(u"2147483647", v)); EXPECT_EQ(v, 2147483647);
  EXPECT_TRUE(ParseWholeInt32(u"-2147483648", v)); EXPECT_EQ(v, INT32_MIN);
  v = 7;
  for (const char16_t* bad : {u"", u"-", u"+", u"12a", u"a12", u"1 2", u"0x10", u"1.0", u"2147483648",
                              u"-2147483649", u"99999999999999999999", u"\uff11"}) {
    EXPECT_FALSE(ParseWholeInt32(bad, v)) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    EXPECT_EQ(v, 7);  // untouched on failure
  }
}

TEST(XmlNumbers, ScanLongReadsLikePercentLd) {
  int32_t v = 0;
  EXPECT_TRUE(ScanLong(u"  -1000", v)); EXPECT_EQ(v, -1000);
  EXPECT_TRUE(ScanLong(u"\t12abc", v)); EXPECT_EQ(v, 12);   // what follows the digits is ignored
  EXPECT_TRUE(ScanLong(u"+3 4", v)); EXPECT_EQ(v, 3);
  EXPECT_FALSE(ScanLong(u"", v));
  EXPECT_FALSE(ScanLong(u"abc", v));
  EXPECT_FALSE(ScanLong(u"- 5", v));
  EXPECT_FALSE(ScanLong(u"4294967296", v));  // does not fit: skipped rather than wrapped
}

TEST(XmlVersionLists, PiecesCompareWithoutTheirBlanksAndCase) {
  using XmlValues::VersionListHas;
  EXPECT_TRUE(VersionListHas(u"A.07.49 | A.07.50 ", u"A.07.50"));
  EXPECT_TRUE(VersionListHas(u"\tall|x", u"ALL"));
  EXPECT_TRUE(VersionListHas(u"A.07.50", u" a.07.50 "));
  EXPECT_FALSE(VersionListHas(u"A.07.5|A.07.500", u"A.07.50"));
  EXPECT_FALSE(VersionListHas(u"A.07.50||", u""));
  EXPECT_FALSE(VersionListHas(u" | ", u" "));
}
