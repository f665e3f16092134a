#include "catalogue/xml_header_reader.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "text/code_page.h"
#include "text/number_parsers.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

// The elements whose place in the document gives them a meaning. Every
// other element, and everything inside it, is passed over.
enum class Role : std::uint8_t {
  kRoot,
  kSrcFile,      // root / Src_File: its text is read
  kPassList,     // root / Pass_List
  kPassStr,      // Pass_List / Pass_Str: one item
  kPassVal,      // Pass_Str / Pass_Val: its text replaces the value
  kPassValExt,   // Pass_Str / Pass_Val_Ext: a composite value
  kExtPassVal,   // Pass_Val_Ext / Pass_Val: its text replaces the value
  kPassValList,  // Pass_Val_Ext / Pass_Val_List: its text is appended
};

bool ReadsText(Role role) {
  return role == Role::kSrcFile || role == Role::kPassVal || role == Role::kExtPassVal ||
         role == Role::kPassValList;
}

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

static_assert(kMaxXmlHeaderSize <= INT_MAX, "pieces are handed to the parser with int lengths");

// Only the first 255 bytes of a title or value are stored, and a Windows-1251
// byte comes from at most four UTF-8 bytes, so a value's text needs no more
// than this many of its bytes. A Src_File text is kept whole: leading zeros
// do not change its number.
constexpr std::size_t kValueTextKept = 4 * kMaxItemTextLength;

void AppendCut(std::string& text, std::string_view more) {
  if (text.size() < kMaxItemTextLength) {
    text.append(more.substr(0, kMaxItemTextLength - text.size()));
  }
}

// The Windows-1251 code page for Expat, which knows only UTF-8, UTF-16,
// ISO-8859-1 and US-ASCII by itself.
int HandleUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  if (!EqualsIgnoringAsciiCase(name, "windows-1251")) {
    return XML_STATUS_ERROR;
  }
  for (int byte = 0; byte < 256; ++byte) {
    info->map[byte] = Windows1251ToUnicode(static_cast<unsigned char>(byte));
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

// The parser reads UTF-8 several times faster than a code page of its
// unknown-encoding interface, so a document whose XML declaration names
// Windows-1251 is turned into UTF-8 on the way in, and the parser is told
// so; the declaration itself is still parsed and checked. A declaration
// placed where this look-out does not find it still reaches the encoding
// handler above.
constexpr std::size_t kDeclarationLookout = 512;

// Whether the document starting with `head` declares Windows-1251; nullopt
// while more bytes are needed to tell (and `complete` is false).
std::optional<bool> DeclaresWindows1251(std::string_view head, bool complete) {
  constexpr std::string_view kOpening = "<?xml";
  std::size_t compared = std::min(head.size(), kOpening.size());
  if (head.substr(0, compared) != kOpening.substr(0, compared)) {
    return false;  // a byte-order mark, another encoding family, or no declaration
  }
  std::size_t end = head.find("?>");
  if (head.size() <= kOpening.size() || end == std::string_view::npos) {
    if (complete || head.size() >= kDeclarationLookout) {
      return false;
    }
    return std::nullopt;
  }
  if (!IsXmlSpace(head[kOpening.size()])) {
    return false;
  }
  std::string_view declaration = head.substr(0, end);
  std::size_t at = declaration.find("encoding");
  while (at != std::string_view::npos && !IsXmlSpace(declaration[at - 1])) {
    at = declaration.find("encoding", at + 1);
  }
  if (at == std::string_view::npos) {
    return false;
  }
  at += 8;
  auto skip_spaces = [&] {
    while (at < declaration.size() && IsXmlSpace(declaration[at])) {
      ++at;
    }
  };
  skip_spaces();
  if (at >= declaration.size() || declaration[at] != '=') {
    return false;
  }
  ++at;
  skip_spaces();
  if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) {
    return false;
  }
  char quote = declaration[at++];
  std::size_t close = declaration.find(quote, at);
  if (close == std::string_view::npos) {
    return false;
  }
  return EqualsIgnoringAsciiCase(declaration.substr(at, close - at), "windows-1251");
}

