#include "metar/report_filing.h"

#include "metar/last_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "metar/testing/recording_platform.h"
#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using testing_support::RecordingPlatform;
using testing_support::WeatherTestFolder;

struct Report {
  std::string time_line;
  std::string report_line;
};

// A downloaded file as the weather server writes it: time line, report line
// and a blank separator, LF line ends.
std::string Downloaded(const std::vector<Report>& reports) {
  std::string text;
  for (const Report& report : reports)
    text += report.time_line + "\n" + report.report_line + "\n\n";
  return text;
}

// The same records as an airport file holds them.
std::string Filed(const std::vector<Report>& reports) {
  std::string text;
  for (const Report& report : reports)
    text += report.time_line + "\r\n" + report.report_line + "\r\n";
  return text;
}

const Report kFirst{"2020/09/14 08:00", "UUEE 140800Z 18003MPS CAVOK 15/08 Q1015 NOSIG"};
const Report kSecond{"2020/09/14 08:30", "UUEE 140830Z 18004MPS CAVOK 16/08 Q1015 NOSIG"};
const Report kThird{"2020/09/14 09:00", "UUEE 140900Z 19004MPS CAVOK 17/08 Q1014 NOSIG"};

class ReportFilingTest : public ::testing::Test {
 protected:
  void File(const std::string& downloaded, std::int16_t download_type = 0) {
    test_.Write("metar/tmp.", downloaded);
    FileDownloadedReports(test_.files(), download_type);
  }

  WeatherTestFolder test_;
};

TEST_F(ReportFilingTest, ReportsAreAppendedInOrderOnceEach) {
  test_.Write("metar/uuee.txt", "");
  File(Downloaded({kFirst, kSecond, kThird}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kFirst, kSecond, kThird}));
  File(Downloaded({kSecond, kThird, kFirst}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kFirst, kSecond, kThird}));
  EXPECT_TRUE(std::filesystem::is_empty(test_.path() / "metar" / "archive"));
}

TEST_F(ReportFilingTest, AStationWithoutAFileIsFiledOnlyInDownloadTypeOne) {
  const Report other{"2020/09/14 08:00", "UUDD 140800Z 00000MPS CAVOK"};
  File(Downloaded({other}), 0);
  EXPECT_FALSE(test_.Exists("metar/uudd.txt"));
  File(Downloaded({other}), 2);
  EXPECT_FALSE(test_.Exists("metar/uudd.txt"));
  File(Downloaded({other}), 1);
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed({other}));
}

TEST_F(ReportFilingTest, TheStationCodeIsTheFirstWordAfterLeadingBlanks) {
  test_.Write("metar/uuee.txt", "");
  const Report indented{"2020/09/14 08:00", " \t UUEE 140800Z 18003MPS"};
  File(Downloaded({indented}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({indented}));
}

TEST_F(ReportFilingTest, ATimeLineAtTheEndWithoutAReportIsDropped) {
  test_.Write("metar/uuee.txt", "");
  File(Downloaded({kFirst}) + kSecond.time_line + "\n");
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kFirst}));
}

TEST_F(ReportFilingTest, CrLfLinesAndAMissingLastSeparatorAreRead) {
  test_.Write("metar/uuee.txt", "");
  File(kFirst.time_line + "\r\n" + kFirst.report_line + "\r\n\r\n" + kSecond.time_line + "\r\n" +
       kSecond.report_line);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kFirst, kSecond}));
}

TEST_F(ReportFilingTest, NoDownloadedFileFilesNothing) {
  test_.Write("metar/uuee.txt", "");
  FileDownloadedReports(test_.files(), 1);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), "");
}

