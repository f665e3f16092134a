// The server executable as an operator runs it: started over a folder,
// spoken to over real sockets, stopped with SIGTERM.
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/resource.h>

#include <array>
#include <asio.hpp>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "fixtures/data_file_fixtures.h"
#include "protocol_client.h"
#include "support/eventually.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

using testing_support::Eventually;
using testing_support::FreePort;
using testing_support::RunServerExecutable;
using testing_support::ServerProcess;
using testing_support::TemporaryFolder;

// Log lines in the C locale's formats: "%m/%d/%y" padded to 10, "%H:%M:%S".
const std::string kStamp = R"(\d\d/\d\d/\d\d   \d\d:\d\d:\d\d)";
const std::map<std::string, std::string> kCLocale = {{"LC_ALL", "C"}};

TEST(ServerProcess, ServesBothAddressFamiliesAndLogsStartAndStop) {
  TemporaryFolder folder;
  ServerProcess server(folder.path(), kCLocale);
  for (const char* host : {"127.0.0.1", "::1"}) {
    ProtocolReply reply = ProtocolClient(host, server.port()).Run("client1", "GetOK");
    EXPECT_EQ(reply.bytes, "OK") << host;
    EXPECT_EQ(reply.end, ProtocolReply::End::kClosed) << host;
  }
  EXPECT_EQ(server.Stop(), 0);
  std::regex expected(kStamp + " START \\(" + folder.ServerPath() + "\\)\r\n" + kStamp +
                      " STOP\r\n");
  EXPECT_TRUE(std::regex_match(folder.Read("log.txt"), expected)) << folder.Read("log.txt");
}

// The entries of `folder` other than the ones named.
std::vector<std::string> OtherEntries(const TemporaryFolder& folder,
                                      const std::set<std::string>& known) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    std::string name = entry.path().filename().string();
    if (!known.contains(name))
      names.push_back(name);
  }
  return names;
}

TEST(ServerProcess, AStopCutsARunningTransferBeforeItsLogLine) {
  TemporaryFolder folder;
  folder.Write("flight.quv", "old content");
  ServerProcess server(folder.path(), kCLocale);
  const std::set<std::string> known = {"flight.quv", "port.txt", "log.txt", "metar",
                                       ".server-output"};

  // A save whose payload never ends: the client keeps its side open.
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), server.port()});
  asio::write(socket, asio::buffer("c\tFile saving into server database flight.quv\n" +
                                   std::string(1 << 20, 'n')));
  // The staging file shows that the server is inside the transfer.
  ASSERT_TRUE(Eventually([&] { return !OtherEntries(folder, known).empty(); }))
      << "the save never started; server output: " << server.Output();

  // The stop has to end the connection itself: the server cannot exit
  // while the transfer goes on, and the client never closes.
  EXPECT_EQ(server.Stop(SIGTERM, std::chrono::seconds(10)), 0);
  // The client sees its connection end (closed or reset), not a hang.
  std::array<char, 4096> buffer;
  asio::error_code read_error;
  bool ended = false;
  std::function<void()> read_on = [&] {
    socket.async_read_some(asio::buffer(buffer), [&](asio::error_code error, std::size_t) {
      if (error) {
        read_error = error;
        ended = true;
      } else {
        read_on();
      }
    });
  };
  read_on();
  io.run_for(std::chrono::seconds(10));
  EXPECT_TRUE(ended) << "the connection is still open after the stop";
  // The cut payload is neither saved nor logged; the log ends with STOP.
  EXPECT_EQ(folder.Read("flight.quv"), "old content");
  EXPECT_EQ(OtherEntries(folder, known), std::vector<std::string>{});
  std::regex expected(kStamp + " START \\(" + folder.ServerPath() + "\\)\r\n" + kStamp +
                      " STOP\r\n");
  EXPECT_TRUE(std::regex_match(folder.Read("log.txt"), expected)) << folder.Read("log.txt");
}

TEST(ServerProcess, CtrlCStopsTheServerLikeAServiceStop) {
  TemporaryFolder folder;
  ServerProcess server(folder.path(), kCLocale);
  EXPECT_EQ(server.Stop(SIGINT), 0);
  std::regex expected(kStamp + " START \\(" + folder.ServerPath() + "\\)\r\n" + kStamp +
                      " STOP\r\n");
  EXPECT_TRUE(std::regex_match(folder.Read("log.txt"), expected)) << folder.Read("log.txt");
}

