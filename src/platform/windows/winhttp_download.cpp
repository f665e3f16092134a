// HttpDownloader with WinHTTP in its synchronous mode. Certificates are
// checked by WinHTTP against the Windows certificate store; with an extra
// PEM file, a server whose issuer the store does not know is let through
// WinHTTP and its chain is then checked against that file's certificates
// alone, before any byte of the body is read. Redirects are followed here,
// not by WinHTTP, so that only those to https:// are.
//
// The blocking calls run on a thread of their own, which hands the body to
// the caller's thread through a small queue. Cancel closes the request
// handle, which ends a blocking call at once on Windows (not everywhere:
// under Wine it does not), and the caller returns without waiting for that
// thread, which ends by itself.
#include <wincrypt.h>
#include <winhttp.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/http_download.h"
#include "platform/windows/wide_text.h"

namespace sqv64::platform {
namespace {

constexpr std::size_t kMostCertificateFileBytes = 1 << 20;
// The most body bytes waiting between the two threads.
constexpr std::size_t kMostQueuedBytes = 1 << 20;

// Closes a WinHTTP handle when it goes.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HINTERNET handle) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset() {
    if (handle_ != nullptr)
      WinHttpCloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HINTERNET handle_ = nullptr;
};

std::string ErrorText(const char* step) {
  return std::string(step) + ": " + SystemErrorText(GetLastError());
}

// The certificates of a PEM file, in a memory store; nullptr when the file
// cannot be read or holds none.
HCERTSTORE LoadCertificates(const std::string& path) {
  HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return nullptr;
  std::string text;
  char buffer[16384];
  DWORD read = 0;
  while (text.size() < kMostCertificateFileBytes &&
         ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  CloseHandle(file);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (store == nullptr)
    return nullptr;
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  int added = 0;
  for (std::size_t begin = text.find(kBegin); begin != std::string::npos;
       begin = text.find(kBegin, begin + kBegin.size())) {
    std::size_t end = text.find(kEnd, begin);
    if (end == std::string::npos)
      break;
    std::string block = text.substr(begin, end + kEnd.size() - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    CertCloseStore(store, 0);
    return nullptr;
  }
  return store;
}

// Whether the chain of `server` passes the TLS server policy for `host`,
// built by `engine` (nullptr: the system's own).
bool PassesServerPolicy(HCERTCHAINENGINE engine, PCCERT_CONTEXT server, std::wstring host) {
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(engine, server, nullptr, server->hCertStore, &parameters, 0, nullptr,
                               &chain)) {
    return false;
  }
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = host.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  bool passed = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
                status.dwError == 0;
  CertFreeCertificateChain(chain);
  return passed;
}

// Whether the server of `request` is trusted by the system's store or by
// the certificates of `extra_ca_file`.
bool ServerTrusted(HINTERNET request, const std::wstring& host, const std::string& extra_ca_file) {
  PCCERT_CONTEXT server = nullptr;
  DWORD size = sizeof server;
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) ||
      server == nullptr) {
    return false;
  }
  bool trusted = PassesServerPolicy(nullptr, server, host);
  if (!trusted) {
    if (HCERTSTORE roots = LoadCertificates(extra_ca_file)) {
      CERT_CHAIN_ENGINE_CONFIG configuration{};
      configuration.cbSize = sizeof configuration;
      configuration.hExclusiveRoot = roots;
      HCERTCHAINENGINE engine = nullptr;
      if (CertCreateCertificateChainEngine(&configuration, &engine)) {
        trusted = PassesServerPolicy(engine, server, host);
        CertFreeCertificateChainEngine(engine);
      }
      CertCloseStore(roots, 0);
    }
  }
  CertFreeCertificateContext(server);
  return trusted;
}

std::string QueryHeader(HINTERNET request, DWORD header) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 8192)
    return {};
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                           WINHTTP_NO_HEADER_INDEX))
    return {};
  value.resize(size / sizeof(wchar_t));
  return AnsiText(value);
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a redirect from `current` with this Location leads: an absolute URL,
// a "//host/path", an absolute or a relative path.
std::string RedirectTarget(const std::string& current, const std::string& location) {
  std::size_t scheme_end = current.find("://");
  if (scheme_end == std::string::npos)
    return {};
  std::size_t path_start = current.find('/', scheme_end + 3);
  std::string origin = current.substr(0, path_start);
  if (location.find("://") != std::string::npos &&
      location.find("://") < location.find_first_of("/?#"))
    return location;
  if (location.starts_with("//"))
    return current.substr(0, scheme_end + 1) + location;
  if (location.starts_with("/"))
    return origin + location;
  std::string folder = path_start == std::string::npos ? origin + "/" : current;
  folder = folder.substr(0, folder.find_first_of("?#"));
  folder = folder.substr(0, folder.rfind('/') + 1);
  return folder + location;
}

HttpResult Cancelled() {
  HttpResult result;
  result.outcome = HttpResult::Outcome::kCancelled;
  result.error = "cancelled";
  return result;
}

