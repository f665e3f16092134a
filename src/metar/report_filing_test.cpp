#include "metar/report_filing.h"

#include "metar/last_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "metar/testing/recording_platform.h"
#include "metar/testing/weather_test_folder.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"
#include "support/weather_reports.h"

namespace sqv64 {
namespace {

using testing_support::Downloaded;
using testing_support::Filed;
using testing_support::RecordingPlatform;
using testing_support::Report;
using testing_support::TemporaryFolder;
using testing_support::TestPlatform;
using testing_support::WeatherTestFolder;

const Report& kFirst = testing_support::kUuee0800;
const Report& kSecond = testing_support::kUuee0830;
const Report& kThird = testing_support::kUuee0900;
const Report kUudd{"2020/09/14 08:00", "UUDD 140800Z 00000MPS CAVOK"};

// Every file below `root`, by its path there ("metar/uuee.txt"), with its
// content; folders as "name/".
std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string name = std::filesystem::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) {
      files[name + "/"] = "";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      files[name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return files;
}

class ReportFilingTest : public ::testing::Test {
 protected:
  void File(const std::string& downloaded, std::int16_t download_type = 0) {
    test_.Write("metar/tmp.", downloaded);
    FileDownloadedReports(test_.files(), download_type);
  }

  WeatherTestFolder test_;
};

// One or more downloads filed one after another into the airport files
// there before; afterwards the metar folder holds exactly what is listed.
TEST_F(ReportFilingTest, DownloadsAreFiledIntoTheFilesOfTheirStations) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> before;  // airport files, "uuee.txt"
    std::vector<std::string> downloads;
    std::int16_t download_type;
    std::map<std::string, std::string> after;  // airport files
  };
  const Report indented{"2020/09/14 08:00", " \t UUEE 140800Z 18003MPS"};
  const Case cases[] = {
      {"reports are appended in order once each",
       {{"uuee.txt", ""}},
       {Downloaded({kFirst, kSecond, kThird}), Downloaded({kSecond, kThird, kFirst})},
       0,
       {{"uuee.txt", Filed({kFirst, kSecond, kThird})}}},
      {"a station without a file is not filed in download type 0",
       {},
       {Downloaded({kUudd})},
       0,
       {}},
      {"nor in download type 2", {}, {Downloaded({kUudd})}, 2, {}},
      {"but in download type 1", {}, {Downloaded({kUudd})}, 1, {{"uudd.txt", Filed({kUudd})}}},
      {"the station code is the first word after leading blanks",
       {{"uuee.txt", ""}},
       {Downloaded({indented})},
       0,
       {{"uuee.txt", Filed({indented})}}},
      {"a time line at the end without a report is dropped",
       {{"uuee.txt", ""}},
       {Downloaded({kFirst}) + kSecond.time_line + "\n"},
       0,
       {{"uuee.txt", Filed({kFirst})}}},
      {"CR LF lines and a missing last separator are read",
       {{"uuee.txt", ""}},
       {kFirst.time_line + "\r\n" + kFirst.report_line + "\r\n\r\n" + kSecond.time_line + "\r\n" +
        kSecond.report_line},
       0,
       {{"uuee.txt", Filed({kFirst, kSecond})}}},
      {"each report goes to its own station's file",
       {{"uuee.txt", Filed({kFirst})}, {"uudd.txt", ""}},
       {Downloaded({kUudd, kSecond})},
       0,
       {{"uuee.txt", Filed({kFirst, kSecond})}, {"uudd.txt", Filed({kUudd})}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WeatherTestFolder test;
    for (const auto& [name, content] : c.before)
      test.Write("metar/" + name, content);
    for (const std::string& downloaded : c.downloads) {
      test.Write("metar/tmp.", downloaded);
      FileDownloadedReports(test.files(), c.download_type);
    }
    // The scratch file goes first (Windows keeps it as "tmp", without the
    // dot).
    std::filesystem::remove(test.path() / "metar" / "tmp.");
    std::map<std::string, std::string> expected = {{"archive/", ""}};
    for (const auto& [name, content] : c.after)
      expected[name] = content;
    EXPECT_EQ(FilesBelow(test.path() / "metar"), expected);
  }
}

TEST_F(ReportFilingTest, NoDownloadedFileFilesNothing) {
  test_.Write("metar/uuee.txt", "");
  FileDownloadedReports(test_.files(), 1);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), "");
}

