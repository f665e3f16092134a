// sqv64ctl as an operator uses it: the real executable against a real
// server process, its output and its exit statuses.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "fixtures/data_file_fixtures.h"
#include "fixtures/expected_catalogue.h"
#include "protocol_client.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"
#include "text/code_page.h"

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

const std::string kLoopbackSettings = "ftp.host=127.0.0.1\r\nftp.port=9\r\n";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CtlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The demo store, as run.sh makes it.
    ProcessResult sample = RunExecutable(SQV64_CTL_EXECUTABLE, {"sample", folder_.path().string()});
    ASSERT_EQ(sample.exit_status, 0) << sample.output;
    // Weather downloads go to a loopback port where nothing listens, never
    // to the real weather server.
    folder_.Write("metar/metar.ini", kLoopbackSettings);
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

TEST_F(CtlTest, MetarPrintsTheAirportFileByteForByte) {
  const std::string reports =
      "2020/09/14 08:00\r\nUUEE 140800Z 18003MPS CAVOK 15/08 Q1015 NOSIG\r\n"
      "2020/09/14 08:30\r\nUUEE 140830Z 18004MPS \xD2\xE5\xF1\xF2\r\n";
  folder_.Write("metar/uuee.txt", reports);
  for (const char* code : {"UUEE", "uuee"}) {
    ProcessResult metar = Ctl(port(), {"metar", code});
    EXPECT_EQ(metar.exit_status, 0) << code;
    EXPECT_TRUE(metar.output == reports) << code << ": " << metar.output;
  }
}

TEST_F(CtlTest, PingReachesTheServerOverIPv6) {
  ProcessResult ping = RunExecutable(SQV64_CTL_EXECUTABLE,
                                     {"--host", "::1", "--port", std::to_string(port()), "ping"});
  EXPECT_EQ(ping.exit_status, 0) << ping.output;
  EXPECT_EQ(ping.output, "OK\n");
}

TEST_F(CtlTest, AirportsAreAddedListedAndRemoved) {
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

// An empty reply to a delete means a refused delete or the last file gone;
// only a file that was listed before can have been deleted.
TEST(Ctl, DeleteSaysDeletedOnlyForAFileThatWasInTheStore) {
  TemporaryFolder store;
  TemporaryFolder local;
  ServerProcess server(store.path());
  for (const char* name : {"log.txt", "missing.hdr", "port.txt"}) {
    ProcessResult refused = Ctl(server.port(), {"delete", name});
    EXPECT_EQ(refused.exit_status, 1) << name << ": " << refused.output;
    EXPECT_FALSE(Contains(refused.output, "deleted \"")) << refused.output;
  }
  EXPECT_TRUE(store.Exists("log.txt"));
  EXPECT_TRUE(store.Exists("port.txt"));

  fixtures::PlainFileDescription flight;
  flight.record.items = {{"Type", "Tu-154M"}};
  local.Write("only.quv", fixtures::PlainFileBytes(flight));
  ASSERT_EQ(Ctl(server.port(), {"put", (local.path() / "only.quv").string()}).exit_status, 0);
  ProcessResult last = Ctl(server.port(), {"delete", "only.quv"});
  EXPECT_EQ(last.exit_status, 0) << last.output;
  EXPECT_TRUE(Contains(last.output, "deleted \"only.quv\"; 0 files remain")) << last.output;
  EXPECT_FALSE(store.Exists("only.quv"));
  EXPECT_EQ(Ctl(server.port(), {"delete", "only.quv"}).exit_status, 1);
}

// A peer that answers every "File list" with `reply`, one byte every
// `pause`; `reply` empty: it never answers at all.
class SlowListPeer {
 public:
  SlowListPeer(std::string reply, std::chrono::milliseconds pause)
      : acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}),
        thread_([this, reply = std::move(reply), pause] {
          asio::ip::tcp::socket socket = acceptor_.accept();
          asio::streambuf line;
          asio::read_until(socket, line, '\n');
          if (reply.empty()) {
            // Silent, with the connection open, until the test is done.
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!released_ && std::chrono::steady_clock::now() < deadline)
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return;
          }
          for (char byte : reply) {
            std::this_thread::sleep_for(pause);
            asio::write(socket, asio::buffer(&byte, 1));
          }
        }) {}
  ~SlowListPeer() {
    released_ = true;
    thread_.join();
  }
  std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

 private:
  std::atomic<bool> released_{false};
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  std::thread thread_;
};

