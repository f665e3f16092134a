// Weather collection end to end: the server process, driven only through
// the protocol, collects reports from a real FTP server (Debian's pyftpdlib
// on 127.0.0.1) serving a tree shaped like the weather service's. The
// server's timers run at their real periods, so this takes tens of seconds.
#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
}  // namespace sqv64
