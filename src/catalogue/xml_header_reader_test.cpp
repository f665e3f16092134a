#include "catalogue/xml_header_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "catalogue/header_record.h"
#include "fixtures/data_file_fixtures.h"
#include "support/temporary_folder.h"
#include "text/code_page.h"

namespace sqv64 {
namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n";

std::string Document(const std::string& body) {
  return std::string(kDeclaration) + "<Header>" + body + "</Header>";
}

std::string Entry(const std::string& content) {
  return "<Pass_Str>" + content + "</Pass_Str>";
}

std::string List(const std::string& entries) {
  return "<Pass_List>" + entries + "</Pass_List>";
}

// One entry titled "T" whose value element holds `content`.
std::string ValueDocument(const std::string& content) {
  return Document(List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val>" + content + "</Pass_Val>")));
}

HeaderRecord Fresh() {
  HeaderRecord record;
  InitHeader(record);
  return record;
}

struct Item {
  std::string title;
  std::string value;
};

std::string Title(const HeaderRecord& record, std::uint16_t n) {
  std::size_t start = 0;
  for (std::uint16_t k = 1; k < n; ++k) {
    start += record.TitleLength(k) + record.ValueLength(k);
  }
  return std::string(
      reinterpret_cast<const char*>(record.bytes.data()) + kItemTextOffset + 1 + start,
      record.TitleLength(n));
}

std::vector<Item> Items(const HeaderRecord& record) {
  std::vector<Item> items;
  for (std::uint16_t n = 1; n <= record.ItemCount(); ++n) {
    items.push_back({Title(record, n), GetItemValue(record, n)});
  }
  return items;
}

MATCHER_P(ItemsAre, expected, "") {
  std::vector<Item> actual = Items(arg);
  if (actual.size() != expected.size()) {
    *result_listener << actual.size() << " items";
    return false;
  }
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i].title != expected[i].title || actual[i].value != expected[i].value) {
      *result_listener << "item " << i + 1 << " is \"" << actual[i].title << "\" = \""
                       << actual[i].value << "\"";
      return false;
    }
  }
  return true;
}

// Reads `document` into a fresh record; nullopt on failure, after checking
// that the record was left as it was.
std::optional<HeaderRecord> Read(const std::string& document) {
  HeaderRecord record = Fresh();
  if (ReadXmlHeader(document, record)) {
    return record;
  }
  EXPECT_EQ(record.bytes, Fresh().bytes) << "a failed read changed the record";
  return std::nullopt;
}

TEST(ReadXmlHeader, StoresTheSourceCodeLowByte) {
  struct Case {
    std::string content;
    std::uint8_t code;
  };
  const Case cases[] = {
      {"<Src_File>258</Src_File>", 2},
      {"<Src_File>7</Src_File>", 7},
      {"<Src_File></Src_File>", 0},
      {"<Src_File/>", 0},
      {"<Src_File>abc</Src_File>", 0},
      {"<Src_File>-1</Src_File>", 255},
      {"<Src_File> 42 </Src_File>", 0},  // a trailing space is no integer
      {"<Src_File> +42</Src_File>", 42},
      {"<Src_File>   </Src_File>", 0},
      {"<Src_File>$1FF</Src_File>", 255},
      {"<Src_File><![CDATA[9]]></Src_File>", 9},
      {"<Src_File>1</Src_File><Src_File>5</Src_File>", 5},  // the later one wins
  };
  for (const Case& c : cases) {
    auto record = Read(Document(c.content));
    ASSERT_TRUE(record) << c.content;
    EXPECT_EQ(record->SrcFileCode(), c.code) << c.content;
  }
  // Nothing else changes: the seven default items stay.
  auto record = Read(Document("<Src_File>258</Src_File>"));
  HeaderRecord expected = Fresh();
  expected.SetSrcFileCode(2);
  EXPECT_EQ(record->bytes, expected.bytes);
}

