#include "protocol/data_file_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "catalogue/catalogue_scan.h"
#include "catalogue/header_record.h"
#include "fixtures/data_file_fixtures.h"
#include "fixtures/expected_catalogue.h"
#include "protocol/testing/test_server.h"
#include "support/eventually.h"
#include "text/code_page.h"
#include "text/label_table.h"

namespace sqv64 {
namespace {

using testing_support::TestServer;
using End = ProtocolReply::End;

const std::string kCopyLogged = "File copying from server database ";
const std::string kCopy = "File copying from server ";
const std::string kSave = "File saving into server database ";
const std::string kDelete = "File deleting from server database ";
const std::string kLogStamp = "08.12.2020  9:05:07 ";

// Bytes that differ from offset to offset, so that a lost or repeated piece
// shows.
std::string PatternedBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
  return bytes;
}

class DataFileCommandsTest : public ::testing::Test {
 protected:
  std::string Log() { return server_.store().Read("log.txt"); }
  std::vector<std::string> StoreEntries() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(server_.store().path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The request line travels as UTF-8; `command` is the server's 8-bit text.
  ProtocolReply Run(const std::string& command, const std::string& payload = {}) {
    return server_.Client().Run("client", AnsiToUtf8(command), payload);
  }

  TestServer server_;
};

TEST_F(DataFileCommandsTest, CopiesSendTheExactBytesAndOnlyTheDatabaseCopyIsLogged) {
  std::string content;
  for (int i = 0; i < 700000; ++i)
    content.push_back(static_cast<char>(i * 7));
  server_.store().Write("a.quv", content);
  EXPECT_EQ(Run(kCopy + "a.quv").bytes, content);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Run(kCopyLogged + "a.quv").bytes, content);
  EXPECT_EQ(Log(), kLogStamp + "File copying from server database a.quv (client)\r\n");
}

TEST_F(DataFileCommandsTest, ACopyOfAMissingFileIsEmptyButStillLogged) {
  ProtocolReply reply = Run(Label(0, -255) + "missing.hdr");
  EXPECT_EQ(reply.end, End::kClosed);
  EXPECT_EQ(reply.bytes, "");
  EXPECT_EQ(Log(), kLogStamp + Label(0, -255) + "missing.hdr (client)\r\n");
  EXPECT_EQ(Run(kCopy).bytes, "");  // the folder itself is no file
}

TEST_F(DataFileCommandsTest, CopiesStayInsideTheWorkingFolder) {
  std::filesystem::path outside = server_.store().path().parent_path() / "outside-secret.hdr";
  { std::ofstream(outside) << "secret"; }
  server_.store().Write("sub/inner.hdr", "inner");
  EXPECT_EQ(Run(kCopy + "sub\\inner.hdr").bytes, "inner");
  EXPECT_EQ(Run(kCopy + "..\\outside-secret.hdr").bytes, "");
  EXPECT_EQ(Run(kCopy + "sub/../../outside-secret.hdr").bytes, "");
  EXPECT_EQ(Run(kCopy + outside.string()).bytes, "");
  std::filesystem::remove(outside);
}

// A client must never take a cut file for a whole one: a read that fails
// once bytes went out resets the connection; one that fails before sends
// nothing and closes as for a missing file.
TEST_F(DataFileCommandsTest, AFetchWhoseReadFailsEndsWithAResetOnceBytesWentOut) {
  const std::string content(3 << 20, 'q');
  server_.store().Write("failing.quv", content);
  struct Case {
    std::uint64_t good_bytes;
    End end;
  } cases[] = {{0, End::kClosed}, {1 << 20, End::kReset}, {(3 << 20) - 1, End::kReset}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.good_bytes);
    server_.platform().SetFileFaults(server_.store().ServerPath() + "failing.quv",
                                     {.fail_after = c.good_bytes});
    ProtocolReply reply = Run(kCopy + "failing.quv");
    EXPECT_EQ(reply.end, c.end) << reply.error;
    EXPECT_LE(reply.bytes.size(), c.good_bytes);
    EXPECT_EQ(reply.bytes, content.substr(0, reply.bytes.size()));
  }
  EXPECT_EQ(server_.Client().Run("client", "GetOK").bytes, "OK");
}

