// The protocol seen from outside: a server process, real sockets, and
// replies checked byte for byte. By default the tests start the server
// built beside them; SQV64_TEST_HOST, SQV64_TEST_PORT and SQV64_TEST_FOLDER
// point them at a running server instead (its working folder as this
// machine sees it), which is how the Windows build is tested.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "fixtures/data_file_fixtures.h"
#include "fixtures/expected_catalogue.h"

#include "protocol_client.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

using testing_support::ServerProcess;
using testing_support::TemporaryFolder;

// The server under test, shared by every test of this binary.
class ServerUnderTest {
 public:
  static ServerUnderTest& Get() {
    static ServerUnderTest server;
    return server;
  }

  ProtocolClient Client(const std::string& host) const {
    return ProtocolClient(host, port_, std::chrono::seconds(30));
  }
  std::vector<std::string> Hosts() const { return hosts_; }
  // The working folder as this machine reaches it, and as the server names
  // it (they differ for a server under Wine: "C:\sqv64\").
  const std::filesystem::path& folder() const { return folder_; }
  const std::string& server_folder() const { return server_folder_; }

 private:
  ServerUnderTest() {
    const char* host = std::getenv("SQV64_TEST_HOST");
    const char* port = std::getenv("SQV64_TEST_PORT");
    const char* folder = std::getenv("SQV64_TEST_FOLDER");
    if (host != nullptr && port != nullptr && folder != nullptr) {
      hosts_ = {host};
      if (std::string(host) == "127.0.0.1")
        hosts_.push_back("::1");
      port_ = static_cast<std::uint16_t>(std::stoi(port));
      folder_ = folder;
      const char* server_folder = std::getenv("SQV64_TEST_SERVER_FOLDER");
      server_folder_ = server_folder != nullptr ? server_folder : folder_.string() + "/";
      return;
    }
    local_folder_ = std::make_unique<TemporaryFolder>();
    local_server_ = std::make_unique<ServerProcess>(local_folder_->path());
    hosts_ = {"127.0.0.1", "::1"};
    port_ = local_server_->port();
    folder_ = local_folder_->path();
    server_folder_ = local_folder_->ServerPath();
  }

  std::unique_ptr<TemporaryFolder> local_folder_;
  std::unique_ptr<ServerProcess> local_server_;
  std::vector<std::string> hosts_;
  std::uint16_t port_ = 0;
  std::filesystem::path folder_;
  std::string server_folder_;
};

TEST(Protocol, GetOKAnswersOKOnEveryAddress) {
  auto& server = ServerUnderTest::Get();
  for (const std::string& host : server.Hosts()) {
    ProtocolReply reply = server.Client(host).Run("client1", "GetOK");
    EXPECT_EQ(reply.end, ProtocolReply::End::kClosed) << host << ": " << reply.error;
    EXPECT_EQ(reply.bytes, "OK") << host;
    EXPECT_EQ(server.Client(host).RunRaw("client1\tGetOK\r\n").bytes, "OK") << host;
    EXPECT_EQ(server.Client(host).RunRaw("GetOK\n").bytes, "") << host;
  }
}

const std::string kList = "File list";
const std::string kListRussian =
    "\xD0\xA1\xD0\xBF\xD0\xB8\xD1\x81\xD0\xBE\xD0\xBA "
    "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB\xD0\xBE\xD0\xB2";
const std::string kCopyLogged = "File copying from server database ";
const std::string kCopy = "File copying from server ";
const std::string kSave = "File saving into server database ";
const std::string kDelete = "File deleting from server database ";

// Data files written into the server's folder for one test and removed
// after it, with the catalogue entries they must give.
class StoreTest : public ::testing::Test {
 protected:
  ~StoreTest() override {
    for (const auto& name : written_)
      std::filesystem::remove(server_.folder() / name);
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(server_.folder() / name, std::ios::binary) << bytes;
    written_.push_back(name);
  }
  void WritePlain(const std::string& name, const fixtures::PlainFileDescription& file) {
    std::string bytes = fixtures::PlainFileBytes(file);
    Write(name, bytes);
    expected_.push_back({name, fixtures::ExpectedPlainEntry(file, name, bytes.size()).Bytes()});
  }
  void WriteCompressed(const std::string& name, const fixtures::XmlHeaderDescription& header) {
    fixtures::CompressedFileDescription file;
    file.document = fixtures::XmlHeaderDocument(header);
    file.after_stream = std::string(5000, '\x5A');
    std::string bytes = fixtures::CompressedFileBytes(file);
    Write(name, bytes);
    expected_.push_back(
        {name, fixtures::ExpectedCompressedEntry(header, name, bytes.size()).Bytes()});
  }

