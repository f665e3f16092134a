// "GetStatus", a command of our own (the suite's clients never send it, and
// older servers answer it with nothing, so a client can tell): a small
// UTF-8 JSON document for operators and monitoring, with the server's
// version and start, the store, the access list in force and the health of
// the weather collection. Times are UTC, "2026-12-10T12:49:07Z".
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "protocol/access_list.h"
#include "protocol/command_context.h"
#include "protocol/connection.h"
#include "protocol/weather_commands.h"

namespace sqv64 {

// What the document tells; texts are 8-bit (Windows-1251) as the server
// holds them.
struct StatusFacts {
  std::string version;
  std::chrono::system_clock::time_point started;
  std::string folder;
  std::optional<std::uint64_t> free_bytes;
  std::size_t data_files = 0;
  // The list in force; null when the server has no access control.
  std::shared_ptr<const AccessList> access;
  WeatherStatus weather;
};

// The document, ending with a line end. Pure.
std::string StatusDocument(const StatusFacts& facts);

// The server's version, as the document names it.
std::string ServerVersion();

// Gathers the facts off the network threads and sends the document.
asio::awaitable<void> SendStatus(Connection& connection, CommandContext& context,
                                 std::shared_ptr<const AccessList> access);

}  // namespace sqv64
