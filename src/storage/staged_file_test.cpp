#include "storage/staged_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

class StagedFileTest : public ::testing::Test {
 protected:
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(folder_.path()),
                      std::filesystem::directory_iterator()));
  }

  testing_support::TestPlatform platform_;
  testing_support::TemporaryFolder folder_;
  WorkingFolder working_folder_{platform_, folder_.ServerPath()};
};

TEST_F(StagedFileTest, CommitReplacesTheTargetWithTheWholeContent) {
  folder_.Write("a.hdr", "old");
  {
    StagedFile staged(working_folder_);
    staged.Write("new ");
    staged.Write("content");
    EXPECT_EQ(folder_.Read("a.hdr"), "old");
    EXPECT_TRUE(staged.CommitAs(working_folder_.PathOf("a.hdr")));
  }
  EXPECT_EQ(folder_.Read("a.hdr"), "new content");
  EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(StagedFileTest, AnAbandonedFileLeavesTheTargetAndNoStagingFile) {
  folder_.Write("a.hdr", "old");
  {
    StagedFile staged(working_folder_);
    staged.Write("partial");
  }
  EXPECT_EQ(folder_.Read("a.hdr"), "old");
  EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(StagedFileTest, AFailedRenameRemovesTheStagingFile) {
  std::filesystem::create_directory(folder_.path() / "sub");
  folder_.Write("sub/keep", "x");
  StagedFile staged(working_folder_);
  staged.Write("x");
  // A non-empty folder cannot be replaced by a file.
  EXPECT_FALSE(staged.CommitAs(working_folder_.PathOf("sub")));
  EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(StagedFileTest, StaleStagingFilesAreRemovedAndOthersKept) {
  // What a crash in the middle of a save leaves, beside files to keep.
  folder_.Write("sqv64-staged-0123456789abcdef-7.tmp", "partial");
  folder_.Write("sqv64-staged-0123456789abcdef-8.tmp2", "kept");
  folder_.Write("crash-left.tmp", "kept");
  folder_.Write("a.hdr", "data");
  RemoveStaleStagedFiles(working_folder_);
  EXPECT_FALSE(folder_.Exists("sqv64-staged-0123456789abcdef-7.tmp"));
  EXPECT_TRUE(folder_.Exists("sqv64-staged-0123456789abcdef-8.tmp2"));
  EXPECT_TRUE(folder_.Exists("crash-left.tmp"));
  EXPECT_TRUE(folder_.Exists("a.hdr"));
  EXPECT_EQ(EntryCount(), 3u);
}

}  // namespace
}  // namespace sqv64