TEST_F(DataFileCommandsTest, WeatherFilesAreReadThroughTheWeatherSide) {
  server_.weather().weather_file = "2020/09/14 08:00\r\nUUEE 140800Z\r\n";
  EXPECT_EQ(Run(kCopy + "metar\\uuee.txt").bytes, *server_.weather().weather_file);
  EXPECT_EQ(server_.weather().Calls(),
            std::vector<std::string>{"ReadWeatherFile:" + server_.store().ServerPath() +
                                     "metar\\uuee.txt"});
}

// A fetch goes through the kernel where it can and through a buffer where
// it cannot; either way a large file arrives whole, and a read error after
// the first bytes resets the connection.
struct FetchCase {
  const char* name;
  bool kernel_send;
};

class FetchPaths : public DataFileCommandsTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(FetchPaths, ALargeFileArrivesWhole) {
  const std::string content = PatternedBytes((8 << 20) + 12345);
  server_.store().Write("big.quv", content);
  server_.platform().SetFileFaults(server_.store().ServerPath() + "big.quv",
                                   {GetParam().kernel_send, std::nullopt});
  ProtocolReply reply = Run(kCopy + "big.quv");
  EXPECT_EQ(reply.end, End::kClosed) << reply.error;
  EXPECT_EQ(reply.bytes.size(), content.size());
  EXPECT_TRUE(reply.bytes == content);
}

TEST_P(FetchPaths, AReadErrorAfterTheFirstBytesResetsTheConnection) {
  server_.store().Write("big.quv", PatternedBytes(4 << 20));
  server_.platform().SetFileFaults(server_.store().ServerPath() + "big.quv",
                                   {GetParam().kernel_send, std::uint64_t{1} << 20});
  ProtocolReply reply = Run(kCopy + "big.quv");
  EXPECT_EQ(reply.end, End::kReset);
  EXPECT_LE(reply.bytes.size(), std::size_t{1} << 20);
}

INSTANTIATE_TEST_SUITE_P(Both, FetchPaths,
                         ::testing::Values(FetchCase{"Kernel", true}, FetchCase{"Buffered", false}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(DataFileCommands, AClientThatTakesNothingIsCutAfterTheIdleTimeWithAReset) {
  TestServer server(TcpServerOptions{std::chrono::milliseconds(200), 2, 2});
  const std::size_t size = 64 << 20;
  server.store().Write("big.quv", std::string(size, 'b'));
  std::size_t received = 0;
  bool paused = false;
  ProtocolReply reply = server.Client().RunStreaming(
      "client\t" + kCopy + "big.quv\n", [] { return std::string(); },
      [&](std::string_view chunk) {
        received += chunk.size();
        if (!paused) {
          paused = true;
          std::this_thread::sleep_for(std::chrono::seconds(1));
        }
      });
  EXPECT_EQ(reply.end, End::kReset);
  EXPECT_LT(received, size);
}

TEST_F(DataFileCommandsTest, ASaveReplacesTheFileByteForByteUnderItsLastNameComponent) {
  server_.store().Write("flight.quv", "old content that is longer");
  std::string payload("\x00\x01\r\n\x1A new", 10);
  ProtocolReply reply = Run(kSave + "C:\\Temp\\flight.quv", payload);
  EXPECT_EQ(reply.end, End::kClosed);
  EXPECT_EQ(reply.bytes, "");
  EXPECT_EQ(server_.store().Read("flight.quv"), payload);
  EXPECT_EQ(Log(), kLogStamp + kSave + "C:\\Temp\\flight.quv (client)\r\n");
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"flight.quv", "log.txt"}));
}

