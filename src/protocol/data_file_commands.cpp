#include "protocol/data_file_commands.h"

#include <asio/experimental/awaitable_operators.hpp>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "catalogue/compressed_record_cache.h"
#include "protocol/file_name_rules.h"
#include "storage/staged_file.h"

namespace sqv64 {
namespace {

// Files the kernel cannot send move through buffers of this size, whatever
// the file's size.
constexpr std::size_t kTransferChunk = 256 * 1024;

// Sends the catalogue batch by batch as the scan reads it, so that a large
// store is never held whole; each batch goes out while the next is read.
// `sent_any` tells whether bytes went out.
asio::awaitable<void> SendCatalogue(Connection& connection, CatalogueScan& scan, bool& sent_any) {
  using namespace asio::experimental::awaitable_operators;
  std::string_view sending;
  bool more = co_await connection.Blocking([&] { return scan.ReadNextBatch(sending); });
  while (more) {
    std::string_view next;
    auto read_next = [&]() -> asio::awaitable<bool> {
      co_return co_await connection.Blocking([&] { return scan.ReadNextBatch(next); });
    };
    sent_any = sent_any || !sending.empty();
    more = co_await (connection.Send(sending) && read_next());
    sending = next;
  }
}

// Saves arrive in chunks of this size: large enough that writing one costs
// little besides the copy.
constexpr std::size_t kSaveChunk = std::size_t{1} << 20;

// Fills `buffer` with payload bytes; fewer only when the client has closed.
asio::awaitable<std::size_t> ReceiveChunk(Connection& connection, std::vector<char>& buffer) {
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    std::size_t received =
        co_await connection.ReceiveSome(buffer.data() + filled, buffer.size() - filled);
    if (received == 0) {
      break;
    }
    filled += received;
  }
  co_return filled;
}

// Whether a save or a delete may act on the entry at `path`: a file, a
// symbolic link (the link itself is replaced or removed, never what it
// points to) or, for a save, nothing yet. Folders, FIFOs, sockets and
// devices are left alone.
bool MayReplaceEntry(platform::Platform& system, const std::string& path, bool missing_is_fine) {
  switch (system.KindOfEntry(path)) {
    case platform::EntryKind::kFile:
    case platform::EntryKind::kLink:
      return true;
    case platform::EntryKind::kMissing:
      return missing_is_fine;
    case platform::EntryKind::kDirectory:
    case platform::EntryKind::kOther:
      return false;
  }
  return false;
}

}  // namespace

asio::awaitable<void> SendFileList(Connection& connection, CommandContext& context) {
  std::unique_ptr<CatalogueScan> scan =
      co_await connection.Blocking([&] { return std::make_unique<CatalogueScan>(context.folder); });
  bool sent_any = false;
  std::string trailer;
  try {
    co_await SendCatalogue(connection, *scan, sent_any);
    trailer = co_await connection.Blocking([&] {
      std::string text;
      AppendCatalogueTrailer(context.folder, text);
      return text;
    });
  } catch (...) {
    // A client must never take a cut catalogue for a whole one.
    if (sent_any)
      connection.Reset();
    throw;
  }
  co_await connection.Send(trailer);
}

