#include "service/port_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

TEST(ReadPortFile, ReadsTheFirstLineAsAnInteger) {
  struct Case {
    const char* content;
    std::uint16_t port;
  } cases[] = {
      {"8011", 8011},  {"8011\r\nignored", 8011}, {"8011\n", 8011}, {"   8011", 8011},
      {"8011 ", 8010}, {"$1F4B", 8011},           {"", 8010},       {"70000", 4464},
      {"-1", 65535},   {"0x1F4B\r\n", 8011},      {"port", 8010},   {"\r\n8011", 8010},
  };
  testing_support::TestPlatform platform;
  for (const Case& c : cases) {
    testing_support::TemporaryFolder folder;
    folder.Write("port.txt", c.content);
    EXPECT_EQ(ReadPortFile(WorkingFolder(platform, folder.ServerPath()), kDefaultPort), c.port)
        << '"' << c.content << '"';
  }
}

// However long the first line is, it is read to its end and parsed whole.
TEST(ReadPortFile, ALongFirstLineIsReadToItsEnd) {
  const std::string spaces(100000, ' ');
  const std::string zeros(5000, '0');
  struct Case {
    std::string content;
    std::uint16_t port;
  } cases[] = {
      {spaces + "8011", 8011},
      {spaces + "8011\r\n8012", 8011},
      {spaces + "8011" + spaces, 8010},
      {zeros + "8011", 8011},
      {zeros + "8011" + std::string(5000, 'x'), 8010},
      {"8011" + spaces + "\n", 8010},
      {"+" + zeros + "8011", 8011},
      {"$" + zeros + "1F4B", 8011},
      {spaces, 8010},
      {std::string(200000, '1'), 8010},
  };
  testing_support::TestPlatform platform;
  for (const Case& c : cases) {
    testing_support::TemporaryFolder folder;
    folder.Write("port.txt", c.content);
    EXPECT_EQ(ReadPortFile(WorkingFolder(platform, folder.ServerPath()), kDefaultPort), c.port)
        << '"' << c.content.substr(0, 40) << "...\" of " << c.content.size() << " bytes";
  }
}

TEST(ReadPortFile, AMissingFileKeepsThePort) {
  testing_support::TestPlatform platform;
  testing_support::TemporaryFolder folder;
  EXPECT_EQ(ReadPortFile(WorkingFolder(platform, folder.ServerPath()), 1234), 1234);
}

}  // namespace
}  // namespace sqv64
