// HttpDownloader with libcurl's multi interface: the transfer is driven in
// short polls that Cancel can wake at once, so a stop never waits for a
// time-out.
#include <curl/curl.h>

#include <atomic>
#include <mutex>

#include "platform/http_download.h"

namespace sqv64::platform {
namespace {

// curl_global_init is not thread-safe before libcurl 7.84; run it once.
void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  File* destination = nullptr;
  std::uint64_t max_body_bytes = 0;
  std::uint64_t received = 0;
  bool too_large = false;
  std::string write_error;
  std::string last_modified;
  std::string etag;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto& transfer = *static_cast<Transfer*>(context);
  std::size_t bytes = size * count;
  if (transfer.received + bytes > transfer.max_body_bytes) {
    transfer.too_large = true;
    return 0;
  }
  try {
    transfer.destination->Write(data, bytes);
  } catch (const std::exception& error) {
    transfer.write_error = error.what();
    return 0;
  }
  transfer.received += bytes;
  return bytes;
}

// The value of a header line "Name: value" when its name is `name` (any
// ASCII case), trimmed; nothing otherwise.
bool HeaderValue(std::string_view line, std::string_view name, std::string& value) {
  if (line.size() <= name.size() || line[name.size()] != ':')
    return false;
  for (std::size_t index = 0; index < name.size(); ++index) {
    char byte = line[index];
    if (byte >= 'A' && byte <= 'Z')
      byte = static_cast<char>(byte - 'A' + 'a');
    if (byte != name[index])
      return false;
  }
  std::string_view rest = line.substr(name.size() + 1);
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
    rest.remove_prefix(1);
  while (!rest.empty() &&
         (rest.back() == '\r' || rest.back() == '\n' || rest.back() == ' ' || rest.back() == '\t'))
    rest.remove_suffix(1);
  value.assign(rest);
  return true;
}

std::size_t ReadHeader(char* data, std::size_t size, std::size_t count, void* context) {
  auto& transfer = *static_cast<Transfer*>(context);
  std::string_view line(data, size * count);
  // A status line starts the headers of a new response (after a redirect,
  // or the proxy's answer to CONNECT): only the final one's count.
  if (line.starts_with("HTTP/")) {
    transfer.last_modified.clear();
    transfer.etag.clear();
  }
  HeaderValue(line, "last-modified", transfer.last_modified);
  HeaderValue(line, "etag", transfer.etag);
  return size * count;
}

class CurlHttpDownloader final : public HttpDownloader {
 public:
  CurlHttpDownloader() {
    InitialiseCurlOnce();
    multi_ = curl_multi_init();
  }
  ~CurlHttpDownloader() override { curl_multi_cleanup(multi_); }

  HttpResult Get(const HttpRequest& request, File& destination) override;
  void Cancel() override {
    cancelled_ = true;
    curl_multi_wakeup(multi_);
  }

 private:
  CURLM* multi_ = nullptr;
  std::atomic<bool> cancelled_{false};
};

HttpResult CurlHttpDownloader::Get(const HttpRequest& request, File& destination) {
  HttpResult result;
  if (cancelled_) {
    result.outcome = HttpResult::Outcome::kCancelled;
    result.error = "cancelled";
    return result;
  }
  CURL* easy = curl_easy_init();
  if (easy == nullptr || multi_ == nullptr) {
    result.error = "libcurl cannot be initialised";
    return result;
  }
  Transfer transfer;
  transfer.destination = &destination;
  transfer.max_body_bytes = request.max_body_bytes;

  curl_slist* headers = nullptr;
  if (!request.if_modified_since.empty())
    headers =
        curl_slist_append(headers, ("If-Modified-Since: " + request.if_modified_since).c_str());
  if (!request.if_none_match.empty())
    headers = curl_slist_append(headers, ("If-None-Match: " + request.if_none_match).c_str());
  std::string proxy;
  std::string ca_file;
  char error_text[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(request.max_redirects));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, ReadHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(request.connect_timeout.count()));
  // Less than one byte per second for the idle time: given up.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                   std::max(1L, static_cast<long>(request.idle_timeout.count() / 1000)));
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(request.max_body_bytes));
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.extra_ca_file.empty()) {
    // The file replaces libcurl's default bundle; the system's certificate
    // folder stays in use beside it.
    ca_file = DefaultPlatform().NativePath(request.extra_ca_file);
    curl_easy_setopt(easy, CURLOPT_CAINFO, ca_file.c_str());
    if (const char* system_folder = curl_version_info(CURLVERSION_NOW)->capath)
      curl_easy_setopt(easy, CURLOPT_CAPATH, system_folder);
  }
  if (request.proxy.host.empty()) {
    // Only the settings choose a proxy, never the environment.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
  } else {
    proxy = "http://" + request.proxy.host + ":" + std::to_string(request.proxy.port);
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 1L);
    if (!request.proxy.user.empty()) {
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, request.proxy.user.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, request.proxy.password.c_str());
    }
  }

  curl_multi_add_handle(multi_, easy);
  CURLcode code = CURLE_OK;
  bool done = false;
  while (!done && !cancelled_) {
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        code = message->data.result;
        done = true;
      }
    }
    if (!done)
      curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
  }
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_multi_remove_handle(multi_, easy);
  curl_easy_cleanup(easy);
  curl_slist_free_all(headers);

  result.status = static_cast<int>(status);
  if (!done) {
    result.outcome = HttpResult::Outcome::kCancelled;
    result.error = "cancelled";
  } else if (transfer.too_large || code == CURLE_FILESIZE_EXCEEDED) {
    result.outcome = HttpResult::Outcome::kTooLarge;
    result.error = "the body is larger than " + std::to_string(request.max_body_bytes) + " bytes";
  } else if (!transfer.write_error.empty()) {
    result.error = transfer.write_error;
  } else if (code != CURLE_OK) {
    result.error = error_text[0] != '\0' ? error_text : curl_easy_strerror(code);
  } else {
    result.outcome = HttpResult::Outcome::kCompleted;
    result.last_modified = transfer.last_modified;
    result.etag = transfer.etag;
  }
  return result;
}

}  // namespace

std::unique_ptr<HttpDownloader> CreateHttpDownloader() {
  return std::make_unique<CurlHttpDownloader>();
}

}  // namespace sqv64::platform
