// The connection handler: reads one request line, runs the command it
// names, and returns; the TCP server then closes the connection. There are
// no error replies: a command that fails sends nothing.
#pragma once

#include <asio.hpp>

#include "protocol/command_context.h"
#include "protocol/connection.h"

namespace sqv64 {

// Payloads of the settings and airport commands larger than this are
// refused: the connection is closed and nothing changes.
inline constexpr std::size_t kLargestSettingsPayload = 1024 * 1024;

asio::awaitable<void> TCPServerExecute(Connection& connection, CommandContext& context);

}  // namespace sqv64
