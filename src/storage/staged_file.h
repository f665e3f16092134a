// A file written beside its target and moved over it only once its whole
// content is on the disk, so that a crash, a full disk or an abandoned
// transfer never leaves a cut file in the target's place.
//
// The staging file is created in the working folder on the first Write and
// removed again unless CommitAs succeeds. One StagedFile is used by one
// thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "storage/working_folder.h"

namespace sqv64 {

class StagedFile {
 public:
  explicit StagedFile(const WorkingFolder& folder) : folder_(folder) {}
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Appends `bytes`; throws platform::IoError when the staging file cannot be
  // created or written.
  void Write(std::string_view bytes);

  // Flushes the content to the disk and renames the staging file to
  // `target_path`, replacing the file there. Returns false, with the target
  // untouched and the staging file removed, when that is not possible. A
  // StagedFile without any Write commits an empty file.
  bool CommitAs(const std::string& target_path);

 private:
  void Create();
  void Discard();

  const WorkingFolder& folder_;
  std::string path_;
  std::unique_ptr<platform::File> file_;
};

// Removes the staging files that a crash left in the working folder.
void RemoveStaleStagedFiles(const WorkingFolder& folder);

}  // namespace sqv64
