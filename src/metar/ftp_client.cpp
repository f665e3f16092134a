#include "metar/ftp_client.h"

#include <asio.hpp>
#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <set>

#include "metar/ftp_login.h"

namespace sqv64 {
namespace {

using asio::ip::tcp;
using Completion = std::function<void(const asio::error_code&, std::size_t)>;

// A reply line longer than this is not FTP any more.
constexpr std::size_t kLongestReplyLine = 64 * 1024;
// A listing longer than this is refused rather than held in memory.
constexpr std::size_t kLargestListing = 64 * 1024 * 1024;
constexpr std::size_t kDataChunk = 64 * 1024;
// A server may ask the client to wait ("120") before it greets, a few times;
// one that never stops asking is not going to greet.
constexpr int kMostWaitReplies = 16;

std::vector<std::string> SplitLines(const std::string& data) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < data.size()) {
    std::size_t end = data.find('\n', begin);
    std::size_t stop = end == std::string::npos ? data.size() : end;
    std::string line = data.substr(begin, stop - begin);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(std::move(line));
    begin = stop + 1;
  }
  return lines;
}

std::string Verb(const std::string& command) {
  return command.substr(0, command.find(' '));
}

}  // namespace

// The connection state, the Asio objects, and the blocking steps built on
// them. Every step runs the client's own io_context on the calling thread
// until its operation completes or its time-out passes.
class FtpClient::Session : public FtpCommandChannel {
 public:
  explicit Session(platform::Platform& platform) : platform_(platform) {}

  FtpReply Command(const std::string& line) override {
    Send(line);
    return ReadReply();
  }

  void Connect();
  bool Connected();
  void ChangeDirectory(const std::string& directory);
  std::vector<std::string> List();
  void Get(const std::string& remote_name, const std::string& local_path);
  void Quit();
  void Cancel();
  bool cancelled() const { return cancelled_; }

  FtpSessionSettings settings;
  std::vector<std::string> last_listing;

 private:
  using Sink = std::function<void(const char* data, std::size_t size)>;

  // Starts an operation with `start` and runs the io_context until it has
  // completed. When `timeout` passes first, `on_timeout` runs (it closes
  // what the operation waits on) and FtpError is thrown; a cancelled session
  // throws FtpError too. Otherwise the operation's own result is returned.
  asio::error_code Await(std::chrono::milliseconds timeout, const char* what,
                         const std::function<void()>& on_timeout,
                         const std::function<void(Completion)>& start, std::size_t& transferred);

  void Send(const std::string& line);
  // One whole reply, which must be complete within the read time-out: a
  // server that trickles lines forever times out like a silent one.
  FtpReply ReadReply();
  FtpReply ReadReplyBy(std::chrono::steady_clock::time_point deadline);
  void OpenPassiveConnection();
  // Runs a data command over a fresh passive connection, handing the data
  // to `sink` as it arrives.
  void Transfer(const std::string& command, const Sink& sink);

  void RequireOpen();
  [[noreturn]] void ControlFailed(const std::string& message);
  void ThrowIfCancelled();
  void CloseData();
  void CloseAll();

  platform::Platform& platform_;
  std::set<std::string> features_;
  std::atomic<bool> cancelled_{false};
  asio::io_context io_;
  tcp::resolver resolver_{io_};
  tcp::socket control_{io_};
  tcp::socket data_{io_};
  asio::steady_timer timer_{io_};
  std::string received_;  // control bytes not yet taken into a reply
};

