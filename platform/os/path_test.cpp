#include <gtest/gtest.h>

#include "platform/os/locale.h"
#include "platform/os/path.h"
#include "tests/support/HostTestSupport.h"

using namespace vr::os;

TEST(FullPath, NormalisesBothSeparators) {
  WString out;
  ASSERT_TRUE(FullPath(u"\\tmp\\a\\..\\b\\.\\c.xml", out));
  EXPECT_EQ(out, u"/tmp/b/c.xml");
  ASSERT_TRUE(FullPath(u"/x//y/../../..", out));
  EXPECT_EQ(out, u"/");
  ASSERT_TRUE(FullPath(u"rel.txt", out));
  EXPECT_EQ(out.front(), u'/');
  EXPECT_EQ(out.substr(out.size() - 8), u"/rel.txt");
}

TEST(FullPath, RefusesSharesAndOverlongResults) {
  WString out = u"untouched";
  EXPECT_FALSE(FullPath(u"\\\\server\\share\\f", out));
  EXPECT_FALSE(FullPath(u"/" + WString(259, u'a'), out));
  EXPECT_TRUE(FullPath(u"/" + WString(258, u'a'), out));
}

TEST(FullPath, InvalidCharacters) {
  for (const char16_t* bad : {u"/a?b", u"/a*b", u"/a\"b", u"/a<b", u"/a>b", u"/a|b"})
    EXPECT_TRUE(HasInvalidPathChar(bad)) << static_cast<int>(bad[2]);
  EXPECT_FALSE(HasInvalidPathChar(u"/a/b:c"));
}

TEST(Locale, LanguageFromEnvironment) {
  for (const auto& [locale, langId] : {std::pair<const char*, int>{"ja_JP.UTF-8", 0x411}, {"zh_CN", 0x804}, {"zh_TW", 0x409}}) {
    vr::testing::ScopedEnv lcAll("LC_ALL", locale);
    EXPECT_EQ(GetUserDefaultLangId(), langId) << locale;
  }
  WString sep;
  EXPECT_TRUE(GetListSeparator(sep));
  EXPECT_FALSE(sep.empty());
}
