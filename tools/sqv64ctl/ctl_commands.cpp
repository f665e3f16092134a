#include "ctl_commands.h"

#include <asio.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "file_list.h"
#include "fixtures/sample_store.h"
#include "protocol_client.h"
#include "status_report.h"
#include "text/code_page.h"
#include "text/label_table.h"
#include "text/trim_spaces.h"

namespace sqv64::ctl {
namespace {

namespace fs = std::filesystem;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;
// "status": the weather's last run failed.
constexpr int kWeatherFailing = 3;

// Transfers above this size show their progress on a terminal.
constexpr std::uint64_t kProgressThreshold = 4 * 1024 * 1024;
constexpr std::size_t kChunk = 1024 * 1024;

// "1 airport", "2 airports".
std::string Counted(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Local paths from and to the UTF-8 of the command line and the messages:
// std::filesystem takes plain strings in the system's code page on Windows.
fs::path LocalPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}
std::string Utf8Of(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "sqv64ctl: %s\n", message.c_str());
  return kFailure;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "sqv64ctl: %s\n\n%s", message.c_str(), UsageText());
  return kUsage;
}

// Shows "sent 12.5 of 100.0 MB" on one terminal line as a transfer goes.
class Progress {
 public:
  Progress(bool shown, const char* verb, std::optional<std::uint64_t> total)
      : shown_(shown), verb_(verb), total_(total) {}
  ~Progress() {
    if (drawn_)
      std::fprintf(stderr, "\n");
  }
  void Add(std::uint64_t bytes) {
    done_ += bytes;
    if (!shown_ || (total_ && *total_ < kProgressThreshold) || done_ < next_)
      return;
    next_ = done_ + kChunk;
    drawn_ = true;
    if (total_) {
      std::fprintf(stderr, "\r%s %.1f of %.1f MB", verb_, done_ / 1048576.0, *total_ / 1048576.0);
    } else {
      std::fprintf(stderr, "\r%s %.1f MB", verb_, done_ / 1048576.0);
    }
  }

 private:
  bool shown_;
  const char* verb_;
  std::optional<std::uint64_t> total_;
  std::uint64_t done_ = 0;
  std::uint64_t next_ = kProgressThreshold;
  bool drawn_ = false;
};

class Ctl {
 public:
  Ctl(const CtlOptions& options, platform::Platform& platform)
      : options_(options),
        platform_(platform),
        client_name_(options.client_name.empty() ? asio::ip::host_name() : options.client_name) {}

  int Run() {
    const std::string& command = options_.command;
    if (command == "ping")
      return Ping();
    if (command == "list")
      return List();
    if (command == "get")
      return Get();
    if (command == "put")
      return Put();
    if (command == "delete")
      return Delete();
    if (command == "airports")
      return Airports();
    if (command == "settings")
      return Settings();
    if (command == "metar")
      return Metar();
    if (command == "sample")
      return Sample();
    if (command == "status")
      return Status();
    if (command == "help" || command == "--help") {
      std::printf("%s", UsageText());
      return kSuccess;
    }
    return Usage("unknown command \"" + command + "\"");
  }

 private:
  // The command word of a data-file label as the wire carries it (UTF-8).
  std::string Word(std::int32_t label) const {
    return AnsiToUtf8(Label(0, options_.russian ? -label : label));
  }

  std::string RequestLine(const std::string& command) const {
    return client_name_ + "\t" + command + "\n";
  }

  // Every exchange gives up only when the server sends or takes nothing for
  // the idle time, however long a large list or file takes to move.
  ProtocolClient Client() const {
    return ProtocolClient(options_.host, options_.port, options_.idle_timeout,
                          ProtocolClient::Timeout::kIdle);
  }

  // A message for an exchange that did not end normally, or nullopt.
  std::optional<std::string> Trouble(const ProtocolReply& reply) const {
    std::string where = options_.host + " port " + std::to_string(options_.port);
    switch (reply.end) {
      case ProtocolReply::End::kClosed:
        return std::nullopt;
      case ProtocolReply::End::kCannotConnect:
        return "cannot connect to " + where + ": " + reply.error +
               " (is the server running, and are host and port right?)";
      case ProtocolReply::End::kReset:
        return "the connection to " + where + " was reset before the reply was complete (" +
               reply.error + "); nothing was kept";
      case ProtocolReply::End::kTimedOut:
        return "no complete reply from " + where + ": it sent or took nothing for " +
               std::to_string(options_.idle_timeout.count()) + " seconds";
    }
    return std::nullopt;
  }