// Saves arrive in chunks while the previous one is written; payloads around
// the chunk size are stored exactly.
TEST_F(DataFileCommandsTest, LargeSavesAreStoredExactlyWhateverTheirSize) {
  for (std::size_t size : {std::size_t{1}, (std::size_t{1} << 20) - 1, std::size_t{1} << 20,
                           std::size_t{2} << 20, (std::size_t{3} << 20) + 17}) {
    const std::string content = PatternedBytes(size);
    ProtocolReply reply = Run(kSave + "big.quv", content);
    EXPECT_EQ(reply.end, End::kClosed) << size;
    std::string stored = server_.store().Read("big.quv");
    EXPECT_EQ(stored.size(), size);
    EXPECT_TRUE(stored == content) << size;
  }
}

TEST_F(DataFileCommandsTest, AnEmptySaveChangesAndLogsNothing) {
  server_.store().Write("flight.quv", "old");
  Run(kSave + "flight.quv", "");
  EXPECT_EQ(server_.store().Read("flight.quv"), "old");
  EXPECT_FALSE(server_.store().Exists("log.txt"));
}

TEST_F(DataFileCommandsTest, SavesNeverReplaceTheServersOwnFiles) {
  server_.store().Write("port.txt", "8010");
  for (std::string name : {"port.txt", "log.txt", "sqv64", "metar\\metar.ini", "", "x.hdr\\"}) {
    Run(kSave + name, "payload");
  }
  EXPECT_EQ(server_.store().Read("port.txt"), "8010");
  EXPECT_FALSE(server_.store().Exists("sqv64"));
  EXPECT_FALSE(server_.store().Exists("metar"));
  // Refused saves are logged like any save, and leave no file behind.
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"log.txt", "port.txt"}));
  std::string log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6);
}

TEST_F(DataFileCommandsTest, AClientThatResetsDuringASaveLeavesTheOldFile) {
  std::string old_content(3424 + 1000, 'o');
  server_.store().Write("big.quv", old_content);
  {
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), server_.server().port()});
    asio::write(socket, asio::buffer("client\t" + kSave + "big.quv\n"));
    std::string chunk(1 << 20, 'n');
    for (int i = 0; i < 100; ++i)
      asio::write(socket, asio::buffer(chunk));
    socket.set_option(asio::socket_base::linger(true, 0));
    socket.close();
  }
  // The server notices the reset when it reads on; the staged file goes
  // only when the save ends.
  EXPECT_TRUE(testing_support::Eventually([&] { return StoreEntries().size() == 1; },
                                          std::chrono::seconds(60)))
      << "the staged file is still there";
  EXPECT_EQ(server_.store().Read("big.quv"), old_content);
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{"big.quv"});
}

TEST_F(DataFileCommandsTest, ASaveWhoseStagingFileCannotBeCreatedStillDrainsAndLogs) {
  server_.store().Write("flight.quv", "old");
  server_.platform().SetOpenFault(
      [](const std::string& path) { return path.find("sqv64-staged-") == std::string::npos; });
  std::string payload(3 << 20, 'n');  // more than the socket buffers hold
  ProtocolReply reply = Run(kSave + "flight.quv", payload);
  EXPECT_EQ(reply.end, End::kClosed) << reply.error;
  EXPECT_EQ(server_.store().Read("flight.quv"), "old");
  EXPECT_EQ(Log(), kLogStamp + kSave + "flight.quv (client)\r\n");
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"flight.quv", "log.txt"}));
}

