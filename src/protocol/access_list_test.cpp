#include "protocol/access_list.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

asio::ip::address Address(const std::string& text) {
  return asio::ip::make_address(text);
}

TEST(AccessRule, LinesParseIntoRulesOrAreMalformed) {
  struct Case {
    std::string line;
    std::string rule;  // empty: no rule; "malformed": a malformed line
  } cases[] = {
      {"10.1.0.0/16 read", "10.1.0.0/16 read"},
      {"  10.1.2.3\twrite  # the office printer", "10.1.2.3/32 write"},
      {"192.168.0.0/24 WRITE\r", "192.168.0.0/24 write"},
      {"0.0.0.0/0 read", "0.0.0.0/0 read"},
      {"2001:db8::/32 read", "2001:db8::/32 read"},
      {"::1 write", "::1/128 write"},
      // An IPv4-mapped network is the IPv4 network it carries.
      {"::ffff:10.0.0.0/104 read", "10.0.0.0/8 read"},
      {"::ffff:127.0.0.2 read", "127.0.0.2/32 read"},
      {"", ""},
      {"   # only a comment", ""},
      {"\t\r", ""},
      {"10.0.0.0/8", "malformed"},
      {"10.0.0.0/8 read write", "malformed"},
      {"10.0.0.0/8 wirte", "malformed"},
      {"10.0.0/8 read", "malformed"},
      {"10.1 read", "malformed"},
      {"010.0.0.1 read", "malformed"},
      {"10.0.0.256 read", "malformed"},
      {"10.0.0.1. read", "malformed"},
      {"10..0.1 read", "malformed"},
      {"10.0.0.0/33 read", "malformed"},
      {"2001:db8::/129 read", "malformed"},
      {"10.0.0.0/ read", "malformed"},
      {"10.0.0.0/-1 read", "malformed"},
      {"10.0.0.0/8x read", "malformed"},
      {"fe80::1%eth0 read", "malformed"},
      {"office.example read", "malformed"},
      {std::string("10.0.0.1\0x read", 15), "malformed"},
  };
  for (const Case& c : cases) {
    bool malformed = false;
    std::optional<AccessRule> rule = ParseAccessRule(c.line, malformed);
    std::string got = malformed ? "malformed" : rule ? rule->Text() : "";
    EXPECT_EQ(got, c.rule) << "line \"" << c.line << "\"";
  }
}

TEST(AccessList, TheFirstMatchingRuleDecides) {
  AccessList list = AccessList::Parse(
      "# site\n"
      "10.1.2.3 write\n"
      "10.1.0.0/16 read\n"
      "10.0.0.0/8 write\n"
      "2001:db8:1::/48 read\n"
      "::1 write\n");
  struct Case {
    std::string client;
    Access access;
  } cases[] = {
      {"10.1.2.3", Access::kWrite},
      {"10.1.2.4", Access::kRead},
      {"10.2.0.1", Access::kWrite},
      {"11.0.0.1", Access::kNone},
      {"::ffff:10.1.2.4", Access::kRead},
      {"::ffff:11.0.0.1", Access::kNone},
      {"2001:db8:1:5::7", Access::kRead},
      {"2001:db8:2::7", Access::kNone},
      {"::1", Access::kWrite},
      {"127.0.0.1", Access::kNone},
      {"::ffff:7f00:1", Access::kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(list.AccessOf(Address(c.client)), c.access) << c.client;
  }
  EXPECT_TRUE(list.from_file());
  EXPECT_FALSE(list.only_loopback());
  EXPECT_EQ(list.rules().size(), 5u);
}

TEST(AccessList, AMalformedLineLeavesOnlyLoopbackAndNamesItsLine) {
  // A rule before the typo would make loopback a reader and admit 10/8;
  // neither happens.
  AccessList list =
      AccessList::Parse("127.0.0.0/8 read\r\n10.0.0.0/8 write\r\n\r\n10.0.0.0/8 rad\r\n");
  ASSERT_TRUE(list.only_loopback());
  EXPECT_EQ(list.malformed_line(), 4u);
  EXPECT_EQ(list.problem(), "line 4 is not a rule: \"10.0.0.0/8 rad\"");
  for (const char* loopback : {"127.0.0.1", "127.3.4.5", "::1", "::ffff:127.0.0.1"})
    EXPECT_EQ(list.AccessOf(Address(loopback)), Access::kWrite) << loopback;
  for (const char* other : {"10.0.0.1", "2001:db8::1", "::ffff:10.0.0.1"})
    EXPECT_EQ(list.AccessOf(Address(other)), Access::kNone) << other;
}

TEST(AccessList, AByteOrderMarkBeginsAFileWithoutSpoilingItsFirstRule) {
  AccessList list = AccessList::Parse(
      "\xEF\xBB\xBF"
      "10.0.0.0/8 read\n");
  EXPECT_FALSE(list.only_loopback());
  EXPECT_EQ(list.AccessOf(Address("10.9.9.9")), Access::kRead);
}

TEST(AccessList, AnEmptyFileAdmitsNobodyAndNoFileEverybody) {
  AccessList empty = AccessList::Parse("# nobody yet\n");
  EXPECT_EQ(empty.AccessOf(Address("127.0.0.1")), Access::kNone);
  AccessList none = AccessList::EveryoneMayWrite();
  EXPECT_FALSE(none.from_file());
  EXPECT_EQ(none.AccessOf(Address("203.0.113.9")), Access::kWrite);
  EXPECT_EQ(none.AccessOf(Address("2001:db8::9")), Access::kWrite);
}

}  // namespace
}  // namespace sqv64
