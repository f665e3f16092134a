#include "protocol/command_table.h"

#include <gtest/gtest.h>

#include "text/label_table.h"

namespace sqv64 {
namespace {

struct MatchCase {
  std::string command_text;
  Command command;
  std::string file_name;
};

class MatchCommandCases : public testing::TestWithParam<MatchCase> {};

TEST_P(MatchCommandCases, FindsTheFirstMatchingRow) {
  MatchedCommand matched = MatchCommand(GetParam().command_text);
  EXPECT_EQ(matched.command, GetParam().command);
  EXPECT_EQ(matched.file_name, GetParam().file_name);
}

const std::string kCopyDatabaseRussian = Label(0, -255);
const std::string kSaveRussian = Label(0, -256);

INSTANTIATE_TEST_SUITE_P(
    Table, MatchCommandCases,
    testing::Values(
        MatchCase{"GetOK", Command::kGetOK, ""}, MatchCase{"getok", Command::kNone, ""},
        MatchCase{"GetOK ", Command::kNone, ""}, MatchCase{"", Command::kNone, ""},
        MatchCase{"GetArpt", Command::kGetArpt, ""}, MatchCase{"SetMIni", Command::kSetMIni, ""},
        MatchCase{"SetArpt", Command::kSetArpt, ""}, MatchCase{"DelArpt", Command::kDelArpt, ""},
        MatchCase{"File list", Command::kFileList, ""},
        MatchCase{Label(0, -254), Command::kFileList, ""},
        MatchCase{"File list ", Command::kNone, ""},
        MatchCase{"File copying from server database a.hdr", Command::kCopyFromDatabase, "a.hdr"},
        MatchCase{"File copying from server a.hdr", Command::kCopyFromServer, "a.hdr"},
        MatchCase{"File copying from server metar\\uuee.txt", Command::kCopyFromServer,
                  "metar\\uuee.txt"},
        MatchCase{kCopyDatabaseRussian + "x.quv", Command::kCopyFromDatabase, "x.quv"},
        MatchCase{"File saving into server database C:\\Temp\\f.quv", Command::kSaveIntoDatabase,
                  "C:\\Temp\\f.quv"},
        MatchCase{kSaveRussian + "f.quv", Command::kSaveIntoDatabase, "f.quv"},
        // The Russian save word written with a Cyrillic first letter.
        MatchCase{"\xD1" + kSaveRussian.substr(1) + "f.quv", Command::kNone, ""},
        MatchCase{"File deleting from server database b.hdrx", Command::kDeleteFromDatabase,
                  "b.hdrx"},
        MatchCase{"File deleting from server database ", Command::kDeleteFromDatabase, ""},
        MatchCase{"File deleting from server database", Command::kNone, ""}));

}  // namespace
}  // namespace sqv64
