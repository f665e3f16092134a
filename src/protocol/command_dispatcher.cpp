#include "protocol/command_dispatcher.h"

#include <optional>
#include <string>

#include "protocol/command_table.h"
#include "protocol/data_file_commands.h"
#include "protocol/request_line.h"

namespace sqv64 {
namespace {

// The whole payload of a settings or airport command, or nullopt when it
// exceeds kLargestSettingsPayload.
asio::awaitable<std::optional<std::string>> ReceiveSettingsPayload(Connection& connection) {
  std::string payload;
  char chunk[16384];
  for (;;) {
    std::size_t received = co_await connection.ReceiveSome(chunk, sizeof chunk);
    if (received == 0) {
      co_return payload;
    }
    if (payload.size() + received > kLargestSettingsPayload) {
      co_return std::nullopt;
    }
    payload.append(chunk, received);
  }
}

// Runs one of "SetMIni", "SetArpt", "DelArpt": nothing at all for an empty
// payload.
template <typename Apply>
asio::awaitable<void> RunSettingsCommand(Connection& connection, Apply apply) {
  std::optional<std::string> payload = co_await ReceiveSettingsPayload(connection);
  if (payload && !payload->empty()) {
    co_await connection.Blocking([&] { apply(*payload); });
  }
}

}  // namespace

asio::awaitable<void> TCPServerExecute(Connection& connection, CommandContext& context) {
  std::optional<std::string> line = co_await connection.ReadLine(kLongestRequestLine);
  if (!line) {
    co_return;
  }
  RequestLine request = SplitRequestLine(*line);
  MatchedCommand matched = MatchCommand(request.command_text);
  WeatherCommands& weather = context.weather;
  switch (matched.command) {
    case Command::kNone:
      break;
    case Command::kGetOK:
      co_await connection.Send("OK");
      break;
    case Command::kGetArpt: {
      std::string codes = co_await connection.Blocking([&] { return weather.ListAirports(); });
      co_await connection.Send(codes);
      break;
    }
    case Command::kSetMIni:
      co_await RunSettingsCommand(connection, [&](std::string_view payload) {
        weather.SaveMetarSettings(payload);
        weather.MarkSettingsChanged();
      });
      break;
    case Command::kSetArpt:
      co_await RunSettingsCommand(connection, [&](std::string_view payload) {
        weather.AddAirports(payload);
        weather.MarkSettingsChanged();
      });
      break;
    case Command::kDelArpt:
      co_await RunSettingsCommand(connection, [&](std::string_view payload) {
        weather.RemoveAirports(payload);
        weather.SetSettingsChanged();
      });
      break;
    case Command::kFileList:
      co_await SendFileList(connection, context);
      break;
    case Command::kCopyFromDatabase:
      co_await SendFileCopy(connection, context, request, matched.file_name, /*logged=*/true);
      break;
    case Command::kCopyFromServer:
      co_await SendFileCopy(connection, context, request, matched.file_name, /*logged=*/false);
      break;
    case Command::kSaveIntoDatabase:
      co_await ReceiveFileSave(connection, context, request, matched.file_name);
      break;
    case Command::kDeleteFromDatabase:
      co_await DeleteDataFile(connection, context, request, matched.file_name);
      break;
  }
}

}  // namespace sqv64