TEST(ReadXmlHeader, ReadsTheFirstTwoAttributesOfEaTime) {
  struct Case {
    std::string element;
    double first;
    double second;
  };
  const Case cases[] = {
      {"<EA_Time Begin=\"12,5\"/>", 0.0, 0.0},
      {"<EA_Time Begin=\"12,5\" End=\"7\"/>", 12.5, 7.0},
      {"<EA_Time z=\"1.25\" a=\"12:30\" b=\"99\"/>", 1.25, 12.3},
      {"<EA_Time a=\"x\" b=\"-2,5\">text<Child/></EA_Time>", 0.0, -2.5},
  };
  for (const Case& c : cases) {
    auto record = Read(Document(c.element));
    ASSERT_TRUE(record) << c.element;
    EXPECT_EQ(record->DoubleAt(kFirstEaTimeOffset), c.first) << c.element;
    EXPECT_DOUBLE_EQ(record->DoubleAt(kSecondEaTimeOffset), c.second) << c.element;
  }
}

TEST(ReadXmlHeader, BuildsItemsFromTheLastPassList) {
  struct Case {
    std::string name;
    std::string body;
    std::vector<Item> items;
  };
  const std::string tab = "\t";
  const Case cases[] = {
      {"three entries in document order",
       List(Entry("<Pass_Fld Name=\"A\"/><Pass_Val>1</Pass_Val>") +
            Entry("<Pass_Fld Name=\"B\"/><Pass_Val>2</Pass_Val>") +
            Entry("<Pass_Fld Name=\"C\"/><Pass_Val>3</Pass_Val>")),
       {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
      {"the second attribute names the entry",
       List(Entry("<Pass_Fld Id=\"first\" Caption=\"second\"/><Pass_Val>v</Pass_Val>")),
       {{"second", "v"}}},
      {"the last titled field wins",
       List(Entry("<Pass_Fld Name=\"A\"/><Pass_Fld/><Pass_Val>v</Pass_Val>") +
            Entry("<Pass_Fld Name=\"A\"/><Pass_Fld Name=\"B\"/>")),
       {{"A", "v"}, {"B", ""}}},
      {"entries without a title add nothing",
       List(Entry("<Pass_Val>lost</Pass_Val>") + Entry("<Pass_Fld/><Pass_Val>lost</Pass_Val>") +
            Entry("<Pass_Fld Name=\"\"/><Pass_Val>lost</Pass_Val>")),
       {}},
      {"a composite value",
       List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val_Ext><Pass_Val>A</Pass_Val>"
                  "<Pass_Val_List>B</Pass_Val_List><Pass_Val_List>C</Pass_Val_List>"
                  "</Pass_Val_Ext>")),
       {{"T", "A" + tab + "B" + tab + "C" + tab}}},
      {"a composite of lists only",
       List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val_Ext><Pass_Val_List>X</Pass_Val_List>"
                  "<Pass_Val_List>Y</Pass_Val_List></Pass_Val_Ext>")),
       {{"T", tab + "X" + tab + "Y" + tab}}},
      {"an empty composite", List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val_Ext/>")), {{"T", tab}}},
      {"a value, then a composite",
       List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val>V</Pass_Val><Pass_Val_Ext>"
                  "<Pass_Val_List>B</Pass_Val_List></Pass_Val_Ext>")),
       {{"T", "V" + tab + "B" + tab}}},
      {"a value inside the composite discards the parts before it",
       List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val_Ext><Pass_Val_List>B</Pass_Val_List>"
                  "<Pass_Val>A</Pass_Val><!-- note --></Pass_Val_Ext>")),
       {{"T", "A" + tab}}},
      {"a value after a composite replaces it",
       List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val_Ext/><Pass_Val>W</Pass_Val>")),
       {{"T", "W"}}},
      {"the last list wins",
       List(Entry("<Pass_Fld Name=\"Old\"/>")) + List(Entry("<Pass_Fld Name=\"New\"/>")),
       {{"New", ""}}},
      {"an empty list", List(""), {}},
      {"names are exact and in their place",
       List("<pass_str><Pass_Fld Name=\"a\"/></pass_str>"
            "<x:Pass_Str xmlns:x=\"urn:x\"><Pass_Fld Name=\"b\"/></x:Pass_Str>" +
            Entry("<Pass_Fld Name=\"c\"/><Pass_Val_List>lost</Pass_Val_List>"
                  "<Other><Pass_Val>lost</Pass_Val></Other>") +
            "<Group>" + Entry("<Pass_Fld Name=\"d\"/>") + "</Group>") +
           Entry("<Pass_Fld Name=\"e\"/>") + "<Other>" + List("") + "</Other>",
       {{"c", ""}}},
      {"comments and text around the elements are ignored",
       "<!-- c -->text" +
           List("<!-- c --><?pi x?>text" + Entry("<!-- c -->text<Pass_Fld Name=\"T\">x<!--c-->y"
                                                 "</Pass_Fld><Pass_Val>v</Pass_Val>")),
       {{"T", "v"}}},
  };
  for (const Case& c : cases) {
    auto record = Read(Document(c.body));
    ASSERT_TRUE(record) << c.name;
    EXPECT_THAT(*record, ItemsAre(c.items)) << c.name;
  }
}

