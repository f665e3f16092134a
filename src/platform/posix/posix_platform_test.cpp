#include "platform/posix/posix_platform.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

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

TEST_F(PosixPlatformTest, StampsTellPlainFilesAndChangeWithTheFile) {
  EXPECT_EQ(platform_.StampOf(root_ + "access.txt"), std::nullopt);
  folder_.Write("access.txt", "10.0.0.0/8 read\n");
  std::optional<EntryStamp> first = platform_.StampOf(root_ + "access.txt");
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->regular);
  EXPECT_EQ(first->size, 16u);
  EXPECT_EQ(platform_.StampOf(root_ + "access.txt"), first) << "unchanged";
  folder_.Write("access.txt", "10.0.0.0/8 write\n");
  EXPECT_NE(platform_.StampOf(root_ + "access.txt"), first);

  std::filesystem::create_directory(folder_.path() / "folder");
  ASSERT_TRUE(platform_.StampOf(root_ + "folder"));
  EXPECT_FALSE(platform_.StampOf(root_ + "folder")->regular);
  ASSERT_EQ(::mkfifo((folder_.path() / "pipe").c_str(), 0600), 0);
  ASSERT_TRUE(platform_.StampOf(root_ + "pipe"));
  EXPECT_FALSE(platform_.StampOf(root_ + "pipe")->regular);
}

// The system reads a path only up to its first NUL: "decoy" NUL ".hdr"
// would reach "decoy". Every operation refuses such a path instead.
TEST_F(PosixPlatformTest, PathsWithANulByteNameNothing) {
  using namespace std::string_literals;
  folder_.Write("decoy", "keep");
  std::filesystem::create_directory(folder_.path() / "sub");
  const std::string decoy = root_ + "decoy\0.hdr"s;
  const std::string sub = root_ + "sub\0/"s;
  for (FileCreation creation : {FileCreation::kOpenExisting, FileCreation::kCreateAlways,
                                FileCreation::kOpenAlways, FileCreation::kCreateNew}) {
    EXPECT_EQ(platform_.OpenFile(decoy, FileAccess::kReadWrite, FileShare::kNone, creation),
              nullptr);
  }
  EXPECT_FALSE(platform_.FileExists(decoy));
  EXPECT_FALSE(platform_.EntryExists(decoy));
  EXPECT_EQ(platform_.KindOfEntry(decoy), EntryKind::kMissing);
  EXPECT_FALSE(platform_.DeleteFile(decoy));
  folder_.Write("new.tmp", "new");
  EXPECT_FALSE(platform_.ReplaceFile(root_ + "new.tmp", decoy));
  EXPECT_FALSE(platform_.ReplaceFile(root_ + "new.tmp\0x"s, root_ + "decoy"));
  EXPECT_EQ(platform_.OpenFolder(sub), nullptr);
  EXPECT_TRUE(platform_.ListDirectory(sub, "*").empty());
  EXPECT_FALSE(platform_.FreeBytes(sub).has_value());
  EXPECT_FALSE(platform_.CreateDirectory(root_ + "sub\0x"s));
  EXPECT_FALSE(platform_.SetCurrentDirectory(sub));
  std::unique_ptr<Folder> opened = platform_.OpenFolder(root_);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(opened->OpenFile("decoy\0.hdr"s, FileAccess::kWrite, FileShare::kNone,
                             FileCreation::kCreateAlways),
            nullptr);
  EXPECT_EQ(folder_.Read("decoy"), "keep");
  EXPECT_EQ(folder_.Read("new.tmp"), "new");
}

// A FIFO, a socket or a device is no file of the store: opening one is
// refused at once, where a plain open would wait for a writer.
TEST_F(PosixPlatformTest, OnlyRegularFilesAreOpenedAndNothingWaits) {
  ASSERT_EQ(::mkfifo((folder_.path() / "pipe.hdr").c_str(), 0666), 0);
  std::unique_ptr<Folder> opened = platform_.OpenFolder(root_);
  ASSERT_NE(opened, nullptr);
  for (FileAccess access : {FileAccess::kRead, FileAccess::kWrite, FileAccess::kReadWrite}) {
    for (FileCreation creation :
         {FileCreation::kOpenExisting, FileCreation::kOpenAlways, FileCreation::kCreateAlways}) {
      EXPECT_EQ(platform_.OpenFile(root_ + "pipe.hdr", access, FileShare::kRead, creation),
                nullptr);
      EXPECT_EQ(opened->OpenFile("pipe.hdr", access, FileShare::kRead, creation), nullptr);
    }
  }
  EXPECT_EQ(platform_.OpenFile("/dev/null", FileAccess::kRead, FileShare::kRead,
                               FileCreation::kOpenExisting),
            nullptr);
  EXPECT_TRUE(std::filesystem::is_fifo(folder_.path() / "pipe.hdr"));

  // A regular file opened the same way reads and writes as usual.
  auto file = platform_.OpenFile(root_ + "plain.hdr", FileAccess::kReadWrite, FileShare::kNone,
                                 FileCreation::kCreateNew);
  ASSERT_NE(file, nullptr);
  file->Write("abc", 3);
  file->Seek(0);
  char buffer[4];
  EXPECT_EQ(file->Read(buffer, sizeof buffer), 3u);
}