TEST(ServerProcess, AnExecutableCopiedIntoAFolderServesThatFolder) {
  TemporaryFolder folder;
  folder.Write("flight.quv", "flight data");
  ServerProcess server(folder.path(), kCLocale, ServerProcess::Start::kCopiedExecutable);
  ProtocolClient client("127.0.0.1", server.port());
  EXPECT_EQ(client.Run("c", "File copying from server flight.quv").bytes, "flight data");
  client.Run("c", "File saving into server database new.quv", "saved");
  EXPECT_EQ(folder.Read("new.quv"), "saved");
  EXPECT_EQ(server.Stop(), 0);
  std::regex expected(kStamp + " START \\(" + folder.ServerPath() + "\\)\r\n" + kStamp +
                      " File saving into server database new.quv \\(c\\)\r\n" + kStamp +
                      " STOP\r\n");
  EXPECT_TRUE(std::regex_match(folder.Read("log.txt"), expected)) << folder.Read("log.txt");
}

// A suppressions file for the leak checker naming glibc's LOCPATH copy.
std::string LocaleLeakSuppressions(const TemporaryFolder& scratch) {
  scratch.Write("locale-leaks.supp", "leak:__argz_add_sep\n");
  return (scratch.path() / "locale-leaks.supp").string();
}

// The environment that makes a process use the Russian date and time
// formats: the system's locale when it has one, else one generated into
// `scratch` from the locale sources (Debian's "locales" package).
std::map<std::string, std::string> RussianLocale(const TemporaryFolder& scratch) {
  const std::string name = "ru_RU.UTF-8";
  if (locale_t installed = newlocale(LC_TIME_MASK, name.c_str(), nullptr)) {
    freelocale(installed);
    return {{"LC_ALL", name}};
  }
  std::string generated = (scratch.path() / name).string();
  auto result = testing_support::RunExecutable("/usr/bin/localedef",
                                               {"-i", "ru_RU", "-f", "UTF-8", generated}, {},
                                               std::chrono::seconds(120));
  if (!std::filesystem::exists(std::filesystem::path(generated) / "LC_TIME")) {
    ADD_FAILURE() << "cannot generate " << name
                  << " (scripts/install-deps.sh installs the locale sources): " << result.output;
    return {};
  }
  // glibc keeps a few bytes of LOCPATH for the whole process, which the
  // leak checker of a sanitizer build would report at the exit.
  return {{"LC_ALL", name},
          {"LOCPATH", scratch.path().string()},
          {"LSAN_OPTIONS", "suppressions=" + LocaleLeakSuppressions(scratch)}};
}

TEST(ServerProcess, LogLinesUseTheDateAndTimeFormatsOfTheLocale) {
  TemporaryFolder locales;
  std::map<std::string, std::string> russian = RussianLocale(locales);
  ASSERT_FALSE(russian.empty());
  TemporaryFolder folder;
  ServerProcess server(folder.path(), russian);
  EXPECT_EQ(server.Stop(), 0);
  // "%d.%m.%Y" fills the date field of 10 exactly, "%H:%M:%S" the time.
  const std::string stamp = R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)";
  std::regex expected(stamp + " START \\(" + folder.ServerPath() + "\\)\r\n" + stamp + " STOP\r\n");
  EXPECT_TRUE(std::regex_match(folder.Read("log.txt"), expected)) << folder.Read("log.txt");
}

TEST(ServerProcess, ARefusedStartEndsWithStatusOne) {
  TemporaryFolder folder;
  std::string quoted = "\"" + (folder.path() / "sqv64").string() + "\"";
  auto result = RunServerExecutable({}, {{"SQV64_IMAGE_PATH", quoted}});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_FALSE(folder.Exists("log.txt"));
}

TEST(ServerProcess, APortInUseFailsTheStartWithAMessage) {
  TemporaryFolder folder;
  asio::io_context io;
  asio::ip::tcp::acceptor taken(io, {asio::ip::tcp::v4(), FreePort()});
  folder.Write("port.txt", std::to_string(taken.local_endpoint().port()));
  auto result = RunServerExecutable({}, {{"SQV64_IMAGE_PATH", (folder.path() / "sqv64").string()}});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.output.find("Service failed on start: "), std::string::npos) << result.output;
  EXPECT_NE(folder.Read("log.txt").find(" START ("), std::string::npos);
}

TEST(ServerProcess, SwitchesWriteAndRemoveTheSystemdUnit) {
  TemporaryFolder units;
  std::map<std::string, std::string> environment = {{"SQV64_UNIT_DIR", units.path().string()}};
  auto installed = RunServerExecutable({"/INSTALL"}, environment);
  EXPECT_EQ(installed.exit_status, 0);
  EXPECT_EQ(installed.output, "Service installed successfully\n");
  EXPECT_NE(units.Read("SQuv64.service").find("Description=Server Quvara64"), std::string::npos);
  auto silent = RunServerExecutable({"-uninstall", "-SILENT"}, environment);
  EXPECT_EQ(silent.exit_status, 0);
  EXPECT_EQ(silent.output, "");
  EXPECT_FALSE(units.Exists("SQuv64.service"));
  auto failed = RunServerExecutable({"/Uninstall"}, environment);
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_EQ(
      failed.output.rfind("Service \"Server Quvara64\" failed to uninstall with error: \"", 0), 0u)
      << failed.output;
}