TEST_F(ReportFilingTest, AFirstWordThatIsNoAirportCodeNamesNoFile) {
  File(Downloaded({{"2020/09/14 08:00", "..\\..\\evil 140800Z"},
                   {"2020/09/14 08:00", "../evil 140800Z"},
                   {"2020/09/14 08:00", "METAR UUEE 140800Z"},
                   {"2020/09/14 08:00", "UU.E 140800Z"}}),
       1);
  EXPECT_FALSE(test_.Exists("evil.txt"));
  EXPECT_FALSE(test_.Exists("metar/evil.txt"));
  EXPECT_FALSE(test_.Exists("metar/metar.txt"));
  EXPECT_FALSE(test_.Exists("metar/uu.e.txt"));
}

TEST(ReportFilingErrorTest, AWriteErrorEndsTheFilingAndClosesEveryFile) {
  WeatherTestFolder test;
  RecordingPlatform platform;
  WorkingFolder folder(platform, test.folder().path());
  WeatherFiles files(folder);
  test.Write("metar/uudd.txt", "");
  test.Write("metar/uuee.txt", "");
  test.Write("metar/tmp.", Downloaded({kFirst, {"2020/09/14 08:00", "UUDD 140800Z"}}));
  platform.FailWritesTo("uuee.txt");
  EXPECT_THROW(FileDownloadedReports(files, 0), platform::IoError);
  EXPECT_EQ(platform.open_files(), 0);
  // The reports after the failing one are not filed.
  EXPECT_EQ(test.Read("metar/uudd.txt"), "");
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

// What the archive folder holds: every entry below it, by its path there
// ("2020_08/", "2020_08/uuee.txt"), with the content of the files.
std::map<std::string, std::string> ArchiveEntries(const WeatherTestFolder& test) {
  std::map<std::string, std::string> entries;
  const std::filesystem::path root = test.path() / "metar" / "archive";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string name = std::filesystem::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) {
      entries[name + "/"] = "";
    } else {
      entries[name] = test.Read("metar/archive/" + name);
    }
  }
  return entries;
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
    EXPECT_EQ(ArchiveEntries(test), expected) << c.what;
    EXPECT_EQ(test.Read("metar/uuee.txt"), Filed(c.airport_after)) << c.what;
  }
}

TEST(ArchiveReplacementTest, TheAirportFileIsReplacedByARenameNeverDeletedFirst) {
  WeatherTestFolder test;
  RecordingPlatform platform;
  WorkingFolder folder(platform, test.folder().path());
  WeatherFiles files(folder);
  const Report august{"2020/08/31 23:30", "UUEE 312330Z 00000MPS CAVOK"};
  const Report now{"2020/09/15 00:00", "UUEE 150000Z 00000MPS CAVOK"};
  test.Write("metar/uuee.txt", Filed({august}));
  test.Write("metar/tmp.", Downloaded({now}));
  FileDownloadedReports(files, 0);
  std::string airport = folder.PathOf("metar\\uuee.txt");
  EXPECT_EQ(platform.replaced(), (std::vector<std::pair<std::string, std::string>>{
                                     {folder.PathOf("metar\\archive\\tmp."), airport}}));
  for (const std::string& deleted : platform.deleted())
    EXPECT_NE(deleted, airport);
  EXPECT_EQ(test.Read("metar/uuee.txt"), Filed({now}));
  EXPECT_EQ(platform.open_files(), 0);
}

TEST(ArchiveErrorTest, AnArchiveWriteErrorClosesEveryFileAndKeepsTheAirportFile) {
  WeatherTestFolder test;
  RecordingPlatform platform;
  WorkingFolder folder(platform, test.folder().path());
  WeatherFiles files(folder);
  const Report august{"2020/08/31 23:30", "UUEE 312330Z 00000MPS CAVOK"};
  const Report now{"2020/09/15 00:00", "UUEE 150000Z 00000MPS CAVOK"};
  test.Write("metar/uuee.txt", Filed({august}));
  test.Write("metar/tmp.", Downloaded({now}));
  platform.FailWritesTo("2020_08\\uuee.txt");
  EXPECT_THROW(FileDownloadedReports(files, 0), platform::IoError);
  EXPECT_EQ(platform.open_files(), 0);
  EXPECT_EQ(test.Read("metar/uuee.txt"), Filed({august, now}));
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
