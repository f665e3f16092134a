#include "text/number_parsers.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sqv64 {
namespace {

struct WordCase {
  std::u16string text;
  std::uint16_t value;
};

class TextToWordCases : public testing::TestWithParam<WordCase> {};

TEST_P(TextToWordCases, ReadsTheIntegerRule) {
  EXPECT_EQ(TextToWord(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToWordCases,
    testing::Values(WordCase{u"42", 42}, WordCase{u" 42", 42}, WordCase{u"+42", 42},
                    WordCase{u"42 ", 0}, WordCase{u"-1", 65535}, WordCase{u"70000", 4464},
                    WordCase{u"$FF", 255}, WordCase{u"0x10", 16}, WordCase{u"X1f", 31},
                    WordCase{u"", 0}, WordCase{u"2147483648", 0}, WordCase{u"258", 258},
                    WordCase{u"-2147483648", 0}, WordCase{u"$", 0}, WordCase{u"0x", 0},
                    WordCase{u"-$10", 65520}, WordCase{u"$100000000", 0}, WordCase{u"abc", 0},
                    WordCase{u"007", 7}, WordCase{u"4 2", 0}));

TEST(ParseInteger, TakesHexadecimalAsA32BitPattern) {
  EXPECT_EQ(ParseInteger(std::string_view("$FFFFFFFF")), -1);
  EXPECT_EQ(ParseInteger(std::string_view("-2147483648")), -2147483647 - 1);
  EXPECT_EQ(ParseInteger(std::string_view("8011")), 8011);
  EXPECT_EQ(ParseInteger(std::string_view("   8011")), 8011);
  EXPECT_EQ(ParseInteger(std::string_view("8011 ")), std::nullopt);
  EXPECT_EQ(ParseInteger(std::string_view("$1F4B")), 8011);
  EXPECT_EQ(ParseInteger(std::string_view("")), std::nullopt);
  EXPECT_EQ(ParseInteger(std::string_view("+")), std::nullopt);
}

TEST(NonDigitsToDots, KeepsDigitsAndLength) {
  EXPECT_EQ(NonDigitsToDots(u"-1,5"), u".1.5");
  EXPECT_EQ(NonDigitsToDots(u"12:30 \u0416"), u"12.30..");
}

struct FloatCase {
  std::u16string text;
  double value;
};

class TextToFloatCases : public testing::TestWithParam<FloatCase> {};

TEST_P(TextToFloatCases, ReadsTheDecimalRule) {
  EXPECT_DOUBLE_EQ(TextToFloat(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToFloatCases,
    testing::Values(FloatCase{u"12.5", 12.5}, FloatCase{u"12,5", 12.5}, FloatCase{u"-2,5", -2.5},
                    FloatCase{u"1e3", 1000.0}, FloatCase{u" 7", 7.0}, FloatCase{u"12:30", 12.3},
                    FloatCase{u"1.5.2", 0.0}, FloatCase{u"abc", 0.0}, FloatCase{u"", 0.0},
                    FloatCase{u"1 234,5", 0.0}, FloatCase{u"e5", 0.0}, FloatCase{u"5 ", 5.0},
                    FloatCase{u".", 0.0}, FloatCase{u".5", 0.5}, FloatCase{u"5.", 5.0},
                    FloatCase{u"1e", 1.0}, FloatCase{u"+1.25E-2", 0.0125}, FloatCase{u"0.1", 0.1},
                    FloatCase{u"7", 7.0}));

TEST(TextToFloat, HugeExponentsDoNotCrash) {
  EXPECT_TRUE(std::isinf(TextToFloat(u"1e999999999999")));
  EXPECT_EQ(TextToFloat(u"1e-999999999999"), 0.0);
}

}  // namespace
}  // namespace sqv64
