// The protocol's command table: which command a request's command text
// names, and the file name that follows a data-file command's label.
//
// Pure; may run on any thread.
#pragma once

#include <string>
#include <string_view>

namespace sqv64 {

enum class Command {
  kNone,  // nothing matched: nothing is read, done or sent
  kGetOK,
  kGetArpt,
  kSetMIni,
  kSetArpt,
  kDelArpt,
  kGetStatus,  // our own: older servers send nothing back
  kFileList,
  kCopyFromDatabase,  // logged copy
  kCopyFromServer,    // unlogged copy
  kSaveIntoDatabase,
  kDeleteFromDatabase,
};

struct MatchedCommand {
  Command command = Command::kNone;
  std::string file_name;  // what follows the label of a data-file command
};

// Tests `command_text` against the rows in their order and returns the first
// that matches. Labels match in English or Russian, byte for byte.
MatchedCommand MatchCommand(std::string_view command_text);

// Whether the command changes the store or the weather side, so that only
// clients the access list lets write may run it.
bool ChangesAnything(Command command);

}  // namespace sqv64
