#include "metar/testing/scripted_ftp_peer.h"

#include <asio.hpp>
#include <functional>
#include <future>
#include <istream>

#include "text/trim_spaces.h"

namespace sqv64::testing_support {
namespace {

using asio::ip::tcp;

std::string DefaultReply(const std::string& verb) {
  if (verb == "USER")
    return "331 Password required";
  if (verb == "PASS" || verb == "ACCT")
    return "230 Logged in";
  if (verb == "SITE" || verb == "OPEN")
    return "220 Connected to the server";
  if (verb == "FEAT")
    return "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n CLNT\r\n211 End";
  if (verb == "CLNT")
    return "200 Noted";
  if (verb == "TYPE")
    return "200 Type set";
  if (verb == "CWD")
    return "250 Directory changed";
  return "500 Unknown command";
}

}  // namespace

class ScriptedFtpPeer::Server {
 public:
  explicit Server(ScriptedFtpPeer& peer)
      : peer_(peer), acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    Accept();
  }

  asio::io_context& io() { return io_; }
  std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

  // Returns once the connections are closed.
  void DropConnections() {
    std::promise<void> closed;
    asio::post(io_, [this, &closed] {
      for (auto& weak : sessions_) {
        if (auto session = weak.lock()) {
          asio::error_code ignored;
          session->control.close(ignored);
        }
      }
      closed.set_value();
    });
    closed.get_future().wait();
  }

 private:
  struct Session : std::enable_shared_from_this<Session> {
    explicit Session(tcp::socket socket) : control(std::move(socket)) {}
    tcp::socket control;
    asio::streambuf input;
    std::unique_ptr<tcp::acceptor> data_acceptor;
    std::shared_ptr<tcp::socket> stalled_data;
  };
  using SessionPointer = std::shared_ptr<Session>;

  void Accept() {
    acceptor_.async_accept([this](const asio::error_code& error, tcp::socket socket) {
      if (error)
        return;
      peer_.CountConnection();
      auto session = std::make_shared<Session>(std::move(socket));
      sessions_.push_back(session);
      Script script = peer_.CurrentScript();
      std::string greeting = script.greeting;
      if (auto endless = script.endless_replies.find(""); endless != script.endless_replies.end())
        WriteEndlessly(session, endless->second);
      else if (greeting.empty())
        ReadCommand(session);
      else
        Write(session, greeting, [this, session] { ReadCommand(session); });
      Accept();
    });
  }

  void Write(const SessionPointer& session, const std::string& reply, std::function<void()> then) {
    auto wire = std::make_shared<std::string>(reply + "\r\n");
    asio::async_write(session->control, asio::buffer(*wire),
                      [wire, then](const asio::error_code& error, std::size_t) {
                        if (!error && then)
                          then();
                      });
  }

  // Writes the first line, then the repeated one in blocks (or one at a time
  // when paced) until the connection fails.
  void WriteEndlessly(const SessionPointer& session, const EndlessReply& reply) {
    std::string block;
    if (reply.interval.count() > 0) {
      block = reply.repeated + "\r\n";
    } else {
      while (block.size() < 64 * 1024)
        block += reply.repeated + "\r\n";
    }
    auto wire = std::make_shared<std::string>(std::move(block));
    auto timer = std::make_shared<asio::steady_timer>(io_);
    // Each step holds the next only while it is pending, so that the chain
    // ends with the connection.
    auto next = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weak_next = next;
    *next = [session, wire, timer, interval = reply.interval, weak_next] {
      auto self = weak_next.lock();
      if (!self)
        return;
      asio::async_write(session->control, asio::buffer(*wire),
                        [timer, interval, self](const asio::error_code& error, std::size_t) {
                          if (error)
                            return;
                          timer->expires_after(interval);
                          timer->async_wait([self](const asio::error_code&) { (*self)(); });
                        });
    };
    Write(session, reply.first, [next] { (*next)(); });
  }

  void ReadCommand(const SessionPointer& session) {
    asio::async_read_until(session->control, session->input, '\n',
                           [this, session](const asio::error_code& error, std::size_t) {
                             if (error)
                               return;
                             std::istream in(&session->input);
                             std::string line;
                             std::getline(in, line);
                             if (!line.empty() && line.back() == '\r')
                               line.pop_back();
                             peer_.Record(line);
                             Dispatch(session, line);
                           });
  }

