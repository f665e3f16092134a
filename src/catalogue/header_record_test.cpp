#include "catalogue/header_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fixtures/data_file_fixtures.h"
#include "fixtures/expected_catalogue.h"

namespace sqv64 {
namespace {

using fixtures::RecordModel;

// Byte p (1 to 2000) of ItemText.
unsigned char Position(const HeaderRecord& record, std::size_t p) {
  return record.bytes[kItemTextOffset + p];
}

std::string Area(const HeaderRecord& record) {
  return std::string(reinterpret_cast<const char*>(record.bytes.data()) + kItemTextOffset + 1,
                     kItemTextSize);
}

std::string Bytes(const HeaderRecord& record) {
  return std::string(reinterpret_cast<const char*>(record.bytes.data()), record.bytes.size());
}

HeaderRecord Fresh(unsigned char background = 0) {
  HeaderRecord record;
  record.bytes.fill(background);
  InitHeader(record);
  return record;
}

HeaderRecord FromModel(const RecordModel& model) {
  HeaderRecord record;
  std::copy(model.bytes.begin(), model.bytes.end(), record.bytes.begin());
  return record;
}

TEST(InitHeader, WritesTheDefaultsAndLeavesTheOtherBytes) {
  HeaderRecord record = Fresh(0xAB);

  EXPECT_EQ(record.ItemCount(), 7);
  const unsigned char titles[] = {8, 7, 4, 4, 6, 5, 6};
  const unsigned char values[] = {0, 3, 3, 3, 3, 3, 3};
  for (int n = 1; n <= 7; ++n) {
    EXPECT_EQ(record.bytes[107 + n], titles[n - 1]) << n;
    EXPECT_EQ(record.bytes[207 + n], values[n - 1]) << n;
  }
  EXPECT_EQ(Area(record).substr(0, 58),
            "A/C typeReg.No.   Note   Date   Flight   Pilot   Header   ");
  EXPECT_EQ(Position(record, 59), 0);
  EXPECT_EQ(Position(record, 60), 0);
  EXPECT_EQ(Area(record).substr(60), std::string(1940, '.'));

  EXPECT_EQ(record.Uint16At(36), 64);
  EXPECT_EQ(record.Uint16At(38), 1);
  EXPECT_EQ(record.Uint16At(42), 15);
  EXPECT_EQ(record.Uint16At(46), 1);
  EXPECT_EQ(record.DoubleAt(kFirstEaTimeOffset), 0.0);
  EXPECT_EQ(record.SrcFileCode(), 2);
  EXPECT_EQ(Bytes(record).substr(3400, 4), std::string("\x00\x00\x80\x3F", 4));
  for (std::size_t offset : {0, 4, 16, 31, 32, 3224, 3237, 3244, 3266, 3308, 3399, 3404, 3407}) {
    EXPECT_EQ(record.bytes[offset], 0) << offset;
  }
  // Bytes without a default, and the table entries of items 8 to 100.
  for (std::size_t offset : {34,   35,   48,   105,  115,  207,  215,  307,  2308, 2358,
                             3157, 3158, 3207, 3238, 3243, 3258, 3265, 3276, 3278, 3307}) {
    EXPECT_EQ(record.bytes[offset], 0xAB) << offset;
  }
}

TEST(InitHeader, MatchesTheFreshRecordOfTheFileFormat) {
  EXPECT_EQ(Bytes(Fresh()), RecordModel(fixtures::FreshRecordBytes()).Bytes());
}

TEST(GetItemValue, DropsTrailingSpacesOnly) {
  HeaderRecord record = Fresh();
  for (std::uint16_t n = 0; n <= 8; ++n) {
    EXPECT_EQ(GetItemValue(record, n), "") << n;
  }
  SetItemValue(record, 3, "  42  ");
  EXPECT_EQ(GetItemValue(record, 3), "  42");
  SetItemValue(record, 3, "   ");
  EXPECT_EQ(GetItemValue(record, 3), "");
  SetItemValue(record, 3, "\t ");
  EXPECT_EQ(GetItemValue(record, 3), "\t");
}

TEST(SetItemValue, MovesTheFreeTextBlockAndRestoresTheLayout) {
  HeaderRecord record = Fresh();
  const std::string fresh = Bytes(record);

  SetItemValue(record, 1, "Tu-5");
  EXPECT_EQ(record.bytes[208], 4);
  EXPECT_EQ(Area(record).substr(0, 12), "A/C typeTu-5");
  EXPECT_EQ(Position(record, 63), 0);
  EXPECT_EQ(Position(record, 64), 0);
  EXPECT_EQ(Position(record, 65), '.');
  EXPECT_EQ(GetItemValue(record, 1), "Tu-5");
  EXPECT_EQ(GetItemValue(record, 2), "");

  SetItemValue(record, 1, "");
  EXPECT_EQ(Bytes(record), fresh);
  EXPECT_EQ(Area(record).substr(1996), "....");
}

TEST(SetItemTitle, IgnoresItemsThatAreNotThere) {
  HeaderRecord record = Fresh();
  const std::string fresh = Bytes(record);
  SetItemTitle(record, 8, "Extra");
  SetItemValue(record, 8, "Extra");
  SetItemTitle(record, 0, "Zero");
  SetItemValue(record, 0, "Zero");
  EXPECT_EQ(Bytes(record), fresh);
}

// A run of replacements must give what the plain string model of the
// format gives, byte for byte.
TEST(SetItemTitle, AgreesWithTheModelOverARunOfChanges) {
  HeaderRecord record = Fresh();
  RecordModel model(fixtures::FreshRecordBytes());
  struct Change {
    bool title;
    std::uint16_t item;
    std::string text;
  };
  const Change changes[] = {
      {true, 3, "A much longer note title"},
      {false, 3, "Cyrillic \xCF\xF0\xE8\xEC\xE5\xF7\xE0\xED\xE8\xE5"},
      {false, 7, std::string(200, 'h')},
      {true, 1, ""},
      {false, 2, "RA-85684"},
      {true, 7, "H"},
      {false, 5, std::string(255, 'f')},
      {false, 6, std::string(255, 'p')},
      {false, 4, std::string(255, 'd')},  // now past position 2000: the tail is dropped
      {false, 4, "08.12.2020"},           // and the end fills with "."
      {true, 2, std::string(300, 'r')},   // cut to 255
  };
  for (const Change& change : changes) {
    if (change.title) {
      SetItemTitle(record, change.item, change.text);
      model.SetTitle(change.item, change.text);
    } else {
      SetItemValue(record, change.item, change.text);
      model.SetValue(change.item, change.text);
    }
    ASSERT_EQ(Bytes(record), model.Bytes()) << change.item << " " << change.text.substr(0, 20);
  }
  EXPECT_EQ(record.bytes[107 + 2], 255);
}

TEST(SetItemValue, StopsAtTheEndOfTheArea) {
  HeaderRecord record = Fresh();
  RecordModel model(fixtures::FreshRecordBytes());
  for (std::uint16_t n = 1; n <= 7; ++n) {
    SetItemValue(record, n, std::string(255, 'a' + n));
    model.SetValue(n, std::string(255, 'a' + n));
  }
  // Items 1 to 7 take positions 1 to 1825; item 8's value starts at 1926.
  ASSERT_TRUE(AppendItem(record, std::string(100, 't'), std::string(200, 'v')));
  model.SetCount(8);
  model.SetTitle(8, std::string(100, 't'));
  model.SetValue(8, std::string(200, 'v'));

  EXPECT_EQ(record.ValueLength(8), 200);  // the table claims more than the area holds
  EXPECT_EQ(Area(record).substr(1925), std::string(75, 'v'));
  EXPECT_EQ(GetItemValue(record, 8), std::string(75, 'v'));
  EXPECT_EQ(Bytes(record).substr(2308), Bytes(Fresh()).substr(2308));
  EXPECT_EQ(Bytes(record), model.Bytes());

  SetItemValue(record, 8, "1 MB");
  EXPECT_EQ(Area(record).substr(1925), "1 MB" + std::string(71, '.'));
  WriteFreeText(record, "free");
  EXPECT_EQ(Area(record).substr(1925), std::string("1 MB\x04\x00"
                                                   "free",
                                                   10) +
                                           std::string(65, '.'));
}

TEST(SetItemValue, CutsTextsLongerThan255Bytes) {
  HeaderRecord record = Fresh();
  SetItemValue(record, 1, std::string(1000, 'x'));
  EXPECT_EQ(record.ValueLength(1), 255);
  EXPECT_EQ(GetItemValue(record, 1), std::string(255, 'x'));
  EXPECT_EQ(Area(record).substr(263, 7), "Reg.No.");
}

// Tables of a record read from a file may claim anything; nothing outside
// ItemText and the length entries may change (the sanitizers watch reads).
TEST(HeaderRecord, StaysInsideItsAreaWhateverTheTablesClaim) {
  HeaderRecord record;
  record.bytes.fill(0xFF);  // ItemCount 65535, every length 255
  const std::string before = Bytes(record);

  EXPECT_EQ(GetItemValue(record, 7), "");
  EXPECT_EQ(GetItemValue(record, 100), "");
  EXPECT_EQ(GetItemValue(record, 101), "");
  SetItemValue(record, 7, "x");
  SetItemTitle(record, 100, "x");
  SetItemTitle(record, 101, "x");
  SetItemValue(record, 65535, "x");
  WriteFreeText(record, "free");
  NormaliseHeader(record);
  EXPECT_FALSE(AppendItem(record, "t", "v"));

  std::string after = Bytes(record);
  EXPECT_EQ(after.substr(0, 106), before.substr(0, 106));
  EXPECT_EQ(after.substr(2308), before.substr(2308));
  EXPECT_EQ(record.ItemCount(), 65535);
  // Item 1 starts at position 1 and item 2 at 511: only they can be stored.
  EXPECT_EQ(Area(record).substr(0, 8), "A/C type");
  EXPECT_EQ(record.TitleLength(1), 8);
}

TEST(WriteFreeText, StoresWhatFitsAndCountsIt) {
  HeaderRecord record = Fresh();
  WriteFreeText(record, std::string(3000, 'f'));
  EXPECT_EQ(Position(record, 59), 1940 & 0xFF);
  EXPECT_EQ(Position(record, 60), 1940 >> 8);
  EXPECT_EQ(Area(record).substr(60), std::string(1940, 'f'));

  WriteFreeText(record, "note");
  EXPECT_EQ(Area(record).substr(58, 8), std::string("\x04\x00note..", 8));
  EXPECT_EQ(Area(record).back(), '.');
}

TEST(WriteFreeText, NeedsRoomForItsLength) {
  for (std::size_t used : {1997, 1998, 1999, 2000, 2500}) {
    HeaderRecord record = Fresh();
    record.SetItemCount(8);
    std::size_t remaining = used;
    for (std::uint16_t n = 1; n <= 8; ++n) {
      for (std::size_t table : {kTitleLengthOffset, kValueLengthOffset}) {
        std::size_t length = std::min<std::size_t>(remaining, 255);
        record.bytes[table + n] = static_cast<unsigned char>(length);
        remaining -= length;
      }
    }
    const std::string before = Bytes(record);
    WriteFreeText(record, "xyz");
    if (used == 1997) {
      EXPECT_EQ(Area(record).substr(1997), std::string("\x01\x00x", 3));
    } else {
      EXPECT_EQ(Bytes(record), before) << used;
    }
  }
}

TEST(NormaliseHeader, CompletesAShortRecord) {
  fixtures::RecordDescription file;
  file.items = {{"Type", "  "}, {"Reg", ""}, {"Remark", "  kept  "}};
  HeaderRecord record = FromModel(RecordModel(fixtures::RecordBytes(file)));

  NormaliseHeader(record);

  EXPECT_EQ(record.ItemCount(), 7);
  EXPECT_EQ(Area(record).substr(0, 77),
            "A/C typeWithout nameReg.No.Without nameNote  kept  DateFlightPilotHeader" +
                std::string("\x00\x00", 2) + "...");
  EXPECT_EQ(GetItemValue(record, 3), "  kept");
  for (std::uint16_t n = 4; n <= 7; ++n) {
    EXPECT_EQ(GetItemValue(record, n), "") << n;
  }
}

TEST(NormaliseHeader, KeepsTheItemsBeyondTheSeventh) {
  fixtures::RecordDescription file;
  file.items = {{"t", "Boeing 737"}, {"r", "VP-BAA"}, {"n", ""},  {"d", "01.02.2020"},
                {"f", "LH100"},      {"p", "Smith"},  {"h", "H"}, {"Departure", "EDDF"}};
  file.free_text = "free text";
  RecordModel model(fixtures::RecordBytes(file));
  HeaderRecord record = FromModel(model);

  NormaliseHeader(record);
  model.Normalise();

  EXPECT_EQ(Bytes(record), model.Bytes());
  EXPECT_EQ(GetItemValue(record, 1), "Boeing 737");
  EXPECT_EQ(GetItemValue(record, 8), "EDDF");
}

TEST(AppendItem, AddsUpToAHundredItems) {
  HeaderRecord record = Fresh();
  record.SetItemCount(0);
  for (int n = 1; n <= 100; ++n) {
    ASSERT_TRUE(AppendItem(record, "t", "v"));
  }
  EXPECT_FALSE(AppendItem(record, "one too many", "v"));
  EXPECT_EQ(record.ItemCount(), 100);
  EXPECT_EQ(GetItemValue(record, 100), "v");
}

TEST(ListName, IsWrittenBackwardsBelowTheTopOfTheArea) {
  HeaderRecord record;
  record.bytes.fill('#');
  ASSERT_TRUE(WriteListName(record, "a.hdr"));
  EXPECT_EQ(Bytes(record).substr(3152, 7), "\trdh.a#");
  EXPECT_EQ(record.bytes[3151], '#');
  EXPECT_EQ(ReadListName(record), "a.hdr");

  ASSERT_TRUE(WriteListName(record, std::string(799, 'n')));
  EXPECT_EQ(record.bytes[kListNameOffset], '\t');
  EXPECT_EQ(record.bytes[kListNameOffset - 1], '#');
  EXPECT_FALSE(WriteListName(record, std::string(800, 'n')));
  EXPECT_EQ(ReadListName(record), std::string(799, 'n'));
}

}  // namespace
}  // namespace sqv64
