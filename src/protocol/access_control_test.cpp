#include "protocol/access_control.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

using std::chrono::steady_clock;
using testing_support::TemporaryFolder;
using testing_support::TestPlatform;

class AccessControlTest : public ::testing::Test {
 protected:
  Access AccessOf(const std::string& client) {
    return control_.Current()->AccessOf(asio::ip::make_address(client));
  }
  std::size_t LogLines(const std::string& part) {
    std::string log = folder_.Exists("log.txt") ? folder_.Read("log.txt") : "";
    std::size_t count = 0;
    for (std::size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
      ++count;
    return count;
  }
  void Advance(std::chrono::milliseconds by) { now_ += by; }

  TestPlatform platform_;
  TemporaryFolder folder_;
  WorkingFolder working_folder_{platform_, folder_.ServerPath()};
  EventLog log_{working_folder_};
  steady_clock::time_point now_{};
  AccessControl control_{working_folder_, log_, [this] { return now_; }};
};

TEST_F(AccessControlTest, TheFileIsLookedAtAtMostOnceASecondAndReadAgainWhenItChanges) {
  EXPECT_EQ(AccessOf("10.0.0.1"), Access::kWrite) << "no file: everyone";
  folder_.Write("access.txt", "10.0.0.0/8 read\n");
  Advance(std::chrono::milliseconds(999));
  EXPECT_EQ(AccessOf("10.0.0.1"), Access::kWrite) << "looked at again within the second";
  Advance(std::chrono::milliseconds(1));
  EXPECT_EQ(AccessOf("10.0.0.1"), Access::kRead);
  EXPECT_EQ(AccessOf("11.0.0.1"), Access::kNone);

  folder_.Write("access.txt", "10.0.0.0/8 write\n11.0.0.0/8 read\n");
  Advance(std::chrono::seconds(1));
  EXPECT_EQ(AccessOf("10.0.0.1"), Access::kWrite);
  EXPECT_EQ(AccessOf("11.0.0.1"), Access::kRead);

  std::filesystem::remove(folder_.path() / "access.txt");
  Advance(std::chrono::seconds(1));
  EXPECT_EQ(AccessOf("12.0.0.1"), Access::kWrite) << "a removed file opens everything again";
}

TEST_F(AccessControlTest, AFileThatCannotBeUsedServesLoopbackOnlyAndIsLoggedOncePerChange) {
  struct Case {
    std::string name;
    std::function<void()> make;
    std::string logged;
  } cases[] = {
      {"malformed", [&] { folder_.Write("access.txt", "10.0.0.0/8 read\nnonsense\n"); },
       "08.12.2020  9:05:07 ACCESS access.txt: line 2 is not a rule: \"nonsense\"; only loopback "
       "clients are served"},
      {"too large", [&] { folder_.Write("access.txt", std::string(kLargestAccessFile + 1, '#')); },
       "ACCESS access.txt: it is larger than 64 KiB; only loopback clients are served"},
      {"a folder",
       [&] {
         std::filesystem::remove(folder_.path() / "access.txt");
         std::filesystem::create_directory(folder_.path() / "access.txt");
       },
       "ACCESS access.txt: it is not a plain file; only loopback clients are served"},
  };
  for (const Case& c : cases) {
    c.make();
    Advance(std::chrono::seconds(1));
    for (int connection = 0; connection < 3; ++connection) {
      EXPECT_EQ(AccessOf("10.0.0.1"), Access::kNone) << c.name;
      EXPECT_EQ(AccessOf("127.0.0.1"), Access::kWrite) << c.name;
      Advance(std::chrono::seconds(2));
    }
    EXPECT_EQ(LogLines(c.logged), 1u) << c.name << "\n" << folder_.Read("log.txt");
  }
}

TEST_F(AccessControlTest, RefusalsAreLoggedOncePerAddressAndMinute) {
  asio::ip::address first = asio::ip::make_address("10.0.0.1");
  asio::ip::address mapped = asio::ip::make_address("::ffff:10.0.0.1");
  asio::ip::address second = asio::ip::make_address("10.0.0.2");
  EXPECT_EQ(control_.RefusalLine(first, "connection"), " 9:05:07 REFUSED connection from 10.0.0.1");
  Advance(std::chrono::seconds(59));
  EXPECT_EQ(control_.RefusalLine(first, "connection"), std::nullopt);
  EXPECT_EQ(control_.RefusalLine(mapped, "connection"), std::nullopt) << "the same client";
  EXPECT_NE(control_.RefusalLine(second, "connection"), std::nullopt);
  Advance(std::chrono::seconds(1));
  EXPECT_NE(control_.RefusalLine(first, "GetOK"), std::nullopt) << "a minute later";
}

TEST_F(AccessControlTest, AScanFromManyAddressesIsLoggedOnlyUpToABound) {
  std::size_t logged = 0;
  for (std::uint32_t host = 0; host < 5000; ++host) {
    asio::ip::address_v4 address(0x0A000000u + host);
    if (control_.RefusalLine(address, "connection"))
      ++logged;
  }
  EXPECT_EQ(logged, 4096u);
  Advance(std::chrono::minutes(1));
  EXPECT_NE(control_.RefusalLine(asio::ip::address_v4(0x0B000000u), "connection"), std::nullopt)
      << "room again once the minute has passed";
}

}  // namespace
}  // namespace sqv64