TEST(ServerProcess, ThousandsOfIdleConnectionsDoNotDelayOthers) {
  constexpr int kIdle = 2000;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < kIdle + 200)
    GTEST_SKIP() << "too few file descriptors allowed";
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);

  TemporaryFolder folder;
  ServerProcess server(folder.path());
  // All at once, as many clients would: the short listen queue makes some
  // of them retry, as real clients do.
  asio::io_context io;
  std::vector<asio::ip::tcp::socket> idle;
  idle.reserve(kIdle);
  int connected = 0;
  asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), server.port());
  for (int i = 0; i < kIdle; ++i) {
    idle.emplace_back(io).async_connect(endpoint, [&, i](const asio::error_code& error) {
      if (error)
        return;
      ++connected;
      if (i % 2 == 0)
        asio::write(idle[static_cast<std::size_t>(i)], asio::buffer("half a line"));
    });
  }
  io.run_for(std::chrono::seconds(60));
  ASSERT_EQ(connected, kIdle);
  // The last of them may still wait in the listen queue; once one more
  // client got through, the server has taken them all.
  EXPECT_EQ(ProtocolClient("127.0.0.1", server.port()).Run("c", "GetOK").bytes, "OK");
  for (int attempt = 0; attempt < 5; ++attempt) {
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ProtocolClient("127.0.0.1", server.port()).Run("c", "GetOK").bytes, "OK");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  }
  EXPECT_EQ(server.Stop(), 0);
}

// Clients that hold the server up in every way a connection can: half a
// request line, nothing at all, and a list whose reply is never read.
TEST(ServerProcess, StalledClientsDoNotDelayOthers) {
  constexpr int kHalfLines = 300;
  constexpr int kSilent = 200;
  constexpr int kStoreFiles = 1500;  // a list of 5 MB, more than the socket buffers hold
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < kHalfLines + kSilent + 200)
    GTEST_SKIP() << "too few file descriptors allowed";
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);

  TemporaryFolder folder;
  fixtures::PlainFileDescription plain;
  plain.record.items = {{"Type", "Tu-154"}, {"Number", "RA-85001"}};
  std::string bytes = fixtures::PlainFileBytes(plain);
  for (int i = 0; i < kStoreFiles; ++i)
    folder.Write("flight_" + std::to_string(i) + ".hdr", bytes);
  ServerProcess server(folder.path());
  asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), server.port());
  // A client that waits longer than this has failed anyway.
  ProtocolClient client("127.0.0.1", server.port(), std::chrono::seconds(5));
  // What the list costs this build (much more under the thread sanitizer)
  // with nobody in the way: the stalled clients may add less than a second.
  auto unhindered = std::chrono::steady_clock::now();
  ASSERT_EQ(client.Run("c", "GetOK").bytes, "OK");
  const auto ok_limit = std::chrono::steady_clock::now() - unhindered + std::chrono::seconds(1);
  unhindered = std::chrono::steady_clock::now();
  ASSERT_EQ(client.Run("c", "File list").end, ProtocolReply::End::kClosed);
  const auto list_limit = std::chrono::steady_clock::now() - unhindered + std::chrono::seconds(1);

  asio::io_context io;
  std::vector<asio::ip::tcp::socket> stalled;
  stalled.reserve(kHalfLines + kSilent + 1);
  int connected = 0;
  for (int i = 0; i < kHalfLines + kSilent; ++i) {
    stalled.emplace_back(io).async_connect(endpoint, [&, i](const asio::error_code& error) {
      if (error)
        return;
      ++connected;
      if (i < kHalfLines)
        asio::write(stalled[static_cast<std::size_t>(i)], asio::buffer("client\tFile li"));
    });
  }
  io.run_for(std::chrono::seconds(30));
  ASSERT_EQ(connected, kHalfLines + kSilent) << "not every stalled client got connected";
  // The list that is never read: a small receive buffer fills at once.
  asio::ip::tcp::socket& unread = stalled.emplace_back(io);
  unread.open(asio::ip::tcp::v4());
  unread.set_option(asio::socket_base::receive_buffer_size(4096));
  unread.connect(endpoint);
  asio::write(unread, asio::buffer(std::string("client\tFile list\n")));
  ASSERT_TRUE(Eventually([&] { return unread.available() > 0; }))
      << "the list that is never read was never sent";

  const std::size_t whole_list = std::size_t{kStoreFiles} * fixtures::kRecordSize;
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Run("c", "GetOK").bytes, "OK");
    EXPECT_LT(std::chrono::steady_clock::now() - started, ok_limit) << "GetOK";
    started = std::chrono::steady_clock::now();
    ProtocolReply list = client.Run("c", "File list");
    EXPECT_EQ(list.end, ProtocolReply::End::kClosed);
    EXPECT_GT(list.bytes.size(), whole_list);
    EXPECT_LT(std::chrono::steady_clock::now() - started, list_limit) << "list";
  }
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace sqv64
