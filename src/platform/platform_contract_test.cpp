// What every Platform must do; instantiated by the tests of each
// implementation (see testing/platform_contract.h).
#include "platform/testing/platform_contract.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace sqv64::platform {
namespace {

constexpr std::uint64_t kMebibyte = 1 << 20;

std::vector<std::string> Names(const std::vector<DirectoryEntry>& entries) {
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : entries)
    names.push_back(entry.name + (entry.is_directory ? "/" : ""));
  std::sort(names.begin(), names.end());
  return names;
}

TEST_P(PlatformContractTest, ListingMatchesIgnoringCaseAndIncludesFolders) {
  for (const char* name : {"a.hdr", "B.HDRX", "c.quv"})
    folder_.Write(name, "x");
  ASSERT_TRUE(platform_->CreateDirectory(root_ + "d.hdr"));
  // "\xD2\xE8\xEF" is a Cyrillic name in Windows-1251.
  auto cyrillic =
      Open("\xD2\xE8\xEF.hdr", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateNew);
  ASSERT_NE(cyrillic, nullptr);
  cyrillic->Close();

  EXPECT_EQ(Names(platform_->ListDirectory(root_, "*.hdr*")),
            (std::vector<std::string>{"B.HDRX", "a.hdr", "d.hdr/", "\xD2\xE8\xEF.hdr"}));
  EXPECT_EQ(Names(platform_->ListDirectory(root_, "?.QUV*")), std::vector<std::string>{"c.quv"});
  EXPECT_EQ(Names(platform_->ListDirectory(root_, "*.txt")), std::vector<std::string>{});
  EXPECT_TRUE(platform_->ListDirectory(root_ + "missing/", "*").empty());
}

TEST_P(PlatformContractTest, FoldersAreEntriesButNotFilesAndCannotBeOpened) {
  ASSERT_TRUE(platform_->CreateDirectory(root_ + "metar"));
  EXPECT_FALSE(platform_->CreateDirectory(root_ + "metar"));
  EXPECT_TRUE(platform_->EntryExists(root_ + "metar"));
  EXPECT_FALSE(platform_->FileExists(root_ + "metar"));
  EXPECT_FALSE(platform_->FileExists(root_));
  EXPECT_FALSE(platform_->EntryExists(root_ + "missing"));
  EXPECT_EQ(Open("metar", FileAccess::kRead, FileShare::kRead), nullptr);
  EXPECT_EQ(Open("metar", FileAccess::kWrite, FileShare::kRead, FileCreation::kOpenAlways),
            nullptr);
  EXPECT_FALSE(platform_->DeleteFile(root_ + "metar"));
  EXPECT_TRUE(platform_->EntryExists(root_ + "metar"));
}

TEST_P(PlatformContractTest, FilesAreWrittenAppendedReadTruncatedAndReplaced) {
  auto file = Open("new.tmp", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateNew);
  ASSERT_NE(file, nullptr);
  file->Write("hello", 5);
  file->Sync();
  file->Close();
  EXPECT_EQ(Open("new.tmp", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateNew),
            nullptr);
  folder_.Write("old.hdr", "old content");
  EXPECT_TRUE(platform_->ReplaceFile(root_ + "new.tmp", root_ + "old.hdr"));
  EXPECT_EQ(folder_.Read("old.hdr"), "hello");
  EXPECT_FALSE(folder_.Exists("new.tmp"));
  EXPECT_FALSE(platform_->ReplaceFile(root_ + "new.tmp", root_ + "old.hdr"));

  auto appender = Open("old.hdr", FileAccess::kWrite, FileShare::kRead, FileCreation::kOpenAlways);
  ASSERT_NE(appender, nullptr);
  appender->SeekToEnd();
  appender->Write(" world", 6);
  appender->Close();

  auto reader = Open("old.hdr", FileAccess::kRead, FileShare::kRead);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->Size(), 11u);
  char buffer[32];
  reader->Seek(1);
  ASSERT_EQ(reader->Read(buffer, sizeof buffer), 10u);
  EXPECT_EQ(std::string(buffer, 10), "ello world");
  EXPECT_EQ(reader->Read(buffer, sizeof buffer), 0u);  // at the end
  reader->Seek(6);
  ASSERT_EQ(reader->Read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "wor");
  reader->Close();

  auto created = Open("fresh.quv", FileAccess::kWrite, FileShare::kNone, FileCreation::kOpenAlways);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Size(), 0u);
  created->Close();
  EXPECT_TRUE(folder_.Exists("fresh.quv"));

  auto truncated =
      Open("old.hdr", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateAlways);
  ASSERT_NE(truncated, nullptr);
  EXPECT_EQ(truncated->Size(), 0u);
  truncated->Close();
  EXPECT_EQ(folder_.Read("old.hdr"), "");
  EXPECT_TRUE(platform_->DeleteFile(root_ + "old.hdr"));
  EXPECT_FALSE(platform_->DeleteFile(root_ + "old.hdr"));
  EXPECT_EQ(Open("old.hdr", FileAccess::kRead, FileShare::kRead), nullptr);
}

