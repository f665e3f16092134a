// A client of the SQV64 protocol: one connection per command, the request
// line, an optional payload ended by closing the sending side, and the
// whole reply up to the server's close. Used by sqv64ctl and by the tests.
//
// Thread safety: a ProtocolClient holds only settings; each call makes its
// own connection, so calls may run on several threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sqv64 {

struct ProtocolReply {
  enum class End {
    kClosed,         // the server closed normally after the reply
    kReset,          // the connection was reset: the reply is not whole
    kTimedOut,       // no end within the time-out
    kCannotConnect,  // nothing listens there
  };
  End end = End::kClosed;
  std::string bytes;
  std::string error;  // the system's words for a failed end
};

class ProtocolClient {
 public:
  // What the time-out bounds: the whole exchange, or each wait for the
  // server to take or send bytes (an exchange may then last as long as
  // bytes keep moving).
  enum class Timeout { kWholeExchange, kIdle };

  ProtocolClient(std::string host, std::uint16_t port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30),
                 Timeout kind = Timeout::kWholeExchange)
      : host_(std::move(host)), port_(port), timeout_(timeout), kind_(kind) {}

  // Sends `client_name`, TAB, `command`, LF, then `payload`, closes the
  // sending side and reads the reply.
  ProtocolReply Run(std::string_view client_name, std::string_view command,
                    std::string_view payload = {}) const;

  // The same with raw bytes for the whole request (line and payload); the
  // sending side is closed after them when `close_sending_side` is set.
  ProtocolReply RunRaw(std::string_view request, bool close_sending_side = true) const;

  // Streams a payload produced by `next_chunk` (which returns an empty text
  // at the end) and reports the reply; `received` sees every reply chunk as
  // it arrives, for replies too large to hold in memory (then `bytes` stays
  // empty).
  ProtocolReply RunStreaming(std::string_view request_line,
                             const std::function<std::string()>& next_chunk,
                             const std::function<void(std::string_view)>& received) const;

 private:
  ProtocolReply Execute(std::string_view request_line,
                        const std::function<std::string()>& next_chunk, bool close_sending_side,
                        const std::function<void(std::string_view)>& received) const;

  std::string host_;
  std::uint16_t port_;
  std::chrono::milliseconds timeout_;
  Timeout kind_;
};

}  // namespace sqv64
