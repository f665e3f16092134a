#include "catalogue/catalogue_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/header_record.h"
#include "fixtures/data_file_fixtures.h"
#include "fixtures/expected_catalogue.h"
#include "fixtures/sample_store.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

using fixtures::CompressedFileDescription;
using fixtures::PlainFileDescription;
using fixtures::XmlHeaderDescription;

constexpr std::uint64_t kMebibyte = 1048576;

class CatalogueScanTest : public ::testing::Test {
 protected:
  // Writes a plain file and returns its size.
  std::uint64_t WritePlain(const std::string& name, const PlainFileDescription& file) {
    std::string bytes = fixtures::PlainFileBytes(file);
    fixtures::WriteFile(platform_, folder_.PathOf(name), bytes);
    return bytes.size();
  }

  std::uint64_t WriteCompressed(const std::string& name, const XmlHeaderDescription& header) {
    CompressedFileDescription file;
    file.document = fixtures::XmlHeaderDocument(header);
    std::string bytes = fixtures::CompressedFileBytes(file);
    fixtures::WriteFile(platform_, folder_.PathOf(name), bytes);
    return bytes.size();
  }

  static PlainFileDescription Plain(std::string type, std::string registration) {
    PlainFileDescription file;
    file.record.items = {{"A/C type", std::move(type)},
                         {"Reg.No.", std::move(registration)},
                         {"Note", "note"},
                         {"Date", "08.12.2020"},
                         {"Flight", "SU1402"},
                         {"Pilot", "Ivanov"},
                         {"Header", "MSRP-64"}};
    file.record.free_text = "decoded";
    file.record.pattern_in_free_bytes = true;
    file.flight_data_length = 1000;
    return file;
  }

  static XmlHeaderDescription Xml(fixtures::XmlEncoding encoding, std::string type) {
    XmlHeaderDescription header;
    header.encoding = encoding;
    header.src_file = "4";
    header.ea_time = {"9,25", "11"};
    header.items = {{"A/C type", std::move(type), {}},
                    {"Reg.No.", "", {}},
                    {"\xC0\xFD\xF0\xEE\xEF\xEE\xF0\xF2", "UUEE", {}},  // "Аэропорт"
                    {"Date", "01.02.2021", {"a", "b"}}};
    return header;
  }

  // The catalogue entries of `entries`, numbered in order.
  static std::string Catalogue(std::vector<fixtures::RecordModel> entries) {
    std::string stream;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].SetIndex(static_cast<std::uint32_t>(i));
      stream += entries[i].Bytes();
    }
    return stream;
  }

  testing_support::TemporaryFolder folder_path_;
  testing_support::TestPlatform platform_;
  WorkingFolder folder_{platform_, folder_path_.ServerPath()};
};

TEST_F(CatalogueScanTest, AnEmptyFolderGivesTheTrailerAlone) {
  platform_.SetFreeBytes(1234 * kMebibyte + 943718);  // 1234.9 MiB
  std::string stream = ScanCatalogue(folder_);
  EXPECT_EQ(stream, "");
  AppendCatalogueTrailer(folder_, stream);
  EXPECT_EQ(stream, fixtures::ExpectedTrailer(folder_.path(), 1234 * kMebibyte + 943718));
  std::string folder = folder_.path();
  std::string text = folder.substr(0, folder.size() - 1) + "\t1234\t";
  EXPECT_EQ(stream, text + static_cast<char>(text.size()) + '\0');
}

