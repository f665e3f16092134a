// sqv64ctl as an operator uses it: the real executable against a real
// server process, its output and its exit statuses.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <filesystem>
#include <thread>

#include "protocol_client.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

using testing_support::FreePort;
using testing_support::ProcessResult;
using testing_support::RunExecutable;
using testing_support::ServerProcess;
using testing_support::TemporaryFolder;

ProcessResult Ctl(std::uint16_t port, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"--host", "127.0.0.1", "--port", std::to_string(port)});
  return RunExecutable(SQV64_CTL_EXECUTABLE, arguments);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CtlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The demo store, as run.sh makes it.
    ProcessResult sample = RunExecutable(SQV64_CTL_EXECUTABLE, {"sample", folder_.path().string()});
    ASSERT_EQ(sample.exit_status, 0) << sample.output;
    server_ = std::make_unique<ServerProcess>(folder_.path());
  }

  std::uint16_t port() const { return server_->port(); }

  TemporaryFolder folder_;
  TemporaryFolder local_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(CtlTest, PingAndListShowTheServerAndItsStore) {
  ProcessResult ping = Ctl(port(), {"ping"});
  EXPECT_EQ(ping.exit_status, 0);
  EXPECT_EQ(ping.output, "OK\n");

  ProcessResult list = Ctl(port(), {"list"});
  EXPECT_EQ(list.exit_status, 0) << list.output;
  EXPECT_TRUE(Contains(list.output, "flight")) << list.output;
  EXPECT_TRUE(Contains(list.output, " files in " + folder_.path().string())) << list.output;
  EXPECT_TRUE(Contains(list.output, " MB free")) << list.output;

  ProcessResult json = Ctl(port(), {"--russian", "list", "--json"});
  EXPECT_EQ(json.exit_status, 0) << json.output;
  EXPECT_EQ(json.output.rfind("{\"folder\": ", 0), 0u) << json.output;
  EXPECT_TRUE(Contains(json.output, "\"size\": \"")) << json.output;
}

TEST_F(CtlTest, FilesRoundTripAndFailuresSayWhatWentWrong) {
  std::string content(5000, 'q');
  content.replace(13, 3, "QUV");
  local_.Write("mine.quv", content);
  ProcessResult put = Ctl(port(), {"put", (local_.path() / "mine.quv").string(), "copy.quv"});
  EXPECT_EQ(put.exit_status, 0) << put.output;
  EXPECT_EQ(folder_.Read("copy.quv"), content);

  std::string fetched = (local_.path() / "fetched.quv").string();
  ProcessResult get = Ctl(port(), {"get", "copy.quv", "-o", fetched});
  EXPECT_EQ(get.exit_status, 0) << get.output;
  EXPECT_EQ(local_.Read("fetched.quv"), content);

  EXPECT_EQ(Ctl(port(), {"delete", "copy.quv"}).exit_status, 0);
  EXPECT_FALSE(folder_.Exists("copy.quv"));

  ProcessResult missing = Ctl(port(), {"get", "--unlogged", "copy.quv", "-o", fetched + "2"});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_TRUE(Contains(missing.output, "without a reply")) << missing.output;
  EXPECT_FALSE(local_.Exists("fetched.quv2"));
  EXPECT_FALSE(local_.Exists("fetched.quv2.sqv64ctl-part"));

  ProcessResult refused = Ctl(port(), {"delete", "log.txt"});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_TRUE(folder_.Exists("log.txt"));

  ProcessResult unreadable = Ctl(port(), {"put", (local_.path() / "nothing.quv").string()});
  EXPECT_EQ(unreadable.exit_status, 1);
  EXPECT_TRUE(Contains(unreadable.output, "cannot read")) << unreadable.output;
}

TEST_F(CtlTest, AirportsAreAddedListedAndRemoved) {
  // Downloads go to a loopback port where nothing listens, never to the
  // real weather server.
  local_.Write("metar.ini", "ftp.host=127.0.0.1\r\nftp.port=9\r\n");
  ProcessResult settings = Ctl(port(), {"settings", "put", (local_.path() / "metar.ini").string()});
  EXPECT_EQ(settings.exit_status, 0) << settings.output;
  EXPECT_EQ(folder_.Read("metar/metar.ini"), "ftp.host=127.0.0.1\r\nftp.port=9\r\n");
  EXPECT_EQ(Ctl(port(), {"airports", "add", "uuee", "UUDD"}).exit_status, 0);
  std::string listed = Ctl(port(), {"airports"}).output;
  EXPECT_TRUE(listed == "UUEE\nUUDD\n" || listed == "UUDD\nUUEE\n") << listed;
  EXPECT_EQ(Ctl(port(), {"airports", "remove", "UUDD"}).exit_status, 0);
  EXPECT_EQ(Ctl(port(), {"airports"}).output, "UUEE\n");
  ProcessResult bad = Ctl(port(), {"airports", "add", "U/EE"});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_TRUE(Contains(bad.output, "not an airport code")) << bad.output;
}

