#include "status_report.h"

#include <gtest/gtest.h>

#include "text/utc_text.h"

namespace sqv64::ctl {
namespace {

// Moments shown as UTC, so that the table does not depend on the machine.
std::string AsUtc(std::chrono::system_clock::time_point moment) {
  return UtcText(moment);
}

std::string Document(const std::string& airports, const std::string& last_run,
                     const std::string& access = "null") {
  return R"({"version": "1.0.0", "started": "2026-12-10T12:00:00Z", "folder": "/srv/store/",
             "free_bytes": 3221225472, "data_files": 1, "access_list": )" +
         access + R"(, "weather": {"download_type": 0, "transport": "ftp", "airports": )" +
         airports + R"(, "last_run": )" + last_run + R"(, "last_cycle_run": null,
             "last_station_run": )" +
         last_run + R"(, "next_run": {"kind": "station",
             "time": "2026-12-10T12:15:00Z"}, "last_reports": {}}})";
}

const std::string kFailed = R"({"kind": "station", "time": "2026-12-10T12:00:05Z",
    "result": "failed", "error": "cannot connect to tgftp.nws.noaa.gov port 21: timed out",
    "reports_filed": 0})";
const std::string kWorked = R"({"kind": "station", "time": "2026-12-10T12:00:05Z",
    "result": "succeeded", "error": null, "reports_filed": 1})";

TEST(StatusReport, TheWeatherFailsOnlyWhenItsLastRunFailedWithAirportsListed) {
  struct Case {
    std::string airports, last_run;
    bool failing;
  } cases[] = {
      {R"(["UUEE"])", kFailed, true},
      {R"(["UUEE"])", kWorked, false},
      {R"(["UUEE"])", "null", false},
      {"[]", kFailed, false},
  };
  for (const Case& c : cases) {
    std::string error;
    auto summary = ReadStatus(Document(c.airports, c.last_run), error, AsUtc);
    ASSERT_TRUE(summary) << error;
    EXPECT_EQ(summary->weather_failing, c.failing) << c.airports << " " << c.last_run;
  }
}

TEST(StatusReport, WhatIsWrongComesFirst) {
  std::string error;
  auto summary = ReadStatus(
      Document(R"(["UUEE"])", kFailed,
               R"({"only_loopback": true, "problem": "line 2 is not a rule: \"x\"", "rules": []})"),
      error, AsUtc);
  ASSERT_TRUE(summary) << error;
  EXPECT_EQ(summary->table.rfind(
                "PROBLEM   weather: the last station run at 2026-12-10T12:00:05Z failed: cannot "
                "connect to tgftp.nws.noaa.gov port 21: timed out\n"
                "PROBLEM   access.txt: line 2 is not a rule: \"x\"; only loopback clients are "
                "served\n"
                "server    SQV64 1.0.0, running since 2026-12-10T12:00:00Z\n",
                0),
            0u)
      << summary->table;
  EXPECT_NE(summary->table.find("store     /srv/store/, 1 data file, 3.0 GB free\n"),
            std::string::npos)
      << summary->table;
  EXPECT_NE(summary->table.find("weather   ftp, download type 0, 1 airport: UUEE\n"),
            std::string::npos)
      << summary->table;
}

TEST(StatusReport, AWorkingServerShowsNoProblem) {
  std::string error;
  auto summary = ReadStatus(Document(R"(["UUEE", "UUDD"])", kWorked), error, AsUtc);
  ASSERT_TRUE(summary) << error;
  EXPECT_EQ(summary->table.find("PROBLEM"), std::string::npos) << summary->table;
  EXPECT_NE(summary->table.find("last run  station run at 2026-12-10T12:00:05Z: 1 report filed\n"),
            std::string::npos)
      << summary->table;
  EXPECT_NE(summary->table.find("2 airports: UUEE UUDD"), std::string::npos) << summary->table;
  EXPECT_NE(summary->table.find("access    no access.txt"), std::string::npos) << summary->table;
}

TEST(StatusReport, ADocumentOfAnotherShapeIsRefused) {
  for (const std::string& document :
       {std::string("not json"), std::string("[1, 2]"), std::string(R"({"version": "1"})"),
        Document(R"("UUEE")", kFailed), Document(R"(["UUEE"])", R"("failed")"),
        std::string(R"({"version": "1", "weather": {"download_type": "x"}})")}) {
    std::string error;
    EXPECT_FALSE(ReadStatus(document, error, AsUtc)) << document;
    EXPECT_FALSE(error.empty()) << document;
  }
}

}  // namespace
}  // namespace sqv64::ctl