// The fetch itself, in WinHTTP's blocking calls.
class BlockingWinHttp final : public HttpDownloader {
 public:
  HttpResult Get(const HttpRequest& request, File& destination) override;
  void Cancel() override {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (running_ != nullptr)
      WinHttpCloseHandle(running_);
    running_ = nullptr;
  }

 private:
  // One request to `url` without following redirects. A redirect's Location
  // goes to `location`, and its body is not read.
  HttpResult Fetch(const HttpRequest& request, const std::string& url, File& destination,
                   HINTERNET session, std::string& location);
  // Makes `request` the one Cancel closes; false when already cancelled.
  bool Track(HINTERNET request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_)
      return false;
    running_ = request;
    return true;
  }
  // Takes the request back from Cancel; false when Cancel closed it.
  bool Untrack() {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ours = running_ != nullptr;
    running_ = nullptr;
    return ours;
  }
  bool cancelled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
  }

  std::mutex mutex_;
  HINTERNET running_ = nullptr;
  bool cancelled_ = false;
};

HttpResult BlockingWinHttp::Get(const HttpRequest& request, File& destination) {
  HttpResult result;
  if (cancelled()) {
    result.outcome = HttpResult::Outcome::kCancelled;
    result.error = "cancelled";
    return result;
  }
  std::wstring proxy = WideText(request.proxy.host + ":" + std::to_string(request.proxy.port));
  Handle session(WinHttpOpen(
      L"SQV64",
      request.proxy.host.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
      request.proxy.host.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS,
      0));
  if (!session) {
    result.error = ErrorText("WinHttpOpen");
    return result;
  }
  int connect = static_cast<int>(request.connect_timeout.count());
  int idle = static_cast<int>(request.idle_timeout.count());
  WinHttpSetTimeouts(session.get(), connect, connect, idle, idle);
  std::string url = request.url;
  for (int redirects = 0;; ++redirects) {
    std::string location;
    result = Fetch(request, url, destination, session.get(), location);
    if (location.empty())
      return result;
    std::string target = RedirectTarget(url, location);
    if (!target.starts_with("https://")) {
      result.outcome = HttpResult::Outcome::kFailed;
      result.error = "redirected to " + location + ", not to https://";
      return result;
    }
    if (redirects >= request.max_redirects) {
      result.outcome = HttpResult::Outcome::kFailed;
      result.error = "more than " + std::to_string(request.max_redirects) + " redirects";
      return result;
    }
    url = target;
  }
}

HttpResult BlockingWinHttp::Fetch(const HttpRequest& request, const std::string& url_text,
                                  File& destination, HINTERNET session, std::string& location) {
  HttpResult result;
  std::wstring url = WideText(url_text);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    result.error = "not an http:// or https:// URL";
    return result;
  }
  bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  Handle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
  if (!connection) {
    result.error = ErrorText("WinHttpConnect");
    return result;
  }
  HINTERNET handle =
      WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
  if (handle == nullptr) {
    result.error = ErrorText("WinHttpOpenRequest");
    return result;
  }
  if (!Track(handle)) {
    WinHttpCloseHandle(handle);
    result.outcome = HttpResult::Outcome::kCancelled;
    result.error = "cancelled";
    return result;
  }

  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  DWORD features = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
  bool check_extra_authorities = secure && !request.extra_ca_file.empty();
  if (check_extra_authorities) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  std::wstring headers;
  if (!request.if_modified_since.empty())
    headers += L"If-Modified-Since: " + WideText(request.if_modified_since) + L"\r\n";
  if (!request.if_none_match.empty())
    headers += L"If-None-Match: " + WideText(request.if_none_match) + L"\r\n";

  bool sent = false;
  DWORD status = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    sent = WinHttpSendRequest(
               handle, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
               headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
           WinHttpReceiveResponse(handle, nullptr);
    if (!sent)
      break;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 407 || request.proxy.user.empty() || attempt > 0)
      break;
    // The proxy asks who we are: Basic, once.
    std::wstring user = WideText(request.proxy.user);
    std::wstring password = WideText(request.proxy.password);
    if (!WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                               user.c_str(), password.c_str(), nullptr))
      break;
  }
  if (!sent) {
    result.error = ErrorText("the request");
  } else if (check_extra_authorities && !ServerTrusted(handle, host, request.extra_ca_file)) {
    sent = false;
    result.error = "the server's certificate is not trusted";
  } else if (IsRedirect(status)) {
    location = QueryHeader(handle, WINHTTP_QUERY_LOCATION);
    if (!location.empty())
      sent = false;
  }

  if (sent) {
    result.status = static_cast<int>(status);
    result.last_modified = QueryHeader(handle, WINHTTP_QUERY_LAST_MODIFIED);
    result.etag = QueryHeader(handle, WINHTTP_QUERY_ETAG);
    std::vector<char> buffer(65536);
    std::uint64_t received = 0;
    result.outcome = HttpResult::Outcome::kCompleted;
    for (;;) {
      DWORD read = 0;
      if (!WinHttpReadData(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
        result.outcome = HttpResult::Outcome::kFailed;
        result.error = ErrorText("reading the body");
        break;
      }
      if (read == 0)
        break;
      if (received + read > request.max_body_bytes) {
        result.outcome = HttpResult::Outcome::kTooLarge;
        result.error =
            "the body is larger than " + std::to_string(request.max_body_bytes) + " bytes";
        break;
      }
      try {
        destination.Write(buffer.data(), read);
      } catch (const std::exception& error) {
        result.outcome = HttpResult::Outcome::kFailed;
        result.error = error.what();
        break;
      }
      received += read;
    }
  }
  if (Untrack())
    WinHttpCloseHandle(handle);
  if (cancelled()) {
    result.outcome = HttpResult::Outcome::kCancelled;
    result.error = "cancelled";
  }
  if (result.outcome != HttpResult::Outcome::kCompleted) {
    result.last_modified.clear();
    result.etag.clear();
  }
  return result;
}

