// For the weather tests: a TestPlatform that notes deletions and renames,
// counts the files open at any moment, and can make writes to one file fail
// the way a full disk does.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/test_platform.h"

namespace sqv64::testing_support {

class RecordingPlatform : public TestPlatform {
 public:
  // Writes to every file whose path ends with `suffix` throw IoError.
  void FailWritesTo(std::string suffix) {
    std::lock_guard<std::mutex> lock(recording_mutex_);
    failing_suffix_ = std::move(suffix);
  }
  int open_files() const { return open_files_; }
  std::vector<std::string> deleted() {
    std::lock_guard<std::mutex> lock(recording_mutex_);
    return deleted_;
  }
  std::vector<std::pair<std::string, std::string>> replaced() {
    std::lock_guard<std::mutex> lock(recording_mutex_);
    return replaced_;
  }

  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share,
                                           platform::FileCreation creation) override {
    auto file = TestPlatform::OpenFile(path, access, share, creation);
    if (file == nullptr)
      return nullptr;
    bool fail;
    {
      std::lock_guard<std::mutex> lock(recording_mutex_);
      fail = !failing_suffix_.empty() && path.size() >= failing_suffix_.size() &&
             path.compare(path.size() - failing_suffix_.size(), failing_suffix_.size(),
                          failing_suffix_) == 0;
    }
    return std::make_unique<TrackedFile>(std::move(file), open_files_, fail);
  }
  bool DeleteFile(const std::string& path) override {
    {
      std::lock_guard<std::mutex> lock(recording_mutex_);
      deleted_.push_back(path);
    }
    return TestPlatform::DeleteFile(path);
  }
  bool ReplaceFile(const std::string& from, const std::string& to) override {
    {
      std::lock_guard<std::mutex> lock(recording_mutex_);
      replaced_.emplace_back(from, to);
    }
    return TestPlatform::ReplaceFile(from, to);
  }

 private:
  class TrackedFile : public platform::File {
   public:
    TrackedFile(std::unique_ptr<platform::File> file, std::atomic<int>& open_files, bool fail)
        : file_(std::move(file)), open_files_(open_files), fail_(fail) {
      ++open_files_;
    }
    ~TrackedFile() override { Release(); }
    std::size_t Read(void* buffer, std::size_t size) override { return file_->Read(buffer, size); }
    void Write(const void* data, std::size_t size) override {
      if (fail_)
        throw platform::IoError("I/O error 28");
      file_->Write(data, size);
    }
    std::uint64_t Size() override { return file_->Size(); }
    void Seek(std::uint64_t offset) override { file_->Seek(offset); }
    void SeekToEnd() override { file_->SeekToEnd(); }
    void Sync() override { file_->Sync(); }
    void Close() override {
      file_->Close();
      Release();
    }

   private:
    void Release() {
      if (!released_)
        --open_files_;
      released_ = true;
    }
    std::unique_ptr<platform::File> file_;
    std::atomic<int>& open_files_;
    bool fail_;
    bool released_ = false;
  };

  std::mutex recording_mutex_;
  std::string failing_suffix_;
  std::atomic<int> open_files_{0};
  std::vector<std::string> deleted_;
  std::vector<std::pair<std::string, std::string>> replaced_;
};

}  // namespace sqv64::testing_support
