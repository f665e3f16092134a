#include "catalogue/data_file_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "catalogue/header_record.h"
#include "catalogue/xml_header_reader.h"
#include "fixtures/data_file_fixtures.h"
#include "fixtures/expected_catalogue.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

using fixtures::CompressedFileDescription;
using fixtures::PlainFileDescription;
using fixtures::XmlHeaderDescription;

class DataFileReaderTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& bytes, std::uint64_t zero_tail = 0) {
    fixtures::WriteFile(platform_, folder_.PathOf(name), bytes, zero_tail);
  }

  std::optional<HeaderRecord> Read(const std::string& name) {
    HeaderRecord record;
    if (!ReadDataFile(folder_, name, record)) {
      return std::nullopt;
    }
    return record;
  }

  static std::string Bytes(const HeaderRecord& record) {
    return std::string(record.bytes.begin(), record.bytes.end());
  }

  static PlainFileDescription PlainFile() {
    PlainFileDescription file;
    file.record.items = {{"Type", "Tu-154M"}, {"Reg", "RA-85684"}, {"Note", "test"}};
    file.record.pattern_in_free_bytes = true;
    return file;
  }

  static XmlHeaderDescription Header(fixtures::XmlEncoding encoding) {
    XmlHeaderDescription header;
    header.encoding = encoding;
    header.src_file = "3";
    header.ea_time = {"12,5", "14"};
    header.items = {{"\xD2\xE8\xEF", "\xD2\xF3-154", {}},  // Cyrillic title and value
                    {"Reg.No.", "RA-85684", {}},
                    {"Parameters", "P1", {"P2", "P3"}}};
    header.parameters = 20;
    return header;
  }

  static std::string Compressed(const XmlHeaderDescription& header) {
    CompressedFileDescription file;
    file.document = fixtures::XmlHeaderDocument(header);
    file.first_block = std::string(300, 'a');
    file.second_block = "bb";
    return fixtures::CompressedFileBytes(file);
  }

  testing_support::TemporaryFolder folder_path_;
  testing_support::TestPlatform platform_;
  WorkingFolder folder_{platform_, folder_path_.ServerPath()};
};

TEST_F(DataFileReaderTest, ListsAPlainFileWithItsRecordPreparedForTheList) {
  PlainFileDescription file = PlainFile();
  file.flight_data_length = 5000000 - 3424;
  Write("a.hdr", fixtures::PlainFileBytes(file));

  auto record = Read("a.hdr");
  ASSERT_TRUE(record);
  EXPECT_EQ(GetItemValue(*record, 7), "4.77 MB");
  EXPECT_EQ(Bytes(*record).substr(3152, 6), "\trdh.a");
  EXPECT_EQ(Bytes(*record), fixtures::ExpectedPlainEntry(file, "a.hdr", 5000000).Bytes());
}

TEST_F(DataFileReaderTest, ChecksTheBodyLengthAgainstTheFileSize) {
  struct Case {
    std::uint32_t body_length;
    bool packed;
    std::size_t file_size;
    bool listed;
  };
  const Case cases[] = {
      {3408, false, 3424, true},         {3409, false, 3424, false}, {0, false, 3424, true},
      {0xFFFFFFF0u, false, 3424, false},  // would wrap round in 32 bits
      {1u << 30, true, 3424, true},       // packed files skip the test
      {3407, false, 3423, false},         // the record itself is short
      {3408, true, 3423, false},         {0, false, 16, false},      {0, false, 15, false},
  };
  for (const Case& c : cases) {
    PlainFileDescription file = PlainFile();
    file.body_length = c.body_length;
    file.packed = c.packed;
    std::string bytes = fixtures::PlainFileBytes(file);
    bytes.resize(c.file_size);
    Write("f.quv", bytes);
    EXPECT_EQ(Read("f.quv").has_value(), c.listed) << c.body_length << " " << c.file_size;
  }
}

TEST_F(DataFileReaderTest, ShowsAPackedFileAsArchive) {
  PlainFileDescription file = PlainFile();
  file.packed = true;
  file.body_length = 50000000;
  file.flight_data_length = 2 * 1048576;
  Write("p.quv", fixtures::PlainFileBytes(file));

  auto record = Read("p.quv");
  ASSERT_TRUE(record);
  EXPECT_EQ(GetItemValue(*record, 7), "archive");
  EXPECT_EQ(Bytes(*record), fixtures::ExpectedPlainEntry(file, "p.quv", 0).Bytes());
}

TEST_F(DataFileReaderTest, NeedsTheMagicInCapitals) {
  for (const char* magic : {"quv", "QUv", "XYZ"}) {
    PlainFileDescription file = PlainFile();
    file.magic = magic;
    Write("m.hdr", fixtures::PlainFileBytes(file));
    EXPECT_FALSE(Read("m.hdr")) << magic;
  }
}

