#include <gtest/gtest.h>

#include <string>

#include "tessera/Console.h"

using vr::console::FormatConsoleText;

namespace {

WString Format(WStringView text, int kind) { return FormatConsoleText(text, 10, 80, kind); }

// Every line of a formatted text: at most 80 columns unless it is one word behind the indent.
void ExpectWrapped(const WString& out) {
  size_t pos = 0;
  while (pos < out.size()) {
    const size_t end = out.find(u'\n', pos);
    ASSERT_NE(end, WString::npos) << "the text does not end with a line end";
    const WString line = out.substr(pos, end - pos);
    if (line.size() > 80) {
      EXPECT_EQ(line.find(u' ', 10), WString::npos) << "overlong line of several words";
    }
    if (pos > 0 && !line.empty()) {
      EXPECT_EQ(line.substr(0, 10), WString(10, u' '));
    }
    pos = end + 1;
  }
}

}  // namespace

TEST(ConsoleFormat, PrefixesArePaddedToTheIndent) {
  EXPECT_EQ(Format(u"(CMDL101) Incorrect command line syntax.\n", 0),
            u"ERROR:    (CMDL101) Incorrect command line syntax.\n");
  EXPECT_EQ(Format(u"Something odd.\n", 1), u"WARNING:  Something odd.\n");
  EXPECT_EQ(Format(u"One step.\n", 5), u"*         One step.\n");
  // A text without a final line end is still ended.
  EXPECT_EQ(Format(u"(TESSERA806) Parameter after -cluster ('x') can only be either 'full' or 'local'.", 0),
            u"ERROR:    (TESSERA806) Parameter after -cluster ('x') can only be either 'full'\n"
            u"          or 'local'.\n");
  EXPECT_EQ(Format(u"", 0), u"ERROR:\n");
}

TEST(ConsoleFormat, WrapsAtEightyWithHangingIndent) {
  const WString text =
      u"(TESSERA420) Unspecified error occured in method 'CVrPlatformRegistration::RegisterPlatform' - use "
      u"tracing to get more detailed information.\n";
  EXPECT_EQ(Format(text, 0),
            u"ERROR:    (TESSERA420) Unspecified error occured in method\n"
            u"          'CVrPlatformRegistration::RegisterPlatform' - use tracing to get more\n"
            u"          detailed information.\n");
  // Exactly 80 columns fit; one more breaks.
  const WString seventy = WString(65, u'a') + u" bcd";  // 69 characters
  EXPECT_EQ(Format(seventy + u"e", 0), u"ERROR:    " + seventy + u"e\n");
  EXPECT_EQ(Format(seventy + u"ef", 0), u"ERROR:    " + WString(65, u'a') + u"\n          bcdef\n");
}

TEST(ConsoleFormat, LongWordsStayWhole) {
  const WString path = u"/" + WString(150, u'p');
  EXPECT_EQ(Format(u"File '" + path + u"' is bad.\n", 0),
            u"ERROR:    File\n          '" + path + u"'\n          is bad.\n");
  EXPECT_EQ(Format(path, 1), u"WARNING:  " + path + u"\n");
}

TEST(ConsoleFormat, EveryLineOfAMultiLineTextIsIndented) {
  const WString text =
      u"(TESSERA6) MS XML DOM could not open '/srv/patch/VRMS_0200.xml' for reading. Please check if:\n"
      u"- DTD file specified in XML exist\n- XML is valid according to DTD file.\n";
  const WString out = Format(text, 0);
  EXPECT_EQ(out,
            u"ERROR:    (TESSERA6) MS XML DOM could not open '/srv/patch/VRMS_0200.xml' for\n"
            u"          reading. Please check if:\n"
            u"          - DTD file specified in XML exist\n"
            u"          - XML is valid according to DTD file.\n");
  ExpectWrapped(out);
  // Blank lines inside stay blank; inner runs of blanks are kept.
  EXPECT_EQ(Format(u"a  b\n\nc\n", 0), u"ERROR:    a  b\n\n          c\n");
}

TEST(ConsoleFormat, KindFourStandsAsItIs) {
  const WString usage = u"\nUsage:\n  -reg <ConfigFile>   " + WString(120, u'x') + u"\n";
  EXPECT_EQ(Format(usage, 4), usage);
  EXPECT_EQ(Format(u"no line end", 4), u"no line end");
}

TEST(ConsoleFormat, SurrogatePairsCountAsOneColumn) {
  WString smile = u"\U0001F600";
  WString word;
  for (int i = 0; i < 35; ++i) word += smile;  // 35 columns, 70 code units
  const WString text = word + u" " + word;  // 71 columns: does not fit in 70
  EXPECT_EQ(Format(text, 0), u"ERROR:    " + word + u"\n          " + word + u"\n");
  const WString shorter = word + u" " + word.substr(0, 68);  // 35 + 1 + 34 = 70 columns
  EXPECT_EQ(Format(shorter, 0), u"ERROR:    " + shorter + u"\n");
}

TEST(ConsolePrint, ErrorsAndWarningsGoToStandardErrorAsUtf8) {
  std::string out, err;
  vr::console::SetConsoleWriter([&](bool toStderr, std::string_view s) { (toStderr ? err : out) += s; });
  vr::console::PrintConsoleText(u"Fehler \u00e4\n", vr::console::kError);
  vr::console::PrintConsoleText(u"Warnung\n", vr::console::kWarning);
  vr::console::PrintConsoleText(u"\nUsage:\n", vr::console::kPlain);
  vr::console::PrintConsoleText(u"step\n", vr::console::kBullet);
  vr::console::WriteStderr(u"\nsummary\n");
  vr::console::SetConsoleWriter({});
  EXPECT_EQ(err, "ERROR:    Fehler \xc3\xa4\nWARNING:  Warnung\n\nsummary\n");
  EXPECT_EQ(out, "\nUsage:\n*         step\n");
}
