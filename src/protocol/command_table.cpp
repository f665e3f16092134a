#include "protocol/command_table.h"

#include "text/label_table.h"

namespace sqv64 {
namespace {

struct PrefixRow {
  std::int32_t label;
  Command command;
};

// Tested in this order: the logged copy's label begins with the unlogged
// copy's, so the logged copy must come first.
constexpr PrefixRow kPrefixRows[] = {
    {255, Command::kCopyFromDatabase},
    {258, Command::kCopyFromServer},
    {256, Command::kSaveIntoDatabase},
    {257, Command::kDeleteFromDatabase},
};

constexpr std::int32_t kFileListLabel = 254;

}  // namespace

MatchedCommand MatchCommand(std::string_view command_text) {
  struct KeywordRow {
    std::string_view keyword;
    Command command;
  };
  static constexpr KeywordRow kKeywords[] = {
      {"GetOK", Command::kGetOK},     {"GetArpt", Command::kGetArpt},
      {"SetMIni", Command::kSetMIni}, {"SetArpt", Command::kSetArpt},
      {"DelArpt", Command::kDelArpt}, {"GetStatus", Command::kGetStatus},
  };
  for (const KeywordRow& row : kKeywords) {
    if (command_text == row.keyword)
      return {row.command, {}};
  }
  if (command_text == Label(0, kFileListLabel) || command_text == Label(0, -kFileListLabel)) {
    return {Command::kFileList, {}};
  }
  for (const PrefixRow& row : kPrefixRows) {
    for (std::int32_t id : {row.label, -row.label}) {
      std::string label = Label(0, id);
      if (command_text.starts_with(label)) {
        return {row.command, std::string(command_text.substr(label.size()))};
      }
    }
  }
  return {};
}

bool ChangesAnything(Command command) {
  switch (command) {
    case Command::kSetMIni:
    case Command::kSetArpt:
    case Command::kDelArpt:
    case Command::kSaveIntoDatabase:
    case Command::kDeleteFromDatabase:
      return true;
    case Command::kNone:
    case Command::kGetOK:
    case Command::kGetArpt:
    case Command::kGetStatus:
    case Command::kFileList:
    case Command::kCopyFromDatabase:
    case Command::kCopyFromServer:
      return false;
  }
  return true;
}

}  // namespace sqv64
