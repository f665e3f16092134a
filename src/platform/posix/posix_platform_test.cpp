#include "platform/posix/posix_platform.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/testing/platform_contract.h"
#include "support/temporary_folder.h"

namespace sqv64::platform {
namespace {

using testing_support::TemporaryFolder;

const std::string kThisProgram =
    std::filesystem::canonical(SQV64_PLATFORM_TESTS_EXECUTABLE).string();

INSTANTIATE_TEST_SUITE_P(
    Contract, PlatformContractTest,
    ::testing::Values(PlatformUnderTest{"Posix", [] { return std::make_unique<PosixPlatform>(); },
                                        kThisProgram}),
    [](const ::testing::TestParamInfo<PlatformUnderTest>& tested) { return tested.param.name; });

class PosixPlatformTest : public ::testing::Test {
 protected:
  PosixPlatform platform_;
  TemporaryFolder folder_;
  std::string root_ = folder_.ServerPath();
};

TEST_F(PosixPlatformTest, NamesAreConvertedFromWindows1251WithBackslashesAsSeparators) {
  EXPECT_EQ(platform_.NativePath("C:\\a\\\xD2\xE8\xEF.hdr"), "C:/a/\xD0\xA2\xD0\xB8\xD0\xBF.hdr");
  folder_.Write("metar/\xD0\xA2.txt", "x");
  EXPECT_TRUE(platform_.FileExists(root_ + "metar\\\xD2.txt"));
  auto entries = platform_.ListDirectory(root_ + "metar\\", "*.TXT");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "\xD2.txt");
}

TEST_F(PosixPlatformTest, ImagePathComesFromTheEnvironmentAsItIs) {
  ::setenv("SQV64_IMAGE_PATH", "\"/opt/sqv64/sqv64\"", 1);
  auto value = platform_.ReadImagePath();
  ::unsetenv("SQV64_IMAGE_PATH");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, ImagePathValue::Type::kString);
  EXPECT_EQ(value->text, "\"/opt/sqv64/sqv64\"");
  // Without the variable, the executable's own path, as the file system
  // names this test program.
  EXPECT_EQ(platform_.ReadImagePath()->text, kThisProgram);
}

TEST_F(PosixPlatformTest, InstallWritesAnEnabledUnitAndUninstallRemovesIt) {
  ::setenv("SQV64_UNIT_DIR", folder_.path().c_str(), 1);
  ServiceRegistration service{"SQuv64", "Server Quvara64", "/opt/my server/sqv64"};
  EXPECT_EQ(platform_.InstallService(service), std::nullopt);
  std::string unit = folder_.Read("SQuv64.service");
  EXPECT_NE(unit.find("Description=Server Quvara64\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=\"/opt/my server/sqv64\"\n"), std::string::npos);
  EXPECT_NE(unit.find("User=root\n"), std::string::npos);
  EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos);
  EXPECT_TRUE(
      std::filesystem::is_symlink(folder_.path() / "multi-user.target.wants/SQuv64.service"));
  EXPECT_EQ(platform_.UninstallService(service), std::nullopt);
  EXPECT_FALSE(folder_.Exists("SQuv64.service"));
  EXPECT_NE(platform_.UninstallService(service), std::nullopt);
  ::unsetenv("SQV64_UNIT_DIR");
}

}  // namespace
}  // namespace sqv64::platform