  void Dispatch(const SessionPointer& session, const std::string& line) {
    std::string verb = AsciiUpperCase(line.substr(0, line.find(' ')));
    std::string argument = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
    Script script = peer_.CurrentScript();
    auto next = [this, session] { ReadCommand(session); };

    auto endless = script.endless_replies.find(line);
    if (endless == script.endless_replies.end())
      endless = script.endless_replies.find(verb);
    if (endless != script.endless_replies.end()) {
      WriteEndlessly(session, endless->second);
      return;
    }
    auto custom = script.replies.find(line);
    if (custom == script.replies.end())
      custom = script.replies.find(verb);
    if (custom != script.replies.end()) {
      if (custom->second.empty())
        next();
      else
        Write(session, custom->second, next);
      return;
    }
    if (verb == "PASV") {
      session->data_acceptor =
          std::make_unique<tcp::acceptor>(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
      std::uint16_t port = session->data_acceptor->local_endpoint().port();
      Write(session,
            "227 Entering Passive Mode (192,0,2,7," + std::to_string(port / 256) + "," +
                std::to_string(port % 256) + ").",
            next);
    } else if (verb == "LIST" || verb == "MLSD") {
      Transfer(session, script.listing, script.stall_transfers);
    } else if (verb == "RETR") {
      auto file = script.files.find(argument);
      if (file == script.files.end()) {
        session->data_acceptor.reset();
        Write(session, "550 No such file", next);
      } else {
        Transfer(session, file->second, script.stall_transfers);
      }
    } else if (verb == "QUIT") {
      Write(session, "221 Goodbye", [session] {
        asio::error_code ignored;
        session->control.close(ignored);
      });
    } else {
      Write(session, DefaultReply(verb), next);
    }
  }

  void Transfer(const SessionPointer& session, const std::string& data, bool stall) {
    if (!session->data_acceptor) {
      Write(session, "425 Use PASV first", [this, session] { ReadCommand(session); });
      return;
    }
    Write(session, "150 Opening data connection", [this, session, data, stall] {
      auto socket = std::make_shared<tcp::socket>(io_);
      session->data_acceptor->async_accept(*socket, [this, session, socket, data,
                                                     stall](const asio::error_code& error) {
        session->data_acceptor.reset();
        if (error)
          return;
        if (stall) {
          // Sends nothing; once the client gives the transfer up and closes
          // the data connection, answers as servers do.
          session->stalled_data = socket;
          auto byte = std::make_shared<char>();
          socket->async_read_some(
              asio::buffer(byte.get(), 1),
              [this, session, byte](const asio::error_code& closed, std::size_t) {
                if (closed && closed != asio::error::operation_aborted)
                  Write(session, "426 Transfer aborted", nullptr);
              });
          ReadCommand(session);
          return;
        }
        auto buffer = std::make_shared<std::string>(data);
        asio::async_write(*socket, asio::buffer(*buffer),
                          [this, session, socket, buffer](const asio::error_code&, std::size_t) {
                            asio::error_code ignored;
                            socket->shutdown(tcp::socket::shutdown_both, ignored);
                            socket->close(ignored);
                            Write(session, "226 Transfer complete",
                                  [this, session] { ReadCommand(session); });
                          });
      });
    });
  }

  ScriptedFtpPeer& peer_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::vector<std::weak_ptr<Session>> sessions_;
};

ScriptedFtpPeer::ScriptedFtpPeer() : server_(std::make_unique<Server>(*this)) {
  port_ = server_->port();
  thread_ = std::thread([this] { server_->io().run(); });
}

ScriptedFtpPeer::~ScriptedFtpPeer() {
  server_->io().stop();
  thread_.join();
}

void ScriptedFtpPeer::SetGreeting(std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.greeting = std::move(reply);
}

void ScriptedFtpPeer::SetReply(std::string command, std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.replies[std::move(command)] = std::move(reply);
}

void ScriptedFtpPeer::SetEndlessReply(std::string command, std::string first, std::string repeated,
                                      std::chrono::milliseconds interval) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.endless_replies[std::move(command)] = {std::move(first), std::move(repeated), interval};
}

void ScriptedFtpPeer::SetListing(std::string data) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.listing = std::move(data);
}

void ScriptedFtpPeer::SetFile(std::string name, std::string content) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.files[std::move(name)] = std::move(content);
}

void ScriptedFtpPeer::SetStallTransfers(bool stall) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.stall_transfers = stall;
}

std::vector<std::string> ScriptedFtpPeer::Commands() {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

int ScriptedFtpPeer::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void ScriptedFtpPeer::DropConnections() {
  server_->DropConnections();
}

ScriptedFtpPeer::Script ScriptedFtpPeer::CurrentScript() {
  std::lock_guard<std::mutex> lock(mutex_);
  return script_;
}

void ScriptedFtpPeer::Record(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.push_back(command);
}

void ScriptedFtpPeer::CountConnection() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++connections_;
}

}  // namespace sqv64::testing_support