// What the fetching thread and the caller's thread share: the body on its
// way, and the result once the fetch has ended.
struct Exchange {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> chunks;
  std::size_t queued_bytes = 0;
  bool finished = false;
  bool abandoned = false;  // the caller has gone; the fetch is to stop
  HttpResult result;
};

// The fetching thread's destination: each write waits for room in the
// queue, and fails once the caller has gone.
class QueuedBody final : public File {
 public:
  explicit QueuedBody(Exchange& exchange) : exchange_(exchange) {}
  std::size_t Read(void*, std::size_t) override { return 0; }
  void Write(const void* data, std::size_t size) override {
    std::unique_lock<std::mutex> lock(exchange_.mutex);
    exchange_.changed.wait(
        lock, [&] { return exchange_.abandoned || exchange_.queued_bytes < kMostQueuedBytes; });
    if (exchange_.abandoned)
      throw IoError("abandoned");
    exchange_.chunks.emplace_back(static_cast<const char*>(data), size);
    exchange_.queued_bytes += size;
    exchange_.changed.notify_all();
  }
  std::uint64_t Size() override { return 0; }
  void Seek(std::uint64_t) override {}
  void SeekToEnd() override {}
  void Sync() override {}
  void Close() override {}

 private:
  Exchange& exchange_;
};

class WinHttpDownloader final : public HttpDownloader {
 public:
  HttpResult Get(const HttpRequest& request, File& destination) override;
  void Cancel() override {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (exchange_ != nullptr) {
      {
        std::lock_guard<std::mutex> exchange_lock(exchange_->mutex);
        exchange_->abandoned = true;
      }
      exchange_->changed.notify_all();
      fetch_->Cancel();
    }
  }

 private:
  std::mutex mutex_;
  bool cancelled_ = false;
  // The fetch in progress, if any.
  std::shared_ptr<Exchange> exchange_;
  std::shared_ptr<BlockingWinHttp> fetch_;
};

HttpResult WinHttpDownloader::Get(const HttpRequest& request, File& destination) {
  auto exchange = std::make_shared<Exchange>();
  auto fetch = std::make_shared<BlockingWinHttp>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_)
      return Cancelled();
    exchange_ = exchange;
    fetch_ = fetch;
  }
  try {
    std::thread([exchange, fetch, request] {
      QueuedBody body(*exchange);
      HttpResult result = fetch->Get(request, body);
      std::lock_guard<std::mutex> lock(exchange->mutex);
      exchange->result = std::move(result);
      exchange->finished = true;
      exchange->changed.notify_all();
    }).detach();
  } catch (const std::system_error& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    exchange_ = nullptr;
    fetch_ = nullptr;
    HttpResult result;
    result.error = error.what();
    return result;
  }

  HttpResult result;
  std::unique_lock<std::mutex> lock(exchange->mutex);
  for (;;) {
    exchange->changed.wait(lock, [&] {
      return exchange->abandoned || exchange->finished || !exchange->chunks.empty();
    });
    if (exchange->abandoned) {
      result = Cancelled();
      break;
    }
    if (exchange->chunks.empty()) {
      result = exchange->result;
      break;
    }
    std::string chunk = std::move(exchange->chunks.front());
    exchange->chunks.pop_front();
    exchange->queued_bytes -= chunk.size();
    exchange->changed.notify_all();
    lock.unlock();
    try {
      destination.Write(chunk.data(), chunk.size());
    } catch (const std::exception& error) {
      lock.lock();
      exchange->abandoned = true;
      exchange->changed.notify_all();
      fetch->Cancel();
      result = HttpResult{};
      result.error = error.what();
      break;
    }
    lock.lock();
  }
  lock.unlock();
  std::lock_guard<std::mutex> own_lock(mutex_);
  exchange_ = nullptr;
  fetch_ = nullptr;
  return result;
}

}  // namespace

std::unique_ptr<HttpDownloader> CreateHttpDownloader() {
  return std::make_unique<WinHttpDownloader>();
}

}  // namespace sqv64::platform
