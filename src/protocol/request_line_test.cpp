#include "protocol/request_line.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

TEST(TextBeforeTab, StopsAtTheFirstTabButNeverTakesTheLastByte) {
  EXPECT_EQ(TextBeforeTab("client\tGetOK"), "client");
  EXPECT_EQ(TextBeforeTab("\tGetOK"), "");
  EXPECT_EQ(TextBeforeTab("GetOK"), "GetO");
  EXPECT_EQ(TextBeforeTab("client\t"), "client");
  EXPECT_EQ(TextBeforeTab(""), "");
}

struct SplitCase {
  std::string received;
  std::string client_name;
  std::string command_text;
};

class SplitRequestLineCases : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitRequestLineCases, YieldsNameAndCommand) {
  RequestLine request = SplitRequestLine(GetParam().received);
  EXPECT_EQ(request.client_name, GetParam().client_name);
  EXPECT_EQ(request.command_text, GetParam().command_text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitRequestLineCases,
    testing::Values(SplitCase{"client1\tGetOK", "client1", "GetOK"},
                    SplitCase{"client1\tGetOK\r", "client1", "GetOK"},
                    SplitCase{"GetOK", "GetO", ""},  // no TAB: no command
                    SplitCase{"\tGetOK", "", "GetOK"}, SplitCase{"client\t", "client", ""},
                    SplitCase{"a\tb\tc", "a", "b\tc"},
                    // UTF-8 Cyrillic arrives as Windows-1251 bytes.
                    SplitCase{"\xD0\x98\xD0\xB2\tFile list", "\xC8\xE2", "File list"},
                    // A character the code page lacks, and malformed UTF-8.
                    SplitCase{"\xE4\xB8\xAD\xFF\tGetOK", "??", "GetOK"}));

TEST(SplitRequestLine, UsesOnlyTheFirst255ConvertedBytes) {
  std::string name(250, 'n');
  RequestLine request = SplitRequestLine(name + "\tGetOK");
  EXPECT_EQ(request.client_name, name);
  EXPECT_EQ(request.command_text, "GetO");

  // Two UTF-8 bytes become one byte before the line is cut.
  std::string cyrillic;
  for (int i = 0; i < 200; ++i)
    cyrillic += "\xD0\x96";
  request = SplitRequestLine(cyrillic + "\tGetOK");
  EXPECT_EQ(request.client_name, std::string(200, '\xC6'));
  EXPECT_EQ(request.command_text, "GetOK");
}

}  // namespace
}  // namespace sqv64