TEST(Ctl, AListHasNoTimeLimitWhileBytesKeepComing) {
  std::string trailer = "/srv\t12\t";
  std::string list = trailer + std::string(1, static_cast<char>(trailer.size())) + '\0';
  // Ten bytes at 250 ms each: 2.5 s, more than twice the idle time.
  SlowListPeer slow(list, std::chrono::milliseconds(250));
  auto started = std::chrono::steady_clock::now();
  ProcessResult listed = Ctl(slow.port(), {"--timeout", "1", "list"});
  EXPECT_EQ(listed.exit_status, 0) << listed.output;
  EXPECT_TRUE(Contains(listed.output, "0 files in /srv")) << listed.output;
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));

  SlowListPeer silent("", std::chrono::milliseconds(0));
  ProcessResult gave_up = Ctl(silent.port(), {"--timeout", "1", "list"});
  EXPECT_EQ(gave_up.exit_status, 1);
  EXPECT_TRUE(Contains(gave_up.output, "sent or took nothing for 1 seconds")) << gave_up.output;
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
  // A peer that answers one request with bytes that are no file list.
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  asio::ip::tcp::socket socket(io);
  bool answered = false;
  acceptor.async_accept(socket, [&](asio::error_code error) {
    if (error)
      return;
    asio::streambuf line;
    asio::read_until(socket, line, '\n');
    asio::write(socket, asio::buffer(std::string("not a list\x05\x00", 12)));
    socket.close();
    answered = true;
  });
  std::thread peer([&] { io.run_for(std::chrono::seconds(30)); });
  ProcessResult list = Ctl(acceptor.local_endpoint().port(), {"list"});
  peer.join();
  EXPECT_TRUE(answered) << "sqv64ctl never asked";
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

// The table of `list`: the heading line, one line per file whose cells
// start where their headings start, and the folder with its free space.
TEST(Ctl, ListShowsOneAlignedLineOfColumnsPerFile) {
  TemporaryFolder folder;
  folder.Write("metar/metar.ini", kLoopbackSettings);
  struct Flight {
    std::string name;
    std::vector<std::string> values;  // type, reg., note, date, flight, pilot
    std::uint64_t flight_data;
  };
  const Flight flights[] = {
      {"b.quv",
       {"A320", "RA-00002", "second", "09.12.2020", "SU1403", "Konstantinopolsky"},
       900000},
      // A Cyrillic pilot (Windows-1251): columns count characters, not bytes.
      {"a.hdr",
       {"Tu-154M", "RA-85684", "first one", "08.12.2020", "SU1402", "\xC8\xE2\xE0\xED\xEE\xE2"},
       20000},
  };
  const char* titles[] = {"A/C type", "Reg.No.", "Note", "Date", "Flight", "Pilot"};
  std::map<std::string, std::string> sizes;
  for (const Flight& flight : flights) {
    fixtures::PlainFileDescription file;
    for (std::size_t item = 0; item < flight.values.size(); ++item)
      file.record.items.push_back({titles[item], flight.values[item]});
    file.flight_data_length = flight.flight_data;
    std::string bytes = fixtures::PlainFileBytes(file);
    folder.Write(flight.name, bytes);
    sizes[flight.name] = fixtures::ExpectedSizeText(bytes.size());
  }
  ServerProcess server(folder.path());
  auto available = [&] { return std::filesystem::space(folder.path()).available >> 20; };
  std::uint64_t before = available();
  ProcessResult list = Ctl(server.port(), {"list"});
  std::uint64_t after = available();
  ASSERT_EQ(list.exit_status, 0) << list.output;

  // Back to Windows-1251, one byte per character, so that positions in the
  // lines are the columns a terminal shows.
  std::vector<std::string> lines;
  std::istringstream in(list.output);
  for (std::string line; std::getline(in, line);)
    lines.push_back(Utf8ToAnsi(line));
  ASSERT_EQ(lines.size(), 4u) << list.output;
  const std::vector<std::string> headings = {"#",    "name",   "type",  "reg.", "note",
                                             "date", "flight", "pilot", "size"};
  std::vector<std::size_t> starts;
  for (const std::string& heading : headings) {
    std::size_t at = lines[0].find(heading, starts.empty() ? 0 : starts.back() + 1);
    ASSERT_NE(at, std::string::npos) << heading << " in " << lines[0];
    starts.push_back(at);
  }
  auto cells = [&](const std::string& line) {
    std::vector<std::string> found;
    for (std::size_t column = 0; column < starts.size(); ++column) {
      std::size_t end = column + 1 < starts.size() ? starts[column + 1] : std::string::npos;
      std::string cell = line.substr(std::min(starts[column], line.size()),
                                     end == std::string::npos ? end : end - starts[column]);
      while (!cell.empty() && cell.back() == ' ')
        cell.pop_back();
      found.push_back(cell);
    }
    return found;
  };
  // ".hdr" files come first.
  const Flight* in_order[] = {&flights[1], &flights[0]};
  for (std::size_t row = 0; row < 2; ++row) {
    const Flight& flight = *in_order[row];
    std::vector<std::string> expected = {std::to_string(row), flight.name};
    expected.insert(expected.end(), flight.values.begin(), flight.values.end());
    expected.push_back(sizes[flight.name]);
    EXPECT_EQ(cells(lines[row + 1]), expected) << lines[row + 1];
  }
  // "2 files in FOLDER, N MB free", N the volume's available mebibytes
  // (read before and after: others write meanwhile).
  const std::string start = "2 files in " + folder.path().string() + ", ";
  ASSERT_EQ(lines[3].rfind(start, 0), 0u) << lines[3];
  ASSERT_GT(lines[3].size(), start.size() + 8);
  std::uint64_t shown = std::stoull(lines[3].substr(start.size()));
  EXPECT_EQ(lines[3].substr(lines[3].size() - 8), " MB free");
  EXPECT_LE(shown, std::max(before, after) + 1);
  EXPECT_GE(shown + 1, std::min(before, after));
}

}  // namespace
}  // namespace sqv64
