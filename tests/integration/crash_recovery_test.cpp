// The server killed with SIGKILL in the middle of changing a file, then
// started again over the same folder: every file it was changing is wholly
// old or wholly new, no staging file is left behind, and no weather report
// filed before the crash is lost, cut or filed twice.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "protocol_client.h"
#include "support/eventually.h"
#include "support/ftp_test_server.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

using testing_support::Eventually;
using testing_support::FtpTestServer;
using testing_support::ServerProcess;
using testing_support::TemporaryFolder;

constexpr std::size_t kMiB = 1024 * 1024;

// A content of `size` bytes that differs from any other of another `seed`.
std::string Pattern(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(seed + (i * 7 + i / 4096) % 61);
  return bytes;
}

// The entries that neither the test nor the server put there on purpose: a
// staging file left by the crash would be one.
std::vector<std::string> Leftovers(const TemporaryFolder& folder,
                                   const std::set<std::string>& expected) {
  std::vector<std::string> leftovers;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path())) {
    std::string name = std::filesystem::relative(entry.path(), folder.path()).generic_string();
    if (entry.is_regular_file() && expected.count(name) == 0 && name != ".server-output" &&
        name != "port.txt" && name != "log.txt")
      leftovers.push_back(name);
  }
  return leftovers;
}

// Where a client's command is when the server is killed.
enum class KillPoint {
  kEarly,             // a few MiB of the payload sent
  kLate,              // all but a few MiB sent
  kSendingSideClosed  // everything sent and the sending side closed
};

const char* Describe(KillPoint point) {
  switch (point) {
    case KillPoint::kEarly:
      return "early in the payload";
    case KillPoint::kLate:
      return "late in the payload";
    case KillPoint::kSendingSideClosed:
      return "after the client closed its sending side";
  }
  return "";
}

// Sends `request_line` and `payload` in pieces of `piece` bytes and kills the
// server at `point`.
void SendAndKill(ServerProcess& server, const std::string& request_line, const std::string& payload,
                 std::size_t piece, KillPoint point) {
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), server.port()});
  asio::write(socket, asio::buffer(request_line));
  std::size_t stop_at = point == KillPoint::kEarly  ? payload.size() / 16
                        : point == KillPoint::kLate ? payload.size() - payload.size() / 16
                                                    : payload.size();
  std::size_t sent = 0;
  asio::error_code error;
  while (sent < stop_at && !error) {
    std::size_t size = std::min(piece, stop_at - sent);
    sent += asio::write(socket, asio::buffer(payload.data() + sent, size), error);
  }
  ASSERT_FALSE(error) << error.message();
  if (point == KillPoint::kSendingSideClosed)
    socket.shutdown(asio::ip::tcp::socket::shutdown_send);
  server.Kill();
}

TEST(CrashRecovery, ASaveKilledPartWayLeavesTheOldFileOrTheNewOneWhole) {
  const std::string old_content = Pattern(3 * kMiB, 'A');
  const std::string new_content = Pattern(100 * kMiB, 'a');
  for (KillPoint point : {KillPoint::kEarly, KillPoint::kLate, KillPoint::kSendingSideClosed}) {
    SCOPED_TRACE(Describe(point));
    TemporaryFolder folder;
    folder.Write("flight.quv", old_content);
    {
      ServerProcess server(folder.path());
      SendAndKill(server, "client\tFile saving into server database flight.quv\n", new_content,
                  kMiB, point);
    }
    ServerProcess restarted(folder.path());
    std::string target = folder.Read("flight.quv");
    if (point == KillPoint::kSendingSideClosed) {
      EXPECT_TRUE(target == old_content || target == new_content)
          << "a file of " << target.size() << " bytes is neither the old nor the new one";
    } else {
      EXPECT_TRUE(target == old_content)
          << "a file of " << target.size() << " bytes is not the old one";
    }
    EXPECT_EQ(Leftovers(folder, {"flight.quv", "metar/metar.ini"}), std::vector<std::string>{});
    // The store serves and saves as before.
    EXPECT_EQ(ProtocolClient("127.0.0.1", restarted.port())
                  .Run("c", "File saving into server database flight.quv", "new")
                  .end,
              ProtocolReply::End::kClosed);
    EXPECT_EQ(folder.Read("flight.quv"), "new");
    EXPECT_EQ(restarted.Stop(), 0);
  }
}

