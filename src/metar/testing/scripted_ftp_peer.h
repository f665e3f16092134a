// For the FTP tests: an FTP server on 127.0.0.1 that follows a script and
// records every command line it receives. It serves on a thread of its own.
//
// Without a script it greets with "220", asks for a password after USER,
// accepts every login, offers MLST and CLNT in its feature list, and serves
// a listing and named files over passive data connections. Its PASV replies
// name the address 192.0.2.7, which it does not own: a client that reaches
// the data port anyway has used the control connection's address.
//
// Thread safety: every member may be called from the test's thread while
// the peer serves.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sqv64::testing_support {

class ScriptedFtpPeer {
 public:
  ScriptedFtpPeer();
  ~ScriptedFtpPeer();
  ScriptedFtpPeer(const ScriptedFtpPeer&) = delete;
  ScriptedFtpPeer& operator=(const ScriptedFtpPeer&) = delete;

  std::uint16_t port() const { return port_; }

  // The greeting; an empty one means the peer never greets.
  void SetGreeting(std::string reply);
  // The reply to a command line equal to `command`, or (when no line
  // matches) to every command whose verb is `command`. Lines of a multi-line
  // reply are separated by CR LF; an empty reply means no reply at all.
  void SetReply(std::string command, std::string reply);
  // A reply that never ends: `first`, then `repeated` again and again
  // (`interval` apart, or as fast as the client takes them when zero) until
  // the client goes. An empty `command` means the greeting.
  void SetEndlessReply(std::string command, std::string first, std::string repeated,
                       std::chrono::milliseconds interval = std::chrono::milliseconds(0));
  void SetListing(std::string data);
  void SetFile(std::string name, std::string content);
  // Data connections are accepted but never send a byte; when the client
  // closes one, the peer replies "426".
  void SetStallTransfers(bool stall);

  std::vector<std::string> Commands();
  int Connections();
  // Closes every control connection from the peer's side; returns once
  // they are closed.
  void DropConnections();

 private:
  class Server;
  friend class Server;

  struct EndlessReply {
    std::string first;
    std::string repeated;
    std::chrono::milliseconds interval;
  };
  struct Script {
    std::string greeting = "220 Scripted FTP peer ready";
    std::map<std::string, std::string> replies;
    std::map<std::string, EndlessReply> endless_replies;
    std::string listing;
    std::map<std::string, std::string> files;
    bool stall_transfers = false;
  };

  Script CurrentScript();
  void Record(const std::string& command);
  void CountConnection();

  std::mutex mutex_;
  Script script_;
  std::vector<std::string> commands_;
  int connections_ = 0;
  std::unique_ptr<Server> server_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace sqv64::testing_support