TEST(ReadXmlHeader, KeepsTheDefaultsWithoutAPassList) {
  for (std::string document :
       {Document(""), std::string("<Header/>"),
        Document("<Other><Pass_Str><Pass_Fld Name=\"x\"/></Pass_Str></Other>")}) {
    auto record = Read(document);
    ASSERT_TRUE(record) << document;
    EXPECT_EQ(record->bytes, Fresh().bytes) << document;
  }
}

TEST(ReadXmlHeader, TakesTheTextOfAValueFromOneTextOrCdataNode) {
  struct Case {
    std::string content;
    std::optional<std::string> value;  // nullopt: the read fails
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"   \r\n\t ", ""},  // white space alone is no node
      {"  padded", "  padded"},
      {"a &amp; b &lt;c&gt; &#x41;", "a & b <c> A"},
      {"<![CDATA[<raw> & ]]>", "<raw> &"},
      {"<![CDATA[]]>", ""},
      {"\r\n  <![CDATA[x]]>\r\n  ", "x"},
      {"line one\r\nline two", "line one\nline two"},
      {"text<!-- comment -->more", std::nullopt},
      {"<!-- comment -->", std::nullopt},
      {"<?pi data?>", std::nullopt},
      {"text<![CDATA[x]]>", std::nullopt},
      {"<![CDATA[x]]><![CDATA[y]]>", std::nullopt},
      {"<b>bold</b>", std::nullopt},
      {"<b/>", std::nullopt},
  };
  for (const Case& c : cases) {
    auto record = Read(ValueDocument(c.content));
    if (!c.value) {
      EXPECT_FALSE(record) << c.content;
      continue;
    }
    ASSERT_TRUE(record) << c.content;
    EXPECT_THAT(*record, ItemsAre(std::vector<Item>{{"T", *c.value}})) << c.content;
  }
  // Src_File and Pass_Val_List follow the same rule.
  EXPECT_FALSE(Read(Document("<Src_File>1<!--c-->2</Src_File>")));
  EXPECT_FALSE(Read(Document(List(
      Entry("<Pass_Fld "
            "Name=\"T\"/><Pass_Val_Ext><Pass_Val_List>a<b/></Pass_Val_List></Pass_Val_Ext>")))));
}