TEST(CrashRecovery, SettingsReplacedWhenKilledAreTheOldOrTheNewOnesWhole) {
  const std::string old_settings = "Proxy.Type=fpcmNone\r\nDwnld.Type=0\r\n";
  // Nearly the largest settings payload, so that the kill finds it in flight.
  std::string new_settings = "Dwnld.Type=1\r\n";
  while (new_settings.size() < 1000 * 1024)
    new_settings += "; " + Pattern(60, 'a') + "\r\n";
  for (KillPoint point : {KillPoint::kEarly, KillPoint::kLate, KillPoint::kSendingSideClosed}) {
    SCOPED_TRACE(Describe(point));
    TemporaryFolder folder;
    folder.Write("metar/archive/.keep", "");
    folder.Write("metar/metar.ini", old_settings);
    {
      ServerProcess server(folder.path());
      SendAndKill(server, "client\tSetMIni\n", new_settings, 4096, point);
    }
    ServerProcess restarted(folder.path());
    std::string settings = folder.Read("metar/metar.ini");
    EXPECT_TRUE(settings == old_settings || settings == new_settings)
        << "settings of " << settings.size() << " bytes are neither the old nor the new ones";
    if (point != KillPoint::kSendingSideClosed) {
      EXPECT_EQ(settings, old_settings);
    }
    EXPECT_EQ(Leftovers(folder, {"metar/metar.ini", "metar/archive/.keep"}),
              std::vector<std::string>{});
    EXPECT_EQ(restarted.Stop(), 0);
  }
}

// A weather server with `stations` stations, each offering the reports of
// the 15th and 16th of September; the airport files hold two August reports
// each, so that the first September report filed archives them.
class WeatherCrash {
 public:
  static constexpr int kStations = 200;
  static constexpr int kReports = 24;

  WeatherCrash() {
    const std::string stations = "data/observations/metar/stations/";
    for (int i = 0; i < kStations; ++i) {
      std::string code = Code(i);
      std::string served;
      for (int r = 0; r < kReports; ++r) {
        served += TimeLine(r) + "\n" + code + " " + std::to_string(150000 + r * 100) +
                  "Z 18003MPS CAVOK 15/08 Q1015 NOSIG\n\n";
      }
      served_.Write(stations + code + ".TXT", served);
    }
  }

  // "A000" to "A199" as the server names them, lower case in file names.
  static std::string Code(int i) {
    std::string digits = std::to_string(1000 + i).substr(1);
    return "A" + digits;
  }
  static std::string FileName(int i) {
    std::string code = Code(i);
    code[0] = 'a';
    return code + ".txt";
  }
  static std::string TimeLine(int r) {
    return "2020/09/" + std::to_string(15 + r / 12) + " " + std::to_string(10 + r % 12) + ":00";
  }
  static std::string August(int i) {
    return "2020/08/30 08:00\r\n" + Code(i) + " 300800Z 18003MPS CAVOK 15/08 Q1015 NOSIG\r\n" +
           "2020/08/31 09:00\r\n" + Code(i) + " 310900Z 19004MPS CAVOK 17/08 Q1014 NOSIG\r\n";
  }
  static std::string September(int i, int reports) {
    std::string filed;
    for (int r = 0; r < reports; ++r) {
      filed += TimeLine(r) + "\r\n" + Code(i) + " " + std::to_string(150000 + r * 100) +
               "Z 18003MPS CAVOK 15/08 Q1015 NOSIG\r\n";
    }
    return filed;
  }

  // The working folder: settings that point at the test's FTP server and
  // the airport files with their August reports.
  void Prepare(TemporaryFolder& folder, std::uint16_t ftp_port) {
    folder.Write("metar/archive/.keep", "");
    folder.Write("metar/metar.ini", "Dwnld.Type=0\r\nftp.host=127.0.0.1\r\nftp.port=" +
                                        std::to_string(ftp_port) + "\r\n");
    for (int i = 0; i < kStations; ++i)
      folder.Write("metar/" + FileName(i), August(i));
  }