  // The records the store must list: ".hdr*" files first, each group by
  // upper-cased name, numbered from 0.
  std::string ExpectedRecords() const {
    auto entries = expected_;
    auto group = [](const std::string& name) { return name.find(".quv") != std::string::npos; };
    auto upper = [](std::string text) {
      for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return text;
    };
    std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
      if (group(a.first) != group(b.first))
        return !group(a.first);
      return upper(a.first) < upper(b.first);
    });
    std::string records;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      fixtures::RecordModel record(fixtures::RecordModel(ToArray(entries[i].second)));
      record.SetIndex(static_cast<std::uint32_t>(i));
      records += record.Bytes();
    }
    return records;
  }

  static std::array<unsigned char, fixtures::kRecordSize> ToArray(const std::string& bytes) {
    std::array<unsigned char, fixtures::kRecordSize> array{};
    std::copy(bytes.begin(), bytes.end(), array.begin());
    return array;
  }

  // The available space of the server's volume, in mebibytes.
  std::uint64_t AvailableMebibytes() const {
    return std::filesystem::space(server_.folder()).available >> 20;
  }

  // Splits a list reply into its records and checks the trailer, whose free
  // space must lie between the two readings of `available`.
  std::string RecordsOfList(const std::string& reply,
                            std::pair<std::uint64_t, std::uint64_t> available) {
    EXPECT_GE(reply.size(), 2u);
    if (reply.size() < 2)
      return {};
    std::size_t length = static_cast<unsigned char>(reply[reply.size() - 2]) |
                         static_cast<std::size_t>(static_cast<unsigned char>(reply.back())) << 8;
    EXPECT_LE(length + 2, reply.size());
    if (length + 2 > reply.size())
      return {};
    std::string trailer = reply.substr(reply.size() - 2 - length, length);
    std::string folder = server_.server_folder();
    std::string expected_start = folder.substr(0, folder.size() - 1) + "\t";
    EXPECT_EQ(trailer.substr(0, expected_start.size()), expected_start);
    std::string digits = trailer.substr(std::min(trailer.size(), expected_start.size()));
    EXPECT_TRUE(digits.size() >= 2 && digits.back() == '\t' &&
                std::all_of(digits.begin(), digits.end() - 1, ::isdigit))
        << digits;
    if (digits.size() >= 2 && std::all_of(digits.begin(), digits.end() - 1, ::isdigit)) {
      // The volume's available space in mebibytes, as read before and after
      // the request (others write meanwhile), give or take one.
      std::uint64_t shown = std::stoull(digits);
      EXPECT_LE(shown, std::max(available.first, available.second) + 1) << "free space";
      EXPECT_GE(shown + 1, std::min(available.first, available.second)) << "free space";
    }
    return reply.substr(0, reply.size() - 2 - length);
  }

  ProtocolReply Run(const std::string& command, const std::string& payload = {}) {
    return server_.Client(server_.Hosts().front()).Run("blackbox", command, payload);
  }

  ServerUnderTest& server_ = ServerUnderTest::Get();
  std::vector<std::string> written_;
  std::vector<std::pair<std::string, std::string>> expected_;
};

fixtures::PlainFileDescription PlainFlight(const std::string& type, const std::string& registration,
                                           bool packed = false) {
  fixtures::PlainFileDescription file;
  file.record.items = {{"A/C type", type},     {"Reg.No.", registration}, {"Note", "test"},
                       {"Date", "08.12.2020"}, {"Flight", "SU1402"},      {"Pilot", "Ivanov"},
                       {"Header", "x"}};
  file.packed = packed;
  file.body_length = packed ? 0xFFFFFF00u : std::optional<std::uint32_t>{};
  file.flight_data_length = 20000;
  return file;
}

