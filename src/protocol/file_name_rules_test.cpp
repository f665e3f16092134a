#include "protocol/file_name_rules.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

TEST(IsNameInsideFolder, RefusesEverythingThatLeavesTheFolder) {
  struct Case {
    const char* name;
    bool inside;
  } cases[] = {
      {"a.hdr", true},
      {"metar\\uuee.txt", true},
      {"sub/x.quv", true},
      {"..\\secret", false},
      {"a/../../b", false},
      {"metar\\..\\..\\x", false},
      {"C:\\Windows\\x", false},
      {"c:x", false},
      {"\\\\server\\share", false},
      {"/etc/passwd", false},
      {"", false},
      {"..", false},
      {"a..b.hdr", true},
      {"...", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNameInsideFolder(c.name), c.inside) << c.name;
  }
}

TEST(SaveTargetName, KeepsTheLastComponentOfADataFileName) {
  EXPECT_EQ(SaveTargetName("C:\\Temp\\flight.quv"), "flight.quv");
  EXPECT_EQ(SaveTargetName("sub/flight.HDRX"), "flight.HDRX");
  EXPECT_EQ(SaveTargetName("d:f.hdr"), "f.hdr");
  EXPECT_EQ(SaveTargetName("flight.quvx"), "flight.quvx");
  EXPECT_EQ(SaveTargetName("log.txt"), std::nullopt);
  EXPECT_EQ(SaveTargetName("sqv64"), std::nullopt);
  EXPECT_EQ(SaveTargetName("a.hdr\\"), std::nullopt);
  EXPECT_EQ(SaveTargetName(""), std::nullopt);
  EXPECT_EQ(SaveTargetName(".."), std::nullopt);
  EXPECT_EQ(SaveTargetName("a.hdr.bak"), std::nullopt);
}

TEST(FileNameRules, ANameWithAControlByteNamesNoFile) {
  using namespace std::string_literals;
  const std::string names[] = {
      "port.txt\0.hdr"s, "sqv64\0.quv"s, "a\tb.hdr"s,  "a.hdr\r"s,
      "\na.quv"s,        "a\x1F.quvx"s,  "a\x01.hdr"s, "metar\\x\0\\..\\y.txt"s,
  };
  for (const std::string& name : names) {
    EXPECT_TRUE(HoldsControlByte(name)) << name;
    EXPECT_FALSE(IsNameInsideFolder(name)) << name;
    EXPECT_EQ(SaveTargetName("C:\\" + name), std::nullopt) << name;
  }
  // Every byte from 0x20 up is an ordinary character of a name.
  EXPECT_FALSE(HoldsControlByte(" \x7F\x80\xFF\xD2\xE8\xEF.hdr"));
  EXPECT_EQ(SaveTargetName("\xD2 \x7F.hdr"), "\xD2 \x7F.hdr");
}

TEST(IsDataFileName, AcceptsTheFourExtensionsInAnyCase) {
  EXPECT_TRUE(IsDataFileName("x.Hdr"));
  EXPECT_TRUE(IsDataFileName("dir\\x.QUVX"));
  EXPECT_FALSE(IsDataFileName("x.hdrz"));
  EXPECT_FALSE(IsDataFileName("metar\\metar.ini"));
  EXPECT_FALSE(IsDataFileName("hdr"));
}

TEST(IsWeatherFileName, RecognisesTheWeatherFolderInAnySpelling) {
  EXPECT_TRUE(IsWeatherFileName("metar\\uuee.txt"));
  EXPECT_TRUE(IsWeatherFileName("METAR/archive/2020_08/uuee.txt"));
  EXPECT_TRUE(IsWeatherFileName(".\\metar\\\\uuee.txt"));
  EXPECT_FALSE(IsWeatherFileName("metarx\\uuee.txt"));
  EXPECT_FALSE(IsWeatherFileName("a.hdr"));
}

}  // namespace
}  // namespace sqv64