// A store of plain, packed and compressed files (Windows-1251 and UTF-8),
// with names that must not be listed, against the catalogue worked out
// from the descriptions.
TEST_F(CatalogueScanTest, ListsTheStoreByteForByte) {
  PlainFileDescription c_hdr = Plain("Tu-154M", "RA-85684");
  PlainFileDescription b_hdr = Plain("   ", "");  // becomes "Without name" twice
  b_hdr.flight_data_length = 3 * kMebibyte / 2 - 3424;
  PlainFileDescription packed = Plain("\xC8\xEB-76", "RA-76511");
  packed.packed = true;
  packed.body_length = 0x7FFFFFFF;
  PlainFileDescription short_record = Plain("x", "y");
  short_record.record.items.resize(2);
  XmlHeaderDescription a_hdrx = Xml(fixtures::XmlEncoding::kWindows1251, "\xD2\xF3-134");
  XmlHeaderDescription q_quvx = Xml(fixtures::XmlEncoding::kUtf8, "Boeing 737");
  PlainFileDescription broken = Plain("broken", "broken");
  broken.magic = "quv";

  std::uint64_t c_size = WritePlain("c.hdr", c_hdr);
  std::uint64_t b_size = WritePlain("B.hdr", b_hdr);
  std::uint64_t a_size = WriteCompressed("a.hdrx", a_hdrx);
  WritePlain("x.hdr", broken);
  std::uint64_t y_size = WritePlain("y.quv", short_record);
  std::uint64_t u_size = WritePlain("_u.quv", packed);
  std::uint64_t q_size = WriteCompressed("q.quvx", q_quvx);
  for (const char* ignored : {"z.HDR", "z.hdr.bak", "z.hdrz", "z.Quvx", "z.quv.old", "z.dat"}) {
    WritePlain(ignored, c_hdr);
  }
  std::filesystem::create_directory(folder_path_.path() / "d.hdr");

  std::string expected = Catalogue({
      fixtures::ExpectedCompressedEntry(a_hdrx, "a.hdrx", a_size),
      fixtures::ExpectedPlainEntry(b_hdr, "B.hdr", b_size),
      fixtures::ExpectedPlainEntry(c_hdr, "c.hdr", c_size),
      fixtures::ExpectedCompressedEntry(q_quvx, "q.quvx", q_size),
      fixtures::ExpectedPlainEntry(short_record, "y.quv", y_size),
      fixtures::ExpectedPlainEntry(packed, "_u.quv", u_size),  // "_" sorts after the letters
  });
  platform_.SetFreeBytes(std::nullopt);  // unknown: told as 0
  std::string stream = ScanCatalogue(folder_);
  ASSERT_EQ(stream.size(), expected.size());
  for (std::size_t i = 0; i * kHeaderRecordSize < stream.size(); ++i) {
    EXPECT_EQ(stream.substr(i * kHeaderRecordSize, kHeaderRecordSize),
              expected.substr(i * kHeaderRecordSize, kHeaderRecordSize))
        << "entry " << i;
  }
  AppendCatalogueTrailer(folder_, stream);
  EXPECT_EQ(stream, expected + fixtures::ExpectedTrailer(folder_.path(), 0));

  // Spot checks of what a client reads from the entries.
  HeaderRecord b;
  std::copy_n(expected.begin() + kHeaderRecordSize, kHeaderRecordSize, b.bytes.begin());
  EXPECT_EQ(b.ListIndex(), 1);
  EXPECT_EQ(GetItemValue(b, 1), "Without name");
  EXPECT_EQ(GetItemValue(b, 7), "1.5 MB");
  EXPECT_EQ(ReadListName(b), "B.hdr");
}

TEST_F(CatalogueScanTest, NumbersOnlyTheFilesThatRead) {
  PlainFileDescription broken = Plain("t", "r");
  broken.body_length = 1u << 20;
  WritePlain("x.hdr", broken);
  std::uint64_t size = WritePlain("y.hdr", Plain("t", "r"));

  EXPECT_EQ(ScanCatalogue(folder_),
            Catalogue({fixtures::ExpectedPlainEntry(Plain("t", "r"), "y.hdr", size)}));
}

TEST_F(CatalogueScanTest, WritesTheTrailerOfShortFolders) {
  platform_.SetFreeBytes(5 * kMebibyte - 1);
  struct Case {
    std::string folder;
    std::string trailer_text;  // empty: no trailer
  };
  const Case cases[] = {
      {"C:\\", "C:\t4\t"}, {"D:\\Flights\\", "D:\\Flights\t4\t"}, {"C:", ""}, {"/", ""}, {"", ""},
  };
  for (const Case& c : cases) {
    WorkingFolder folder(platform_, c.folder);
    std::string stream = "records";
    AppendCatalogueTrailer(folder, stream);
    std::string expected = "records";
    if (!c.trailer_text.empty()) {
      expected += c.trailer_text + static_cast<char>(c.trailer_text.size()) + '\0';
    }
    EXPECT_EQ(stream, expected) << c.folder;
    EXPECT_EQ(stream, "records" + fixtures::ExpectedTrailer(c.folder, 5 * kMebibyte - 1));
  }
  platform_.SetFreeBytes(std::uint64_t{3} << 50);  // beyond 32 bits of mebibytes
  std::string stream;
  AppendCatalogueTrailer(WorkingFolder(platform_, "E:\\"), stream);
  EXPECT_EQ(stream.substr(0, stream.size() - 2), "E:\t3221225472\t");
}