TEST(ReadXmlHeader, FailsOnADocumentThatIsNotWellFormed) {
  const std::string documents[] = {
      "",
      "not xml",
      "<Header><Src_File>1</Header>",
      "<Header><Src_File>1</Src_File>",
      Document("<Src_File>1</Src_File>") + "<Second/>",
      Document(List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val>v</Pass_Val>"))) + "trailing",
      "<?xml version=\"1.0\" encoding=\"koi8-r\"?><Header/>",
      "<Header a=\"1\" a=\"2\"/>",
      Document("&undefined;"),
  };
  for (const std::string& document : documents) {
    EXPECT_FALSE(Read(document)) << document;
  }
}

TEST(ReadXmlHeader, ReadsTheEncodingsOfTheSuite) {
  // "Тип" and "Ту-154" in Windows-1251.
  const std::string title = "\xD2\xE8\xEF";
  const std::string value = "\xD2\xF3-154";
  using fixtures::XmlEncoding;
  for (XmlEncoding encoding :
       {XmlEncoding::kWindows1251, XmlEncoding::kUtf8, XmlEncoding::kUtf8WithoutDeclaration,
        XmlEncoding::kUtf16LittleEndian, XmlEncoding::kUtf16BigEndian}) {
    fixtures::XmlHeaderDescription header;
    header.encoding = encoding;
    header.src_file = "3";
    header.items = {{title, value, {}}};
    auto record = Read(fixtures::XmlHeaderDocument(header));
    ASSERT_TRUE(record) << static_cast<int>(encoding);
    EXPECT_EQ(record->SrcFileCode(), 3);
    EXPECT_THAT(*record, ItemsAre(std::vector<Item>{{title, value}})) << static_cast<int>(encoding);
  }
  // A byte-order mark before UTF-8, a code page name in capitals, and a
  // character that Windows-1251 lacks.
  EXPECT_TRUE(Read("\xEF\xBB\xBF" + ValueDocument("x").substr(std::string(kDeclaration).size())));
  auto capitals = Read("<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>" +
                       ValueDocument("\xC0").substr(std::string(kDeclaration).size()));
  ASSERT_TRUE(capitals);
  EXPECT_EQ(GetItemValue(*capitals, 1), "\xC0");
  auto chinese = Read(
      "<H><Pass_List><Pass_Str><Pass_Fld N=\"\xE4\xB8\xAD\"/><Pass_Val>a\xE4\xB8\xAD"
      "\xF0\x9F\x98\x80</Pass_Val></Pass_Str></Pass_List></H>");
  ASSERT_TRUE(chinese);
  EXPECT_THAT(*chinese, ItemsAre(std::vector<Item>{{"?", "a??"}}));
}

// Every way of declaring Windows-1251 reads the same texts, whether the
// declaration is short enough to be spotted early or not.
TEST(ReadXmlHeader, ReadsWindows1251HoweverItIsDeclared) {
  std::string every_byte;
  for (int byte = 0x20; byte < 0x100; ++byte) {
    if (byte != '<' && byte != '&') {
      every_byte += static_cast<char>(byte);
    }
  }
  const std::string body =
      "<Header>" +
      List(Entry("<Pass_Fld Name=\"\xD2\xE8\xEF\"/><Pass_Val>" + every_byte + "</Pass_Val>")) +
      "</Header>";
  const std::string declarations[] = {
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>",
      "<?xml version='1.0' encoding='Windows-1251' standalone='yes'?>",
      "<?xml version=\"1.0\"\r\n  encoding = \"WINDOWS-1251\" ?>",
      "<?xml version=\"1.0\"" + std::string(600, ' ') + "encoding=\"windows-1251\"?>",
  };
  for (const std::string& declaration : declarations) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{100000}}) {
      HeaderRecord record = Fresh();
      XmlHeaderReader reader(record);
      std::string document = declaration + body;
      for (std::size_t at = 0; at < document.size(); at += piece) {
        std::string_view part = std::string_view(document).substr(at, piece);
        ASSERT_TRUE(reader.Feed(part.data(), part.size())) << declaration;
      }
      ASSERT_TRUE(reader.Finish()) << declaration;
      EXPECT_THAT(record, ItemsAre(std::vector<Item>{{"\xD2\xE8\xEF", every_byte}}))
          << declaration << " in pieces of " << piece;
    }
  }
  // Declarations that look alike but are not, or are broken.
  EXPECT_FALSE(
      Read("<?xml version=\"1.0\" encoding=\"windows-1251\" standalone=\"maybe\"?>" + body));
  EXPECT_FALSE(Read("<?xml version=\"1.0\" encoding=\"windows-1252x\"?>" + body));
  EXPECT_TRUE(Read("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + body));
  EXPECT_TRUE(Read("<?xml-stylesheet href=\"a\"?>" + AnsiToUtf8(body)));
}

TEST(ReadXmlHeader, NeverLoadsExternalEntitiesOrDtds) {
  testing_support::TemporaryFolder folder;
  std::string secret_file = folder.Write("secret.txt", "SECRET").string();
  std::string dtd_file = folder
                             .Write("header.dtd",
                                    "<!ATTLIST Pass_Fld Name CDATA \"SECRET\">"
                                    "<!ENTITY inner \"SECRET\">")
                             .string();
  auto contains_secret = [](const HeaderRecord& record) {
    return std::string(record.bytes.begin(), record.bytes.end()).find("SECRET") !=
           std::string::npos;
  };
  const std::string external_entity =
      "<!DOCTYPE Header [<!ENTITY ext SYSTEM \"file://" + secret_file + "\">]>";

  // Where its text is needed, the reference stands as a node: the read fails.
  EXPECT_FALSE(Read(external_entity + "<Header>" +
                    List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val>&ext;</Pass_Val>")) + "</Header>"));
  // Elsewhere it is passed over.
  auto ignored = Read(external_entity + "<Header><Other>&ext;</Other>" +
                      List(Entry("<Pass_Fld Name=\"T\"/>")) + "</Header>");
  ASSERT_TRUE(ignored);
  EXPECT_FALSE(contains_secret(*ignored));

  // An external DTD would give Pass_Fld a title; it is not read.
  auto external_dtd = Read("<!DOCTYPE Header SYSTEM \"file://" + dtd_file + "\"><Header>" +
                           List(Entry("<Pass_Fld/><Pass_Val>v</Pass_Val>")) + "</Header>");
  ASSERT_TRUE(external_dtd);
  EXPECT_EQ(external_dtd->ItemCount(), 0);

  // Nor is an external parameter entity; its entities stay unknown.
  auto parameter = Read("<!DOCTYPE Header [<!ENTITY % p SYSTEM \"file://" + dtd_file +
                        "\"> %p;]><Header><Other>&inner;</Other>" +
                        List(Entry("<Pass_Fld Name=\"T\"/>")) + "</Header>");
  ASSERT_TRUE(parameter);
  EXPECT_FALSE(contains_secret(*parameter));
  EXPECT_FALSE(
      Read("<!DOCTYPE Header [<!ENTITY % p SYSTEM \"file://" + dtd_file + "\"> %p;]><Header>" +
           List(Entry("<Pass_Fld Name=\"T\"/><Pass_Val>&inner;</Pass_Val>")) + "</Header>"));
}

TEST(ReadXmlHeader, ExpandsInternalEntitiesButNotWithoutBound) {
  auto record =
      Read("<!DOCTYPE Header [<!ENTITY reg \"RA-85684\">]><Header>" +
           List(Entry("<Pass_Fld Name=\"&reg;\"/><Pass_Val>&reg;/1</Pass_Val>")) + "</Header>");
  ASSERT_TRUE(record);
  EXPECT_THAT(*record, ItemsAre(std::vector<Item>{{"RA-85684", "RA-85684/1"}}));

  // Ten levels of ten: ten thousand million copies.
  std::string laughs = "<!DOCTYPE Header [<!ENTITY l0 \"lol\">";
  for (int level = 1; level <= 10; ++level) {
    laughs += "<!ENTITY l" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) {
      laughs += "&l" + std::to_string(level - 1) + ";";
    }
    laughs += "\">";
  }
  laughs += "]><Header><Other>&l10;</Other></Header>";
  EXPECT_FALSE(Read(laughs));
}

// The parser keeps every open element, so depth is bounded like size: a
// document of a million nested elements would cost the list ~140 MiB.
TEST(ReadXmlHeader, ElementsNestedDeeperThanTheBoundMakeTheDocumentUnreadable) {
  auto nested = [](std::size_t depth, const std::string& around) {
    std::string open;
    std::string close;
    for (std::size_t i = 0; i < depth; ++i) {
      open += "<" + around + ">";
      close += "</" + around + ">";  // one tag name throughout
    }
    return open + close;
  };
  const std::string item = Entry("<Pass_Fld Name=\"T\"/><Pass_Val>v</Pass_Val>");
  // Header, Pass_List, Pass_Str and Pass_Val are four levels of their own.
  struct Case {
    std::string document;
    bool readable;
  } cases[] = {
      {Document(List(item) + nested(kMaxXmlDepth - 1, "x")), true},
      {Document(List(item) + nested(kMaxXmlDepth, "x")), false},
      {Document(nested(kMaxXmlDepth - 1, "Pass_List")), true},
      {Document(nested(kMaxXmlDepth, "Pass_List")), false},
      {Document(List(item) + nested(100000, "x")), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Read(c.document).has_value(), c.readable) << c.document.size();
  }
}

TEST(ReadXmlHeader, CutsLongTextsAndStopsAtAHundredItems) {
  std::string entries;
  for (int i = 1; i <= 150; ++i) {
    entries += Entry("<Pass_Fld Name=\"t" + std::to_string(i) + "\"/><Pass_Val>" +
                     std::to_string(i) + "</Pass_Val>");
  }
  auto many = Read(Document(List(entries)));
  ASSERT_TRUE(many);
  EXPECT_EQ(many->ItemCount(), 100);
  EXPECT_EQ(GetItemValue(*many, 1), "1");
  EXPECT_EQ(GetItemValue(*many, 3), "3");

  std::string parts;
  for (int i = 0; i < 100; ++i) {
    parts += "<Pass_Val_List>part</Pass_Val_List>";
  }
  auto longer = Read(
      Document(List(Entry("<Pass_Fld Name=\"" + std::string(300, 't') + "\"/><Pass_Val>" +
                          std::string(5000, 'v') + "</Pass_Val>") +
                    Entry("<Pass_Fld Name=\"c\"/><Pass_Val_Ext>" + parts + "</Pass_Val_Ext>"))));
  ASSERT_TRUE(longer);
  EXPECT_EQ(longer->TitleLength(1), 255);
  EXPECT_EQ(GetItemValue(*longer, 1), std::string(255, 'v'));
  std::string composite;
  for (int i = 0; i < 100; ++i) {
    composite += "\tpart";
  }
  EXPECT_EQ(GetItemValue(*longer, 2), composite.substr(0, 255));
}

// However the document is cut into pieces, the record comes out the same.
TEST(XmlHeaderReader, GivesTheSameRecordWhateverThePieces) {
  const std::string document = Document(
      "<Src_File>  +0017</Src_File><EA_Time a=\"1,5\" b=\"2\"/>" +
      List(Entry("<Pass_Fld Name=\"\xD2\xE8\xEF\"/><Pass_Val>  \xD2\xF3 &amp; x  </Pass_Val>") +
           Entry("<Pass_Fld Name=\"T\"/><Pass_Val> <![CDATA[c]]> </Pass_Val>") +
           Entry("<Pass_Fld Name=\"E\"/><Pass_Val_Ext><Pass_Val>a</Pass_Val>"
                 "<Pass_Val_List>b</Pass_Val_List></Pass_Val_Ext>")));
  std::string utf8 = AnsiToUtf8(document);
  utf8.replace(utf8.find("windows-1251"), 12, "UTF-8");
  for (const std::string& text : {document, utf8}) {
    HeaderRecord whole = Fresh();
    ASSERT_TRUE(ReadXmlHeader(text, whole));
    for (std::size_t piece : {1, 2, 3, 7, 64}) {
      HeaderRecord record = Fresh();
      XmlHeaderReader reader(record);
      for (std::size_t at = 0; at < text.size(); at += piece) {
        std::string_view part = std::string_view(text).substr(at, piece);
        ASSERT_TRUE(reader.Feed(part.data(), part.size()));
      }
      ASSERT_TRUE(reader.Finish());
      EXPECT_EQ(record.bytes, whole.bytes) << piece;
    }
  }
}

TEST(XmlHeaderReader, RefusesMoreOnceItFailed) {
  HeaderRecord record = Fresh();
  XmlHeaderReader reader(record);
  std::string bad = "<Header><Src_File>1<!--c-->2</Src_File>";
  EXPECT_FALSE(reader.Feed(bad.data(), bad.size()));
  EXPECT_FALSE(reader.Feed("</Header>", 9));
  EXPECT_FALSE(reader.Finish());

  HeaderRecord untouched = Fresh();
  XmlHeaderReader empty(untouched);
  EXPECT_FALSE(empty.Finish());
}

// A reader keeps its parser from one document to the next: whatever became
// of the document before, the next one reads as a fresh reader reads it.
TEST(XmlHeaderReader, ReadsDocumentAfterDocumentAsAFreshReaderWould) {
  const std::string good = Document("<Src_File>7</Src_File>" +
                                    List(Entry("<Pass_Fld Name=\"\xD2\"/><Pass_Val>v</Pass_Val>")));
  std::string utf8 = AnsiToUtf8(good);
  utf8.replace(utf8.find("windows-1251"), 12, "UTF-8");
  const std::string utf16 = fixtures::XmlHeaderDocument(
      {fixtures::XmlEncoding::kUtf16LittleEndian, "Root", "9", {}, {{"T", "w", {}}}, 0});
  const std::string undeclared = "<Header><Src_File>5</Src_File></Header>";
  const std::string malformed = Document("<Src_File>3</Src_File><Open>");
  const std::string broken_text = ValueDocument("a<!--c-->b");  // fails inside a handler
  const std::string documents[] = {good,       malformed, utf8,        broken_text, utf16,
                                   undeclared, good,      broken_text, utf8};

  HeaderRecord record = Fresh();
  XmlHeaderReader reader;
  for (std::size_t i = 0; i < std::size(documents); ++i) {
    HeaderRecord expected = Fresh();
    bool expected_result = ReadXmlHeader(documents[i], expected);
    record = Fresh();
    reader.Begin(record);
    bool result = reader.Feed(documents[i].data(), documents[i].size()) && reader.Finish();
    EXPECT_EQ(result, expected_result) << i;
    EXPECT_EQ(record.bytes, expected.bytes) << i;
  }

  // A document given up half-way does not reach into the next.
  record = Fresh();
  reader.Begin(record);
  ASSERT_TRUE(reader.Feed(good.data(), good.size() / 2));
  HeaderRecord other = Fresh();
  reader.Begin(other);
  ASSERT_TRUE(reader.Feed(utf8.data(), utf8.size()));
  ASSERT_TRUE(reader.Finish());
  EXPECT_EQ(record.bytes, Fresh().bytes);
  EXPECT_EQ(other.bytes[kSrcFileOffset], 7);
  EXPECT_THAT(other, ItemsAre(std::vector<Item>{{"\xD2", "v"}}));
}

TEST(XmlHeaderReader, ReadsNothingBeforeADocumentIsBegun) {
  XmlHeaderReader reader;
  EXPECT_FALSE(reader.Feed("<a/>", 4));
  EXPECT_FALSE(reader.Finish());
}

}  // namespace
}  // namespace sqv64
