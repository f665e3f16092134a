#include "metar/ftp_reply.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

FtpReply Parse(const std::vector<std::string>& lines, std::size_t expected_used) {
  FtpReplyParser parser;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    if (parser.Feed(lines[index])) {
      EXPECT_EQ(index + 1, expected_used);
      return parser.reply();
    }
  }
  ADD_FAILURE() << "reply not complete";
  return {};
}

TEST(FtpReplyTest, ASingleLineReplyEndsAtOnce) {
  FtpReply reply = Parse({"230 Logged in", "extra"}, 1);
  EXPECT_EQ(reply.code, 230);
  EXPECT_TRUE(reply.IsCompletion());
  EXPECT_EQ(reply.Text(), "230 Logged in");
  EXPECT_EQ(Parse({"220"}, 1).code, 220);
}

TEST(FtpReplyTest, AMultiLineReplyEndsAtItsCodeFollowedByASpace) {
  FtpReply reply = Parse({"211-Features:", " MLST type*;", "211-not yet", "2110 not yet",
                          "230 other code", "211 End", "after"},
                         6);
  EXPECT_EQ(reply.code, 211);
  EXPECT_EQ(reply.lines.size(), 6u);
  EXPECT_EQ(Parse({"220-Welcome", "220"}, 2).lines.size(), 2u);
}

TEST(FtpReplyTest, AFirstLineWithoutACodeIsAnError) {
  FtpReplyParser parser;
  EXPECT_THROW(parser.Feed("hello"), FtpError);
  FtpReplyParser short_line;
  EXPECT_THROW(short_line.Feed("22"), FtpError);
}

TEST(FtpReplyTest, AReplyIsCappedOverAllItsLines) {
  struct Case {
    const char* what;
    std::string line;  // repeated after "211-Features:"
  };
  for (const Case& c : {Case{"long lines", std::string(1000, 'x')}, Case{"empty lines", ""}}) {
    SCOPED_TRACE(c.what);
    FtpReplyParser parser;
    EXPECT_FALSE(parser.Feed("211-Features:"));
    std::size_t fed = 14;
    try {
      while (fed <= kLargestFtpReply) {
        EXPECT_FALSE(parser.Feed(c.line));
        fed += c.line.size() + 1;
      }
      ADD_FAILURE() << "a reply of " << fed << " bytes was taken";
    } catch (const FtpError&) {
      EXPECT_GT(fed + c.line.size() + 1, kLargestFtpReply);
    }
  }
  // Just below the cap, a reply is whole.
  FtpReplyParser parser;
  EXPECT_FALSE(parser.Feed("211-" + std::string(kLargestFtpReply - 20, 'x')));
  EXPECT_TRUE(parser.Feed("211 End"));
}

TEST(FtpReplyTest, FeatureNamesAreTheFirstWordsOfTheInnerLines) {
  FtpReply reply{211, {"211-Features:", " MLST type*;size*;", " clnt", " REST STREAM", "211 End"}};
  EXPECT_EQ(FeatureNames(reply), (std::set<std::string>{"MLST", "CLNT", "REST"}));
  EXPECT_TRUE(FeatureNames(FtpReply{211, {"211 No features"}}).empty());
}

TEST(FtpReplyTest, PassivePortIsReadFromTheSixNumbers) {
  EXPECT_EQ(PassivePort("227 Entering Passive Mode (192,0,2,7,19,137)."), 19 * 256 + 137);
  EXPECT_EQ(PassivePort("227 Entering Passive Mode 10,0,0,1,0,21"), 21);
  EXPECT_EQ(PassivePort("227 =127,0,0,1,255,255"), 65535);
  EXPECT_EQ(PassivePort("227 Entering Passive Mode (1,2,3,4,5)"), std::nullopt);
  EXPECT_EQ(PassivePort("227 Entering Passive Mode (1,2,3,4,5,256)"), std::nullopt);
  EXPECT_EQ(PassivePort("227 Entering Passive Mode"), std::nullopt);
}

}  // namespace
}  // namespace sqv64
