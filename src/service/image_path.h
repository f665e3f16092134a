// The working folder named by the service's "ImagePath" value: the value cut
// to its folder part, always ending with a separator.
//
// Pure; may run on any thread.
#pragma once

#include <string>
#include <string_view>

namespace sqv64 {

// Everything up to and including the last "\", "/" or ":" of `image_path`,
// with `separator` appended when that does not already end it ("C:" gives
// "C:\"). A value without any of them names no folder: the result is empty.
std::string FolderOfImagePath(std::string_view image_path, char separator);

}  // namespace sqv64
