// The package section's record: its field codec and lines read back to the same record,
// a record cut short reads as not complete, and lines of another kind are refused.
#include "tessera/Packages/PackageRecord.h"

#include <gtest/gtest.h>

using namespace vr::pkg;

TEST(PackageRecord, FieldsOfAnyTextReadBackExactly) {
  const WString texts[] = {u"",
                           u"plain",
                           u"tab\there, line\r\nend, back\\slash",
                           u"\\t is no tab",
                           WString(u"nul\0and bell\a", 13),
                           u"\u00e9\u4e2d\U0001F600",
                           WString(1, static_cast<WChar>(0xD800)) + u"lone",
                           u"trail" + WString(1, static_cast<WChar>(0xDC00))};
  for (const WString& text : texts) {
    const std::string field = EncodeField(text);
    EXPECT_EQ(field.find('\t'), std::string::npos);
    EXPECT_EQ(field.find('\n'), std::string::npos);
    WString back;
    ASSERT_TRUE(DecodeField(field, back)) << field;
    EXPECT_EQ(back, text) << field;
  }
  WString out;
  for (const char* bad : {"\\", "\\x", "\\u12", "\\u12G4", "\xC3"}) EXPECT_FALSE(DecodeField(bad, out)) << bad;
}

TEST(PackageRecord, LinesReadBackToTheSameRecord) {
  PackageRecord record;
  RecordedPackage absent;
  absent.name = u"New\tPkg";
  absent.version = u"1.0";
  RecordedPackage present;
  present.present = true;
  present.row = {u"7", u"Old", u"2.0", u"{L}", u"D", u"local", u"multi\nline"};
  present.modules = {{u"{P1}", u"7", u"2", u"11", u"", u"M", u"local"}, {u"{p2}", u"7", u"2", u"6", u"", u"M", u"local"}};
  record.packages = {absent, present};
  record.logicalIds = {{u"3", u"790C06B4-844E-11D2-972B-080009Ef8C2A"}};
  record.values = {{u"SOFTWARE\\K", u"WinPkgInfo", true, 1, std::string("1\0.\0", 4)}, {u"SOFTWARE\\K", u"UxAgtInfo", false, 0, {}}};
  record.keys = {{u"SOFTWARE\\K", false}, {u"SOFTWARE\\K\\P", true}};
  const std::string text = SerializeRecord(record);
  PackageRecord back;
  std::string why;
  ASSERT_TRUE(ParseRecord(text, back, why)) << why;
  EXPECT_TRUE(back.complete);
  ASSERT_EQ(back.packages.size(), 2u);
  EXPECT_FALSE(back.packages[0].present);
  EXPECT_EQ(back.packages[0].name, u"New\tPkg");
  EXPECT_EQ(back.packages[1].row, present.row);
  EXPECT_EQ(back.packages[1].modules, present.modules);
  ASSERT_EQ(back.values.size(), 2u);
  EXPECT_EQ(back.values[0].data, std::string("1\0.\0", 4));
  EXPECT_EQ(back.values[0].type, 1u);
  EXPECT_FALSE(back.values[1].present);
  ASSERT_EQ(back.keys.size(), 2u);
  EXPECT_TRUE(back.keys[1].present);
  EXPECT_EQ(back.logicalIds[0].logicalId, u"790C06B4-844E-11D2-972B-080009Ef8C2A");
  EXPECT_EQ(SerializeRecord(back), text);

  // Cut short anywhere before its end: read to the last whole line, never complete.
  for (size_t cut = 0; cut + 4 < text.size(); cut += 7) {
    PackageRecord part;
    ASSERT_TRUE(ParseRecord(text.substr(0, cut), part, why)) << cut << ": " << why;
    EXPECT_FALSE(part.complete) << cut;
  }
  for (const char* bad : {"package-record\t2\nend\n", "something\nend\n", "package-record\t1\nmodule\ta\tb\tc\td\te\tf\tg\nend\n",
                          "package-record\t1\nvalue\tk\tn\t1\tABC\nend\n", "package-record\t1\nend\nend\n"}) {
    PackageRecord r;
    EXPECT_FALSE(ParseRecord(bad, r, why)) << bad;
    EXPECT_FALSE(why.empty());
  }
}
