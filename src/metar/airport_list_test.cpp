#include "metar/airport_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using testing_support::WeatherTestFolder;

TEST(LoadAirportListTest, OnlyEightByteNamesAreAirportsInUpperCase) {
  WeatherTestFolder test;
  for (const char* name : {"metar/uuee.txt", "metar/ab.txt", "metar/abcde.txt", "metar/UUDD.TXT",
                           "metar/metar.ini", "metar/tmp."})
    test.Write(name, "");
  std::filesystem::create_directory(test.path() / "metar" / "dir1.txt");
  AirportList list{"OLD1"};
  EXPECT_EQ(LoadAirportList(test.files(), list), -1);
  std::sort(list.begin(), list.end());
  EXPECT_EQ(list, (AirportList{"DIR1", "UUDD", "UUEE"}));
}

TEST(LoadAirportListTest, NoAirportFileGivesZeroAndAnEmptyList) {
  WeatherTestFolder test;
  AirportList list{"OLD1"};
  EXPECT_EQ(LoadAirportList(test.files(), list), 0);
  EXPECT_TRUE(list.empty());
}

TEST(LoadAirportListTest, MoreThan300AirportsKeep301) {
  struct Case {
    int files;
    int result;
    std::size_t listed;
  };
  for (const Case& c : {Case{300, -1, 300}, Case{301, 301, 301}, Case{350, 301, 301}}) {
    WeatherTestFolder test;
    for (int index = 0; index < c.files; ++index) {
      char name[32];
      std::snprintf(name, sizeof name, "metar/a%03d.txt", index);
      test.Write(name, "");
    }
    AirportList list;
    EXPECT_EQ(LoadAirportList(test.files(), list), c.result) << c.files;
    EXPECT_EQ(list.size(), c.listed) << c.files;
  }
}

}  // namespace
}  // namespace sqv64