asio::error_code FtpClient::Session::Await(std::chrono::milliseconds timeout, const char* what,
                                           const std::function<void()>& on_timeout,
                                           const std::function<void(Completion)>& start,
                                           std::size_t& transferred) {
  ThrowIfCancelled();
  bool done = false;
  bool timer_done = false;
  bool timed_out = false;
  asio::error_code result;
  transferred = 0;
  io_.restart();
  timer_.expires_after(timeout);
  timer_.async_wait([&](const asio::error_code& error) {
    timer_done = true;
    if (!error && !done) {
      timed_out = true;
      on_timeout();
    }
  });
  std::exception_ptr failed_to_start;
  try {
    start([&](const asio::error_code& error, std::size_t bytes) {
      done = true;
      result = error;
      transferred = bytes;
    });
  } catch (...) {
    failed_to_start = std::current_exception();
    done = true;
  }
  // Both handlers refer to this frame, so both must have run before it ends.
  while (!done || !timer_done) {
    if (done)
      timer_.cancel();
    io_.run_one();
  }
  if (failed_to_start)
    std::rethrow_exception(failed_to_start);
  ThrowIfCancelled();
  if (timed_out)
    throw FtpError(std::string(what) + " timed out");
  return result;
}

void FtpClient::Session::ThrowIfCancelled() {
  if (cancelled_)
    throw FtpError("the FTP session was cancelled");
}

void FtpClient::Session::CloseData() {
  asio::error_code ignored;
  data_.close(ignored);
}

void FtpClient::Session::CloseAll() {
  asio::error_code ignored;
  resolver_.cancel();
  control_.close(ignored);
  data_.close(ignored);
  received_.clear();
}

void FtpClient::Session::ControlFailed(const std::string& message) {
  CloseAll();
  throw FtpError(message);
}

void FtpClient::Session::RequireOpen() {
  ThrowIfCancelled();
  if (!control_.is_open())
    throw FtpError("not connected");
}

void FtpClient::Session::Send(const std::string& line) {
  RequireOpen();
  if (line.find_first_of("\r\n") != std::string::npos)
    throw FtpError("a command may not hold a line end");
  std::string wire = line + "\r\n";
  std::size_t sent = 0;
  asio::error_code error = Await(
      settings.timeouts.read, "sending a command", [this] { CloseAll(); },
      [&](Completion done) { asio::async_write(control_, asio::buffer(wire), done); }, sent);
  if (error)
    ControlFailed("sending " + Verb(line) + " failed: " + error.message());
}

FtpReply FtpClient::Session::ReadReply() {
  return ReadReplyBy(std::chrono::steady_clock::now() + settings.timeouts.read);
}

FtpReply FtpClient::Session::ReadReplyBy(std::chrono::steady_clock::time_point deadline) {
  FtpReplyParser parser;
  char buffer[4096];
  for (;;) {
    std::size_t end = received_.find('\n');
    if (end != std::string::npos) {
      std::string line = received_.substr(0, end);
      received_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      bool complete = false;
      try {
        complete = parser.Feed(std::move(line));
      } catch (const FtpError& error) {
        ControlFailed(error.what());
      }
      if (complete)
        return parser.reply();
      continue;
    }
    if (received_.size() > kLongestReplyLine)
      ControlFailed("a reply line is too long");
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0))
      ControlFailed("waiting for a reply timed out");
    std::size_t read = 0;
    asio::error_code error = Await(
        left, "waiting for a reply", [this] { CloseAll(); },
        [&](Completion done) { control_.async_read_some(asio::buffer(buffer), done); }, read);
    received_.append(buffer, read);
    if (error) {
      ControlFailed(error == asio::error::eof ? "the server closed the connection"
                                              : "reading a reply failed: " + error.message());
    }
  }
}