// A failure after the first batch of a catalogue went out resets the
// connection, so that the client cannot take what it got for a whole list.
TEST_F(DataFileCommandsTest, AListOrDeleteThatFailsPartWayResetsTheConnection) {
  struct InjectedFault {};  // no std::exception: the scan does not absorb it
  fixtures::PlainFileDescription file;
  file.record.items = {{"Type", "Tu-154M"}};
  const std::string bytes = fixtures::PlainFileBytes(file);
  struct Case {
    std::string command;
    std::string deleted;
  } cases[] = {{"File list", ""}, {kDelete + "a.hdr", "a.hdr"}};
  for (const Case& c : cases) {
    server_.store().Write("a.hdr", bytes);
    server_.store().Write("b.hdr", bytes);
    // The second batch holds the .quv files past the first batch.
    for (std::size_t i = 0; i < CatalogueScan::kBatchFiles + 10; ++i) {
      server_.store().Write("f" + std::to_string(10000 + i) + ".quv", "unreadable");
    }
    const std::string failing =
        "f" + std::to_string(10000 + CatalogueScan::kBatchFiles + 6) + ".quv";
    server_.platform().SetOpenFault([failing](const std::string& path) {
      if (path.find(failing) != std::string::npos)
        throw InjectedFault{};
      return true;
    });
    ProtocolReply reply = Run(c.command);
    EXPECT_EQ(reply.end, End::kReset) << c.command;
    EXPECT_FALSE(c.deleted.empty() ? false : server_.store().Exists(c.deleted)) << c.command;
    // Without the fault the same command completes.
    server_.platform().SetOpenFault(nullptr);
    server_.store().Write("a.hdr", bytes);
    EXPECT_EQ(Run(c.command).end, End::kClosed) << c.command;
  }
}

TEST_F(DataFileCommandsTest, DeleteActsOnlyOnExistingDataFiles) {
  server_.store().Write("port.txt", "8010");
  server_.store().Write("gone.hdr", "x");
  // A data file beside the working folder, which no delete may reach.
  const std::string beside = server_.store().path().filename().string() + "-x.hdr";
  std::filesystem::path outside = server_.store().path().parent_path() / beside;
  { std::ofstream(outside) << "outside"; }
  for (const std::string& name :
       std::vector<std::string>{"missing.hdr", "port.txt", "..\\" + beside, "sub/../../" + beside,
                                outside.string(), ""}) {
    ProtocolReply reply = Run(kDelete + name);
    EXPECT_EQ(reply.end, End::kClosed) << name;
    EXPECT_EQ(reply.bytes, "") << name;
  }
  EXPECT_TRUE(std::filesystem::exists(outside));
  std::filesystem::remove(outside);
  EXPECT_TRUE(server_.store().Exists("port.txt"));
  EXPECT_FALSE(server_.store().Exists("log.txt"));
  Run(Label(0, -257) + "gone.hdr");
  EXPECT_FALSE(server_.store().Exists("gone.hdr"));
  EXPECT_EQ(Log(), kLogStamp + Label(0, -257) + "gone.hdr (client)\r\n");
}

// The list of a store larger than one batch of the scan arrives whole: every
// batch, then the trailer; a delete answers the records alone.
TEST_F(DataFileCommandsTest, ListsOfLargeStoresArriveWhole) {
  fixtures::PlainFileDescription file;
  file.record.items = {{"Type", "Tu-154M"}};
  file.flight_data_length = 16;
  const std::string bytes = fixtures::PlainFileBytes(file);
  for (std::size_t i = 0; i < CatalogueScan::kBatchFiles + 10; ++i) {
    server_.store().Write("f" + std::to_string(10000 + i) + ".quv", bytes);
  }
  server_.platform().SetFreeBytes(std::uint64_t{7} << 20);
  WorkingFolder folder(server_.platform(), server_.store().ServerPath());
  std::string catalogue = ScanCatalogue(folder);
  ASSERT_EQ(catalogue.size(), (CatalogueScan::kBatchFiles + 10) * kHeaderRecordSize);

  ProtocolReply list = Run("File list");
  EXPECT_EQ(list.end, End::kClosed);
  EXPECT_TRUE(list.bytes == catalogue + fixtures::ExpectedTrailer(folder.path(), 7 << 20));

  ProtocolReply deleted = Run(kDelete + "f10000.quv");
  EXPECT_TRUE(deleted.bytes == ScanCatalogue(folder));
  EXPECT_EQ(deleted.bytes.size(), catalogue.size() - kHeaderRecordSize);
}

}  // namespace
}  // namespace sqv64