  std::string NoReply(const std::string& what) const {
    return "the server closed the connection without a reply: " + what +
           " (the protocol has no error replies, so the server cannot say why)";
  }

  int Ping() {
    ProtocolReply reply = Client().Run(client_name_, "GetOK");
    if (auto trouble = Trouble(reply))
      return Fail(*trouble);
    if (reply.bytes != "OK")
      return Fail("the server answered \"" + reply.bytes + "\", not OK");
    std::printf("OK\n");
    return kSuccess;
  }

  std::optional<std::string> FetchList(int& status) {
    ProtocolReply reply = Client().Run(client_name_, Word(254));
    if (auto trouble = Trouble(reply)) {
      status = Fail(*trouble);
      return std::nullopt;
    }
    if (reply.bytes.empty()) {
      status = Fail(NoReply("it may not be an SQV64 server"));
      return std::nullopt;
    }
    return reply.bytes;
  }

  int List() {
    bool json = false;
    bool raw = false;
    for (const std::string& argument : options_.arguments) {
      if (argument == "--json")
        json = true;
      else if (argument == "--raw")
        raw = true;
      else
        return Usage("list takes --json or --raw, not \"" + argument + "\"");
    }
    int status = kSuccess;
    std::optional<std::string> stream = FetchList(status);
    if (!stream)
      return status;
    if (raw) {
      std::fwrite(stream->data(), 1, stream->size(), stdout);
      return kSuccess;
    }
    std::string error;
    std::optional<FileList> list = ParseFileList(*stream, /*with_trailer=*/true, error);
    if (!list)
      return Fail("the server sent a malformed file list: " + error);
    std::string text = json ? FormatFileListJson(*list) : FormatFileListTable(*list);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kSuccess;
  }

  // Receives a reply into `output` ("-" for standard output), writing a
  // local file only once the reply arrived whole.
  int ReceiveInto(const std::string& request, const fs::path& output, const std::string& name) {
    bool to_stdout = output == "-";
    fs::path partial = output;
    partial += ".sqv64ctl-part";
    std::ofstream file;
    if (!to_stdout) {
      file.open(partial, std::ios::binary | std::ios::trunc);
      if (!file)
        return Fail("cannot write " + Utf8Of(partial));
    }
    std::uint64_t received = 0;
    bool write_failed = false;
    Progress progress(platform_.StandardErrorIsTerminal(), "received", std::nullopt);
    std::string held;  // standard output gets the bytes only once they are whole
    ProtocolReply reply = Client().RunStreaming(
        request, [] { return std::string(); },
        [&](std::string_view chunk) {
          received += chunk.size();
          progress.Add(chunk.size());
          if (to_stdout) {
            held.append(chunk);
          } else if (!file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
            write_failed = true;
          }
        });
    if (!to_stdout)
      file.close();
    auto discard = [&] {
      std::error_code ignored;
      if (!to_stdout)
        fs::remove(partial, ignored);
    };
    if (auto trouble = Trouble(reply)) {
      discard();
      return Fail(*trouble);
    }
    if (write_failed || (!to_stdout && !file)) {
      discard();
      return Fail("cannot write " + Utf8Of(output));
    }
    if (received == 0) {
      discard();
      return Fail(NoReply("there is no file \"" + name + "\" there, or it is empty"));
    }
    if (to_stdout) {
      std::fwrite(held.data(), 1, held.size(), stdout);
      return kSuccess;
    }
    std::error_code error;
    fs::rename(partial, output, error);
    if (error) {
      discard();
      return Fail("cannot write " + Utf8Of(output) + ": " + error.message());
    }
    std::fprintf(stderr, "%s: %llu bytes\n", Utf8Of(output).c_str(),
                 static_cast<unsigned long long>(received));
    return kSuccess;
  }

