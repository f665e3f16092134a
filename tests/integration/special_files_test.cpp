// Entries of the store that are not regular files, as an operator (or an
// intruder with a shell) may leave them: FIFOs, which would hold any reader
// until a writer came, and symbolic links. The real server process is asked
// over its socket, with a deadline on every reply.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "fixtures/data_file_fixtures.h"
#include "protocol_client.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

namespace fs = std::filesystem;
using testing_support::ServerProcess;
using testing_support::TemporaryFolder;
using End = ProtocolReply::End;

const std::string kList = "File list";
const std::string kCopyLogged = "File copying from server database ";
const std::string kCopy = "File copying from server ";
const std::string kSave = "File saving into server database ";
const std::string kDelete = "File deleting from server database ";

constexpr std::size_t kRecordSize = 3408;

class SpecialFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixtures::PlainFileDescription file;
    file.record.items = {{"Type", "Tu-154M"}};
    flight_ = fixtures::PlainFileBytes(file);
    folder_.Write("real.hdr", flight_);
    server_ = std::make_unique<ServerProcess>(folder_.path());
  }

  void TearDown() override {
    // A server that waits on a FIFO is set free, so that a failing test
    // still ends.
    for (const fs::path& fifo : fifos_) {
      int descriptor = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (descriptor >= 0)
        ::close(descriptor);
    }
    server_.reset();
  }

  void MakeFifo(const std::string& name) {
    fs::path path = folder_.path() / name;
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0) << name;
    fifos_.push_back(path);
  }

  bool IsFifo(const std::string& name) {
    return fs::is_fifo(fs::symlink_status(folder_.path() / name));
  }

  // Every reply must come within this time; a FIFO opened for reading
  // would hold it forever.
  ProtocolReply Run(const std::string& command, const std::string& payload = {}) {
    return ProtocolClient("127.0.0.1", server_->port(), std::chrono::seconds(5))
        .Run("client", command, payload);
  }

  TemporaryFolder folder_;
  std::unique_ptr<ServerProcess> server_;
  std::vector<fs::path> fifos_;
  std::string flight_;
};

TEST_F(SpecialFilesTest, FifosAreLeftOutOfTheListAndNoCommandWaitsOnThem) {
  MakeFifo("pipe.hdr");
  MakeFifo("pipe.quvx");
  MakeFifo("metar/pipe.txt");

  ProtocolReply list = Run(kList);
  ASSERT_EQ(list.end, End::kClosed) << list.error;
  ASSERT_GE(list.bytes.size(), kRecordSize);
  std::size_t trailer = static_cast<unsigned char>(list.bytes[list.bytes.size() - 2]) |
                        static_cast<std::size_t>(static_cast<unsigned char>(list.bytes.back()))
                            << 8;
  EXPECT_EQ(list.bytes.size() - trailer - 2, kRecordSize) << "only real.hdr is listed";

  struct Case {
    std::string command;
    std::string payload;
  } cases[] = {
      {kCopyLogged + "pipe.hdr", ""}, {kCopy + "pipe.quvx", ""},   {kCopy + "metar\\pipe.txt", ""},
      {kSave + "pipe.hdr", flight_},  {kDelete + "pipe.quvx", ""},
  };
  for (const Case& c : cases) {
    ProtocolReply reply = Run(c.command, c.payload);
    EXPECT_EQ(reply.end, End::kClosed) << c.command << ": " << reply.error;
    EXPECT_EQ(reply.bytes, "") << c.command;
  }
  // Saves and deletes left the FIFOs as they were.
  EXPECT_TRUE(IsFifo("pipe.hdr"));
  EXPECT_TRUE(IsFifo("pipe.quvx"));
  EXPECT_TRUE(IsFifo("metar/pipe.txt"));
  EXPECT_EQ(Run("GetOK").bytes, "OK");
}

TEST_F(SpecialFilesTest, LinksAreFollowedForReadsButSavesAndDeletesActOnTheLinkItself) {
  folder_.Write("target.bin", "the operator's own file");
  fs::create_symlink("target.bin", folder_.path() / "saved.quv");
  fs::create_symlink("target.bin", folder_.path() / "deleted.hdr");
  fs::create_symlink("real.hdr", folder_.path() / "alias.hdr");

  EXPECT_EQ(Run(kCopy + "saved.quv").bytes, "the operator's own file");
  ProtocolReply list = Run(kList);
  EXPECT_EQ(list.end, End::kClosed);
  EXPECT_GE(list.bytes.size(), 2 * kRecordSize) << "real.hdr and alias.hdr are listed";

  EXPECT_EQ(Run(kSave + "saved.quv", "new content").end, End::kClosed);
  EXPECT_FALSE(fs::is_symlink(folder_.path() / "saved.quv"));
  EXPECT_EQ(folder_.Read("saved.quv"), "new content");

  EXPECT_EQ(Run(kDelete + "deleted.hdr").end, End::kClosed);
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder_.path() / "deleted.hdr")));

  EXPECT_EQ(folder_.Read("target.bin"), "the operator's own file");
}

}  // namespace
}  // namespace sqv64
