// For the platform tests: what every Platform must do, whatever the
// operating system under it. platform_contract_test.cpp holds the cases;
// each implementation's tests instantiate them with a maker of their
// platform:
//
//   INSTANTIATE_TEST_SUITE_P(Posix, PlatformContractTest,
//                            ::testing::Values(PlatformUnderTest{...}));
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/platform.h"
#include "support/temporary_folder.h"

namespace sqv64::platform {

struct PlatformUnderTest {
  std::string name;  // for the test's name: "Posix", "Windows"
  std::function<std::unique_ptr<Platform>()> make;
  // The full path of the running test program as ExecutablePath must give
  // it, found out without the platform; empty when the test cannot know it.
  std::string executable;
};

inline void PrintTo(const PlatformUnderTest& platform, std::ostream* out) {
  *out << platform.name;
}

class PlatformContractTest : public ::testing::TestWithParam<PlatformUnderTest> {
 protected:
  std::unique_ptr<File> Open(const std::string& name, FileAccess access, FileShare share,
                             FileCreation creation = FileCreation::kOpenExisting) {
    return platform_->OpenFile(root_ + name, access, share, creation);
  }

  std::unique_ptr<Platform> platform_ = GetParam().make();
  testing_support::TemporaryFolder folder_;
  std::string root_ = folder_.ServerPath();
};

}  // namespace sqv64::platform
