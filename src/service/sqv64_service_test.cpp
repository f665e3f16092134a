#include "service/sqv64_service.h"

#include <gtest/gtest.h>

#include <asio.hpp>
#include <filesystem>

#include "protocol_client.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

using platform::ImagePathValue;
using testing_support::TemporaryFolder;
using testing_support::TestPlatform;

class ServiceStartTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_directory_ = std::filesystem::current_path(); }
  void TearDown() override { std::filesystem::current_path(previous_directory_); }

  // A port.txt with a free port, so that tests never collide with a server
  // on 8010.
  void UseFreePort() {
    asio::io_context io;
    asio::ip::tcp::acceptor probe(io, {asio::ip::tcp::v4(), 0});
    port_ = probe.local_endpoint().port();
    folder_.Write("port.txt", std::to_string(port_) + "\r\n");
  }

  TestPlatform platform_;
  TemporaryFolder folder_;
  std::uint16_t port_ = 0;
  std::filesystem::path previous_directory_;
};

TEST_F(ServiceStartTest, StartsInTheImagePathsFolderAndStopsWithALogLine) {
  UseFreePort();
  for (auto type : {ImagePathValue::Type::kString, ImagePathValue::Type::kExpandableString}) {
    platform_.SetImagePath(ImagePathValue{type, folder_.ServerPath() + "sqv64"});
    TSQuv64 service(platform_);
    ASSERT_TRUE(service.Start());
    EXPECT_EQ(service.working_folder(), folder_.ServerPath());
    EXPECT_EQ(service.listening_port(), port_);
    EXPECT_EQ(ProtocolClient("127.0.0.1", port_).Run("c", "GetOK").bytes, "OK");
    service.Stop();
    EXPECT_NE(ProtocolClient("127.0.0.1", port_).Run("c", "GetOK").end,
              ProtocolReply::End::kClosed);
  }
  std::string start = "08.12.2020  9:05:07 START (" + folder_.ServerPath() + ")\r\n";
  std::string stop = "08.12.2020  9:05:07 STOP\r\n";
  EXPECT_EQ(folder_.Read("log.txt"), start + stop + start + stop);
}

TEST_F(ServiceStartTest, RefusesToStartWithoutAUsableFolder) {
  struct Case {
    std::optional<ImagePathValue> image_path;
    std::string folder;
  } cases[] = {
      {std::nullopt, "c:\\"},
      {ImagePathValue{ImagePathValue::Type::kOther, folder_.ServerPath() + "sqv64"}, "c:\\"},
      {ImagePathValue{ImagePathValue::Type::kString, "\"" + folder_.ServerPath() + "sqv64\""},
       "\"" + folder_.ServerPath()},
      {ImagePathValue{ImagePathValue::Type::kString, "sqv64"}, "c:\\"},
  };
  for (const Case& c : cases) {
    platform_.SetImagePath(c.image_path);
    TSQuv64 service(platform_);
    EXPECT_FALSE(service.Start());
    EXPECT_EQ(service.working_folder(), c.folder);
  }
  EXPECT_TRUE(platform_.SystemEventLog().empty());
  EXPECT_FALSE(folder_.Exists("log.txt"));
}

TEST_F(ServiceStartTest, APortInUseFailsTheStartAndTellsTheSystemLog) {
  asio::io_context io;
  asio::ip::tcp::acceptor taken(io, {asio::ip::tcp::v4(), 0});
  folder_.Write("port.txt", std::to_string(taken.local_endpoint().port()));
  platform_.SetImagePath(ImagePathValue{ImagePathValue::Type::kString, folder_.ServerPath() + "x"});
  TSQuv64 service(platform_);
  EXPECT_FALSE(service.Start());
  ASSERT_EQ(platform_.SystemEventLog().size(), 1u);
  EXPECT_EQ(platform_.SystemEventLog()[0].rfind("Service failed on start: ", 0), 0u);
  EXPECT_NE(folder_.Read("log.txt").find(" START ("), std::string::npos);
}

}  // namespace
}  // namespace sqv64