fixtures::XmlHeaderDescription CompressedFlight(fixtures::XmlEncoding encoding) {
  fixtures::XmlHeaderDescription header;
  header.encoding = encoding;
  header.src_file = "258";
  header.ea_time = {"12,5", "7"};
  header.items = {{"\xD2\xE8\xEF", "\xD2\xF3-154\xCC", {}},  // Cyrillic title and value
                  {"Reg.No.", "RA-85684", {"B", "C"}},
                  {"Pilot", "Petrov", {}}};
  return header;
}

TEST_F(StoreTest, TheListIsTheCatalogueOfTheReadableDataFiles) {
  WritePlain("a.hdr", PlainFlight("Tu-154M", "RA-85684"));
  WritePlain("C.quv", PlainFlight("", "   ", /*packed=*/true));
  WriteCompressed("b.hdrx", CompressedFlight(fixtures::XmlEncoding::kWindows1251));
  WriteCompressed("d.quvx", CompressedFlight(fixtures::XmlEncoding::kUtf8));
  auto bad_magic = PlainFlight("A320", "VQ-BAB");
  bad_magic.magic = "quv";
  Write("x.hdr", fixtures::PlainFileBytes(bad_magic));
  Write("z.HDR", fixtures::PlainFileBytes(PlainFlight("A320", "VQ-BAB")));
  Write("y.hdr.bak", fixtures::PlainFileBytes(PlainFlight("A320", "VQ-BAB")));
  Write("e.hdrx", std::string(100, 'x'));

  for (const std::string& host : server_.Hosts()) {
    for (const std::string& command : {kList, kListRussian}) {
      std::uint64_t before = AvailableMebibytes();
      ProtocolReply reply = server_.Client(host).Run("blackbox", command);
      std::uint64_t after = AvailableMebibytes();
      EXPECT_EQ(reply.end, ProtocolReply::End::kClosed) << host;
      EXPECT_EQ(RecordsOfList(reply.bytes, {before, after}), ExpectedRecords())
          << host << " " << command;
    }
  }
  EXPECT_EQ(ExpectedRecords().size(), 4 * fixtures::kRecordSize);
  EXPECT_EQ(Run(kList + " ").bytes, "");
}

