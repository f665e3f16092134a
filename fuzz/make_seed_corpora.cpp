// Writes the seed corpus of every fuzz target into <folder>/<target>/, one
// file per seed: data files built by the fixture library, and the protocol,
// FTP and weather texts that real clients and servers send.
//
//   make_seed_corpora FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fixtures/data_file_fixtures.h"
#include "fixtures/sample_store.h"
#include "text/code_page.h"
#include "text/label_table.h"

using namespace sqv64;
using namespace sqv64::fixtures;

namespace {

using Corpus = std::vector<std::string>;

Corpus RequestLines() {
  Corpus seeds = {"PC-01\tGetOK\n", "PC-01\tGetArpt\r\n", "PC-01\tSetMIni",
                  "PC-01\tSetArpt", "PC-01\tDelArpt",     "\tGetOK",
                  "GetOK"};
  const std::vector<std::string> names = {
      "flight.hdr",   "\xCF\xEE\xEB\xB8\xF2.quvx", "metar\\uuee.txt",
      "..\\port.txt", "C:\\Windows\\win.ini",      "sub/..\\x.quv",
      "log.txt",      std::string("a\0b.hdr", 7)};
  for (std::uint8_t language : {std::uint8_t{0}, std::uint8_t{1}}) {
    seeds.push_back(AnsiToUtf8("PC-01\t" + Label(language, 254)));
    for (std::int32_t label : {255, 256, 257, 258}) {
      for (const std::string& name : names)
        seeds.push_back(AnsiToUtf8("\xC8\xE2\xE0\xED\t" + Label(language, label) + " " + name));
    }
  }
  return seeds;
}

std::vector<XmlHeaderDescription> XmlHeaders() {
  std::vector<XmlHeaderDescription> headers;
  SampleStoreOptions options;
  options.xml_parameters = 3;
  for (XmlEncoding encoding :
       {XmlEncoding::kWindows1251, XmlEncoding::kUtf8, XmlEncoding::kUtf8WithoutDeclaration,
        XmlEncoding::kUtf16LittleEndian, XmlEncoding::kUtf16BigEndian}) {
    XmlHeaderDescription header = SampleXmlHeader(headers.size(), options);
    header.encoding = encoding;
    header.src_file = "3";
    header.ea_time = {{"43831.5", "43831.75"}};
    header.items.push_back({"\xC1\xEE\xF0\xF2", "RA-12345", {"first & <second>", "third"}});
    headers.push_back(header);
  }
  return headers;
}

Corpus XmlDocuments() {
  Corpus seeds;
  char piece = 1;
  for (const XmlHeaderDescription& header : XmlHeaders())
    seeds.push_back(std::string(1, piece++ * 7) + XmlHeaderDocument(header));
  seeds.push_back(std::string(1, 3) +
                  "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>");
  seeds.push_back(std::string(1, 5) + "<a><a><a><a><a><a><a><a></a></a></a></a></a></a></a></a>");
  return seeds;
}

Corpus DataFiles() {
  Corpus seeds;
  SampleStoreOptions options;
  options.xml_parameters = 3;
  for (std::size_t index = 0; index < 4; ++index) {
    PlainFileDescription plain = SamplePlainFile(index, options);
    plain.flight_data_length = 64;
    plain.packed = index == 3;
    seeds.push_back(PlainFileBytes(plain));
  }
  for (const XmlHeaderDescription& header : XmlHeaders()) {
    CompressedFileDescription compressed;
    compressed.document = XmlHeaderDocument(header);
    compressed.after_stream = "flight data";
    seeds.push_back(CompressedFileBytes(compressed));
  }
  CompressedFileDescription raw;
  raw.document = XmlHeaderDocument(XmlHeaders()[0]);
  raw.raw_deflate = true;
  seeds.push_back(CompressedFileBytes(raw));
  return seeds;
}

Corpus HeaderRecords() {
  Corpus seeds;
  for (std::size_t index = 0; index < 3; ++index) {
    RecordDescription record;
    record.items = SampleItems(index);
    record.free_text = "Notes of flight " + std::to_string(index);
    auto bytes = RecordBytes(record);
    seeds.push_back(std::string(bytes.begin(), bytes.end()) + "12,3 MB\t" + SamplePlainName(index));
  }
  RecordDescription many;
  for (int n = 0; n < 120; ++n)
    many.items.push_back({"T" + std::to_string(n), std::string(40, 'v')});
  many.item_count = 300;
  auto bytes = RecordBytes(many);
  seeds.push_back(std::string(bytes.begin(), bytes.end()) + "1 KB\t" + std::string(900, 'n'));
  return seeds;
}

Corpus FtpReplies() {
  return {
      "220 Welcome\r\n331 Password required\r\n230 Logged in\r\n",
      "120 Wait\r\n220-Hello\r\n220-there\r\n220 Ready\r\n",
      "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n CLNT\r\n211 End\r\n200 Noted\r\n",
      "227 Entering Passive Mode (192,0,2,7,195,80).\r\n150 Opening\r\n226 Done\r\n",
      "227 =127,0,0,1,4,1\r\n229 Entering Extended Passive Mode (|||50000|)\r\n",
      "421 Service not available\r\n",
  };
}

Corpus FtpListings() {
  return {
      "-rw-r--r--   1 ftp ftp   1234 Sep 14 08:00 UUEE.TXT\r\n"
      "-rw-r--r--   1 ftp ftp    567 Sep 14 08:05 KJFK.TXT\r\n",
      "type=file;size=1234;modify=20200914080000; UUEE.TXT\r\n"
      "type=dir;modify=20200914080000; old\r\n",
      "kabq.txt\nUUDD.TXT\n.TXT\n\n",
  };
}

Corpus Settings() {
  return {
      "Proxy.Host=\r\nProxy.Port=\r\nProxy.Passw=\r\nProxy.User=\r\nProxy.Type=fpcmNone\r\n"
      "Dwnld.Type=0\r\n",
      "proxy.host=Proxy.Example\nproxy.port=70000\nproxy.user=Bob\nproxy.pass=Secret\n"
      "proxy.type=FPCMUSERSITE\ndwnld.type= 1 \nftp.host=127.0.0.1\nftp.port=2121\n",
      "proxy.port=abc\r\ndwnld.type=\r\nproxy.type=unknown\r\nproxy.host =x\r\n",
  };
}

Corpus AirportPayloads() {
  return {"UUEEUUDDKJFK", "uueeUUEE", "UU\\E../.xyzABC", std::string("UU\0E1234", 8), "ABCDE"};
}

Corpus Downloads() {
  const std::string september =
      "2020/09/14 08:00\nUUEE 140800Z 18003MPS CAVOK 15/08 Q1015 NOSIG\n\n"
      "2020/09/15 08:30\nUUEE 150830Z 18004MPS CAVOK 16/08 Q1015 NOSIG\n\n"
      "2020/09/15 09:00\n  KJFK 150900Z 19004KT 10SM CLR 17/08 A2992\n\n";
  return {
      std::string(1, 0) + september,
      std::string(1, 1) + september + "2020/09/15 09:00\nEGLL 150900Z AUTO\r\n\r\n2020/09/16",
      std::string(1, 0) + "2020/13/20 08:00\nUUEE 200800Z\n\n2020/08/31 09:00\nUUEE 310900Z\n",
      std::string(1, 1) + "2020/09/15 08:00\n../x 150800Z\n\n2020/09/15 08:00\nmetar 1\n",
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::map<std::string, Corpus> corpora = {
      {"request_line_fuzzer", RequestLines()}, {"data_file_fuzzer", DataFiles()},
      {"xml_header_fuzzer", XmlDocuments()},   {"header_record_fuzzer", HeaderRecords()},
      {"ftp_reply_fuzzer", FtpReplies()},      {"ftp_listing_fuzzer", FtpListings()},
      {"metar_settings_fuzzer", Settings()},   {"airport_payload_fuzzer", AirportPayloads()},
      {"report_filing_fuzzer", Downloads()},
  };
  for (const auto& [target, seeds] : corpora) {
    std::filesystem::path folder = std::filesystem::path(argv[1]) / target;
    std::filesystem::create_directories(folder);
    for (std::size_t index = 0; index < seeds.size(); ++index) {
      std::ofstream out(folder / ("seed_" + std::to_string(index)), std::ios::binary);
      out << seeds[index];
      if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / target).c_str());
        return 1;
      }
    }
  }
  return 0;
}