TEST(ReportFilingNamesTest, AFirstWordThatIsNoAirportCodeNamesNoFile) {
  // The working folder sits in a folder of the test's own, so that a file
  // written above it would show.
  TemporaryFolder outer;
  std::filesystem::create_directories(outer.path() / "work" / "metar" / "archive");
  TestPlatform platform;
  WorkingFolder folder(platform, outer.ServerPath() + "work" + platform.PathSeparator());
  WeatherFiles files(folder);
  const std::string downloaded = Downloaded({{"2020/09/14 08:00", "..\\..\\evil 140800Z"},
                                             {"2020/09/14 08:00", "../evil 140800Z"},
                                             {"2020/09/14 08:00", "..\\evil 140800Z"},
                                             {"2020/09/14 08:00", "METAR UUEE 140800Z"},
                                             {"2020/09/14 08:00", "UU.E 140800Z"}});
  outer.Write("work/metar/tmp.", downloaded);
  FileDownloadedReports(files, 1);
  EXPECT_EQ(outer.Read("work/metar/tmp."), downloaded);
  std::filesystem::remove(outer.path() / "work" / "metar" / "tmp.");
  EXPECT_EQ(FilesBelow(outer.path()),
            (std::map<std::string, std::string>{
                {"work/", ""}, {"work/metar/", ""}, {"work/metar/archive/", ""}}));
}

// Filing on a platform that records what happens to the files.
class RecordedFilingTest : public ::testing::Test {
 protected:
  WeatherTestFolder test_;
  RecordingPlatform platform_;
  WorkingFolder folder_{platform_, test_.folder().path()};
  WeatherFiles files_{folder_};
};

TEST_F(RecordedFilingTest, AWriteErrorEndsTheFilingAndClosesEveryFile) {
  test_.Write("metar/uudd.txt", "");
  test_.Write("metar/uuee.txt", "");
  test_.Write("metar/tmp.", Downloaded({kFirst, kUudd}));
  platform_.FailWritesTo("uuee.txt");
  EXPECT_THROW(FileDownloadedReports(files_, 0), platform::IoError);
  EXPECT_EQ(platform_.open_files(), 0);
  // The reports after the failing one are not filed.
  EXPECT_EQ(test_.Read("metar/uudd.txt"), "");
}

class ArchiveTest : public ReportFilingTest {};

TEST_F(ArchiveTest, TheFourteenthKeepsTheOldMonthAndTheFifteenthArchivesIt) {
  const Report august{"2020/08/31 23:30", "UUEE 312330Z 00000MPS CAVOK"};
  const Report fourteenth{"2020/09/14 00:00", "UUEE 140000Z 00000MPS CAVOK"};
  const Report fifteenth{"2020/09/15 00:00", "UUEE 150000Z 00000MPS CAVOK"};
  test_.Write("metar/uuee.txt", Filed({august}));
  File(Downloaded({fourteenth}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({august, fourteenth}));
  EXPECT_FALSE(test_.Exists("metar/archive/2020_08"));

  File(Downloaded({fifteenth}));
  EXPECT_EQ(test_.Read("metar/archive/2020_08/uuee.txt"), Filed({august}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({fourteenth, fifteenth}));
}

// One new report is filed into an airport file that holds older months.
TEST_F(ArchiveTest, OlderMonthsMoveToTheFolderOfTheFirstLine) {
  const Report now{"2020/09/15 00:00", "UUEE 150000Z 00000MPS CAVOK"};
  const Report last_year{"2019/09/01 00:00", "UUEE 010000Z 00000MPS CAVOK"};
  const Report july{"2020/07/30 00:00", "UUEE 300000Z 00000MPS CAVOK"};
  const Report august{"2020/08/02 00:00", "UUEE 020000Z 00000MPS CAVOK"};
  const Report september{"2020/09/01 00:00", "UUEE 010000Z 00000MPS CAVOK"};
  const Report no_month{"2020/13/01 00:00", "UUEE 010000Z 00000MPS CAVOK"};
  const Report other_station{"2020/08/01 00:00", "UUDD 010000Z 00000MPS CAVOK"};
  const Report august_blank{"2020/08/01 00:00", " UUEE 010000Z 00000MPS CAVOK"};
  const Report september_tab{"2020/09/01 00:00", "\tUUEE 010000Z 00000MPS CAVOK"};
  const Report no_date{"..\\..\\x/08/01 00:00", "UUEE 010000Z 00000MPS CAVOK"};
  using Archive = std::vector<std::pair<std::string, std::vector<Report>>>;  // folder, records
  struct Case {
    const char* what;
    std::vector<Report> airport;
    Archive archive_before;
    Archive archive_after;
    std::vector<Report> airport_after;
  };
  const Case cases[] = {
      {"the same month a year earlier stays", {last_year}, {}, {}, {last_year, now}},
      {"two earlier months go into the folder of the first line",
       {july, august, september},
       {},
       {{"2020_07", {july, august}}},
       {september, now}},
      {"records the archive holds already are not appended again",
       {july, august},
       {{"2020_07", {july}}},  // an archiving that could not replace the airport file
       {{"2020_07", {july, august}}},
       {now}},
      {"records whose month is no month are dropped, others of the month kept",
       {august, no_month, other_station},
       {},
       {{"2020_08", {august}}},
       {now}},
      {"report lines with leading blanks are archived, not lost",
       {august_blank, september_tab},
       {},
       {{"2020_08", {august_blank}}},
       {september_tab, now}},
      {"a first line that is no date archives nothing", {no_date}, {}, {}, {no_date, now}},
  };
  for (const Case& c : cases) {
    WeatherTestFolder test;
    test.Write("metar/uuee.txt", Filed(c.airport));
    for (const auto& [folder, records] : c.archive_before) {
      test.Write("metar/archive/" + folder + "/uuee.txt", Filed(records));
    }
    test.Write("metar/tmp.", Downloaded({now}));
    FileDownloadedReports(test.files(), 0);

    std::map<std::string, std::string> expected;
    for (const auto& [folder, records] : c.archive_after) {
      expected[folder + "/"] = "";
      expected[folder + "/uuee.txt"] = Filed(records);
    }
    EXPECT_EQ(FilesBelow(test.path() / "metar" / "archive"), expected) << c.what;
    EXPECT_EQ(test.Read("metar/uuee.txt"), Filed(c.airport_after)) << c.what;
  }
}

TEST_F(RecordedFilingTest, TheAirportFileIsReplacedByARenameNeverDeletedFirst) {
  const Report august{"2020/08/31 23:30", "UUEE 312330Z 00000MPS CAVOK"};
  const Report now{"2020/09/15 00:00", "UUEE 150000Z 00000MPS CAVOK"};
  test_.Write("metar/uuee.txt", Filed({august}));
  test_.Write("metar/tmp.", Downloaded({now}));
  FileDownloadedReports(files_, 0);
  std::string airport = folder_.PathOf("metar\\uuee.txt");
  EXPECT_EQ(platform_.replaced(), (std::vector<std::pair<std::string, std::string>>{
                                      {folder_.PathOf("metar\\archive\\tmp."), airport}}));
  for (const std::string& deleted : platform_.deleted())
    EXPECT_NE(deleted, airport);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({now}));
  EXPECT_EQ(platform_.open_files(), 0);
}

TEST_F(RecordedFilingTest, AnArchiveWriteErrorClosesEveryFileAndKeepsTheAirportFile) {
  const Report august{"2020/08/31 23:30", "UUEE 312330Z 00000MPS CAVOK"};
  const Report now{"2020/09/15 00:00", "UUEE 150000Z 00000MPS CAVOK"};
  test_.Write("metar/uuee.txt", Filed({august}));
  test_.Write("metar/tmp.", Downloaded({now}));
  platform_.FailWritesTo("2020_08\\uuee.txt");
  EXPECT_THROW(FileDownloadedReports(files_, 0), platform::IoError);
  EXPECT_EQ(platform_.open_files(), 0);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({august, now}));
}

}  // namespace
}  // namespace sqv64

