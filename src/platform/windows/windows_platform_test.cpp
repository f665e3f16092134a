#include "platform/windows/windows_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/testing/platform_contract.h"
#include "platform/windows/windows_api.h"
#include "support/temporary_folder.h"

namespace sqv64::platform {
namespace {

using testing_support::TemporaryFolder;

// A service name of the tests' own, so that nothing of a real installation
// is touched.
const wchar_t kTestService[] = L"SQuv64PlatformTest";
const wchar_t kTestServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\SQuv64PlatformTest";

INSTANTIATE_TEST_SUITE_P(
    Contract, PlatformContractTest,
    ::testing::Values(PlatformUnderTest{
        "Windows", [] { return std::make_unique<WindowsPlatform>(kTestService); }, {}}),
    [](const ::testing::TestParamInfo<PlatformUnderTest>& tested) { return tested.param.name; });

class WindowsPlatformTest : public ::testing::Test {
 protected:
  std::unique_ptr<File> Open(const std::string& name, FileAccess access, FileShare share,
                             FileCreation creation = FileCreation::kOpenExisting) {
    return platform_.OpenFile(root_ + name, access, share, creation);
  }

  std::vector<std::string> Listed(std::string_view pattern) {
    std::vector<std::string> names;
    for (const DirectoryEntry& entry : platform_.ListDirectory(root_, pattern))
      names.push_back(entry.name + (entry.is_directory ? "\\" : ""));
    std::sort(names.begin(), names.end());
    return names;
  }

  WindowsPlatform platform_{kTestService};
  TemporaryFolder folder_;
  std::string root_ = folder_.ServerPath();
};

TEST_F(WindowsPlatformTest, NamesAreWindows1251WhateverTheSystemCodePage) {
  // "\xD2\xE8\xEF" is "Тип" in Windows-1251.
  EXPECT_EQ(platform_.NativePath("C:\\a/\xD2\xE8\xEF.hdr"), "C:\\a\\\xD0\xA2\xD0\xB8\xD0\xBF.hdr");
  auto file =
      Open("\xD2\xE8\xEF.hdr", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateNew);
  ASSERT_NE(file, nullptr);
  file->Close();
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / L"\u0422\u0438\u043f.hdr"));
  EXPECT_TRUE(platform_.FileExists(root_ + "\xD2\xE8\xEF.HDR"));
  EXPECT_EQ(Listed("*.hdr"), std::vector<std::string>{"\xD2\xE8\xEF.hdr"});
}

TEST_F(WindowsPlatformTest, ListingMatchesLongNamesIgnoringCaseWithEveryKindOfEntry) {
  for (const char* name : {"a.hdr", "B.HDRX", "c.quv", "recording.quvx", "hidden.hdr"})
    folder_.Write(name, "x");
  std::filesystem::create_directory(folder_.path() / "d.hdr");
  ASSERT_TRUE(::SetFileAttributesW((folder_.path() / "hidden.hdr").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  EXPECT_EQ(Listed("*.hdr*"),
            (std::vector<std::string>{"B.HDRX", "a.hdr", "d.hdr\\", "hidden.hdr"}));
  // The short name of recording.quvx ends with ".QUV"; it must not match.
  EXPECT_EQ(Listed("*.quv"), std::vector<std::string>{"c.quv"});
  EXPECT_EQ(Listed("?.QUV*"), std::vector<std::string>{"c.quv"});
  EXPECT_TRUE(platform_.ListDirectory(root_ + "missing\\", "*").empty());
}

TEST_F(WindowsPlatformTest, FoldersAndDevicesAreNotFilesOfTheStore) {
  ASSERT_TRUE(platform_.CreateDirectory(root_ + "metar"));
  EXPECT_FALSE(platform_.CreateDirectory(root_ + "metar"));
  EXPECT_TRUE(platform_.EntryExists(root_ + "metar"));
  EXPECT_FALSE(platform_.FileExists(root_ + "metar"));
  EXPECT_FALSE(platform_.FileExists(root_));
  EXPECT_EQ(Open("metar", FileAccess::kRead, FileShare::kRead), nullptr);
  EXPECT_EQ(Open("metar", FileAccess::kWrite, FileShare::kRead, FileCreation::kOpenAlways),
            nullptr);
  EXPECT_EQ(Open("NUL", FileAccess::kRead, FileShare::kRead), nullptr);
  EXPECT_EQ(Open("nul.hdr", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateAlways),
            nullptr);
}

TEST_F(WindowsPlatformTest, StampsTellPlainFilesAndChangeWithTheFile) {
  EXPECT_EQ(platform_.StampOf(root_ + "access.txt"), std::nullopt);
  folder_.Write("access.txt", "10.0.0.0/8 read\n");
  std::optional<EntryStamp> first = platform_.StampOf(root_ + "access.txt");
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->regular);
  EXPECT_EQ(first->size, 16u);
  EXPECT_EQ(platform_.StampOf(root_ + "ACCESS.TXT"), first) << "unchanged";
  folder_.Write("access.txt", "10.0.0.0/8 write\n");
  EXPECT_NE(platform_.StampOf(root_ + "access.txt"), first);
  ASSERT_TRUE(platform_.CreateDirectory(root_ + "folder"));
  ASSERT_TRUE(platform_.StampOf(root_ + "folder"));
  EXPECT_FALSE(platform_.StampOf(root_ + "folder")->regular);
}
TEST_F(WindowsPlatformTest, AnOpenedFolderOpensItsFilesWithTheirShareModes) {
  auto written = Open("\xD2.hdrx", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateNew);
  ASSERT_NE(written, nullptr);
  written->Write("abc", 3);
  written->Close();
  ASSERT_TRUE(platform_.CreateDirectory(root_ + "metar"));
  std::unique_ptr<Folder> opened = platform_.OpenFolder(root_);
  ASSERT_NE(opened, nullptr);
  auto file = opened->OpenFile("\xD2.hdrx", FileAccess::kRead, FileShare::kRead,
                               FileCreation::kOpenExisting);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 3u);
  EXPECT_EQ(Open("\xD2.hdrx", FileAccess::kWrite, FileShare::kReadWrite), nullptr);
  EXPECT_EQ(
      opened->OpenFile("metar", FileAccess::kRead, FileShare::kRead, FileCreation::kOpenExisting),
      nullptr);
  EXPECT_EQ(platform_.OpenFolder(root_ + "missing\\"), nullptr);
  EXPECT_EQ(platform_.OpenFolder(root_ + "\xD2.hdrx"), nullptr);
}

