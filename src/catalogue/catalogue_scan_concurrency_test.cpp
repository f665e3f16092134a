#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "fixtures/sample_store.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

// Scans share nothing: many at once on one folder each get the whole,
// identical catalogue.
TEST(CatalogueScanConcurrency, ScansAtOnceGiveIdenticalCatalogues) {
  testing_support::TemporaryFolder folder_path;
  testing_support::TestPlatform platform;
  platform.SetFreeBytes(42ULL << 20);
  WorkingFolder folder(platform, folder_path.ServerPath());
  fixtures::SampleStoreOptions options;
  options.plain_files = 60;
  options.compressed_files = 20;
  fixtures::WriteSampleStore(platform, folder.path(), options);

  std::string reference = ScanCatalogue(folder);
  AppendCatalogueTrailer(folder, reference);
  ASSERT_GT(reference.size(), 80 * 3408);

  constexpr int kThreads = 8;
  constexpr int kRounds = 5;
  std::vector<std::vector<std::string>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        std::string stream = ScanCatalogue(folder);
        AppendCatalogueTrailer(folder, stream);
        results[t].push_back(std::move(stream));
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    for (const std::string& stream : results[t]) {
      EXPECT_TRUE(stream == reference) << "thread " << t;
    }
  }
}

}  // namespace
}  // namespace sqv64
