#include "metar/metar_text.h"

#include <gtest/gtest.h>

#include "metar/airport_code.h"

namespace sqv64 {
namespace {

TEST(MetarTextTest, TrimBlanksDropsControlBytesButNotHighLetters) {
  EXPECT_EQ(TrimBlanks(" \t\r\nUUEE 140800Z\r\n\x01"), "UUEE 140800Z");
  EXPECT_EQ(TrimBlanks(" \t "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  // Windows-1251 letters are bytes above 0x7F, never blanks.
  EXPECT_EQ(TrimBlanks("\xC0\xC1 "), "\xC0\xC1");
}

TEST(MetarTextTest, WordAtCountsRunsOfNonBlankBytes) {
  EXPECT_EQ(WordAt("UUEE 140800Z 18003MPS", 0), "UUEE");
  EXPECT_EQ(WordAt("\t  UUEE  140800Z", 0), "UUEE");
  EXPECT_EQ(WordAt("UUEE \t 140800Z", 1), "140800Z");
  EXPECT_EQ(WordAt("UUEE 140800Z", 2), "");
  EXPECT_EQ(WordAt("   ", 0), "");
  EXPECT_EQ(WordAt("\xD3\xD3\xC5\xC5 x", 0), "\xD3\xD3\xC5\xC5");
}

TEST(MetarTextTest, SlashFieldSplitsAtSlashes) {
  EXPECT_EQ(SlashField("2020/09/14 08:00", 0), "2020");
  EXPECT_EQ(SlashField("2020/09/14 08:00", 1), "09");
  EXPECT_EQ(SlashField("2020/09/14 08:00", 2), "14 08:00");
  EXPECT_EQ(SlashField("2020/09/14 08:00", 3), "");
  EXPECT_EQ(SlashField("no slash", 0), "no slash");
  EXPECT_EQ(SlashField("a//b", 1), "");
  EXPECT_EQ(SlashField("", 0), "");
}

TEST(MetarTextTest, StationCodeOfIsTheFirstFourBytesInUpperCase) {
  EXPECT_EQ(StationCodeOf("uuee.txt"), "UUEE");
  EXPECT_EQ(StationCodeOf("UUEE 140800Z"), "UUEE");
  EXPECT_EQ(StationCodeOf("uue"), "");
}

TEST(MetarTextTest, AirportCodesAreFourLettersOrDigits) {
  for (const char* code : {"UUEE", "uudd", "K2J3"})
    EXPECT_TRUE(IsAirportCode(code)) << code;
  for (const char* code : {"UUE", "UUEEX", "U/EE", "U\\EE", "..\\a", "UU.E", "UU E", "\x01UEE",
                           "UU:E", "UU*E", "\xD3\xD3\xC5\xA8"})
    EXPECT_FALSE(IsAirportCode(code)) << code;
  EXPECT_FALSE(IsAirportCode(std::string_view("UU\0E", 4)));
}

}  // namespace
}  // namespace sqv64
