// Error entries in the system event log, with the executable's file name as
// their source.
#include <mutex>

#include "platform/windows/windows_api.h"
// windows.h first
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_platform.h"

namespace sqv64::platform {

void WindowsPlatform::WriteSystemEventLog(const std::string& message) {
  // The source stays registered for the life of the process.
  static std::once_flag registered;
  static HANDLE source = nullptr;
  std::call_once(registered, [this] {
    std::wstring path = WidePath(ExecutablePath());
    std::wstring name = path.substr(path.find_last_of(L"\\:") + 1);
    source = ::RegisterEventSourceW(nullptr, name.empty() ? L"sqv64" : name.c_str());
  });
  if (source == nullptr) {
    return;
  }
  std::wstring text = WideText(message);
  const wchar_t* strings[] = {text.c_str()};
  ::ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

}  // namespace sqv64::platform
