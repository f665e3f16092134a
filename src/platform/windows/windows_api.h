// The Windows API headers, included first in every source of the Windows
// build (the build forces it in), so that they come in once, in the same
// form everywhere: Winsock 2 before windows.h as Asio needs it, no min and
// max macros, and without the macros that would rename members of the
// platform interface (DeleteFile, ReplaceFile, CreateDirectory and
// SetCurrentDirectory stand for their ...A or ...W functions otherwise).
//
// The platform layer calls the wide-character functions by their full
// names (DeleteFileW).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#undef CreateDirectory
#undef DeleteFile
#undef ReplaceFile
#undef SetCurrentDirectory