// Salts for the parser's name hashing. The parser would otherwise ask the
// system for fresh randomness at every document, which costs more than
// parsing a small header; a random value drawn once, stepped for every
// parser, keeps colliding names from being predictable.
unsigned long NextHashSalt() {
  static const unsigned long base = [] {
    std::random_device device;
    return static_cast<unsigned long>(device()) << 16 ^ device();
  }();
  static std::atomic<unsigned long> counter{0};
  return base + counter.fetch_add(0x9E3779B9UL, std::memory_order_relaxed);
}

// The UTF-8 form of every Windows-1251 byte.
struct Utf8Byte {
  char bytes[3];
  std::uint8_t size;
};

const std::array<Utf8Byte, 256>& Windows1251AsUtf8() {
  static const std::array<Utf8Byte, 256> table = [] {
    std::array<Utf8Byte, 256> result{};
    for (int byte = 0; byte < 256; ++byte) {
      std::string utf8 = AnsiToUtf8(std::string(1, static_cast<char>(byte)));
      Utf8Byte& entry = result[static_cast<std::size_t>(byte)];
      entry.size = static_cast<std::uint8_t>(utf8.size());
      std::copy(utf8.begin(), utf8.end(), entry.bytes);
    }
    return result;
  }();
  return table;
}

// Writes `size` Windows-1251 bytes as UTF-8 into `out`, which is grown as
// needed and never shrunk; returns the number of bytes written.
std::size_t ConvertToUtf8(std::vector<char>& out, const char* data, std::size_t size) {
  if (out.size() < size * 3) {
    out.resize(size * 3);
  }
  const std::array<Utf8Byte, 256>& table = Windows1251AsUtf8();
  char* next = out.data();
  for (std::size_t i = 0; i < size; ++i) {
    // Markup is mostly ASCII, which is copied as it is, a run at a time.
    std::size_t ascii = AsciiPrefixLength(std::string_view(data + i, size - i));
    std::memcpy(next, data + i, ascii);
    next += ascii;
    i += ascii;
    if (i == size) {
      break;
    }
    const Utf8Byte& entry = table[static_cast<unsigned char>(data[i])];
    next[0] = entry.bytes[0];
    next[1] = entry.bytes[1];
    next[2] = entry.bytes[2];
    next += entry.size;
  }
  return static_cast<std::size_t>(next - out.data());
}

}  // namespace

struct XmlHeaderReader::State {
  ~State() {
    if (parser != nullptr) {
      XML_ParserFree(parser);
    }
  }

  HeaderRecord* target = nullptr;  // nullptr: no document begun
  HeaderRecord work;               // copied to the target only when the whole document was read
  // Created for the first document, reset for each one after it.
  XML_Parser parser = nullptr;
  // How the bytes reach the parser: not known until the XML declaration
  // has been seen, then as they are or turned from Windows-1251 into UTF-8.
  enum class Input : std::uint8_t { kUndecided, kAsTheyAre, kFromWindows1251 };
  Input input = Input::kUndecided;
  std::string head;             // the first bytes while undecided
  std::vector<char> converted;  // the current piece in UTF-8
  bool failed = false;
  bool finished = false;
  std::size_t bytes_fed = 0;
  std::size_t character_data = 0;

  // The meaningful elements open from the root down, and how many ignored
  // elements are open below them.
  std::vector<Role> path;
  std::size_t ignored_depth = 0;

  // The item being built by the open Pass_Str.
  std::string title;
  std::string value;

  // The child nodes of the open element whose text is read. A text node is
  // a run of character data between markup; a run of white space alone
  // counts as no node.
  enum class Node : std::uint8_t { kNone, kText, kCdata };
  Node current = Node::kNone;
  bool current_has_content = false;
  std::string current_text;
  int nodes = 0;
  std::string node_text;