void FtpClient::Session::Connect() {
  CloseAll();
  features_.clear();
  ThrowIfCancelled();
  const FtpProxySettings& proxy = settings.proxy;
  bool through_proxy = !proxy.host.empty() && proxy.method != FtpProxyMethod::kNone &&
                       proxy.method != FtpProxyMethod::kTransparent;
  std::string host = through_proxy ? proxy.host : settings.host;
  std::uint16_t port = through_proxy ? proxy.port : settings.port;

  // Failures name the host and port, so that an operator sees at once
  // which server, or which proxy, could not be reached.
  std::string where = host + " port " + std::to_string(port);
  tcp::resolver::results_type endpoints;
  std::size_t unused = 0;
  asio::error_code error;
  try {
    error = Await(
        settings.timeouts.connect, "resolving the host name", [this] { resolver_.cancel(); },
        [&](Completion done) {
          resolver_.async_resolve(tcp::v4(), host, std::to_string(port),
                                  [&endpoints, done](const asio::error_code& result,
                                                     tcp::resolver::results_type found) {
                                    endpoints = std::move(found);
                                    done(result, 0);
                                  });
        },
        unused);
  } catch (const FtpError&) {
    ThrowIfCancelled();
    throw FtpError("cannot resolve " + host + ": timed out");
  }
  if (error)
    throw FtpError("cannot resolve " + host + ": " + error.message());
  try {
    error = Await(
        settings.timeouts.connect, "connecting", [this] { CloseAll(); },
        [&](Completion done) {
          asio::async_connect(
              control_, endpoints,
              [done](const asio::error_code& result, const tcp::endpoint&) { done(result, 0); });
        },
        unused);
  } catch (const FtpError&) {
    ThrowIfCancelled();
    ControlFailed("cannot connect to " + where + ": timed out");
  }
  if (error)
    ControlFailed("cannot connect to " + where + ": " + error.message());

  try {
    // The wait for "220" is bounded as a whole, by time and by the number
    // of "120" replies.
    auto deadline = std::chrono::steady_clock::now() + settings.timeouts.read;
    FtpReply greeting = ReadReplyBy(deadline);
    for (int waits = 1; greeting.code == 120; ++waits) {
      if (waits > kMostWaitReplies)
        ControlFailed("the server never became ready");
      greeting = ReadReplyBy(deadline);
    }
    if (greeting.code != 220)
      throw FtpError("the server refused the session: " + greeting.Text());
    FtpLogin(*this, settings);
    FtpReply features = Command("FEAT");
    if (features.code == 211)
      features_ = FeatureNames(features);
    if (features_.count("CLNT") != 0)
      Command("CLNT " + settings.client_name);
    FtpReply type = Command("TYPE A");
    if (!type.IsCompletion())
      throw FtpError("ASCII mode refused: " + type.Text());
  } catch (...) {
    CloseAll();
    throw;
  }
}

bool FtpClient::Session::Connected() {
  if (cancelled_) {
    CloseAll();
    return false;
  }
  if (!control_.is_open())
    return false;
  // Nothing may arrive unasked on an idle session but a closing notice, so
  // any byte, the end of the stream or an error all mean it is over.
  bool idle = received_.empty();
  if (idle) {
    asio::error_code error;
    control_.non_blocking(true, error);
    char buffer[256];
    control_.read_some(asio::buffer(buffer), error);
    idle = error == asio::error::would_block || error == asio::error::try_again;
    asio::error_code ignored;
    control_.non_blocking(false, ignored);
  }
  if (!idle)
    CloseAll();
  return idle;
}

void FtpClient::Session::ChangeDirectory(const std::string& directory) {
  FtpReply reply = Command("CWD " + directory);
  if (!reply.IsCompletion())
    throw FtpError("CWD refused: " + reply.Text());
}

void FtpClient::Session::OpenPassiveConnection() {
  FtpReply reply = Command("PASV");
  if (reply.code != 227)
    throw FtpError("passive mode refused: " + reply.Text());
  std::optional<std::uint16_t> port = PassivePort(reply.Text());
  if (!port)
    throw FtpError("malformed passive-mode reply: " + reply.Text());
  asio::error_code error;
  tcp::endpoint server = control_.remote_endpoint(error);
  if (error)
    ControlFailed("the control connection is gone: " + error.message());
  tcp::endpoint target(server.address(), *port);
  CloseData();
  std::size_t unused = 0;
  error = Await(
      settings.timeouts.connect, "opening the data connection", [this] { CloseData(); },
      [&](Completion done) {
        data_.async_connect(target, [done](const asio::error_code& result) { done(result, 0); });
      },
      unused);
  if (error) {
    CloseData();
    throw FtpError("cannot open the data connection: " + error.message());
  }
}