TEST_F(WindowsPlatformTest, ShareModesKeepOtherOpenersOut) {
  struct Case {
    FileAccess held_access;
    FileShare held_share;
    FileAccess other_access;
    FileShare other_share;
    bool other_opens;
  } cases[] = {
      // A compressed data file being read: nobody else.
      {FileAccess::kRead, FileShare::kNone, FileAccess::kRead, FileShare::kReadWrite, false},
      // A file being sent: other readers, no writers.
      {FileAccess::kRead, FileShare::kRead, FileAccess::kRead, FileShare::kReadWrite, true},
      {FileAccess::kRead, FileShare::kRead, FileAccess::kWrite, FileShare::kReadWrite, false},
      // A plain data file being read: readers and writers.
      {FileAccess::kRead, FileShare::kReadWrite, FileAccess::kWrite, FileShare::kReadWrite, true},
      // The log being written: readers only, so a second writer loses its line.
      {FileAccess::kWrite, FileShare::kRead, FileAccess::kRead, FileShare::kReadWrite, true},
      {FileAccess::kWrite, FileShare::kRead, FileAccess::kWrite, FileShare::kRead, false},
      // An opener that shares nothing cannot join one that is there.
      {FileAccess::kRead, FileShare::kReadWrite, FileAccess::kRead, FileShare::kNone, false},
  };
  folder_.Write("held.hdr", "content");
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index++);
    auto held = Open("held.hdr", c.held_access, c.held_share);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(Open("held.hdr", c.other_access, c.other_share) != nullptr, c.other_opens);
  }
}

TEST_F(WindowsPlatformTest, AnOpenFileIsNeitherDeletedNorReplaced) {
  folder_.Write("sent.hdr", "old");
  folder_.Write("sent.tmp", "new");
  for (FileShare share : {FileShare::kNone, FileShare::kRead, FileShare::kReadWrite}) {
    auto sending = Open("sent.hdr", FileAccess::kRead, share);
    ASSERT_NE(sending, nullptr);
    EXPECT_FALSE(platform_.ReplaceFile(root_ + "sent.tmp", root_ + "sent.hdr"));
    EXPECT_FALSE(platform_.DeleteFile(root_ + "sent.hdr"));
    char buffer[8];
    ASSERT_EQ(sending->Read(buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 3), "old");
  }
  EXPECT_TRUE(folder_.Exists("sent.tmp"));
  EXPECT_TRUE(platform_.ReplaceFile(root_ + "sent.tmp", root_ + "sent.hdr"));
  EXPECT_EQ(folder_.Read("sent.hdr"), "new");
}

TEST_F(WindowsPlatformTest, ErrorsOnAnOpenFileCarryTheSystemCode) {
  auto file = Open("w.tmp", FileAccess::kWrite, FileShare::kNone, FileCreation::kCreateNew);
  ASSERT_NE(file, nullptr);
  char buffer[4];
  try {
    file->Read(buffer, sizeof buffer);
    FAIL() << "reading a write-only file succeeded";
  } catch (const IoError& error) {
    EXPECT_EQ(std::string(error.what()), "I/O error " + std::to_string(ERROR_ACCESS_DENIED));
  }
}