  // Forgets the previous document and starts one for `record`.
  void Restart(HeaderRecord& record) {
    target = &record;
    work = record;
    input = Input::kUndecided;
    head.clear();
    failed = false;
    finished = false;
    bytes_fed = 0;
    character_data = 0;
    path.clear();
    ignored_depth = 0;
    title.clear();
    value.clear();
    BeginText();
  }

  // Readies the parser, for UTF-8 converted from Windows-1251 or for the
  // document's own encoding.
  bool Begin(bool from_windows1251);
  bool Parse(const char* data, std::size_t size, bool final);

  void Fail() {
    if (!failed) {
      failed = true;
      XML_StopParser(parser, XML_FALSE);
    }
  }

  // Whether the innermost open element is one whose text is read.
  bool InTextElement() const {
    return ignored_depth == 0 && !path.empty() && ReadsText(path.back());
  }

  void BeginText() {
    current = Node::kNone;
    current_has_content = false;
    current_text.clear();
    nodes = 0;
    node_text.clear();
  }

  void CommitNode() {
    if (++nodes > 1) {
      Fail();
      return;
    }
    node_text.swap(current_text);
    current_text.clear();
    current = Node::kNone;
  }

  void EndTextRun() {
    if (current == Node::kText) {
      if (current_has_content) {
        CommitNode();
      } else {
        current = Node::kNone;
        current_text.clear();
      }
    }
  }

  void KeepText(const char* data, std::size_t size) {
    std::size_t limit = path.back() == Role::kSrcFile ? kMaxXmlHeaderSize : kValueTextKept;
    if (current_text.size() < limit) {
      current_text.append(data, std::min(size, limit - current_text.size()));
    }
  }

  // The text of the element that just ended: empty without child nodes,
  // the content of its one text or CDATA node otherwise.
  std::string TakeText() {
    EndTextRun();
    return nodes == 0 ? std::string() : std::move(node_text);
  }

  void StartElement(const XML_Char* name, const XML_Char** attributes) {
    if (failed) {
      return;
    }
    if (path.size() + ignored_depth >= kMaxXmlDepth) {
      Fail();  // deeper than any header: the parser would keep every level
      return;
    }
    if (ignored_depth > 0) {
      ++ignored_depth;
      return;
    }
    if (path.empty()) {
      path.push_back(Role::kRoot);
      return;
    }
    Role parent = path.back();
    if (ReadsText(parent)) {
      Fail();  // an element inside a text that is needed
      return;
    }
    std::string_view tag = name;
    switch (parent) {
      case Role::kRoot:
        if (tag == "Src_File") {
          Enter(Role::kSrcFile);
        } else if (tag == "Pass_List") {
          work.SetItemCount(0);
          Enter(Role::kPassList);
        } else {
          if (tag == "EA_Time") {
            ReadEaTime(attributes);
          }
          ++ignored_depth;
        }
        break;
      case Role::kPassList:
        if (tag == "Pass_Str") {
          title.clear();
          value.clear();
          Enter(Role::kPassStr);
        } else {
          ++ignored_depth;
        }
        break;
      case Role::kPassStr:
        if (tag == "Pass_Val") {
          Enter(Role::kPassVal);
        } else if (tag == "Pass_Val_Ext") {
          Enter(Role::kPassValExt);
        } else {
          if (tag == "Pass_Fld") {
            ReadTitle(attributes);
          }
          ++ignored_depth;
        }
        break;
      case Role::kPassValExt:
        if (tag == "Pass_Val") {
          Enter(Role::kExtPassVal);
        } else if (tag == "Pass_Val_List") {
          Enter(Role::kPassValList);
        } else {
          ++ignored_depth;
        }
        break;
      default:
        ++ignored_depth;
        break;
    }
  }

  void Enter(Role role) {
    path.push_back(role);
    if (ReadsText(role)) {
      BeginText();
    }
  }

