#include "ctl_options.h"

#include <string_view>

#include "text/number_parsers.h"

namespace sqv64::ctl {

const char* UsageText() {
  return "usage: sqv64ctl [--host HOST] [--port PORT] [--name NAME] [--russian]\n"
         "                [--timeout SECONDS] COMMAND ...\n"
         "\n"
         "commands:\n"
         "  ping                        ask whether the server answers\n"
         "  list [--json | --raw]       the file list of the store\n"
         "  get NAME [-o FILE]          copy a file from the server database (logged)\n"
         "  get --unlogged NAME [-o FILE]\n"
         "                              copy any file of the server's folder (not logged)\n"
         "  put FILE [NAME]             save FILE into the server database as NAME\n"
         "  delete NAME                 delete a file from the server database\n"
         "  airports                    the airports whose weather reports are collected\n"
         "  airports add CODE...        collect the reports of these airports\n"
         "  airports remove CODE...     stop collecting them and drop their report files\n"
         "  settings put FILE           replace the weather settings (metar.ini)\n"
         "  metar CODE                  print an airport's report file\n"
         "  sample DIR                  write sample flight data files into DIR\n"
         "  status [--json]             the server's status, what is wrong first; exits 3\n"
         "                              when the weather's last run failed\n"
         "\n"
         "-o - writes to standard output. HOST may be a name, an IPv4 or an IPv6 address;\n"
         "PORT defaults to 8010, NAME (sent to the server's log) to this host's name.\n"
         "A command gives up when the server sends or takes nothing for SECONDS (120).\n";
}

std::optional<CtlOptions> ParseCtlOptions(int argc, const char* const* argv, std::string& error) {
  CtlOptions options;
  int i = 1;
  for (; i < argc; ++i) {
    std::string_view argument = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) {
        error = "the option " + std::string(argument) + " needs a value";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (argument == "--host") {
      auto host = value();
      if (!host)
        return std::nullopt;
      options.host = *host;
    } else if (argument == "--port") {
      auto port = value();
      if (!port)
        return std::nullopt;
      auto number = ParseInteger(std::string_view(*port));
      if (!number || *number < 1 || *number > 65535) {
        error = "the port must be a number from 1 to 65535, not \"" + *port + "\"";
        return std::nullopt;
      }
      options.port = static_cast<std::uint16_t>(*number);
    } else if (argument == "--name") {
      auto name = value();
      if (!name)
        return std::nullopt;
      options.client_name = *name;
    } else if (argument == "--timeout") {
      auto seconds = value();
      if (!seconds)
        return std::nullopt;
      auto number = ParseInteger(std::string_view(*seconds));
      if (!number || *number < 1) {
        error = "the time-out must be a number of seconds from 1, not \"" + *seconds + "\"";
        return std::nullopt;
      }
      options.idle_timeout = std::chrono::seconds(*number);
    } else if (argument == "--russian") {
      options.russian = true;
    } else if (argument.starts_with("--") && argument != "--help") {
      error = "unknown option " + std::string(argument);
      return std::nullopt;
    } else {
      break;
    }
  }
  if (i >= argc) {
    error = "no command given";
    return std::nullopt;
  }
  options.command = argv[i++];
  for (; i < argc; ++i)
    options.arguments.emplace_back(argv[i]);
  return options;
}

}  // namespace sqv64::ctl
