// A Folder on a POSIX directory descriptor: its files are opened with
// openat(2), so only their own names are looked up.
#pragma once

#include "platform/platform.h"

namespace sqv64::platform {

class PosixFolder final : public Folder {
 public:
  // Takes ownership of `descriptor`; `platform` converts the names and must
  // outlive the folder.
  PosixFolder(Platform& platform, int descriptor);
  ~PosixFolder() override;
  PosixFolder(const PosixFolder&) = delete;
  PosixFolder& operator=(const PosixFolder&) = delete;

  std::unique_ptr<File> OpenFile(const std::string& name, FileAccess access, FileShare share,
                                 FileCreation creation) override;

 private:
  Platform& platform_;
  int descriptor_;
};

}  // namespace sqv64::platform
