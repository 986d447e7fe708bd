#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/TextConverter.h"
#include "base/TextFormat.h"

namespace {

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm fields = {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  return mktime(&fields);
}

}  // namespace

TEST(TextConverter, ChineseRoundTripsThroughAllThreeEncodings) {
  CTextConverter converter;
  const char* gbk = "沐岚星客服工作台";
  ASSERT_EQ(16u, strlen(gbk));  // narrow literals are GBK (two bytes a character), as the ANSI code page

  std::wstring wide = converter.AnsiToWide(gbk);
  EXPECT_EQ(std::wstring(L"沐岚星客服工作台"), wide);

  std::string utf8 = converter.WideToUtf8(wide.c_str());
  EXPECT_EQ(std::string(u8"沐岚星客服工作台"), utf8);
  EXPECT_STREQ(gbk, converter.Utf8ToAnsi(utf8.c_str()));
  EXPECT_EQ(utf8, converter.AnsiToUtf8(gbk));
  EXPECT_EQ(std::wstring(L"沐岚星客服工作台"), converter.Utf8ToWide(utf8.c_str()));
  EXPECT_STREQ("沐岚", converter.WideToAnsi(wide.c_str(), 2));
}

TEST(TextConverter, EmptyAndNullInputsGiveTheDocumentedResults) {
  CTextConverter converter;
  ASSERT_NE(nullptr, converter.AnsiToWide(""));
  EXPECT_EQ(L'\0', converter.AnsiToWide("")[0]);
  EXPECT_EQ(nullptr, converter.AnsiToWide(nullptr));
  EXPECT_EQ(nullptr, converter.Utf8ToAnsi(""));
  EXPECT_EQ(nullptr, converter.Utf8ToWide(nullptr));
  EXPECT_EQ(nullptr, converter.WideToAnsi(L""));
  EXPECT_EQ(nullptr, converter.WideToUtf8(nullptr));
  // Characters outside GBK have no ANSI form but still convert (to the default character).
  EXPECT_NE(nullptr, converter.Utf8ToAnsi(u8"\U0001F600"));
}

TEST(TextConverter, ResultsStayValidUntilTheNextConversion) {
  CTextConverter first, second;
  const char* a = first.AnsiToUtf8("甲");
  const char* b = second.AnsiToUtf8("乙");
  EXPECT_STREQ(u8"甲", a);
  EXPECT_STREQ(u8"乙", b);
}

TEST(JsonQuoting, EscapesToPureAscii) {
  CTextConverter converter;
  EXPECT_STREQ("\\u4e2d\\u6587", converter.JsonEscape("中文"));
  EXPECT_STREQ("a&'<>\\/b", converter.JsonEscape("a&'<>/b"));
  EXPECT_STREQ("\\\"\\\\\\b\\t\\n\\f\\r\\u0001\x7f", converter.JsonEscape("\"\\\b\t\n\f\r\x01\x7f"));
  EXPECT_STREQ("", converter.JsonEscape(""));
  EXPECT_STREQ("", converter.JsonEscape(nullptr));
  EXPECT_EQ("\"\"", JsonQuote(""));
  EXPECT_EQ("\"http:\\/\\/config.velmor.example\\/loader.db\"", JsonQuote("http://config.velmor.example/loader.db"));
}

TEST(FormatString, FormatsAndGrowsForLongArguments) {
  std::string out;
  EXPECT_EQ(13, FormatString(out, "%d.%d.%d-%s", 1, 20, 300, "beta"));
  EXPECT_EQ("1.20.300-beta", out);

  std::string longArgument(100000, 'x');
  EXPECT_EQ(100002, FormatString(out, "[%s]", longArgument.c_str()));
  EXPECT_EQ('[', out.front());
  EXPECT_EQ(']', out.back());

  EXPECT_EQ(4, FormatString(out, "%s", "中文"));  // GBK bytes pass through unchanged
  EXPECT_EQ("中文", out);
  EXPECT_EQ(4, FormatString(out, "%.2f", 1.5));
  EXPECT_EQ("1.50", out);
}

TEST(FormatString, AnEmptyResultIsAFailure) {
  std::string out = "previous";
  EXPECT_EQ(-1, FormatString(out, "%s", ""));
  EXPECT_TRUE(out.empty());
  const char* emptyFormat = "";
  EXPECT_EQ(-1, FormatString(out, emptyFormat));
}

TEST(GuidText, IsThirtyTwoLowercaseHexDigitsAndNew) {
  std::string first = NewGuidText();
  ASSERT_EQ(32u, first.size());
  EXPECT_EQ(std::string::npos, first.find_first_not_of("0123456789abcdef"));
  EXPECT_NE(first, NewGuidText());
}

TEST(LocalTimeText, PadsEveryField) {
  EXPECT_EQ("2016-03-05 09:07:03", FormatLocalTime(LocalTime(2016, 3, 5, 9, 7, 3)));
  EXPECT_EQ("1999-12-31 23:59:59", FormatLocalTime(LocalTime(1999, 12, 31, 23, 59, 59)));
}

TEST(VariantDate, ParsesLocalAndEnglishForms) {
  long long parsed = 0;
  ASSERT_TRUE(ParseVariantDate("2026-12-08 10:00:00", &parsed));
  EXPECT_EQ(LocalTime(2026, 12, 8, 10, 0, 0), parsed);
  // English month names are refused by a Chinese user locale and parsed in US English.
  ASSERT_TRUE(ParseVariantDate("08 Dec 2026 10:00:00", &parsed));
  EXPECT_EQ(LocalTime(2026, 12, 8, 10, 0, 0), parsed);
  ASSERT_TRUE(ParseVariantDate("10:00:05 Dec 8 2026", &parsed));
  EXPECT_EQ(LocalTime(2026, 12, 8, 10, 0, 5), parsed);
  ASSERT_TRUE(ParseVariantDate("2024-02-29 23:59:59", &parsed));
  EXPECT_EQ("2024-02-29 23:59:59", FormatLocalTime(parsed));
}

TEST(VariantDate, RefusesTextsThatAreNoDates) {
  long long parsed = 12345;
  EXPECT_FALSE(ParseVariantDate("not a date", &parsed));
  EXPECT_FALSE(ParseVariantDate("", &parsed));
  EXPECT_FALSE(ParseVariantDate(nullptr, &parsed));
  EXPECT_FALSE(ParseVariantDate("1969-01-01 00:00:00", &parsed));  // before the epoch: not positive
  EXPECT_EQ(12345, parsed);
}

TEST(TextConverter, OnlyWellFormedUtf8IsValid) {
  struct Case {
    const char* bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii", true},
      {u8"中文 \U0001F600 \U0010FFFF", true},
      {"\x80", false},                  // a continuation byte without a lead
      {"\xE4\xB8", false},              // cut short
      {"\xE4\x41\xAD", false},          // a lead followed by ASCII
      {"\xC0\xAF", false},              // overlong "/"
      {"\xE0\x80\xAF", false},          // overlong "/" in three bytes
      {"\xED\xA0\x80", false},          // a surrogate
      {"\xF4\x90\x80\x80", false},      // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", false},  // five-byte forms do not exist
      {"\xD6\xD0\xCE\xC4", false},      // GBK, not UTF-8
  };
  for (const Case& c : cases) EXPECT_EQ(c.valid, IsValidUtf8(c.bytes)) << c.bytes;
}