void FtpClient::Session::Transfer(const std::string& command, const Sink& sink) {
  RequireOpen();
  OpenPassiveConnection();
  FtpReply reply;
  try {
    reply = Command(command);
  } catch (...) {
    CloseData();
    throw;
  }
  if (reply.IsCompletion()) {
    CloseData();
    return;
  }
  if (!reply.IsPreliminary()) {
    CloseData();
    throw FtpError(Verb(command) + " refused: " + reply.Text());
  }

  std::optional<std::string> failure;
  std::vector<char> chunk(kDataChunk);
  for (;;) {
    std::size_t read = 0;
    asio::error_code error;
    try {
      error = Await(
          settings.timeouts.transfer, "the transfer", [this] { CloseData(); },
          [&](Completion done) { data_.async_read_some(asio::buffer(chunk), done); }, read);
    } catch (const FtpError& timed_out) {
      ThrowIfCancelled();
      failure = timed_out.what();
      break;
    }
    if (read > 0) {
      try {
        sink(chunk.data(), read);
      } catch (...) {
        // The server still owes its final reply; take it so that the session
        // can go on, then report the local failure.
        CloseData();
        try {
          ReadReply();
        } catch (const FtpError&) {
        }
        throw;
      }
    }
    if (error == asio::error::eof)
      break;
    if (error) {
      failure = error.message();
      break;
    }
  }
  CloseData();
  FtpReply final_reply = ReadReply();
  if (failure)
    throw FtpError(Verb(command) + " failed: " + *failure);
  if (!final_reply.IsCompletion())
    throw FtpError(Verb(command) + " failed: " + final_reply.Text());
}

std::vector<std::string> FtpClient::Session::List() {
  std::string data;
  bool machine_listing = features_.count("MLSD") != 0 || features_.count("MLST") != 0;
  Transfer(machine_listing ? "MLSD" : "LIST", [&](const char* bytes, std::size_t size) {
    if (data.size() + size > kLargestListing)
      throw FtpError("the listing is too long");
    data.append(bytes, size);
  });
  last_listing = SplitLines(data);
  return last_listing;
}

void FtpClient::Session::Get(const std::string& remote_name, const std::string& local_path) {
  using namespace platform;
  ThrowIfCancelled();
  platform_.DeleteFile(local_path);
  auto file = platform_.OpenFile(local_path, FileAccess::kWrite, FileShare::kRead,
                                 FileCreation::kCreateAlways);
  if (file == nullptr)
    throw FtpError("cannot create " + local_path);
  Transfer("RETR " + remote_name,
           [&](const char* bytes, std::size_t size) { file->Write(bytes, size); });
  file->Close();
}

void FtpClient::Session::Quit() {
  if (control_.is_open() && !cancelled_) {
    try {
      Command("QUIT");
    } catch (const FtpError&) {
    }
  }
  CloseAll();
}

void FtpClient::Session::Cancel() {
  cancelled_ = true;
  // The sockets belong to the thread running the session; closing them
  // there ends whatever operation it waits on.
  asio::post(io_, [this] { CloseAll(); });
}

FtpClient::FtpClient(platform::Platform& platform)
    : session_(std::make_unique<Session>(platform)) {}

FtpClient::~FtpClient() = default;

void FtpClient::Configure(const FtpSessionSettings& session) {
  session_->settings = session;
}

const FtpSessionSettings& FtpClient::session() const {
  return session_->settings;
}

bool FtpClient::Connected() {
  return session_->Connected();
}

void FtpClient::Connect() {
  session_->Connect();
}

void FtpClient::ChangeDirectory(const std::string& directory) {
  session_->ChangeDirectory(directory);
}

std::vector<std::string> FtpClient::List() {
  return session_->List();
}

const std::vector<std::string>& FtpClient::LastListing() const {
  return session_->last_listing;
}

void FtpClient::Get(const std::string& remote_name, const std::string& local_path) {
  session_->Get(remote_name, local_path);
}

void FtpClient::Quit() {
  session_->Quit();
}

void FtpClient::Cancel() {
  session_->Cancel();
}

bool FtpClient::Cancelled() const {
  return session_->cancelled();
}

}  // namespace sqv64
