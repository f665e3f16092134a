#include "service/image_path.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

TEST(FolderOfImagePath, CutsToTheFolderAndEndsWithASeparator) {
  struct Case {
    const char* image_path;
    char separator;
    const char* folder;
  } cases[] = {
      {"C:\\Flight\\Server\\server.exe", '\\', "C:\\Flight\\Server\\"},
      {"\"C:\\Flight\\Server\\server.exe\"", '\\', "\"C:\\Flight\\Server\\"},
      {"%ProgramFiles%\\sqv64\\sqv64.exe", '\\', "%ProgramFiles%\\sqv64\\"},
      {"C:server.exe", '\\', "C:\\"},
      {"/srv/sqv64/sqv64", '/', "/srv/sqv64/"},
      {"/sqv64", '/', "/"},
      {"sqv64", '/', ""},
      {"", '\\', ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FolderOfImagePath(c.image_path, c.separator), c.folder) << c.image_path;
  }
}

}  // namespace
}  // namespace sqv64
