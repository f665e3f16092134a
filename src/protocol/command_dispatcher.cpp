#include "protocol/command_dispatcher.h"

#include <optional>
#include <string>

#include "protocol/command_table.h"
#include "protocol/data_file_commands.h"
#include "protocol/request_line.h"
#include "protocol/status_command.h"
#include "storage/event_log.h"

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

// Logs a refusal, at most once a minute per client address.
asio::awaitable<void> LogRefusal(Connection& connection, CommandContext& context,
                                 std::string_view what) {
  std::optional<std::string> line = context.access->RefusalLine(connection.remote_address(), what);
  if (line) {
    co_await connection.Blocking([&] { context.log.WriteLog(*line); });
  }
}

}  // namespace

asio::awaitable<void> TCPServerExecute(Connection& connection, CommandContext& context) {
  std::shared_ptr<const AccessList> access_list;
  Access access = Access::kWrite;
  if (context.access != nullptr) {
    access_list = context.access->Current();
    access = access_list->AccessOf(connection.remote_address());
  }
  // A client no rule admits learns nothing, not even whether it was heard.
  if (access == Access::kNone) {
    co_await LogRefusal(connection, context, "connection");
    co_return;
  }
  std::optional<std::string> line = co_await connection.ReadLine(kLongestRequestLine);
  if (!line) {
    co_return;
  }
  RequestLine request = SplitRequestLine(*line);
  MatchedCommand matched = MatchCommand(request.command_text);
  if (access == Access::kRead && ChangesAnything(matched.command)) {
    co_await LogRefusal(connection, context,
                        PadRight(request.command_text, 10) + " (" + request.client_name + ")");
    co_return;
  }
  WeatherCommands& weather = context.weather;
  switch (matched.command) {
    case Command::kNone:
      break;
    case Command::kGetStatus:
      co_await SendStatus(connection, context, access_list);
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
