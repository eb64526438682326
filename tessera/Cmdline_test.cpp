#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fault/fault.h"
#include "tessera/AppErrors.h"
#include "tessera/Cmdline.h"
#include "tessera/CmdlineValues.h"
#include "tests/support/FolderFixture.h"

namespace {

std::vector<WString> Args(std::initializer_list<const char16_t*> words) {
  std::vector<WString> v;
  for (const auto* w : words) v.emplace_back(w);
  return v;
}

int Check(const CCmdline& c, const vr::cmdline::OptionTable& t, WString& out) {
  return vr::cmdline::Validate(c, t, out);
}

class CmdlineTest : public vr::testing::FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    SetEnv("LC_ALL", "C");
  }
};

}  // namespace

TEST_F(CmdlineTest, SplitsOptionsAndValues) {
  CCmdline c(Args({u"-REG", u"a.xml", u"-Patch", u"VRMS_0200", u"-reinstall", u"-x", u"1", u"2"}));
  EXPECT_EQ(c.Status(), 4);
  EXPECT_TRUE(c.HasOption(u"-reg"));
  EXPECT_TRUE(c.HasOption(u"-patch"));
  EXPECT_FALSE(c.HasOption(u"-REG"));  // table names are lower case; the words were folded
  EXPECT_EQ(c.Value(u"-reg"), u"a.xml");
  EXPECT_EQ(c.ValueCount(u"-reinstall"), 0u);
  ASSERT_EQ(c.ValueCount(u"-x"), 2u);
  EXPECT_EQ(c.Value(u"-x", 1), u"2");
  // Values keep their case.
  EXPECT_EQ(c.Value(u"-patch"), u"VRMS_0200");
}

TEST_F(CmdlineTest, MinusDigitAndShortWordsAreValues) {
  CCmdline c(Args({u"-n", u"-5", u"-", u"-7x"}));
  EXPECT_EQ(c.Status(), 1);
  ASSERT_EQ(c.ValueCount(u"-n"), 3u);
  EXPECT_EQ(c.Value(u"-n", 0), u"-5");
  EXPECT_EQ(c.Value(u"-n", 1), u"-");
  EXPECT_EQ(c.Value(u"-n", 2), u"-7x");
}

TEST_F(CmdlineTest, SplitFailures) {
  CCmdline none(Args({}));
  EXPECT_EQ(none.Status(), 0);
  EXPECT_EQ(none.OptionCount(), 0u);

  CCmdline repeated(Args({u"-reg", u"a", u"-patch", u"p", u"-REG", u"b"}));
  EXPECT_EQ(repeated.Status(), CCmdline::kRepeatedOption);
  EXPECT_EQ(repeated.Word(), u"-reg");

  CCmdline leading(Args({u"value", u"-reg", u"a"}));
  EXPECT_EQ(leading.Status(), CCmdline::kLeadingValue);
  EXPECT_EQ(leading.Word(), u"value");

  // An empty first word is a value with no option before it.
  CCmdline empty(Args({u"", u"-reg"}));
  EXPECT_EQ(empty.Status(), CCmdline::kLeadingValue);
  EXPECT_EQ(empty.Word(), u"");
}

TEST_F(CmdlineTest, EmptyValuesAreNotStored) {
  CCmdline c(Args({u"-reg", u"", u"-patch", u"", u"p"}));
  EXPECT_EQ(c.Status(), 2);
  EXPECT_EQ(c.ValueCount(u"-reg"), 0u);
  ASSERT_EQ(c.ValueCount(u"-patch"), 1u);
  EXPECT_EQ(c.Value(u"-patch"), u"p");
}

TEST_F(CmdlineTest, ValueOfMissingOptionOrIndexThrows) {
  CCmdline c(Args({u"-reg", u"a"}));
  for (auto probe : {std::make_pair(u"-patch", 0), std::make_pair(u"-reg", 1)}) {
    try {
      c.Value(probe.first, probe.second);
      ADD_FAILURE() << "no exception";
    } catch (const CCmdline_error& e) {
      EXPECT_EQ(e.Code(), CCmdline::kMissingValueCode);
      EXPECT_EQ(e.Message(), probe.first);
    }
  }
}

TEST_F(CmdlineTest, LargeInputs) {
  std::vector<WString> args;
  for (int i = 0; i < 1000; ++i) args.push_back(u"-o" + WString(1, static_cast<char16_t>(0x4E00 + i)));
  args.push_back(WString(10000, u'v'));
  CCmdline c(args);
  EXPECT_EQ(c.Status(), 1000);
  EXPECT_EQ(c.Value(u"-o" + WString(1, static_cast<char16_t>(0x4E00 + 999))).size(), 10000u);
  WString out;
  EXPECT_EQ(Check(c, vr::cmdline::kRegisterTable, out), CCmdline::kMandatoryMissing);
  EXPECT_EQ(out, u"-reg");
}

