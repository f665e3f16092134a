// Weather collection end to end: the server process, driven only through
// the protocol, collects reports from a real FTP server (Debian's pyftpdlib
// on 127.0.0.1) serving a tree shaped like the weather service's. The
// server's timers run at their real periods, so this takes tens of seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "protocol_client.h"
#include "support/eventually.h"
#include "support/ftp_test_server.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"
#include "support/weather_reports.h"

namespace sqv64 {
namespace {

using testing_support::Downloaded;
using testing_support::Eventually;
using testing_support::Filed;
using testing_support::FtpTestServer;
using testing_support::kUudd0800;
using testing_support::kUudd0830;
using testing_support::kUuee0800;
using testing_support::kUuee0830;
using testing_support::ProcessResult;
using testing_support::RunExecutable;
using testing_support::ServerProcess;
using testing_support::TemporaryFolder;

TEST(WeatherEndToEnd, AirportsAddedByAClientAreCollectedOnce) {
  SQV64_NEED_FTP_TEST_SERVER();
  TemporaryFolder served;
  const std::string stations = "data/observations/metar/stations/";
  served.Write(stations + "UUEE.TXT", Downloaded({kUuee0800}));
  served.Write(stations + "UUDD.TXT", Downloaded({kUudd0800}));
  served.Write(stations + "KJFK.TXT", "2020/09/14 08:00\nKJFK 140800Z 00000KT 10SM CLR\n");
  served.Write("data/observations/metar/cycles/06Z.TXT", Downloaded({kUuee0800}));
  FtpTestServer ftp(served.path());
  ASSERT_NE(ftp.port(), 0) << "the FTP server did not start";

  TemporaryFolder folder;
  ServerProcess server(folder.path());
  ProtocolClient client("127.0.0.1", server.port());
  std::string settings = "Proxy.Type=fpcmNone\r\nDwnld.Type=0\r\nftp.host=127.0.0.1\r\nftp.port=" +
                         std::to_string(ftp.port()) + "\r\n";
  client.Run("test", "SetMIni", settings);
  EXPECT_EQ(folder.Read("metar/metar.ini"), settings);
  client.Run("test", "SetArpt", "UUEEUUDD");

  // A settings-timer run 5 s later, the first station run 5 s after that;
  // the run is over once its session ended.
  ASSERT_TRUE(Eventually([&] { return ftp.ClosedSessions() == 1; }, std::chrono::seconds(40)))
      << "FTP server: " << testing::PrintToString(ftp.Events())
      << "\nserver output: " << server.Output();
  EXPECT_EQ(folder.Read("metar/uuee.txt"), Filed({kUuee0800}));
  EXPECT_EQ(folder.Read("metar/uudd.txt"), Filed({kUudd0800}));
  EXPECT_FALSE(folder.Exists("metar/kjfk.txt"));

  std::string airports = client.Run("test", "GetArpt").bytes;
  EXPECT_TRUE(airports == "uueeuudd" || airports == "uudduuee") << airports;
  EXPECT_EQ(client.Run("test", "File copying from server metar\\uuee.txt").bytes,
            Filed({kUuee0800}));

  // A new report for UUDD, and a run started anew by adding an airport that
  // is already there: only the new report arrives, nothing twice, and the
  // reports already filed stay.
  served.Write(stations + "UUDD.TXT", Downloaded({kUudd0800, kUudd0830}));
  client.Run("test", "SetArpt", "UUEE");
  ASSERT_TRUE(Eventually([&] { return ftp.ClosedSessions() == 2; }, std::chrono::seconds(40)))
      << "FTP server: " << testing::PrintToString(ftp.Events())
      << "\nserver output: " << server.Output();
  EXPECT_EQ(folder.Read("metar/uudd.txt"), Filed({kUudd0800, kUudd0830}));
  EXPECT_EQ(folder.Read("metar/uuee.txt"), Filed({kUuee0800}));

  client.Run("test", "DelArpt", "UUDD");
  EXPECT_FALSE(folder.Exists("metar/uudd.txt"));
  EXPECT_EQ(client.Run("test", "GetArpt").bytes, "uuee");
  EXPECT_EQ(server.Stop(), 0);
}

// The lines of log.txt that hold `part`.
std::size_t LinesWith(const std::string& log, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
    ++count;
  return count;
}

// When the last run started, as GetStatus says.
std::string LastRunTime(const ProtocolClient& client) {
  auto status = nlohmann::json::parse(client.Run("test", "GetStatus").bytes, nullptr, false);
  if (status.is_discarded() || !status["weather"]["last_run"].is_object())
    return {};
  return status["weather"]["last_run"]["time"].get<std::string>();
}

ProcessResult Status(std::uint16_t port, bool json) {
  std::vector<std::string> arguments = {"--host", "127.0.0.1", "--port", std::to_string(port),
                                        "status"};
  if (json)
    arguments.push_back("--json");
  return RunExecutable(SQV64_CTL_EXECUTABLE, arguments);
}

TEST(WeatherEndToEnd, AWeatherServerThatGoesAwayAndComesBackIsLoggedOnceEachWay) {
  SQV64_NEED_FTP_TEST_SERVER();
  TemporaryFolder served;
  const std::string stations = "data/observations/metar/stations/";
  served.Write(stations + "UUEE.TXT", Downloaded({kUuee0800}));
  std::optional<FtpTestServer> ftp(std::in_place, served.path());
  ASSERT_NE(ftp->port(), 0) << "the FTP server did not start";
  const std::uint16_t ftp_port = ftp->port();

  TemporaryFolder folder;
  ServerProcess server(folder.path());
  ProtocolClient client("127.0.0.1", server.port());
  std::string settings =
      "Dwnld.Type=0\r\nftp.host=127.0.0.1\r\nftp.port=" + std::to_string(ftp_port) + "\r\n";
  client.Run("test", "SetMIni", settings);
  client.Run("test", "SetArpt", "UUEE");
  ASSERT_TRUE(Eventually([&] { return folder.Read("metar/uuee.txt") == Filed({kUuee0800}); },
                         std::chrono::seconds(40)))
      << folder.Read("metar/uuee.txt");
  ProcessResult working = Status(server.port(), false);
  EXPECT_EQ(working.exit_status, 0) << working.output;

  // The weather server goes away; resending the settings starts a run
  // within about 10 seconds.
  ftp.reset();
  client.Run("test", "SetMIni", settings);
  const std::string failed = "METAR station run failed: cannot connect to 127.0.0.1 port " +
                             std::to_string(ftp_port) + ": ";
  ASSERT_TRUE(Eventually([&] { return LinesWith(folder.Read("log.txt"), failed) > 0; },
                         std::chrono::seconds(40)))
      << folder.Read("log.txt");
  ProcessResult failing = Status(server.port(), false);
  EXPECT_EQ(failing.exit_status, 3) << failing.output;
  EXPECT_EQ(failing.output.rfind("PROBLEM", 0), 0u) << failing.output;
  ProcessResult failing_json = Status(server.port(), true);
  EXPECT_EQ(failing_json.exit_status, 3) << failing_json.output;
  EXPECT_NE(failing_json.output.find("\"error\": \"cannot connect to 127.0.0.1 port " +
                                     std::to_string(ftp_port)),
            std::string::npos)
      << failing_json.output;

  // A second failing run adds no line.
  std::string first_failure = LastRunTime(client);
  client.Run("test", "SetMIni", settings);
  ASSERT_TRUE(
      Eventually([&] { return LastRunTime(client) != first_failure; }, std::chrono::seconds(40)))
      << "no second run";

  // Back again, with a new report.
  served.Write(stations + "UUEE.TXT", Downloaded({kUuee0800, kUuee0830}));
  ftp.emplace(served.path(), ftp_port);
  ASSERT_EQ(ftp->port(), ftp_port) << "the FTP server did not start again on its port";
  client.Run("test", "SetMIni", settings);
  ASSERT_TRUE(Eventually(
      [&] { return LinesWith(folder.Read("log.txt"), "METAR station run: 1 report filed") > 0; },
      std::chrono::seconds(40)))
      << folder.Read("log.txt");
  ProcessResult back = Status(server.port(), false);
  EXPECT_EQ(back.exit_status, 0) << back.output;

  std::string log = folder.Read("log.txt");
  EXPECT_EQ(LinesWith(log, "METAR station run failed"), 1u) << log;
  EXPECT_EQ(LinesWith(log, "METAR station run: "), 1u) << log;
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace sqv64
