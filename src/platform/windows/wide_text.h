// Conversions between the service's 8-bit Windows-1251 texts and the UTF-16
// texts of the wide-character Windows API. They use the service's own code
// page tables, never the system's ANSI code page, so that names and texts
// come out the same whatever code page the machine is set to.
//
// Pure; may run on any thread.
#pragma once

#include <string>
#include <string_view>

namespace sqv64::platform {

// 8-bit text to UTF-16.
std::wstring WideText(std::string_view text);
// UTF-16 to 8-bit text; characters that Windows-1251 lacks become "?".
std::string AnsiText(std::wstring_view text);
// An 8-bit path for the wide file functions: "/" becomes "\".
std::wstring WidePath(std::string_view path);

// The system's message for an error code (GetLastError), without its
// trailing line break and full stop; "error N" when the system has none.
std::string SystemErrorText(unsigned long error);

}  // namespace sqv64::platform
