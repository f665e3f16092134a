// Fetching one file over HTTP or HTTPS into a local file: a GET with
// optional validators (If-Modified-Since, If-None-Match), through an
// optional HTTP proxy reached with CONNECT, checking server certificates
// against the system's trust store plus an optional PEM file.
//
// Implemented with libcurl on POSIX and with WinHTTP on Windows.
//
// Thread safety: one thread runs Get at a time; Cancel may be called from
// any thread at any moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace sqv64::platform {

struct HttpProxy {
  std::string host;  // empty: no proxy
  std::uint16_t port = 80;
  std::string user;  // empty: no authentication; else Basic
  std::string password;
};

struct HttpRequest {
  // "http://" or "https://"; other schemes are refused.
  std::string url;
  // Sent when not empty: the Last-Modified and ETag of an earlier fetch.
  std::string if_modified_since;
  std::string if_none_match;
  HttpProxy proxy;
  // 8-bit path of a PEM file with certificates trusted beside the
  // system's own; empty for the system's alone.
  std::string extra_ca_file;
  // Name resolution and connection, the proxy's tunnel included.
  std::chrono::milliseconds connect_timeout{60000};
  // A response that brings no byte for this long is given up.
  std::chrono::milliseconds idle_timeout{60000};
  // A body larger than this is cut off and reported as kTooLarge.
  std::uint64_t max_body_bytes = std::uint64_t{64} << 20;
  // Redirects to https:// are followed up to this many times; a redirect to
  // any other scheme fails the fetch.
  int max_redirects = 5;
};

struct HttpResult {
  enum class Outcome {
    kCompleted,  // a response arrived whole; see `status`
    kFailed,     // no complete response (connection, certificate, time-out)
    kTooLarge,   // the body passed `max_body_bytes`
    kCancelled,  // Cancel was called
  };
  Outcome outcome = Outcome::kFailed;
  int status = 0;  // the final response's status code, 0 when none
  std::string last_modified;
  std::string etag;
  // What went wrong, for an operator; empty on completion.
  std::string error;
};

class HttpDownloader {
 public:
  virtual ~HttpDownloader() = default;
  // Fetches `request.url`; the body of the final response (whatever its
  // status) is written to `destination` as it arrives. Never throws: a
  // write error on `destination` is a kFailed result.
  virtual HttpResult Get(const HttpRequest& request, File& destination) = 0;
  // Ends a running Get at once (kCancelled) and makes every later Get
  // return kCancelled without connecting.
  virtual void Cancel() = 0;
};

// The implementation of the platform the process runs on.
std::unique_ptr<HttpDownloader> CreateHttpDownloader();

}  // namespace sqv64::platform