// The demo store generator's files list exactly as their descriptions say.
TEST_F(CatalogueScanTest, ListsASampleStore) {
  fixtures::SampleStoreOptions options;
  options.plain_files = 30;
  options.compressed_files = 12;
  options.xml_parameters = 5;
  std::vector<fixtures::SampleFile> files =
      fixtures::WriteSampleStore(platform_, folder_.path(), options);

  struct Expected {
    int pass;
    std::string key;
    fixtures::RecordModel entry;
  };
  std::vector<Expected> expected;
  std::size_t plain = 0;
  std::size_t compressed = 0;
  for (const fixtures::SampleFile& file : files) {
    std::uint64_t size = std::filesystem::file_size(folder_path_.path() / file.name);
    int pass = file.name.find(".hdr") != std::string::npos ? 0 : 1;
    if (file.compressed) {
      expected.push_back({pass, AsciiUpperCase(file.name),
                          fixtures::ExpectedCompressedEntry(
                              fixtures::SampleXmlHeader(compressed++, options), file.name, size)});
    } else {
      expected.push_back({pass, AsciiUpperCase(file.name),
                          fixtures::ExpectedPlainEntry(fixtures::SamplePlainFile(plain++, options),
                                                       file.name, size)});
    }
  }
  std::sort(expected.begin(), expected.end(), [](const Expected& a, const Expected& b) {
    return a.pass != b.pass ? a.pass < b.pass : a.key < b.key;
  });
  std::vector<fixtures::RecordModel> entries;
  for (const Expected& e : expected) {
    entries.push_back(e.entry);
  }
  std::string stream = ScanCatalogue(folder_);
  ASSERT_EQ(stream.size(), 42 * kHeaderRecordSize);
  EXPECT_TRUE(stream == Catalogue(entries));
}

// A scan hands the catalogue over a batch at a time; the numbering runs on
// across batches and skips the unreadable files at their edges.
TEST_F(CatalogueScanTest, HandsTheCatalogueOverInBatchesNumberedWithoutGaps) {
  constexpr std::size_t kBatch = CatalogueScan::kBatchFiles;
  const std::size_t total = 2 * kBatch + 5;
  const std::vector<std::size_t> unreadable = {0, kBatch - 1, kBatch, kBatch + 1, total - 1};
  PlainFileDescription broken = Plain("t", "r");
  broken.magic = "quv";
  std::vector<fixtures::RecordModel> expected;
  for (std::size_t i = 0; i < total; ++i) {
    std::string number = std::to_string(10000 + i);
    std::string name = "f" + number.substr(1) + ".quv";
    if (std::find(unreadable.begin(), unreadable.end(), i) != unreadable.end()) {
      WritePlain(name, broken);
    } else {
      expected.push_back(
          fixtures::ExpectedPlainEntry(Plain("t", "r"), name, WritePlain(name, Plain("t", "r"))));
    }
  }

  CatalogueScan scan(folder_);
  std::string stream;
  std::vector<std::size_t> batch_records;
  std::string_view records;
  while (scan.ReadNextBatch(records)) {
    ASSERT_EQ(records.size() % kHeaderRecordSize, 0u);
    batch_records.push_back(records.size() / kHeaderRecordSize);
    stream += records;
  }
  EXPECT_EQ(batch_records, (std::vector<std::size_t>{kBatch - 2, kBatch - 2, 4}));
  EXPECT_TRUE(stream == Catalogue(expected));
  EXPECT_FALSE(scan.ReadNextBatch(records));
  EXPECT_TRUE(ScanCatalogue(folder_) == stream);
}

}  // namespace
}  // namespace sqv64