TEST_F(PosixPlatformTest, KindOfEntryDoesNotFollowLinks) {
  folder_.Write("file.hdr", "x");
  std::filesystem::create_directory(folder_.path() / "folder");
  ASSERT_EQ(::mkfifo((folder_.path() / "pipe").c_str(), 0666), 0);
  std::filesystem::create_symlink("file.hdr", folder_.path() / "link.hdr");
  std::filesystem::create_symlink("pipe", folder_.path() / "link-to-pipe");
  struct Case {
    const char* name;
    EntryKind kind;
  } cases[] = {
      {"file.hdr", EntryKind::kFile},     {"folder", EntryKind::kDirectory},
      {"pipe", EntryKind::kOther},        {"link.hdr", EntryKind::kLink},
      {"link-to-pipe", EntryKind::kLink}, {"missing", EntryKind::kMissing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform_.KindOfEntry(root_ + c.name), c.kind) << c.name;
  }
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
  std::filesystem::path store = folder_.path() / "my server";
  std::filesystem::create_directory(store);
  ServiceRegistration service{"SQuv64", "Server Quvara64", (store / "sqv64").string()};
  EXPECT_EQ(platform_.InstallService(service), std::nullopt);
  std::string unit = folder_.Read("SQuv64.service");
  EXPECT_NE(unit.find("Description=Server Quvara64\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=\"" + (store / "sqv64").string() + "\"\n"), std::string::npos)
      << unit;
  EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos);
  EXPECT_TRUE(
      std::filesystem::is_symlink(folder_.path() / "multi-user.target.wants/SQuv64.service"));
  EXPECT_EQ(platform_.UninstallService(service), std::nullopt);
  EXPECT_FALSE(folder_.Exists("SQuv64.service"));
  EXPECT_NE(platform_.UninstallService(service), std::nullopt);
  ::unsetenv("SQV64_UNIT_DIR");
}

// Runs `systemd-analyze verify` on a unit; its complaints, or nothing when
// it accepts the unit. Empty optional when the tool cannot run here.
std::optional<std::string> SystemdComplaints(const std::filesystem::path& unit) {
  if (std::system("systemd-analyze --version >/dev/null 2>&1") != 0)
    return std::nullopt;
  std::string command = "systemd-analyze verify '" + unit.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return std::nullopt;
  std::string output;
  char buffer[512];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    output.append(buffer, n);
  int status = ::pclose(pipe);
  if (status != 0 && output.empty())
    output = "exit status " + std::to_string(status);
  return output;
}

// A path as systemd reads it inside quotes.
std::string Escaped(const std::string& path) {
  std::string escaped;
  for (char c : path) {
    if (c == '%')
      escaped.push_back('%');
    escaped.push_back(c);
  }
  return escaped;
}

// The unit runs the server sandboxed as the owner of its working folder.
TEST_F(PosixPlatformTest, InstalledUnitRunsAsTheFolderOwnerInASandbox) {
  struct Case {
    const char* folder;
    uid_t owner;
    std::string user;
  };
  std::vector<Case> cases;
  if (::geteuid() == 0) {
    cases = {{"root 100% store", 0, "root"}, {"numbered", 54321, "54321"}};
    if (const passwd* daemon_user = ::getpwnam("daemon"))
      cases.push_back({"daemon", daemon_user->pw_uid, "daemon"});
  } else {
    // Only root can give a folder away: just the folder of our own.
    cases = {{"own", ::geteuid(), ::getpwuid(::geteuid())->pw_name}};
  }
  ::setenv("SQV64_UNIT_DIR", folder_.path().c_str(), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    std::filesystem::path store = folder_.path() / c.folder;
    std::filesystem::create_directory(store);
    ASSERT_EQ(::chown(store.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    // systemd-analyze checks that the program exists and can run.
    std::filesystem::copy_file("/bin/true", store / "sqv64");
    ServiceRegistration service{"SQuv64", "Server Quvara64", (store / "sqv64").string()};
    ASSERT_EQ(platform_.InstallService(service), std::nullopt);
    std::string unit = folder_.Read("SQuv64.service");
    for (const std::string& line :
         {"User=" + c.user, std::string("NoNewPrivileges=yes"), std::string("ProtectSystem=strict"),
          "ReadWritePaths=\"" + Escaped(store.string()) + "\"",
          std::string("ProtectHome=read-only"), std::string("PrivateTmp=yes"),
          std::string("PrivateDevices=yes"),
          std::string("RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK"),
          std::string("Restart=on-failure")}) {
      EXPECT_NE(unit.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << unit;
    }
    std::optional<std::string> complaints = SystemdComplaints(folder_.path() / "SQuv64.service");
    if (!complaints)
      std::cout << "[ SKIPPED  ] systemd-analyze cannot run here; the unit is not verified\n";
    else
      EXPECT_EQ(*complaints, "") << unit;
    EXPECT_EQ(platform_.UninstallService(service), std::nullopt);
  }
  // A path that systemd would refuse to run is refused at once.
  for (const char* name : {"quote's", "back\\slash"}) {
    SCOPED_TRACE(name);
    std::filesystem::create_directory(folder_.path() / name);
    ServiceRegistration service{"SQuv64", "Server Quvara64",
                                (folder_.path() / name / "sqv64").string()};
    EXPECT_NE(platform_.InstallService(service), std::nullopt);
    EXPECT_FALSE(folder_.Exists("SQuv64.service"));
  }
  ::unsetenv("SQV64_UNIT_DIR");
}

}  // namespace
}  // namespace sqv64::platform