  void EndElement() {
    if (failed) {
      return;
    }
    if (ignored_depth > 0) {
      --ignored_depth;
      return;
    }
    Role role = path.back();
    std::string text;
    if (ReadsText(role)) {
      text = TakeText();
      if (failed) {
        return;
      }
    }
    path.pop_back();
    switch (role) {
      case Role::kSrcFile:
        work.SetSrcFileCode(static_cast<std::uint8_t>(TextToWord(Utf8ToUnicode(text)) & 0xFF));
        break;
      case Role::kPassVal:
      case Role::kExtPassVal:
        value.clear();
        AppendCut(value, Utf8ToAnsi(text));
        break;
      case Role::kPassValList:
        AppendCut(value, "\t");
        AppendCut(value, Utf8ToAnsi(text));
        break;
      case Role::kPassValExt:
        AppendCut(value, "\t");
        break;
      case Role::kPassStr:
        if (!title.empty()) {
          AppendItem(work, title, value);  // items beyond the hundredth are dropped
        }
        break;
      case Role::kRoot:
      case Role::kPassList:
        break;
    }
  }

  void ReadEaTime(const XML_Char** attributes) {
    if (attributes[0] == nullptr || attributes[2] == nullptr) {
      return;
    }
    // The values go through the 8-bit code page first, as every text does.
    work.SetDoubleAt(kFirstEaTimeOffset, TextToFloat(AnsiToUnicode(Utf8ToAnsi(attributes[1]))));
    work.SetDoubleAt(kSecondEaTimeOffset, TextToFloat(AnsiToUnicode(Utf8ToAnsi(attributes[3]))));
  }

  void ReadTitle(const XML_Char** attributes) {
    if (attributes[0] == nullptr) {
      return;
    }
    const XML_Char* chosen = attributes[2] != nullptr ? attributes[3] : attributes[1];
    title.clear();
    AppendCut(title, Utf8ToAnsi(chosen));
  }

  void CharacterData(const XML_Char* data, int length) {
    character_data += static_cast<std::size_t>(length);
    if (character_data > kMaxXmlHeaderSize) {
      Fail();  // entities that expand beyond the limit
      return;
    }
    if (failed || !InTextElement()) {
      return;
    }
    auto size = static_cast<std::size_t>(length);
    if (current == Node::kNone) {
      current = Node::kText;
      current_has_content = false;
      current_text.clear();
    }
    if (current == Node::kText && !current_has_content) {
      for (std::size_t i = 0; i < size; ++i) {
        if (!IsXmlSpace(data[i])) {
          current_has_content = true;
          break;
        }
      }
    }
    KeepText(data, size);
  }

  void StartCdata() {
    if (failed || !InTextElement()) {
      return;
    }
    EndTextRun();
    current = Node::kCdata;
    current_text.clear();
  }

  void EndCdata() {
    if (failed || !InTextElement()) {
      return;
    }
    CommitNode();
  }

  // A comment, processing instruction or entity reference: a child node
  // that is not text.
  void OtherNode() {
    if (!failed && InTextElement()) {
      Fail();
    }
  }
};

XmlHeaderReader::XmlHeaderReader() : state_(std::make_unique<State>()) {}

XmlHeaderReader::XmlHeaderReader(HeaderRecord& record) : XmlHeaderReader() {
  Begin(record);
}

XmlHeaderReader::~XmlHeaderReader() = default;

void XmlHeaderReader::Begin(HeaderRecord& record) {
  state_->Restart(record);
}

