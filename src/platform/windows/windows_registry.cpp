// The service's one registry value: ImagePath of its configuration key.
#include "platform/windows/windows_api.h"
// windows.h first
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_platform.h"

namespace sqv64::platform {
namespace {

const wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";

// Closes the key when it goes, also when reading it throws.
class OpenKey {
 public:
  explicit OpenKey(HKEY key) : key_(key) {}
  ~OpenKey() { ::RegCloseKey(key_); }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_;
};

}  // namespace

std::optional<ImagePathValue> WindowsPlatform::ReadImagePath() {
  HKEY opened = nullptr;
  std::wstring key_name = kServicesKey + service_name_;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_name.c_str(), 0, KEY_ALL_ACCESS, &opened) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  OpenKey key(opened);

  // The value may change between asking for its size and reading it.
  std::wstring data(128, L'\0');
  DWORD type = REG_NONE;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    LSTATUS status = ::RegQueryValueExW(key.get(), L"ImagePath", nullptr, &type,
                                        reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_MORE_DATA) {
      data.resize(size / sizeof(wchar_t) + 1);
      continue;
    }
    if (status != ERROR_SUCCESS) {
      return std::nullopt;
    }
    data.resize(size / sizeof(wchar_t));
    break;
  }

  ImagePathValue value;
  if (type == REG_SZ) {
    value.type = ImagePathValue::Type::kString;
  } else if (type == REG_EXPAND_SZ) {
    value.type = ImagePathValue::Type::kExpandableString;
  } else {
    return ImagePathValue{};
  }
  // A stored string normally carries its terminator; the text ends at the
  // first one.
  std::size_t end = data.find(L'\0');
  if (end != std::wstring::npos)
    data.resize(end);
  value.text = AnsiText(data);
  return value;
}

}  // namespace sqv64::platform
