#include "text/code_page.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace sqv64 {
namespace {

// The upper half of Windows-1251 as the code page defines it, written out
// here rather than taken from the converter: 0x98 is unassigned and stands
// for U+0098.
constexpr char16_t kUpperHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// UTF-8 of one character of the Basic Multilingual Plane, encoded here.
std::string Utf8Of(char16_t character) {
  std::string bytes;
  if (character < 0x80) {
    bytes += static_cast<char>(character);
  } else if (character < 0x800) {
    bytes += static_cast<char>(0xC0 | (character >> 6));
    bytes += static_cast<char>(0x80 | (character & 0x3F));
  } else {
    bytes += static_cast<char>(0xE0 | (character >> 12));
    bytes += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (character & 0x3F));
  }
  return bytes;
}

TEST(CodePage, EveryByteOfTheUpperHalfIsItsCodePageCharacter) {
  for (int index = 0; index < 128; ++index) {
    const unsigned char byte = static_cast<unsigned char>(0x80 + index);
    const char16_t character = kUpperHalf[index];
    const std::string ansi(1, static_cast<char>(byte));
    SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int{byte});
    EXPECT_EQ(Windows1251ToUnicode(byte), character);
    EXPECT_EQ(UnicodeToWindows1251(character), std::optional<unsigned char>(byte));
    EXPECT_EQ(AnsiToUnicode(ansi), std::u16string(1, character));
    EXPECT_EQ(UnicodeToAnsi(std::u16string(1, character)), ansi);
    EXPECT_EQ(AnsiToUtf8(ansi), Utf8Of(character));
    EXPECT_EQ(Utf8ToAnsi(Utf8Of(character)), ansi);
  }
  // The lower half is ASCII.
  for (int byte = 0; byte < 0x80; ++byte) {
    EXPECT_EQ(Windows1251ToUnicode(static_cast<unsigned char>(byte)), char16_t(byte)) << byte;
  }
}

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