TEST_F(DataFileReaderTest, WritesSizesOfLargeFiles) {
  struct Case {
    std::uint64_t size;
    const char* text;
  };
  const Case cases[] = {
      {1048576, "1 MB"}, {1572864, "1.5 MB"}, {4000, "0 MB"}, {5ULL << 30, "5120 MB"}};
  for (const Case& c : cases) {
    PlainFileDescription file = PlainFile();
    file.body_length = 3408;
    Write("s.quv", fixtures::PlainFileHeader(file), c.size - 3424);
    auto record = Read("s.quv");
    ASSERT_TRUE(record) << c.size;
    EXPECT_EQ(GetItemValue(*record, 7), c.text);
  }
}

TEST_F(DataFileReaderTest, LeavesOutWhatIsNotAFile) {
  EXPECT_FALSE(Read("missing.hdr"));
  std::filesystem::create_directory(folder_path_.path() / "folder.hdr");
  EXPECT_FALSE(Read("folder.hdr"));
  std::filesystem::create_directory(folder_path_.path() / "folder.hdrx");
  EXPECT_FALSE(Read("folder.hdrx"));
}

TEST_F(DataFileReaderTest, ListsACompressedFileFromItsXmlHeader) {
  for (auto encoding : {fixtures::XmlEncoding::kWindows1251, fixtures::XmlEncoding::kUtf8,
                        fixtures::XmlEncoding::kUtf16LittleEndian}) {
    XmlHeaderDescription header = Header(encoding);
    std::string bytes = Compressed(header);
    Write("c.quvx", bytes);

    // The record that read a plain file before must not lend it any byte.
    HeaderRecord record;
    Write("a.hdr", fixtures::PlainFileBytes(PlainFile()));
    ASSERT_TRUE(ReadDataFile(folder_, "a.hdr", record));
    ASSERT_TRUE(ReadDataFile(folder_, "c.quvx", record)) << static_cast<int>(encoding);
    EXPECT_EQ(Bytes(record),
              fixtures::ExpectedCompressedEntry(header, "c.quvx", bytes.size()).Bytes());
    EXPECT_EQ(GetItemValue(record, 1), "\xD2\xF3-154");
    EXPECT_EQ(GetItemValue(record, 3), "P1\tP2\tP3\t");  // titled "Note" now
    EXPECT_EQ(record.DoubleAt(kFirstEaTimeOffset), 12.5);
  }
}

TEST_F(DataFileReaderTest, ShowsTheCompressedFileSize) {
  CompressedFileDescription file;
  file.document = fixtures::XmlHeaderDocument(Header(fixtures::XmlEncoding::kUtf8));
  std::string bytes = fixtures::CompressedFileBytes(file);
  Write("big.hdrx", bytes, 2 * 1048576 - bytes.size());
  auto record = Read("big.hdrx");
  ASSERT_TRUE(record);
  EXPECT_EQ(GetItemValue(*record, 7), "2 MB");
}

TEST_F(DataFileReaderTest, ReadsCompressedFilesOnlyWithTheExactExtension) {
  std::string bytes = Compressed(Header(fixtures::XmlEncoding::kWindows1251));
  for (const char* name : {"c.hdrx", "c.quvx"}) {
    Write(name, bytes);
    EXPECT_TRUE(Read(name)) << name;
  }
  for (const char* name : {"c.HDRX", "c.Quvx", "c.hdrx.bak", "c.hdr"}) {
    Write(name, bytes);
    EXPECT_FALSE(Read(name)) << name;  // read as plain files, which they are not
  }
}

TEST_F(DataFileReaderTest, LeavesOutStreamsThatDoNotInflateToAHeader) {
  const std::string document = fixtures::XmlHeaderDocument(Header(fixtures::XmlEncoding::kUtf8));
  auto compressed = [&](CompressedFileDescription file) {
    return fixtures::CompressedFileBytes(file);
  };
  CompressedFileDescription good;
  good.document = document;
  const std::string good_bytes = compressed(good);
  const std::size_t prefix = 18 + good.first_block.size() + good.second_block.size();

  CompressedFileDescription empty;
  CompressedFileDescription raw = good;
  raw.raw_deflate = true;
  CompressedFileDescription not_xml;
  not_xml.document = "plain text, not a document";
  std::string corrupt = good_bytes;
  corrupt[prefix + 40] = static_cast<char>(corrupt[prefix + 40] ^ 0x55);
  std::string bad_check = good_bytes;
  bad_check.back() = static_cast<char>(bad_check.back() ^ 1);

  struct Case {
    const char* what;
    std::string bytes;
    bool listed;
  };
  const Case cases[] = {
      {"the whole file", good_bytes, true},
      {"bytes behind the stream", good_bytes + "flight data", true},
      {"a stream without its check value", good_bytes.substr(0, good_bytes.size() - 4), true},
      {"a stream cut inside the document", good_bytes.substr(0, prefix + 100), false},
      {"a file that ends in the prefix", good_bytes.substr(0, prefix - 5), false},
      {"a file that ends with the prefix", good_bytes.substr(0, prefix), false},
      {"an empty document", compressed(empty), false},
      {"raw deflate without the zlib header", compressed(raw), false},
      {"a document that is not XML", compressed(not_xml), false},
      {"a corrupt stream", corrupt, false},
      {"a wrong check value", bad_check, false},
  };
  // One reader, which keeps its inflater and parser from file to file,
  // answers each file as a fresh one does, whatever the file before it was.
  DataFileReader reader;
  for (const Case& c : cases) {
    Write("x.hdrx", c.bytes);
    std::optional<HeaderRecord> fresh = Read("x.hdrx");
    EXPECT_EQ(fresh.has_value(), c.listed) << c.what;
    HeaderRecord record;
    EXPECT_EQ(reader.Read(folder_, "x.hdrx", record), c.listed) << c.what;
    if (fresh) {
      EXPECT_EQ(Bytes(record), Bytes(*fresh)) << c.what;
    }
  }
}

