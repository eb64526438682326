#include "tessera/Files/VrCrc32.h"

#include <gtest/gtest.h>

TEST(VrCrc32, NarrowFormIsTheStandardCrc32) {
  const VrCrc32 crc;
  uint32_t r = 1;
  ASSERT_TRUE(crc.Update(std::string_view("123456789"), r));
  EXPECT_EQ(r, 0xCBF43926u);
  ASSERT_TRUE(crc.Update(std::string_view("The quick brown fox jumps over the lazy dog"), r));
  EXPECT_EQ(r, 0x414FA339u);
  ASSERT_TRUE(crc.Update(std::string_view(""), r));
  EXPECT_EQ(r, 0u);
  ASSERT_TRUE(crc.Update(std::string_view("a"), r));
  EXPECT_EQ(r, 0xE8B7BE43u);
}

TEST(VrCrc32, WideFormFeedsOnlyTheLowByte) {
  const VrCrc32 crc;
  uint32_t narrow = 0, wide = 0, high = 0;
  ASSERT_TRUE(crc.Update(std::string_view("123456789"), narrow));
  ASSERT_TRUE(crc.Update(WStringView(u"123456789"), wide));
  EXPECT_EQ(wide, narrow);
  // U+4131 and U+0031 share their low byte.
  ASSERT_TRUE(crc.Update(WStringView(u"\x4131" u"23456789"), high));
  EXPECT_EQ(high, narrow);
  uint32_t bom = 0, ff = 0;
  ASSERT_TRUE(crc.Update(WStringView(u"\xFEFF" u"ab"), bom));
  ASSERT_TRUE(crc.Update(std::string_view("\xFF" "ab"), ff));
  EXPECT_EQ(bom, ff);
}
