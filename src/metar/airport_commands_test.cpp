#include "metar/airport_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using testing_support::WeatherTestFolder;

class AirportCommandsTest : public ::testing::Test {
 protected:
  // The codes of the 8-byte names in the order the platform lists them.
  std::string EnumeratedCodes() {
    std::string codes;
    for (const auto& entry :
         test_.platform().ListDirectory(test_.folder().PathOf("metar\\"), "*.txt")) {
      if (entry.name.size() == 8)
        codes += entry.name.substr(0, 4);
    }
    return codes;
  }

  WeatherTestFolder test_;
};

TEST_F(AirportCommandsTest, ListAirportsSendsTheCodesOfTheAirportFilesInEnumerationOrder) {
  EXPECT_EQ(ListAirports(test_.files()), "");
  test_.Write("metar/uuee.txt", "2020/09/14 08:00\r\nUUEE 140800Z\r\n");
  test_.Write("metar/UuDd.txt", "");
  test_.Write("metar/ab.txt", "");
  test_.Write("metar/metar.ini", "");
  std::string codes = ListAirports(test_.files());
  EXPECT_EQ(codes.size(), 8u);
  EXPECT_EQ(codes, EnumeratedCodes());
  EXPECT_NE(codes.find("UuDd"), std::string::npos);
}

TEST_F(AirportCommandsTest, ListAirportsSendsEveryCodeBeyond300) {
  for (int index = 0; index < 320; ++index) {
    char name[32];
    std::snprintf(name, sizeof name, "metar/a%03d.txt", index);
    test_.Write(name, "");
  }
  EXPECT_EQ(ListAirports(test_.files()).size(), 4u * 320);
}

TEST_F(AirportCommandsTest, AddAirportsCreatesLowerCaseFilesAndIgnoresATrailingPart) {
  AddAirports(test_.files(), "UUEEUUDDxy");
  EXPECT_TRUE(test_.Exists("metar/uuee.txt"));
  EXPECT_TRUE(test_.Exists("metar/uudd.txt"));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(test_.path() / "metar"),
                          std::filesystem::directory_iterator()),
            3);  // the two airport files and the archive folder
}

TEST_F(AirportCommandsTest, AddingAnAirportTwiceKeepsItsReports) {
  const std::string reports = "2020/09/14 08:00\r\nUUEE 140800Z\r\n";
  test_.Write("metar/uuee.txt", reports);
  AddAirports(test_.files(), "UUEE");
  EXPECT_EQ(test_.Read("metar/uuee.txt"), reports);
}

TEST_F(AirportCommandsTest, CodesThatAreNotFourLettersOrDigitsAreSkipped) {
  std::string codes = std::string("..\\a") + "U/EE" + "UU.E" + "\x01UEE" + "UU E" + "a:bc" +
                      "OK01" + std::string("U\0EE", 4);
  AddAirports(test_.files(), codes);
  EXPECT_EQ(ListAirports(test_.files()), "ok01");
  EXPECT_FALSE(test_.Exists("a.txt"));
  test_.Write("a.txt", "keep");
  RemoveAirports(test_.files(), codes);
  EXPECT_EQ(ListAirports(test_.files()), "");
  EXPECT_EQ(test_.Read("a.txt"), "keep");
}

TEST_F(AirportCommandsTest, RemoveAirportsDeletesExistingFilesOnly) {
  test_.Write("metar/uuee.txt", "reports");
  test_.Write("metar/uudd.txt", "");
  RemoveAirports(test_.files(), "UUEEKJFK");
  EXPECT_FALSE(test_.Exists("metar/uuee.txt"));
  EXPECT_TRUE(test_.Exists("metar/uudd.txt"));
}

}  // namespace
}  // namespace sqv64