TEST_F(CtlTest, AirportCountsReadInTheSingularAndPlural) {
  local_.Write("metar.ini", "ftp.host=127.0.0.1\r\nftp.port=9\r\n");
  ASSERT_EQ(Ctl(port(), {"settings", "put", (local_.path() / "metar.ini").string()}).exit_status,
            0);
  EXPECT_EQ(Ctl(port(), {"airports"}).output, "no airports are listed\n");
  EXPECT_EQ(Ctl(port(), {"airports", "add", "UUEE"}).output,
            "added 1 airport; reports follow within 15 minutes\n");
  EXPECT_EQ(Ctl(port(), {"airports", "add", "UUDD", "UUWW"}).output,
            "added 2 airports; reports follow within 15 minutes\n");
  EXPECT_EQ(Ctl(port(), {"airports", "remove", "UUDD"}).output, "removed 1 airport\n");
}

TEST_F(CtlTest, StatusShowsTheServerForPeopleAndAsReceivedForScripts) {
  ProcessResult table = Ctl(port(), {"status"});
  EXPECT_EQ(table.exit_status, 0) << "no airports: nothing can fail\n" << table.output;
  EXPECT_TRUE(Contains(table.output, "server    SQV64 ")) << table.output;
  EXPECT_TRUE(Contains(table.output, "access    no access.txt")) << table.output;
  EXPECT_FALSE(Contains(table.output, "PROBLEM")) << table.output;

  ProcessResult json = Ctl(port(), {"status", "--json"});
  EXPECT_EQ(json.exit_status, 0) << json.output;
  ProtocolReply direct = ProtocolClient("127.0.0.1", port()).Run("test", "GetStatus");
  // The same document but for the free space, which moves.
  EXPECT_EQ(json.output.substr(0, json.output.find("\"free_bytes\"")),
            direct.bytes.substr(0, direct.bytes.find("\"free_bytes\"")));
  EXPECT_EQ(Ctl(port(), {"status", "--xml"}).exit_status, 2);
}

TEST(Ctl, ANotRunningServerIsReportedAsSuch) {
  ProcessResult ping = Ctl(FreePort(), {"ping"});
  EXPECT_EQ(ping.exit_status, 1);
  EXPECT_TRUE(Contains(ping.output, "cannot connect to 127.0.0.1 port")) << ping.output;
  ProcessResult usage = RunExecutable(SQV64_CTL_EXECUTABLE, {"frobnicate"});
  EXPECT_EQ(usage.exit_status, 2);
  EXPECT_TRUE(Contains(usage.output, "usage: sqv64ctl")) << usage.output;
}

TEST(Ctl, AMalformedFileListIsReported) {
  // A peer that answers every request with bytes that are no file list.
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  std::thread peer([&] {
    asio::ip::tcp::socket socket = acceptor.accept();
    asio::streambuf line;
    asio::read_until(socket, line, '\n');
    asio::write(socket, asio::buffer(std::string("not a list\x05\x00", 12)));
  });
  ProcessResult list = Ctl(acceptor.local_endpoint().port(), {"list"});
  peer.join();
  EXPECT_EQ(list.exit_status, 1);
  EXPECT_TRUE(Contains(list.output, "malformed file list")) << list.output;
}

TEST(Ctl, AStatusThatIsNoStatusIsReported) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  std::thread peer([&] {
    for (std::string reply : {std::string("{\"version\": "), std::string()}) {
      asio::ip::tcp::socket socket = acceptor.accept();
      asio::streambuf line;
      asio::read_until(socket, line, '\n');
      asio::write(socket, asio::buffer(reply));
    }
  });
  ProcessResult malformed = Ctl(acceptor.local_endpoint().port(), {"status"});
  ProcessResult silent = Ctl(acceptor.local_endpoint().port(), {"status"});
  peer.join();
  EXPECT_EQ(malformed.exit_status, 1);
  EXPECT_TRUE(Contains(malformed.output, "malformed status")) << malformed.output;
  EXPECT_EQ(silent.exit_status, 1);
  EXPECT_TRUE(Contains(silent.output, "older than GetStatus")) << silent.output;
}

}  // namespace
}  // namespace sqv64
