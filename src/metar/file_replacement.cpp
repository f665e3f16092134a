#include "metar/file_replacement.h"

namespace sqv64 {

bool ReplaceFileContent(platform::Platform& platform, const std::string& path,
                        std::string_view content) {
  using namespace platform;
  std::string temporary = path + ".tmp";
  auto file = platform.OpenFile(temporary, FileAccess::kWrite, FileShare::kNone,
                                FileCreation::kCreateAlways);
  if (file == nullptr)
    return false;
  try {
    file->Write(content.data(), content.size());
    file->Sync();
    file->Close();
  } catch (...) {
    file.reset();
    platform.DeleteFile(temporary);
    throw;
  }
  if (!platform.ReplaceFile(temporary, path)) {
    platform.DeleteFile(temporary);
    return false;
  }
  return true;
}

}  // namespace sqv64
