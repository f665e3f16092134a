#include "platform/windows/wide_text.h"

#include <algorithm>

#include "platform/windows/windows_api.h"
#include "text/code_page.h"

namespace sqv64::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

std::wstring WideText(std::string_view text) {
  std::u16string unicode = AnsiToUnicode(text);
  return std::wstring(unicode.begin(), unicode.end());
}

std::string AnsiText(std::wstring_view text) {
  std::u16string unicode(text.begin(), text.end());
  return UnicodeToAnsi(unicode);
}

std::wstring WidePath(std::string_view path) {
  std::wstring wide = WideText(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

std::string SystemErrorText(unsigned long error) {
  wchar_t* buffer = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring message(buffer != nullptr ? buffer : L"", length);
  if (buffer != nullptr)
    ::LocalFree(buffer);
  while (!message.empty() &&
         (message.back() == L'.' || message.back() == L' ' || message.back() == L'\r' ||
          message.back() == L'\n' || message.back() == L'\t'))
    message.pop_back();
  if (message.empty())
    return "error " + std::to_string(error);
  return AnsiText(message);
}

}  // namespace sqv64::platform
