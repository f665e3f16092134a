// Replacing a whole file so that a crash never leaves it cut: the new
// content goes to a temporary file beside it, is flushed to the disk, and
// the temporary file is then renamed over the old one in one step.
#pragma once

#include <string>
#include <string_view>

#include "service/platform/platform.h"

namespace sqv64 {

// Replaces `path` with `content` through the temporary file `path` + ".tmp".
// False, with the old file untouched, when the temporary file cannot be
// created or renamed; a write error throws platform::IoError, again with the
// old file untouched and the temporary file removed.
bool ReplaceFileContent(platform::Platform& platform, const std::string& path,
                        std::string_view content);

}  // namespace sqv64