// A crafted file must not make the server inflate without end: 64 MiB of
// document are read, one byte more makes the file unreadable.
TEST_F(DataFileReaderTest, RefusesHeadersLargerThan64MiB) {
  const std::string start = "<Header><Pass_List><Pass_Str><Pass_Fld Name=\"T\"/></Pass_Str>";
  const std::string end = "</Pass_List></Header>";
  const std::string filler(65536, ' ');
  for (std::size_t extra : {0, 1}) {
    CompressedFileDescription file;
    file.level = 1;
    file.filler = filler;
    file.filler_count = kMaxXmlHeaderSize / filler.size() - 1;
    file.document = start;
    file.document_end = std::string(filler.size() - start.size() - end.size() + extra, ' ') + end;
    Write("huge.quvx", fixtures::CompressedFileBytes(file));
    EXPECT_EQ(Read("huge.quvx").has_value(), extra == 0) << extra;
  }
}

}  // namespace
}  // namespace sqv64

namespace sqv64 {
namespace {

// A reader with a cache serves an unchanged compressed file from it, and
// reads it again as soon as anything of its stamp differs; plain files and
// unsettled stamps never go through the cache.
class CachedReading : public DataFileReaderTest {
 protected:
  std::optional<HeaderRecord> ReadWithCache(const std::string& name,
                                            std::optional<platform::FileStamp> stamp) {
    platform_.SetFileFaults(folder_.PathOf(name), {true, std::nullopt, stamp});
    HeaderRecord record;
    if (!reader_.Read(folder_, name, record))
      return std::nullopt;
    return record;
  }
  static std::string TypeIn(const std::optional<HeaderRecord>& record) {
    return record ? GetItemValue(*record, 1) : "(not listed)";
  }
  static std::string CompressedOfType(const std::string& type) {
    XmlHeaderDescription header;
    header.items = {{"Type", type, {}}};
    return Compressed(header);
  }

  void SetUp() override { reader_.UseCache(cache_, folder_.path()); }

  CompressedRecordCache cache_;
  DataFileReader reader_;
};

platform::FileStamp SettledStamp() {
  platform::FileStamp stamp;
  stamp.volume = 1;
  stamp.identity = 2;
  stamp.size = 3;
  stamp.modified = 4;
  stamp.changed = 5;
  stamp.settled = true;
  return stamp;
}

TEST_F(CachedReading, AnUnchangedFileComesFromTheCacheAndAnyChangeReadsItAgain) {
  Write("c.quvx", CompressedOfType("Tu-154M"));
  EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", SettledStamp())), "Tu-154M");
  // New content under the same stamp: the kept record is served.
  Write("c.quvx", CompressedOfType("Il-62M"));
  EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", SettledStamp())), "Tu-154M");

  using Change = void (*)(platform::FileStamp&);
  const Change changes[] = {
      [](platform::FileStamp& s) { ++s.volume; },  [](platform::FileStamp& s) { ++s.identity; },
      [](platform::FileStamp& s) { ++s.size; },    [](platform::FileStamp& s) { ++s.modified; },
      [](platform::FileStamp& s) { ++s.changed; },
  };
  int type = 0;
  for (Change change : changes) {
    std::string now = "Type " + std::to_string(++type);
    Write("c.quvx", CompressedOfType(now));
    platform::FileStamp stamp = SettledStamp();
    change(stamp);
    EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", stamp)), now) << "change " << type;
    // The record read under the new stamp is the one kept from now on.
    EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", stamp)), now) << "change " << type;
  }
}

TEST_F(CachedReading, UnsettledStampsAndPlainFilesAreAlwaysReadFromTheFile) {
  platform::FileStamp fresh = SettledStamp();
  fresh.settled = false;
  Write("c.quvx", CompressedOfType("Tu-154M"));
  EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", fresh)), "Tu-154M");
  Write("c.quvx", CompressedOfType("Il-62M"));
  EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", fresh)), "Il-62M");
  EXPECT_EQ(cache_.HeldBytes(), 0u);

  Write("p.quv", fixtures::PlainFileBytes(PlainFile()));
  EXPECT_EQ(TypeIn(ReadWithCache("p.quv", SettledStamp())), "Tu-154M");
  EXPECT_EQ(cache_.HeldBytes(), 0u);
  // A file that is gone is not listed, whatever was kept for it.
  EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", SettledStamp())), "Il-62M");
  std::filesystem::remove(folder_path_.path() / "c.quvx");
  EXPECT_EQ(TypeIn(ReadWithCache("c.quvx", SettledStamp())), "(not listed)");
}

}  // namespace
}  // namespace sqv64