TEST_F(WindowsPlatformTest, ExecutablePathStartsWithADrive) {
  std::string path = platform_.ExecutablePath();
  ASSERT_GT(path.size(), 3u);
  EXPECT_EQ(path.substr(1, 2), ":\\");
  EXPECT_TRUE(platform_.FileExists(path));
}

TEST_F(WindowsPlatformTest, OwnAddressesAreDottedQuadsWithoutLoopback) {
  auto addresses = platform_.OwnIPv4Addresses();
  ASSERT_TRUE(addresses.has_value());
  for (const std::string& address : *addresses) {
    EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
    EXPECT_NE(address.rfind("127.", 0), 0u) << address;
  }
}

// The registry value that names the working folder, as the service reads it.
class ImagePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    ::RegCloseKey(key_);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTestServiceKey);
  }
  void Store(DWORD type, const void* data, std::size_t size) {
    ASSERT_EQ(::RegSetValueExW(key_, L"ImagePath", 0, type, static_cast<const BYTE*>(data),
                               static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }
  void StoreText(DWORD type, const std::wstring& text) {
    Store(type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }

  WindowsPlatform platform_{kTestService};
  HKEY key_ = nullptr;
};

TEST_F(ImagePathTest, StringsAreReadAsStored) {
  using Type = ImagePathValue::Type;
  struct Case {
    DWORD type;
    std::wstring stored;
    Type read_type;
    std::string read_text;
  } cases[] = {
      {REG_SZ, L"C:\\Flight\\Server\\server.exe", Type::kString, "C:\\Flight\\Server\\server.exe"},
      {REG_EXPAND_SZ, L"C:\\Flight\\Server\\server.exe", Type::kExpandableString,
       "C:\\Flight\\Server\\server.exe"},
      {REG_EXPAND_SZ, L"%SystemDrive%\\Server\\server.exe", Type::kExpandableString,
       "%SystemDrive%\\Server\\server.exe"},
      {REG_SZ, L"\"C:\\Flight\\server.exe\"", Type::kString, "\"C:\\Flight\\server.exe\""},
      {REG_SZ, L"C:\\\u041f\u043e\u043b\u0451\u0442\\s.exe", Type::kString,
       "C:\\\xCF\xEE\xEB\xB8\xF2\\s.exe"},
      {REG_SZ, std::wstring(300, L'x'), Type::kString, std::string(300, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read_text);
    StoreText(c.type, c.stored);
    auto value = platform_.ReadImagePath();
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, c.read_type);
    EXPECT_EQ(value->text, c.read_text);
  }
}

TEST_F(ImagePathTest, OtherTypesAndMissingValuesAreTold) {
  DWORD number = 42;
  Store(REG_DWORD, &number, sizeof number);
  auto value = platform_.ReadImagePath();
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, ImagePathValue::Type::kOther);

  ASSERT_EQ(::RegDeleteValueW(key_, L"ImagePath"), ERROR_SUCCESS);
  EXPECT_EQ(platform_.ReadImagePath(), std::nullopt);
  EXPECT_EQ(WindowsPlatform(L"SQuv64NoSuchService").ReadImagePath(), std::nullopt);
}

TEST(WindowsServiceRegistration, InstallsWithTheServiceProperties) {
  WindowsPlatform platform{kTestService};
  ServiceRegistration service{"SQuv64PlatformTest", "Server Quvara64 test",
                              "C:\\Program Files\\Server\\sqv64.exe"};
  ASSERT_EQ(platform.InstallService(service), std::nullopt);
  auto again = platform.InstallService(service);
  ASSERT_TRUE(again.has_value());
  EXPECT_FALSE(again->empty());

  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE installed = ::OpenServiceW(manager, kTestService, SERVICE_QUERY_CONFIG);
  ASSERT_NE(installed, nullptr);
  alignas(QUERY_SERVICE_CONFIGW) unsigned char buffer[8192];
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
  DWORD needed = 0;
  ASSERT_TRUE(::QueryServiceConfigW(installed, config, sizeof buffer, &needed));
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
  EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"C:\\Program Files\\Server\\sqv64.exe");
  EXPECT_EQ(std::wstring(config->lpDisplayName), L"Server Quvara64 test");
  EXPECT_EQ(std::wstring(config->lpServiceStartName), L"LocalSystem");
  EXPECT_TRUE(config->lpDependencies == nullptr || config->lpDependencies[0] == L'\0');
  ::CloseServiceHandle(installed);
  ::CloseServiceHandle(manager);

  auto image_path = platform.ReadImagePath();
  ASSERT_TRUE(image_path.has_value());
  EXPECT_EQ(image_path->text, service.executable);

  EXPECT_EQ(platform.UninstallService(service), std::nullopt);
  auto missing = platform.UninstallService(service);
  ASSERT_TRUE(missing.has_value());
  EXPECT_FALSE(missing->empty());
}

}  // namespace
}  // namespace sqv64::platform
