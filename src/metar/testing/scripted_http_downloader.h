// For the weather tests: an HttpDownloader that answers like a small web
// server from files set by the test, without a network. A file's request
// that carries its Last-Modified or ETag gets a 304; an unknown URL a 404
// with a body; a URL can be made to fail in a given way instead. Every
// request is recorded.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_download.h"

namespace sqv64::testing_support {

class ScriptedHttpDownloader : public platform::HttpDownloader {
 public:
  struct Served {
    std::string body;
    std::string last_modified;
    std::string etag;
  };
  // The reply to a URL that overrides what is served there: the outcome and
  // status, and the bytes written before it.
  struct Failure {
    platform::HttpResult::Outcome outcome = platform::HttpResult::Outcome::kFailed;
    int status = 0;
    std::string partial_body;
  };

  void Serve(const std::string& url, Served served) {
    std::lock_guard<std::mutex> lock(mutex_);
    served_[url] = std::move(served);
    failures_.erase(url);
  }
  void Fail(const std::string& url, Failure failure) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_[url] = std::move(failure);
  }
  std::vector<platform::HttpRequest> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  void ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
  }

  platform::HttpResult Get(const platform::HttpRequest& request,
                           platform::File& destination) override {
    using Outcome = platform::HttpResult::Outcome;
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    platform::HttpResult result;
    if (cancelled_) {
      result.outcome = Outcome::kCancelled;
      return result;
    }
    if (auto failure = failures_.find(request.url); failure != failures_.end()) {
      destination.Write(failure->second.partial_body.data(), failure->second.partial_body.size());
      result.outcome = failure->second.outcome;
      result.status = failure->second.status;
      result.error = "scripted failure";
      return result;
    }
    result.outcome = Outcome::kCompleted;
    auto served = served_.find(request.url);
    if (served == served_.end()) {
      std::string page = "<html>404 Not Found</html>\n";
      destination.Write(page.data(), page.size());
      result.status = 404;
      return result;
    }
    const Served& file = served->second;
    bool unchanged =
        (!file.etag.empty() && request.if_none_match == file.etag) ||
        (!file.last_modified.empty() && request.if_modified_since == file.last_modified);
    result.status = unchanged ? 304 : 200;
    if (!unchanged)
      destination.Write(file.body.data(), file.body.size());
    result.last_modified = file.last_modified;
    result.etag = file.etag;
    return result;
  }
  void Cancel() override {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Served> served_;
  std::map<std::string, Failure> failures_;
  std::vector<platform::HttpRequest> requests_;
  bool cancelled_ = false;
};

}  // namespace sqv64::testing_support
