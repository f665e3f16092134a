#include "storage/event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

using testing_support::TemporaryFolder;
using testing_support::TestPlatform;

class EventLogTest : public ::testing::Test {
 protected:
  TestPlatform platform_;
  TemporaryFolder folder_;
  WorkingFolder working_folder_{platform_, folder_.ServerPath()};
  EventLog log_{working_folder_};
};

TEST_F(EventLogTest, StartLineOfTheExample) {
  log_.WriteLog(log_.TimeField() + " START (C:\\Flight\\Server\\)");
  EXPECT_EQ(folder_.Read("log.txt"), "08.12.2020  9:05:07 START (C:\\Flight\\Server\\)\r\n");
}

TEST_F(EventLogTest, PadsDateTimeAndCommandToTheirWidths) {
  struct Case {
    platform::LocalDateTime clock;
    std::string command;
    std::string line;
  } cases[] = {
      {{"12/8/2020", "09:05:07"}, "abc", "12/8/2020  09:05:07 abc        (client)\r\n"},
      {{"2020-12-08", "9:05:07 AM"}, "0123456789", "2020-12-08 9:05:07 AM 0123456789 (client)\r\n"},
      {{"08.12.2020", "9:05:07"}, "File list!!", "08.12.2020  9:05:07 File list!! (client)\r\n"},
  };
  std::string expected;
  for (const Case& c : cases) {
    platform_.SetLocalDateTime(c.clock);
    log_.LogCommand(c.command, "client");
    expected += c.line;
  }
  EXPECT_EQ(folder_.Read("log.txt"), expected);
}

TEST_F(EventLogTest, ControlBytesOfAClientAreWrittenAsQuestionMarks) {
  using namespace std::string_literals;
  log_.LogCommand("File deleting from server database port.txt\0.hdr"s, "evil\r\nx\x1F\x7F\xD2"s);
  log_.LogCommand("a\tb\x01"s, "\0"s);
  EXPECT_EQ(folder_.Read("log.txt"),
            "08.12.2020  9:05:07 File deleting from server database port.txt?.hdr "
            "(evil??x?\x7F\xD2)\r\n"
            "08.12.2020  9:05:07 a?b?       (?)\r\n"s);
}

TEST_F(EventLogTest, AppendsAndKeepsEarlierLines) {
  folder_.Write("log.txt", "earlier\r\n");
  log_.WriteLog("x");
  EXPECT_EQ(folder_.Read("log.txt"), "earlier\r\n08.12.2020 x\r\n");
}

TEST_F(EventLogTest, ALogThatCannotBeOpenedDropsTheLineSilently) {
  // A folder in the log's place cannot be opened for writing, whoever runs
  // the test (a read-only file would not stop root).
  std::filesystem::create_directory(folder_.path() / "log.txt");
  EXPECT_NO_THROW(log_.WriteLog("x"));
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "log.txt"));
}

TEST_F(EventLogTest, AMissingFolderDropsTheLineSilently) {
  WorkingFolder missing{platform_, folder_.ServerPath() + "missing/"};
  EventLog log{missing};
  EXPECT_NO_THROW(log.WriteLog("x"));
}

TEST_F(EventLogTest, ConcurrentWritersLoseNoLineAndMixNone) {
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  std::latch start(kThreads);
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kLines; ++i)
        log_.LogCommand("File list", "c" + std::to_string(t));
    });
  }
  for (auto& writer : writers)
    writer.join();
  // Every line whole: no bytes of one writer inside another's line, and
  // each writer's lines all there.
  std::istringstream log(folder_.Read("log.txt"));
  std::map<std::string, int> lines;
  for (std::string line; std::getline(log, line, '\n');)
    ++lines[line];
  std::map<std::string, int> expected;
  for (int t = 0; t < kThreads; ++t)
    expected["08.12.2020  9:05:07 File list  (c" + std::to_string(t) + ")\r"] = kLines;
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace sqv64
