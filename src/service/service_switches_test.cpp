#include "service/service_switches.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

ServiceSwitches Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "sqv64");
  return ParseServiceSwitches(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ParseServiceSwitches, AcceptsSlashOrDashInAnyCase) {
  ServiceSwitches switches = Parse({"/install", "-SiLeNt"});
  EXPECT_TRUE(switches.install);
  EXPECT_TRUE(switches.silent);
  EXPECT_FALSE(switches.uninstall);
  EXPECT_TRUE(Parse({"-UNINSTALL"}).uninstall);
  ServiceSwitches none = Parse({"install", "/installx", "--install"});
  EXPECT_FALSE(none.install || none.uninstall || none.silent);
}

}  // namespace
}  // namespace sqv64
