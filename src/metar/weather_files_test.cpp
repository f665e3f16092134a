#include "metar/weather_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "metar/airport_commands.h"
#include "metar/report_filing.h"
#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using testing_support::WeatherTestFolder;

// Whether `copy` is a run of whole two-line records.
bool IsWhole(const std::string& copy) {
  std::size_t line_ends = 0;
  for (std::size_t at = copy.find("\r\n"); at != std::string::npos; at = copy.find("\r\n", at + 2))
    ++line_ends;
  bool ends_whole =
      copy.empty() || (copy.size() >= 2 && copy.compare(copy.size() - 2, 2, "\r\n") == 0);
  return ends_whole && line_ends % 2 == 0;
}

// Ends and joins the test's threads however the test body is left, so that
// a throw fails this test instead of ending the whole binary.
class Joined {
 public:
  Joined(std::atomic<bool>& done, std::vector<std::thread>& threads)
      : done_(done), threads_(threads) {}
  ~Joined() {
    done_ = true;
    for (std::thread& thread : threads_) {
      if (thread.joinable())
        thread.join();
    }
  }
  Joined(const Joined&) = delete;
  Joined& operator=(const Joined&) = delete;

 private:
  std::atomic<bool>& done_;
  std::vector<std::thread>& threads_;
};

TEST(WeatherFilesTest, ClientsCopyOnlyWholeAirportFilesWhileReportsAreFiledAndArchived) {
  WeatherTestFolder test;
  WeatherFiles& files = test.files();
  test.Write("metar/uuee.txt", "");
  std::string path = test.folder().PathOf("metar\\uuee.txt");
  std::atomic<bool> done{false};
  std::atomic<int> copies{0};
  std::atomic<int> torn{0};
  std::vector<std::thread> clients;
  Joined joined(done, clients);
  for (int index = 0; index < 3; ++index) {
    clients.emplace_back([&] {
      while (!done) {
        if (std::optional<std::string> copy = files.CopyOf(path)) {
          ++copies;
          if (!IsWhole(*copy))
            ++torn;
        }
      }
    });
  }
  clients.emplace_back([&] {
    while (!done) {
      AddAirports(files, "UUEEUUDD");
      ListAirports(files);
    }
  });
  // Files a few hundred reports, the way the event thread does, archiving
  // once along the way.
  std::string downloaded = "2020/08/31 23:30\nUUEE 312330Z\n\n";
  for (int minute = 0; minute < 300; ++minute) {
    char time[32];
    std::snprintf(time, sizeof time, "2020/09/15 %02d:%02d", minute / 60, minute % 60);
    downloaded += std::string(time) + "\nUUEE 15" + std::to_string(minute) + "Z\n\n";
  }
  test.Write("metar/tmp.", downloaded);
  EXPECT_NO_THROW(FileDownloadedReports(files, 0));
  done = true;
  for (std::thread& client : clients)
    client.join();
  EXPECT_GT(copies, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(test.Read("metar/archive/2020_08/uuee.txt"), "2020/08/31 23:30\r\nUUEE 312330Z\r\n");
  std::string filed = test.Read("metar/uuee.txt");
  EXPECT_TRUE(IsWhole(filed));
  EXPECT_EQ(std::count(filed.begin(), filed.end(), '\n'), 600);
}

}  // namespace
}  // namespace sqv64