  int Get() {
    bool logged = true;
    std::optional<std::string> name;
    std::optional<fs::path> output;
    const auto& arguments = options_.arguments;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      if (arguments[i] == "--unlogged") {
        logged = false;
      } else if (arguments[i] == "-o" && i + 1 < arguments.size()) {
        output = LocalPath(arguments[++i]);
      } else if (!name) {
        name = arguments[i];
      } else {
        return Usage("get takes one NAME");
      }
    }
    if (!name)
      return Usage("get needs the NAME of a file on the server");
    if (!output) {
      std::string base = *name;
      std::size_t cut = base.find_last_of("\\/:");
      if (cut != std::string::npos)
        base = base.substr(cut + 1);
      if (base.empty())
        return Usage("give -o FILE for \"" + *name + "\"");
      output = LocalPath(base);
    }
    std::string word = logged ? Word(255) : Word(258);
    return ReceiveInto(RequestLine(word + *name), *output, *name);
  }

  int Put() {
    const auto& arguments = options_.arguments;
    if (arguments.empty() || arguments.size() > 2)
      return Usage("put needs FILE and maybe NAME");
    fs::path local = LocalPath(arguments[0]);
    std::string name = arguments.size() == 2 ? arguments[1] : Utf8Of(local.filename());
    std::ifstream file(local, std::ios::binary);
    std::error_code size_error;
    std::uint64_t size = fs::file_size(local, size_error);
    if (!file || size_error)
      return Fail("cannot read " + Utf8Of(local));
    if (size == 0)
      return Fail(Utf8Of(local) + " is empty: the server stores nothing for it");
    Progress progress(platform_.StandardErrorIsTerminal(), "sent", size);
    bool read_failed = false;
    ProtocolReply reply = Client().RunStreaming(
        RequestLine(Word(256) + name),
        [&]() -> std::string {
          std::string chunk(kChunk, '\0');
          file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
          chunk.resize(static_cast<std::size_t>(file.gcount()));
          if (file.bad())
            read_failed = true;
          progress.Add(chunk.size());
          return chunk;
        },
        [](std::string_view) {});
    if (read_failed)
      return Fail("cannot read " + Utf8Of(local) + "; the server was sent part");
    if (auto trouble = Trouble(reply))
      return Fail(*trouble);
    std::fprintf(stderr, "sent %llu bytes as \"%s\"; the server does not confirm saves\n",
                 static_cast<unsigned long long>(size), name.c_str());
    return kSuccess;
  }

  // The store's file list, parsed; nullopt with `status` set on failure.
  std::optional<FileList> ListedFiles(int& status) {
    std::optional<std::string> stream = FetchList(status);
    if (!stream)
      return std::nullopt;
    std::string error;
    std::optional<FileList> list = ParseFileList(*stream, /*with_trailer=*/true, error);
    if (!list)
      status = Fail("the server sent a malformed file list: " + error);
    return list;
  }

  // Whether the list names the file (letter case aside, as on the server's
  // own Windows).
  static bool Lists(const FileList& list, const std::string& name) {
    std::string wanted = Utf8ToAnsi(name);
    return std::any_of(list.entries.begin(), list.entries.end(), [&](const FileListEntry& entry) {
      return EqualsIgnoringAsciiCase(entry.name, wanted);
    });
  }

  int Delete() {
    if (options_.arguments.size() != 1)
      return Usage("delete needs the NAME of one file");
    const std::string& name = options_.arguments[0];
    // The server answers a delete that took the last listed file with
    // nothing, as it answers a refused one; whether the file was listed
    // before tells them apart.
    int status = kSuccess;
    std::optional<FileList> before = ListedFiles(status);
    if (!before)
      return status;
    ProtocolReply reply = Client().Run(client_name_, Word(257) + name);
    if (auto trouble = Trouble(reply))
      return Fail(*trouble);
    if (!reply.bytes.empty()) {
      std::string error;
      auto list = ParseFileList(reply.bytes, /*with_trailer=*/false, error);
      if (!list)
        return Fail("the server sent a malformed catalogue: " + error);
      std::fprintf(stderr, "deleted \"%s\"; %zu files remain\n", name.c_str(),
                   list->entries.size());
      return kSuccess;
    }
    auto refused = [&] {
      return Fail(
          NoReply("nothing was deleted; \"" + name + "\" may not exist or not be a data file"));
    };
    if (!Lists(*before, name))
      return refused();
    std::optional<FileList> after = ListedFiles(status);
    if (!after)
      return status;
    if (Lists(*after, name))
      return refused();
    std::fprintf(stderr, "deleted \"%s\"; %zu files remain\n", name.c_str(), after->entries.size());
    return kSuccess;
  }

  int Airports() {
    const auto& arguments = options_.arguments;
    if (arguments.empty()) {
      ProtocolReply reply = Client().Run(client_name_, "GetArpt");
      if (auto trouble = Trouble(reply))
        return Fail(*trouble);
      if (reply.bytes.size() % 4 != 0)
        return Fail("the server sent a malformed airport list");
      for (std::size_t at = 0; at < reply.bytes.size(); at += 4) {
        std::printf("%s\n", AsciiUpperCase(reply.bytes.substr(at, 4)).c_str());
      }
      if (reply.bytes.empty())
        std::fprintf(stderr, "no airports are listed\n");
      return kSuccess;
    }
    bool add = arguments[0] == "add";
    if ((!add && arguments[0] != "remove") || arguments.size() < 2) {
      return Usage("airports takes nothing, or add CODE..., or remove CODE...");
    }
    std::string payload;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      const std::string& code = arguments[i];
      bool valid = code.size() == 4 && std::all_of(code.begin(), code.end(), [](char c) {
                     return std::isalnum(static_cast<unsigned char>(c));
                   });
      if (!valid)
        return Usage("\"" + code + "\" is not an airport code of four letters or digits");
      payload += AsciiUpperCase(code);
    }
    ProtocolReply reply = Client().Run(client_name_, add ? "SetArpt" : "DelArpt", payload);
    if (auto trouble = Trouble(reply))
      return Fail(*trouble);
    std::string counted = Counted(arguments.size() - 1, "airport");
    if (add)
      std::fprintf(stderr, "added %s; reports follow within 15 minutes\n", counted.c_str());
    else
      std::fprintf(stderr, "removed %s\n", counted.c_str());
    return kSuccess;
  }

  int Settings() {
    const auto& arguments = options_.arguments;
    if (arguments.size() != 2 || arguments[0] != "put")
      return Usage("settings put FILE");
    std::ifstream file(LocalPath(arguments[1]), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file && !file.eof())
      return Fail("cannot read " + arguments[1]);
    if (content.empty())
      return Fail(arguments[1] + " is empty: the server ignores empty settings");
    ProtocolReply reply = Client().Run(client_name_, "SetMIni", content);
    if (auto trouble = Trouble(reply))
      return Fail(*trouble);
    std::fprintf(stderr, "settings replaced; the server rereads them within 5 seconds\n");
    return kSuccess;
  }

  int Metar() {
    if (options_.arguments.size() != 1 || options_.arguments[0].size() != 4) {
      return Usage("metar needs one airport CODE of four characters");
    }
    std::string name = "metar\\" + AsciiLowerCase(options_.arguments[0]) + ".txt";
    return ReceiveInto(RequestLine(Word(258) + name), "-", name);
  }

  int Sample() {
    if (options_.arguments.size() != 1)
      return Usage("sample needs the DIR to write into");
    fs::path folder = LocalPath(options_.arguments[0]);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder)) {
      return Fail("cannot create the folder " + Utf8Of(folder));
    }
    std::string server_folder = Utf8ToAnsi(Utf8Of(fs::absolute(folder) / ""));
    try {
      auto files = fixtures::WriteSampleStore(platform_, server_folder, {});
      std::fprintf(stderr, "wrote %zu sample flight files into %s\n", files.size(),
                   Utf8Of(folder).c_str());
    } catch (const std::exception& failure) {
      return Fail("cannot write the sample files into " + Utf8Of(folder) + ": " + failure.what());
    }
    return kSuccess;
  }

  int Status() {
    bool json = false;
    for (const std::string& argument : options_.arguments) {
      if (argument != "--json")
        return Usage("status takes --json, not \"" + argument + "\"");
      json = true;
    }
    ProtocolReply reply = Client().Run(client_name_, "GetStatus");
    if (auto trouble = Trouble(reply))
      return Fail(*trouble);
    if (reply.bytes.empty()) {
      return Fail(
          NoReply("the server may be older than GetStatus, or its access list refuses this "
                  "client"));
    }
    std::string error;
    std::optional<StatusSummary> summary = ReadStatus(reply.bytes, error);
    if (!summary)
      return Fail("the server sent a malformed status: " + error);
    if (json) {
      std::fwrite(reply.bytes.data(), 1, reply.bytes.size(), stdout);
    } else {
      std::string text = summary->table;
      std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return summary->weather_failing ? kWeatherFailing : kSuccess;
  }

  const CtlOptions& options_;
  platform::Platform& platform_;
  std::string client_name_;
};

}  // namespace

int RunCtlCommand(const CtlOptions& options, platform::Platform& platform) {
  return Ctl(options, platform).Run();
}

}  // namespace sqv64::ctl