  const TemporaryFolder& served() const { return served_; }

 private:
  TemporaryFolder served_;
};

// What a killed filing may leave for airport `i`: its August reports either
// still in its file or whole in the archive, and the September reports that
// were filed, whole and in order. Empty when that holds.
std::string CheckAfterCrash(const TemporaryFolder& folder, int i) {
  std::string airport = folder.Read("metar/" + WeatherCrash::FileName(i));
  std::string archived = folder.Read("metar/archive/2020_08/" + WeatherCrash::FileName(i));
  std::string august = WeatherCrash::August(i);
  std::string september;
  if (airport.compare(0, august.size(), august) == 0) {
    september = airport.substr(august.size());
    if (!archived.empty() && archived != august)
      return "the archive is cut: " + archived;
  } else {
    if (archived != august)
      return "the August reports are lost: " + airport + "\narchive: " + archived;
    september = airport;
  }
  for (int reports = 0; reports <= WeatherCrash::kReports; ++reports) {
    if (september == WeatherCrash::September(i, reports))
      return "";
  }
  return "the September reports are cut or out of order: " + september;
}

// The parameter: how many airports have their first September report when
// the server is killed, early in the run or late in it. Each takes two
// settings-timer and station runs at their real periods, about half a
// minute, so each is a test of its own that may run beside the other.
class FilingCrash : public ::testing::TestWithParam<int> {};

TEST_P(FilingCrash, FilingAndArchivingKilledPartWayLoseNothingAndFileNothingTwice) {
  ASSERT_TRUE(FtpTestServer::Available()) << "pyftpdlib is missing: run scripts/install-deps.sh";
  WeatherCrash weather;
  FtpTestServer ftp(weather.served().path());
  ASSERT_NE(ftp.port(), 0) << "the FTP server did not start";
  const int filed_before_kill = GetParam();
  {
    TemporaryFolder folder;
    weather.Prepare(folder, ftp.port());
    auto airports_reached = [&] {
      int reached = 0;
      for (int i = 0; i < WeatherCrash::kStations; ++i) {
        if (folder.Read("metar/" + WeatherCrash::FileName(i)).find("2020/09/") != std::string::npos)
          ++reached;
      }
      return reached;
    };
    {
      ServerProcess server(folder.path());
      // The settings timer's first run 5 s after the start, the station run
      // 5 s after that.
      ASSERT_TRUE(Eventually([&] { return airports_reached() >= filed_before_kill; },
                             std::chrono::seconds(60)))
          << "the station run did not file reports in time: " << server.Output();
      server.Kill();
    }
    EXPECT_LT(airports_reached(), WeatherCrash::kStations)
        << "the run had ended before the kill; the crash tested nothing";
    int broken = 0;
    for (int i = 0; i < WeatherCrash::kStations && broken < 3; ++i) {
      std::string problem = CheckAfterCrash(folder, i);
      if (!problem.empty()) {
        ++broken;
        ADD_FAILURE() << WeatherCrash::FileName(i) << " after the crash: " << problem;
      }
    }

    // The next run files what is missing, and nothing twice.
    ServerProcess restarted(folder.path());
    auto all_filed = [&] {
      for (int i = 0; i < WeatherCrash::kStations; ++i) {
        if (folder.Read("metar/" + WeatherCrash::FileName(i)) !=
            WeatherCrash::September(i, WeatherCrash::kReports))
          return false;
      }
      return true;
    };
    EXPECT_TRUE(Eventually(all_filed, std::chrono::seconds(60)))
        << "not every airport holds its September reports once each after the next run";
    for (int i = 0; i < WeatherCrash::kStations; ++i) {
      std::string name = WeatherCrash::FileName(i);
      EXPECT_EQ(folder.Read("metar/archive/2020_08/" + name), WeatherCrash::August(i)) << name;
      if (HasFailure())
        break;
    }
    EXPECT_EQ(restarted.Stop(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(CrashRecovery, FilingCrash,
                         ::testing::Values(3, WeatherCrash::kStations * 3 / 4));

}  // namespace
}  // namespace sqv64
