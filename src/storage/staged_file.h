// A file written beside its target and moved over it only once its whole
// content is on the disk, so that a crash, a full disk or an abandoned
// transfer never leaves a cut file in the target's place.
//
// The staging file is created beside the target (in the working folder, or
// in the subfolder named at construction) on the first Write or Open, and
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
  // `subfolder` is relative to the working folder and ends with a
  // separator ("metar\\"); empty for the working folder itself.
  explicit StagedFile(const WorkingFolder& folder, std::string subfolder = {})
      : folder_(folder), subfolder_(std::move(subfolder)) {}
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the staging file unless it exists already; false when it cannot
  // be created, so that a caller can give up quietly.
  bool Open();

  // Appends `bytes`; throws platform::IoError when the staging file cannot be
  // created or written.
  void Write(std::string_view bytes);

  // Flushes the content to the disk and renames the staging file to
  // `target_path`, replacing the file there. Returns false, with the target
  // untouched and the staging file removed, when that is not possible. A
  // StagedFile without any Write commits an empty file.
  bool CommitAs(const std::string& target_path);

 private:
  void Discard();

  const WorkingFolder& folder_;
  std::string subfolder_;
  std::string path_;
  std::unique_ptr<platform::File> file_;
};

// Removes the staging files that a crash left in the working folder, or in
// its `subfolder` (as for StagedFile).
void RemoveStaleStagedFiles(const WorkingFolder& folder, const std::string& subfolder = {});

}  // namespace sqv64