TEST_F(StoreTest, FilesRoundTripThroughSaveFetchAndDelete) {
  WritePlain("keep.hdr", PlainFlight("Il-96", "RA-96017"));
  std::string flight = fixtures::PlainFileBytes(PlainFlight("An-148", "RA-61701"));
  written_.push_back("new.quv");
  ProtocolReply saved = Run(kSave + "C:\\Temp\\new.quv", flight);
  EXPECT_EQ(saved.end, ProtocolReply::End::kClosed);
  EXPECT_EQ(saved.bytes, "");
  EXPECT_EQ(Run(kCopyLogged + "new.quv").bytes, flight);
  EXPECT_EQ(Run(kCopy + "new.quv").bytes, flight);
  EXPECT_EQ(Run(kCopy + "missing.quv").bytes, "");

  // The delete answers with the catalogue of what is left, without trailer.
  ProtocolReply deleted = Run(kDelete + "new.quv");
  EXPECT_EQ(deleted.bytes, ExpectedRecords());
  EXPECT_FALSE(std::filesystem::exists(server_.folder() / "new.quv"));
  EXPECT_EQ(Run(kDelete + "new.quv").bytes, "");
  // Deleting the last data file answers with an empty catalogue.
  EXPECT_EQ(Run(kDelete + "keep.hdr").bytes, "");
  EXPECT_FALSE(std::filesystem::exists(server_.folder() / "keep.hdr"));

  std::ifstream log(server_.folder() / "log.txt", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  for (const std::string& line :
       {kSave + "C:\\Temp\\new.quv (blackbox)\r\n", kCopyLogged + "new.quv (blackbox)\r\n",
        kDelete + "new.quv (blackbox)\r\n", kDelete + "keep.hdr (blackbox)\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find(kCopy + "new.quv"), std::string::npos);
}

// A NUL byte ends a name for the system, so "decoy.txt" NUL ".hdr" passes
// a check of the extension but names "decoy.txt" there. No file command
// may reach that file, and the log shows the NUL as "?".
TEST_F(StoreTest, NamesWithControlBytesReachNoFile) {
  using namespace std::string_literals;
  const std::string decoy = "decoy-content\r\n";
  Write("decoy.txt", decoy);
  Write("decoy.txt.hdr", fixtures::PlainFileBytes(PlainFlight("Il-96", "RA-96017")));
  std::filesystem::path port_file = server_.folder() / "port.txt";
  auto read = [](const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  };
  const std::string port_before = read(port_file);
  struct Case {
    std::string command;
    std::string payload;
    std::string logged;  // the line's command text, or empty when not logged
  } cases[] = {
      {kCopyLogged + "decoy.txt\0.hdr"s, "", kCopyLogged + "decoy.txt?.hdr"},
      {kCopy + "decoy.txt\0.hdr"s, "", ""},
      {kCopy + "decoy.txt\r.hdr"s, "", ""},
      {kSave + "decoy.txt\0.quv"s, "replaced", kSave + "decoy.txt?.quv"},
      {kSave + "port.txt\0.quv"s, "replaced", kSave + "port.txt?.quv"},
      {kSave + "decoy.txt\t.hdr"s, "replaced", kSave + "decoy.txt?.hdr"},
      {kDelete + "decoy.txt\0.hdr"s, "", ""},
      {kDelete + "port.txt\0.hdr"s, "", ""},
      {kDelete + "decoy.txt\x01.hdr"s, "", ""},
  };
  for (const Case& c : cases) {
    ProtocolReply reply = server_.Client(server_.Hosts().front())
                              .Run(
                                  "black\x01"
                                  "box\x7F"s,
                                  c.command, c.payload);
    EXPECT_EQ(reply.end, ProtocolReply::End::kClosed) << c.command;
    EXPECT_EQ(reply.bytes, "") << c.command;
    EXPECT_EQ(read(server_.folder() / "decoy.txt"), decoy) << c.command;
    EXPECT_EQ(read(port_file), port_before) << c.command;
    EXPECT_TRUE(std::filesystem::exists(server_.folder() / "decoy.txt.hdr")) << c.command;
  }
  // Nothing was stored under any part of those names.
  for (const char* name : {"decoy.txt.quv", "port.txt.quv", "decoy.txt"}) {
    EXPECT_NE(read(server_.folder() / name), "replaced") << name;
  }
  std::string log = read(server_.folder() / "log.txt");
  for (const Case& c : cases) {
    if (!c.logged.empty()) {
      EXPECT_NE(log.find(" " + c.logged + " (black?box\x7F)\r\n"), std::string::npos)
          << c.logged << "\n"
          << log;
    }
  }
  for (char control = 0; control < 0x20; ++control) {
    if (control == '\r' || control == '\n')
      continue;
    EXPECT_EQ(log.find(control), std::string::npos) << static_cast<int>(control);
  }
  EXPECT_EQ(log.find("\n\n"), std::string::npos);
}

// Tests keep the weather side away from the real weather server: its
// downloads go to a loopback port where nothing listens.
const std::string kLoopbackWeatherSettings =
    "Proxy.Type=fpcmNone\r\nDwnld.Type=0\r\nftp.host=127.0.0.1\r\nftp.port=9\r\n";

TEST_F(StoreTest, AirportsAreAddedListedAndRemoved) {
  EXPECT_EQ(Run("SetMIni", kLoopbackWeatherSettings).end, ProtocolReply::End::kClosed);
  EXPECT_EQ(Run("SetArpt", "UUEEUUDDU").end, ProtocolReply::End::kClosed);
  std::string airports = Run("GetArpt").bytes;
  EXPECT_TRUE(airports == "uueeuudd" || airports == "uudduuee") << airports;
  EXPECT_TRUE(std::filesystem::exists(server_.folder() / "metar" / "uuee.txt"));
  EXPECT_EQ(Run("File copying from server metar\\uuee.txt").bytes, "");
  Run("DelArpt", "UUDD");
  EXPECT_EQ(Run("GetArpt").bytes, "uuee");
  Run("DelArpt", "UUEE");
  EXPECT_EQ(Run("GetArpt").bytes, "");
  std::ifstream settings(server_.folder() / "metar" / "metar.ini", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(settings)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, kLoopbackWeatherSettings);
}

}  // namespace
}  // namespace sqv64
