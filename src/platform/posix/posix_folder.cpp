#include "platform/posix/posix_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/posix_file.h"

namespace sqv64::platform {

PosixFolder::PosixFolder(Platform& platform, int descriptor)
    : platform_(platform), descriptor_(descriptor) {}

PosixFolder::~PosixFolder() {
  ::close(descriptor_);
}

std::unique_ptr<File> PosixFolder::OpenFile(const std::string& name, FileAccess access,
                                            FileShare /*share*/, FileCreation creation) {
  if (HoldsNul(name)) {
    return nullptr;
  }
  return AdoptOpenedFile(
      ::openat(descriptor_, platform_.NativePath(name).c_str(), OpenFlags(access, creation), 0666));
}

}  // namespace sqv64::platform