bool XmlHeaderReader::State::Begin(bool from_windows1251) {
  input = from_windows1251 ? Input::kFromWindows1251 : Input::kAsTheyAre;
  const XML_Char* encoding = from_windows1251 ? "UTF-8" : nullptr;
  // A reset parser keeps the memory it grew for earlier documents.
  if (parser == nullptr || !XML_ParserReset(parser, encoding)) {
    if (parser != nullptr) {
      XML_ParserFree(parser);
    }
    parser = XML_ParserCreate(encoding);
  }
  if (parser == nullptr) {
    failed = true;
    return false;
  }
  XML_SetHashSalt(parser, NextHashSalt());
  XML_SetUserData(parser, this);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetUnknownEncodingHandler(parser, HandleUnknownEncoding, nullptr);
  XML_SetElementHandler(
      parser,
      [](void* user, const XML_Char* name, const XML_Char** attributes) {
        static_cast<State*>(user)->StartElement(name, attributes);
      },
      [](void* user, const XML_Char*) { static_cast<State*>(user)->EndElement(); });
  XML_SetCharacterDataHandler(parser, [](void* user, const XML_Char* data, int length) {
    static_cast<State*>(user)->CharacterData(data, length);
  });
  XML_SetCdataSectionHandler(
      parser, [](void* user) { static_cast<State*>(user)->StartCdata(); },
      [](void* user) { static_cast<State*>(user)->EndCdata(); });
  XML_SetCommentHandler(
      parser, [](void* user, const XML_Char*) { static_cast<State*>(user)->OtherNode(); });
  XML_SetProcessingInstructionHandler(parser, [](void* user, const XML_Char*, const XML_Char*) {
    static_cast<State*>(user)->OtherNode();
  });
  // External entities are never fetched: a reference to one stands in the
  // document as a node without text.
  XML_SetExternalEntityRefHandler(parser,
                                  [](XML_Parser self, const XML_Char*, const XML_Char*,
                                     const XML_Char*, const XML_Char*) -> int {
                                    static_cast<State*>(XML_GetUserData(self))->OtherNode();
                                    return XML_STATUS_OK;
                                  });
  XML_SetSkippedEntityHandler(
      parser, [](void* user, const XML_Char*, int) { static_cast<State*>(user)->OtherNode(); });
  return true;
}

bool XmlHeaderReader::State::Parse(const char* data, std::size_t size, bool final) {
  if (input == Input::kFromWindows1251) {
    size = ConvertToUtf8(converted, data, size);
    data = converted.data();
  }
  // The size limit keeps every piece within the parser's int lengths.
  if (XML_Parse(parser, data, static_cast<int>(size), final ? XML_TRUE : XML_FALSE) !=
      XML_STATUS_OK) {
    failed = true;
  }
  return !failed;
}

bool XmlHeaderReader::Feed(const char* data, std::size_t size) {
  State& state = *state_;
  if (state.target == nullptr || state.failed || state.finished) {
    return false;
  }
  state.bytes_fed += size;
  if (state.bytes_fed > kMaxXmlHeaderSize) {
    state.failed = true;
    return false;
  }
  if (state.input != State::Input::kUndecided) {
    return state.Parse(data, size, false);
  }
  // Until the declaration is known, the first bytes wait in `head`.
  if (state.head.empty()) {
    std::optional<bool> windows1251 = DeclaresWindows1251(std::string_view(data, size), false);
    if (windows1251) {
      return state.Begin(*windows1251) && state.Parse(data, size, false);
    }
    state.head.assign(data, size);
    return true;
  }
  state.head.append(data, size);
  std::optional<bool> windows1251 = DeclaresWindows1251(state.head, false);
  if (!windows1251) {
    return true;
  }
  std::string head = std::move(state.head);
  return state.Begin(*windows1251) && state.Parse(head.data(), head.size(), false);
}

bool XmlHeaderReader::Finish() {
  State& state = *state_;
  if (state.target == nullptr || state.failed || state.finished) {
    return false;
  }
  state.finished = true;
  if (state.bytes_fed == 0) {
    state.failed = true;
    return false;
  }
  if (state.input == State::Input::kUndecided) {
    std::string head = std::move(state.head);
    if (!state.Begin(*DeclaresWindows1251(head, true)) ||
        !state.Parse(head.data(), head.size(), true)) {
      return false;
    }
  } else if (!state.Parse(nullptr, 0, true)) {
    return false;
  }
  *state.target = state.work;
  return true;
}

bool ReadXmlHeader(std::string_view document, HeaderRecord& record) {
  XmlHeaderReader reader(record);
  return reader.Feed(document.data(), document.size()) && reader.Finish();
}

}  // namespace sqv64
