#include "storage/staged_file.h"

#include <atomic>
#include <cstdio>
#include <random>

namespace sqv64 {
namespace {

constexpr std::string_view kPrefix = "sqv64-staged-";
constexpr std::string_view kExtension = ".tmp";

// A name no other staging file of this or an earlier run uses.
std::string UniqueName() {
  static std::atomic<unsigned long long> counter{0};
  static const unsigned long long run = std::random_device{}();
  char name[64];
  std::snprintf(name, sizeof name, "%s%016llx-%llu%s", kPrefix.data(), run, counter.fetch_add(1),
                kExtension.data());
  return name;
}

}  // namespace

StagedFile::~StagedFile() {
  Discard();
}

bool StagedFile::Open() {
  using namespace platform;
  for (int attempt = 0; attempt < 8 && file_ == nullptr; ++attempt) {
    path_ = folder_.PathOf(subfolder_ + UniqueName());
    file_ = folder_.platform().OpenFile(path_, FileAccess::kWrite, FileShare::kNone,
                                        FileCreation::kCreateNew);
  }
  if (file_ == nullptr) {
    path_.clear();
    return false;
  }
  return true;
}

void StagedFile::Write(std::string_view bytes) {
  if (!Open()) {
    throw platform::IoError("cannot create a staging file in " + folder_.PathOf(subfolder_));
  }
  file_->Write(bytes.data(), bytes.size());
}

bool StagedFile::CommitAs(const std::string& target_path) {
  try {
    if (!Open()) {
      return false;
    }
    file_->Sync();
    file_->Close();
  } catch (const platform::IoError&) {
    Discard();
    return false;
  }
  file_.reset();
  if (!folder_.platform().ReplaceFile(path_, target_path)) {
    Discard();
    return false;
  }
  path_.clear();
  return true;
}

void StagedFile::Discard() {
  file_.reset();
  if (!path_.empty()) {
    folder_.platform().DeleteFile(path_);
    path_.clear();
  }
}

void RemoveStaleStagedFiles(const WorkingFolder& folder, const std::string& subfolder) {
  std::string pattern = std::string(kPrefix) + "*" + std::string(kExtension);
  for (const auto& entry : folder.platform().ListDirectory(folder.PathOf(subfolder), pattern)) {
    if (!entry.is_directory) {
      folder.platform().DeleteFile(folder.PathOf(subfolder + entry.name));
    }
  }
}

}  // namespace sqv64
