#include "text/code_page.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

TEST(CodePage, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte)
    all.push_back(static_cast<char>(byte));
  EXPECT_EQ(UnicodeToAnsi(AnsiToUnicode(all)), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

TEST(CodePage, MapsCyrillicAndPunctuation) {
  EXPECT_EQ(AnsiToUnicode("\xC0\xFF\xA8\xB8\xB9\x88"), u"\u0410\u044F\u0401\u0451\u2116\u20AC");
  EXPECT_EQ(AnsiToUtf8("\xD2\xE8\xEF"), "\xD0\xA2\xD0\xB8\xD0\xBF");
  EXPECT_EQ(AnsiToUnicode(""), u"");
}

TEST(CodePage, CharactersTheCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(UnicodeToAnsi(u"a\u4E2Db"), "a?b");
  EXPECT_EQ(UnicodeToAnsi(u"\U0001F600"), "?");
  EXPECT_EQ(UnicodeToAnsi(std::u16string(1, char16_t{0xD800})), "?");
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");
}

struct MalformedUtf8 {
  std::string input;
  std::string ansi;
};

class Utf8Decoding : public testing::TestWithParam<MalformedUtf8> {};

TEST_P(Utf8Decoding, ReplacesMalformedSequences) {
  EXPECT_EQ(Utf8ToAnsi(GetParam().input), GetParam().ansi);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decoding,
    testing::Values(MalformedUtf8{"GetOK", "GetOK"},
                    MalformedUtf8{"\xFFOK", "?OK"},             // invalid lead byte
                    MalformedUtf8{"\xD0OK", "?OK"},             // cut sequence
                    MalformedUtf8{"\xC0\xAF", "??"},            // overlong slash
                    MalformedUtf8{"\xED\xA0\x80x", "???x"},     // encoded surrogate
                    MalformedUtf8{"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
                    MalformedUtf8{"\xD0\xA1\xD0", "\xD1?"},     // good then cut
                    MalformedUtf8{"\xE2\x84\x96", "\xB9"}));    // numero sign

TEST(CodePage, Utf16AndUtf8ConvertBothWays) {
  std::u16string text = u"A\u0416\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUnicode(UnicodeToUtf8(text)), text);
  EXPECT_EQ(Utf8ToUnicode("\xFF"), u"?");
}

TEST(CodePage, FindsTheAsciiRunATextStartsWith) {
  struct Case {
    std::string text;
    std::size_t length;
  };
  const Case cases[] = {
      {"", 0},
      {"GetOK", 5},
      {"\xC0", 0},
      {"1234567\x80", 7},   // within the first eight bytes
      {"12345678\xFF", 8},  // right behind them
      {"123456789012345\xC0"
       "abc",
       15},                           // in the second eight
      {std::string("ab\0cd", 5), 5},  // NUL is ASCII too
      {"<Pass_Val>\xD2\xF3</Pass_Val>", 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AsciiPrefixLength(c.text), c.length) << c.text;
  }
  // Texts that turn to non-ASCII anywhere convert whole, both ways.
  const std::string ansi = "Flight 1402 \xC0\xFD\xF0\xEE\xEF\xEE\xF0\xF2 UUEE";
  EXPECT_EQ(AnsiToUtf8(ansi),
            "Flight 1402 \xD0\x90\xD1\x8D\xD1\x80\xD0\xBE\xD0\xBF\xD0\xBE\xD1\x80\xD1\x82 UUEE");
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(ansi)), ansi);
}

}  // namespace
}  // namespace sqv64