asio::awaitable<void> SendFileCopy(Connection& connection, CommandContext& context,
                                   const RequestLine& request, const std::string& file_name,
                                   bool logged) {
  using namespace platform;
  if (logged) {
    co_await connection.Blocking(
        [&] { context.log.LogCommand(request.command_text, request.client_name); });
  }
  if (!IsNameInsideFolder(file_name)) {
    co_return;
  }
  std::string path = context.folder.PathOf(file_name);
  if (IsWeatherFileName(file_name)) {
    // Weather files are small and rewritten by the filing of reports: take a
    // consistent copy, then send it.
    std::optional<std::string> content =
        co_await connection.Blocking([&] { return context.weather.ReadWeatherFile(path); });
    if (content) {
      co_await connection.Send(*content);
    }
    co_return;
  }
  Platform& system = context.folder.platform();
  std::unique_ptr<File> file = co_await connection.Blocking([&]() -> std::unique_ptr<File> {
    if (!system.FileExists(path))
      return nullptr;
    return system.OpenFile(path, FileAccess::kRead, FileShare::kRead, FileCreation::kOpenExisting);
  });
  if (file == nullptr) {
    co_return;
  }
  try {
    if (co_await connection.SendFile(*file)) {
      co_return;
    }
  } catch (const IoError&) {
    co_return;
  }
  // A file the kernel cannot send goes through a buffer of ours.
  std::vector<char> chunk(kTransferChunk);
  bool sent_any = false;
  for (;;) {
    std::size_t read = 0;
    try {
      read = co_await connection.Blocking([&] { return file->Read(chunk.data(), chunk.size()); });
    } catch (const IoError&) {
      // A client must never take a cut file for a whole one.
      if (sent_any)
        connection.Reset();
      co_return;
    }
    if (read == 0) {
      break;
    }
    co_await connection.Send(std::string_view(chunk.data(), read));
    sent_any = true;
  }
}

asio::awaitable<void> ReceiveFileSave(Connection& connection, CommandContext& context,
                                      const RequestLine& request, const std::string& file_name) {
  using namespace asio::experimental::awaitable_operators;
  // A refused name still has its payload received, discarded and logged;
  // so has one whose staging file cannot be created.
  std::optional<std::string> target = SaveTargetName(file_name);
  StagedFile staged(context.folder);
  // While one chunk is written on a blocking-work thread, the next one
  // arrives into the other buffer.
  std::vector<char> arriving(kSaveChunk);
  std::vector<char> writing(kSaveChunk);
  auto write = [&](std::size_t size) -> asio::awaitable<void> {
    if (target) {
      bool kept = co_await connection.Blocking([&] {
        if (!staged.Open())
          return false;
        staged.Write(std::string_view(writing.data(), size));
        return true;
      });
      if (!kept)
        target.reset();
    }
  };
  // A reset or an idle client ends the command here; the staged file is
  // removed and the old file stays as it was.
  std::size_t received = co_await ReceiveChunk(connection, arriving);
  std::uint64_t total = received;
  while (received > 0) {
    std::swap(arriving, writing);
    if (received < kSaveChunk) {
      co_await write(received);  // the client has closed: this was the last
      break;
    }
    std::size_t written = received;
    received = co_await (write(written) && ReceiveChunk(connection, arriving));
    total += received;
  }
  if (total == 0) {
    co_return;
  }
  co_await connection.Blocking([&] {
    context.log.LogCommand(request.command_text, request.client_name);
    if (!target) {
      return;
    }
    std::string path = context.folder.PathOf(*target);
    if (MayReplaceEntry(context.folder.platform(), path, /*missing_is_fine=*/true)) {
      staged.CommitAs(path);
      SharedCompressedRecordCache().Forget(path);
    }
  });
}

asio::awaitable<void> DeleteDataFile(Connection& connection, CommandContext& context,
                                     const RequestLine& request, const std::string& file_name) {
  if (!IsNameInsideFolder(file_name) || !IsDataFileName(file_name)) {
    co_return;
  }
  std::unique_ptr<CatalogueScan> scan =
      co_await connection.Blocking([&]() -> std::unique_ptr<CatalogueScan> {
        platform::Platform& system = context.folder.platform();
        std::string path = context.folder.PathOf(file_name);
        if (!MayReplaceEntry(system, path, /*missing_is_fine=*/false) || !system.DeleteFile(path)) {
          return nullptr;
        }
        SharedCompressedRecordCache().Forget(path);
        context.log.LogCommand(request.command_text, request.client_name);
        return std::make_unique<CatalogueScan>(context.folder);
      });
  if (scan) {
    bool sent_any = false;
    try {
      co_await SendCatalogue(connection, *scan, sent_any);
    } catch (...) {
      if (sent_any)
        connection.Reset();
      throw;
    }
  }
}

}  // namespace sqv64
