// The store's folder and the platform that reaches it. Every file the
// service touches is this folder followed directly by a relative name
// ("log.txt", "metar\metar.ini", a data-file name).
//
// Thread safety: immutable once built; share it freely between threads. The
// platform must outlive it.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace sqv64 {

class WorkingFolder {
 public:
  // `path` is 8-bit and normally ends with a separator ("C:\Flight\",
  // "/srv/sqv64/").
  WorkingFolder(platform::Platform& platform, std::string path)
      : platform_(&platform), path_(std::move(path)) {}

  platform::Platform& platform() const { return *platform_; }
  const std::string& path() const { return path_; }
  std::string PathOf(std::string_view relative) const { return path_ + std::string(relative); }

 private:
  platform::Platform* platform_;
  std::string path_;
};

}  // namespace sqv64