namespace sqv64 {
namespace {

TEST_F(ReportFilingTest, TheCountIsOfTheReportsNewInTheirFiles) {
  test_.Write("metar/uuee.txt", "");
  const Report other{"2020/09/14 08:00", "KJFK 140800Z 00000KT 10SM CLR"};
  test_.Write("metar/tmp.", Downloaded({kFirst, kSecond, other}));
  EXPECT_EQ(FileDownloadedReports(test_.files(), 0), 2) << "KJFK has no file in type 0";
  EXPECT_EQ(FileDownloadedReports(test_.files(), 0), 0) << "nothing twice";
  EXPECT_EQ(FileDownloadedReports(test_.files(), 1), 1) << "type 1 creates KJFK's file";
}

TEST_F(ReportFilingTest, TheLastFiledReportIsReadFromTheEndOfTheFile) {
  EXPECT_EQ(LastFiledReport(test_.files(), "UUEE"), std::nullopt) << "no file";
  test_.Write("metar/uuee.txt", "");
  EXPECT_EQ(LastFiledReport(test_.files(), "UUEE"), std::nullopt) << "an empty file";
  File(Downloaded({kFirst, kSecond}));
  std::optional<FiledReport> last = LastFiledReport(test_.files(), "uuee");
  ASSERT_TRUE(last);
  EXPECT_EQ(last->time_line, kSecond.time_line);
  EXPECT_EQ(last->report, kSecond.report_line);

  // A file far longer than the part that is read.
  std::string many;
  for (int i = 0; i < 500; ++i)
    many += Filed({kFirst});
  test_.Write("metar/uuee.txt", many + Filed({kThird}));
  last = LastFiledReport(test_.files(), "UUEE");
  ASSERT_TRUE(last);
  EXPECT_EQ(last->time_line, kThird.time_line);
  EXPECT_EQ(last->report, kThird.report_line);
}

}  // namespace
}  // namespace sqv64
