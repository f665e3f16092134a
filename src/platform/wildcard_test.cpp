#include "platform/wildcard.h"

#include <gtest/gtest.h>

namespace sqv64::platform {
namespace {

TEST(MatchesWildcard, FollowsEnumerationPatterns) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"a.hdr", "*.hdr*", true},
      {"a.HDRX", "*.hdr*", true},
      {"z.hdr.bak", "*.hdr*", true},
      {"a.quv", "*.hdr*", false},
      {"hdr", "*.hdr*", false},
      {"uuee.txt", "*.txt", true},
      {"UUEE.TXT", "*.txt", true},
      {"metar.ini", "*.txt", false},
      {"a.txt.x", "*.txt", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"", "*", true},
      {"x", "", false},
      {"a.b.c", "*.*.*", true},
      {"\xC0.txt", "*.TXT", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
  }
}

}  // namespace
}  // namespace sqv64::platform
