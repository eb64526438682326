#include <gtest/gtest.h>

#include "platform/text/byte_order_mark.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"
#include "platform/text/line_escape.h"

using namespace vr::text;

TEST(Convert, Utf8RoundTripIncludingSurrogatePairs) {
  const std::string s = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A é € 😀
  WString w = Utf8ToWide(s);
  ASSERT_EQ(w.size(), 5u);
  EXPECT_EQ(w[3], 0xD83D);
  EXPECT_EQ(w[4], 0xDE00);
  EXPECT_EQ(WideToUtf8(w), s);
}

TEST(Convert, InvalidInputIsReplacedOrRefused) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("\xE2\x82"), u"\uFFFD\uFFFD");  // truncated
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
  WString out = u"keep";
  EXPECT_FALSE(Utf8ToWideStrict("\xED\xA0\x80", out));  // encoded surrogate
  EXPECT_EQ(out, u"keep");
  std::string n;
  EXPECT_FALSE(WideToUtf8Strict(WString(1, char16_t(0xD800)), n));
  EXPECT_EQ(WideToUtf8(WString(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(CaseFold, AsciiAndBmp) {
  EXPECT_TRUE(EqualsNoCase(u"-REG", u"-reg"));
  EXPECT_FALSE(EqualsNoCase(u"-reg", u"-re"));
  EXPECT_LT(CompareNoCase(u"abc", u"ABD"), 0);
  EXPECT_GT(CompareNoCase(u"abcd", u"ABC"), 0);
  EXPECT_EQ(ToUpper(u"stra\u00dfe \u00e9"), u"STRA\u00dfE \u00c9");
  EXPECT_EQ(ToLower(u"\u0130X"), u"\u0069x");
  EXPECT_EQ(FindNoCase(u"Hello World", u"WORLD"), 6u);
  EXPECT_EQ(FindNoCase(u"Hello", u"xyz"), WStringView::npos);
}

TEST(Format, StringsWidthPrecisionAndFlags) {
  EXPECT_EQ(Format(u"[%-20S]", WString(u"abc")), u"[abc                 ]");
  EXPECT_EQ(Format(u"[%8S]", u"abc"), u"[     abc]");
  EXPECT_EQ(Format(u"[%.40S]", WString(50, u'x')), u"[" + WString(40, u'x') + u"]");
  EXPECT_EQ(Format(u"[%-2.2S]", u"abcdef"), u"[ab]");
  EXPECT_EQ(Format(u"[%-2.2S]", u"a"), u"[a ]");
  EXPECT_EQ(Format(u"%s and %S", "narrow", u"wide"), u"narrow and wide");
  EXPECT_EQ(Format(u"%C%c", u'\u00e9', 'z'), u"\u00e9z");
}

TEST(Format, Numbers) {
  EXPECT_EQ(Format(u"0x%08X", 0x80041002u), u"0x80041002");
  EXPECT_EQ(Format(u"0x%08X", static_cast<int32_t>(0x80041002u)), u"0x80041002");
  EXPECT_EQ(Format(u"%08x|%04X|%02X", 0xABCu, 0x1Fu, 5), u"00000abc|001F|05");
  EXPECT_EQ(Format(u"%d %i %u", -5, 7, 3000000000u), u"-5 7 3000000000");
  EXPECT_EQ(Format(u"%ld %lu %02d", -70L, 70UL, 3), u"-70 70 03");
  EXPECT_EQ(Format(u"%0lX|%.8X|%X", 0x1234L, 0xAu, 255), u"1234|0000000A|FF");
  EXPECT_EQ(Format(u"%5d|%-5d|%+d", 42, 42, 42), u"   42|42   |+42");
  EXPECT_EQ(Format(u"100%%"), u"100%");
}

TEST(Format, BadFormatsNeverCrash) {
  EXPECT_EQ(Format(u"%S %d"), u" ");            // missing arguments print nothing
  EXPECT_EQ(Format(u"tail %"), u"tail %");       // dangling conversion
  EXPECT_EQ(Format(u"%q", 1), u"%q");             // unknown conversion
  EXPECT_EQ(Format(u"%d", u"text"), u"0");        // mismatched argument
  EXPECT_EQ(Format(u"%S", 12), u"12");
  EXPECT_EQ(Format(u"%99999S", u"a").size(), 4096u);
  EXPECT_EQ(FormatA("%s=%S", "k", u"\u00e9"), "k=\xC3\xA9");
}

TEST(ByteOrderMark, SniffedAndSkipped) {
  EXPECT_EQ(SniffByteOrderMark("\xEF\xBB\xBFx"), ByteOrderMark::Utf8);
  EXPECT_EQ(SniffByteOrderMark("\xFF\xFE"), ByteOrderMark::Utf16Le);
  EXPECT_EQ(SniffByteOrderMark("\xFE\xFF" "ab"), ByteOrderMark::Utf16Be);
  EXPECT_EQ(SniffByteOrderMark("\xEF\xBB"), ByteOrderMark::None);  // part of a mark is none
  EXPECT_EQ(SniffByteOrderMark(""), ByteOrderMark::None);
  EXPECT_EQ(SniffByteOrderMark("\xFF"), ByteOrderMark::None);
  EXPECT_EQ(ByteOrderMarkLength(ByteOrderMark::Utf8), 3u);
  EXPECT_EQ(ByteOrderMarkLength(ByteOrderMark::Utf16Be), 2u);
  EXPECT_EQ(ByteOrderMarkLength(ByteOrderMark::None), 0u);
  EXPECT_EQ(SkipUtf8Mark("\xEF\xBB\xBF" "ab"), "ab");
  EXPECT_EQ(SkipUtf8Mark("\xFF\xFE" "ab"), "\xFF\xFE" "ab");
}

TEST(ByteOrderMark, MarkedTextDecodes) {
  WString text;
  EXPECT_EQ(DecodeMarkedText(std::string_view("\xFF\xFE" "A\0\x3D\xD8", 6), text), MarkedTextResult::Ok);
  EXPECT_EQ(text, WString(u"A\xD83D"));  // units as they are, a lone surrogate too
  EXPECT_EQ(DecodeMarkedText(std::string_view("\xFE\xFF\0A\0B", 6), text), MarkedTextResult::Ok);
  EXPECT_EQ(text, u"AB");
  EXPECT_EQ(DecodeMarkedText("\xEF\xBB\xBF" "caf\xC3\xA9", text), MarkedTextResult::Ok);
  EXPECT_EQ(text, u"caf\u00E9");
  EXPECT_EQ(DecodeMarkedText("plain", text), MarkedTextResult::Ok);
  EXPECT_EQ(text, u"plain");
  EXPECT_EQ(DecodeMarkedText("", text), MarkedTextResult::Ok);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(DecodeMarkedText("\xFF\xFE" "A", text), MarkedTextResult::OddUtf16);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(DecodeMarkedText("bad \xFF here", text), MarkedTextResult::InvalidUtf8);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(DecodeMarkedText("\xEF\xBB\xBF\xED\xA0\x80", text), MarkedTextResult::InvalidUtf8);  // a surrogate
}

TEST(LineEscape, FieldsAndLinesRoundTripAndKeepTheirBytes) {
  const std::string text = std::string("a\\b\tc\nd\re\\t") + '\0' + "\xC3\xA9";
  const std::string field = EscapeLineText(text);
  EXPECT_EQ(field, std::string("a\\\\b\\tc\\nd\\re\\\\t") + '\0' + "\xC3\xA9");
  EXPECT_EQ(field.find('\t'), std::string::npos);
  EXPECT_EQ(field.find('\n'), std::string::npos);
  std::string back;
  EXPECT_TRUE(UnescapeLineText(field, back));
  EXPECT_EQ(back, text);

  // One text per line keeps its tabs; it reads back the same way.
  const std::string line = EscapeLineText("a\tb\\c\r\n", TabEscape::kKeep);
  EXPECT_EQ(line, "a\tb\\\\c\\r\\n");
  EXPECT_TRUE(UnescapeLineText(line, back));
  EXPECT_EQ(back, "a\tb\\c\r\n");
  EXPECT_TRUE(UnescapeLineText("", back));
  EXPECT_EQ(back, "");
}

TEST(LineEscape, TextNoEscapeWroteIsRefusedWithALenientReading) {
  std::string back = "old";
  EXPECT_FALSE(UnescapeLineText("ends\\", back));
  EXPECT_EQ(back, "ends\\");
  EXPECT_FALSE(UnescapeLineText("a\\qb\\n", back));
  EXPECT_EQ(back, "aqb\n");
  EXPECT_FALSE(UnescapeLineText("\\", back));
  EXPECT_EQ(back, "\\");
}
