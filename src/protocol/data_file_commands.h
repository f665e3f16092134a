// The five data-file commands: list the store, copy a file (logged or not),
// save a file into the store and delete one from it.
//
// Each runs on its connection's coroutine, does its file work on the
// blocking-work threads and builds its replies in buffers of its own, so any
// number may run at once. Replies stream from disk in bounded chunks.
#pragma once

#include <asio.hpp>
#include <string>

#include "protocol/command_context.h"
#include "protocol/connection.h"
#include "protocol/request_line.h"

namespace sqv64 {

// "File list": the catalogue of the store with its trailer.
asio::awaitable<void> SendFileList(Connection& connection, CommandContext& context);

// "File copying from server database " (logged) and "File copying from
// server " (not logged): the file's bytes, or nothing when there is none.
asio::awaitable<void> SendFileCopy(Connection& connection, CommandContext& context,
                                   const RequestLine& request, const std::string& file_name,
                                   bool logged);

// "File saving into server database ": the payload replaces the data file
// once it has arrived whole.
asio::awaitable<void> ReceiveFileSave(Connection& connection, CommandContext& context,
                                      const RequestLine& request, const std::string& file_name);

// "File deleting from server database ": the catalogue without trailer after
// a successful delete; nothing otherwise.
asio::awaitable<void> DeleteDataFile(Connection& connection, CommandContext& context,
                                     const RequestLine& request, const std::string& file_name);

}  // namespace sqv64