TEST_P(PlatformContractTest, AnOpenedFolderOpensItsFilesByName) {
  auto written = Open("\xD2.hdrx", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateNew);
  ASSERT_NE(written, nullptr);
  written->Write("abc", 3);
  written->Close();
  ASSERT_TRUE(platform_->CreateDirectory(root_ + "metar"));
  std::unique_ptr<Folder> opened = platform_->OpenFolder(root_);
  ASSERT_NE(opened, nullptr);
  auto file = opened->OpenFile("\xD2.hdrx", FileAccess::kRead, FileShare::kRead,
                               FileCreation::kOpenExisting);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 3u);
  for (const char* name : {"metar", "missing.hdr"}) {
    EXPECT_EQ(
        opened->OpenFile(name, FileAccess::kRead, FileShare::kRead, FileCreation::kOpenExisting),
        nullptr)
        << name;
  }
  auto created = opened->OpenFile("new.quv", FileAccess::kReadWrite, FileShare::kNone,
                                  FileCreation::kCreateNew);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Size(), 0u);
  created->Write("12345", 5);
  EXPECT_EQ(created->Size(), 5u);  // a write through the file shows at once
  created->Close();
  EXPECT_EQ(folder_.Read("new.quv"), "12345");

  EXPECT_EQ(platform_->OpenFolder(root_ + "missing\\"), nullptr);
  EXPECT_EQ(platform_->OpenFolder(root_ + "new.quv"), nullptr);
}

TEST_P(PlatformContractTest, FreeSpaceIsTheVolumesAvailableSpace) {
  // Other programs write to the volume meanwhile: the figure must lie
  // between a reading before and one after, give or take a mebibyte.
  std::uint64_t before = std::filesystem::space(folder_.path()).available;
  std::optional<std::uint64_t> free = platform_->FreeBytes(root_);
  std::uint64_t after = std::filesystem::space(folder_.path()).available;
  ASSERT_TRUE(free.has_value());
  EXPECT_GE(*free + kMebibyte, std::min(before, after)) << before << " " << after;
  EXPECT_LE(*free, std::max(before, after) + kMebibyte) << before << " " << after;
  EXPECT_FALSE(platform_->FreeBytes(root_ + "missing\\").has_value());
}

TEST_P(PlatformContractTest, CurrentDirectoryFollowsTheFolder) {
  std::filesystem::path before = std::filesystem::current_path();
  ASSERT_TRUE(platform_->SetCurrentDirectory(root_));
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), folder_.path()));
  std::filesystem::current_path(before);
  EXPECT_FALSE(platform_->SetCurrentDirectory(root_ + "missing\\"));
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), before));
}

TEST_P(PlatformContractTest, ClocksAgreeWithTheRuntime) {
  // A minute may turn between the platform's reading and the runtime's:
  // read again until both readings of the runtime fall into one minute.
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 5) << "the minute keeps turning";
    std::time_t first = std::time(nullptr);
    UtcTime utc = platform_->CurrentUtcTime();
    std::time_t second = std::time(nullptr);
    std::tm expected = *std::gmtime(&first);
    std::tm then = *std::gmtime(&second);
    if (expected.tm_min != then.tm_min)
      continue;
    EXPECT_EQ(utc.year, expected.tm_year + 1900);
    EXPECT_EQ(utc.month, expected.tm_mon + 1);
    EXPECT_EQ(utc.day, expected.tm_mday);
    EXPECT_EQ(utc.hour, expected.tm_hour);
    EXPECT_EQ(utc.minute, expected.tm_min);
    break;
  }
  LocalDateTime local = platform_->CurrentLocalDateTime();
  std::time_t now = std::time(nullptr);
  std::string year = std::to_string(std::localtime(&now)->tm_year + 1900);
  EXPECT_NE(local.short_date.find(year.substr(2)), std::string::npos) << local.short_date;
  EXPECT_FALSE(local.long_time.empty());
}

TEST_P(PlatformContractTest, ExecutablePathIsTheFullPathOfThisProgram) {
  std::string path = platform_->ExecutablePath();
  EXPECT_TRUE(platform_->FileExists(path)) << path;
  if (!GetParam().executable.empty()) {
    EXPECT_EQ(path, GetParam().executable);
  }
}

}  // namespace
}  // namespace sqv64::platform
