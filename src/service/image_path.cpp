#include "service/image_path.h"

namespace sqv64 {

std::string FolderOfImagePath(std::string_view image_path, char separator) {
  std::size_t last = image_path.find_last_of("\\/:");
  if (last == std::string_view::npos) {
    return {};
  }
  std::string folder(image_path.substr(0, last + 1));
  if (folder.back() != '\\' && folder.back() != '/') {
    folder.push_back(separator);
  }
  return folder;
}

}  // namespace sqv64