TEST_F(CmdlineTest, GroupsConflictsAndCountForms) {
  const char16_t* names[] = {u"-a", u"-b", u"-c", u"-d", u"-e"};
  const char16_t* counts[] = {u"[0,2]", u"[1,1]", u"{0}", u"{2}", u"?"};
  const char16_t* reqs[] = {u"OG3", u"OG3", u"MG0", u"MG0", u"O"};
  const char16_t* conflicts[] = {u"*", u"*", u"-x,-e,*", u"*", u"*"};
  auto check = [&](std::initializer_list<const char16_t*> words, WString& out) {
    return CCmdline(Args(words)).Validate(5, names, counts, reqs, conflicts, out);
  };
  WString out;
  EXPECT_EQ(check({u"-c", u"-a", u"1", u"2"}, out), 0);
  EXPECT_EQ(check({u"-a"}, out), CCmdline::kGroupMemberMissing);
  EXPECT_EQ(out, u"-c, -d");
  EXPECT_EQ(check({u"-c", u"-d", u"1", u"2"}, out), CCmdline::kGroupMembersRepeated);
  EXPECT_EQ(out, u"-c, -d");
  EXPECT_EQ(check({u"-c", u"-a", u"-b", u"1"}, out), CCmdline::kGroupMembersRepeated);
  EXPECT_EQ(out, u"-a, -b");
  EXPECT_EQ(check({u"-c", u"-e"}, out), CCmdline::kConflict);
  EXPECT_EQ(out, u"-c, -e");
  EXPECT_EQ(check({u"-c", u"-a", u"1", u"2", u"3"}, out), CCmdline::kBadValueCount);
  EXPECT_EQ(out, u"-a");
  EXPECT_EQ(check({u"-d", u"1"}, out), CCmdline::kBadValueCount);
  EXPECT_EQ(out, u"-d");
  // A count column that is no rule fails whenever its option is present.
  const char16_t* counts2[] = {u"[0,2]", u"[1,1]", u"{0}", u"{2}", u"?"};
  const char16_t* conflicts2[] = {u"*", u"*", u"*", u"*", u"*"};
  EXPECT_EQ(CCmdline(Args({u"-c", u"-e"})).Validate(5, names, counts2, reqs, conflicts2, out),
            CCmdline::kBadValueCount);
  EXPECT_EQ(out, u"-e");
}

TEST_F(CmdlineTest, UnreadableListSeparatorIsABlank) {
  vr::fault::Configure("os.GetListSeparator#*");
  WString out;
  EXPECT_EQ(Check(CCmdline(Args({u"-log", u"x"})), vr::cmdline::kNeitherTable, out),
            CCmdline::kGroupMemberMissing);
  EXPECT_EQ(out, u"-reg  -unreg");
}

TEST_F(CmdlineTest, StatusToMessageId) {
  const std::pair<int, unsigned> map[] = {{-1, 20002}, {-2, 20000}, {-3, 20003}, {-4, 20004}, {-5, 20005},
                                          {-6, 20006}, {-7, 20007}, {0, 20001},  {-8, 20001}, {3, 20001}};
  for (const auto& [status, id] : map) EXPECT_EQ(vr::msg::ToNumber(CCmdline::StatusToMessageId(status)), id) << status;
}

TEST(CmdlineValues, DrivesSharesAndControlCharacters) {
  using namespace vr::cmdline;
  EXPECT_EQ(DriveOrShareOf(u"C:\\temp\\x.undo"), u"C:\\");
  EXPECT_EQ(DriveOrShareOf(u"z:x"), u"z:\\");
  EXPECT_EQ(DriveOrShareOf(u"\\\\srv\\share\\x"), u"\\\\srv\\share");
  EXPECT_EQ(DriveOrShareOf(u"//srv/share"), u"//srv/share");
  EXPECT_EQ(DriveOrShareOf(u"/srv/C:/x"), u"");
  EXPECT_EQ(DriveOrShareOf(u"1:\\x"), u"");
  EXPECT_TRUE(ShareNameMissing(u"\\\\srv"));
  EXPECT_TRUE(ShareNameMissing(u"\\\\srv\\"));
  EXPECT_FALSE(ShareNameMissing(u"\\\\srv\\s"));
  EXPECT_FALSE(ShareNameMissing(u"C:\\"));
  EXPECT_EQ(FindControlCharacter(u"ab\x7f"), 2u);
  EXPECT_EQ(FindControlCharacter(u"a\u0085"), 1u);
  EXPECT_FALSE(HasControlCharacter(u"VRMS_0200 \u00e9"));
  EXPECT_EQ(ShowControlCharacters(u"a\r\nb\u2029"), u"a\\x0D\\x0Ab\\x2029");
}
