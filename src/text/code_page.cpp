#include "text/code_page.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace sqv64 {
namespace {

// Unicode characters of the bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

constexpr char kReplacement = '?';
constexpr char32_t kBadCharacter = 0xFFFFFFFF;

// Decodes one UTF-8 character at `position` and advances past it. A malformed
// sequence yields kBadCharacter and advances past its longest valid prefix.
char32_t DecodeUtf8(std::string_view text, std::size_t& position) {
  auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
  unsigned char lead = byte(position++);
  if (lead < 0x80) {
    return lead;
  }
  int trailing;
  char32_t character;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1, character = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2, character = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3, character = lead & 0x07, minimum = 0x10000;
  } else {
    return kBadCharacter;
  }
  for (int i = 0; i < trailing; ++i) {
    if (position >= text.size() || (byte(position) & 0xC0) != 0x80) {
      return kBadCharacter;
    }
    char32_t extended = (character << 6) | (byte(position) & 0x3F);
    // Overlong forms, surrogates and values beyond U+10FFFF show at the
    // second byte; that byte then starts the next character afresh.
    if (i == 0) {
      char32_t shift = 6 * static_cast<char32_t>(trailing - 1);
      char32_t smallest = extended << shift;
      char32_t largest = ((extended + 1) << shift) - 1;
      if (largest < minimum || smallest > 0x10FFFF || (smallest >= 0xD800 && largest <= 0xDFFF)) {
        return kBadCharacter;
      }
    }
    character = extended;
    ++position;
  }
  return character;
}

// Decodes one UTF-16 character at `position` and advances past it.
char32_t DecodeUtf16(std::u16string_view text, std::size_t& position) {
  char32_t unit = text[position++];
  if (unit < 0xD800 || unit > 0xDFFF) {
    return unit;
  }
  if (unit <= 0xDBFF && position < text.size() && text[position] >= 0xDC00 &&
      text[position] <= 0xDFFF) {
    char32_t low = text[position++];
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  return kBadCharacter;
}

void AppendAnsi(std::string& out, char32_t character) {
  auto byte = UnicodeToWindows1251(character);
  out.push_back(byte ? static_cast<char>(*byte) : kReplacement);
}

void AppendUtf8(std::string& out, char32_t character) {
  if (character == kBadCharacter) {
    out.push_back(kReplacement);
  } else if (character < 0x80) {
    out.push_back(static_cast<char>(character));
  } else if (character < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (character >> 6)));
    out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
  } else if (character < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (character >> 12)));
    out.push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (character >> 18)));
    out.push_back(static_cast<char>(0x80 | ((character >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t character) {
  if (character == kBadCharacter) {
    out.push_back(u'?');
  } else if (character < 0x10000) {
    out.push_back(static_cast<char16_t>(character));
  } else {
    character -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (character >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (character & 0x3FF)));
  }
}

}  // namespace

char16_t Windows1251ToUnicode(unsigned char byte) {
  return byte < 0x80 ? static_cast<char16_t>(byte) : kHighHalf[byte - 0x80];
}

std::optional<unsigned char> UnicodeToWindows1251(char32_t character) {
  if (character < 0x80) {
    return static_cast<unsigned char>(character);
  }
  // The Cyrillic block is contiguous in both code pages.
  if (character >= 0x0410 && character <= 0x044F) {
    return static_cast<unsigned char>(character - 0x0410 + 0xC0);
  }
  for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
    if (kHighHalf[i] == character) {
      return static_cast<unsigned char>(0x80 + i);
    }
  }
  return std::nullopt;
}

std::u16string AnsiToUnicode(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char byte : text) {
    out.push_back(Windows1251ToUnicode(static_cast<unsigned char>(byte)));
  }
  return out;
}

std::string UnicodeToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t position = 0; position < text.size();) {
    AppendAnsi(out, DecodeUtf16(text, position));
  }
  return out;
}

std::size_t AsciiPrefixLength(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::size_t position = 0;
  for (; position + 8 <= text.size(); position += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + position, 8);
    if ((word & kHighBits) != 0) {
      break;
    }
  }
  while (position < text.size() && static_cast<unsigned char>(text[position]) < 0x80) {
    ++position;
  }
  return position;
}

std::string Utf8ToAnsi(std::string_view text) {
  std::size_t ascii = AsciiPrefixLength(text);
  std::string out(text.substr(0, ascii));
  if (ascii == text.size()) {
    return out;
  }
  out.reserve(text.size());
  for (std::size_t position = ascii; position < text.size();) {
    AppendAnsi(out, DecodeUtf8(text, position));
  }
  return out;
}

std::string AnsiToUtf8(std::string_view text) {
  std::size_t ascii = AsciiPrefixLength(text);
  std::string out(text.substr(0, ascii));
  if (ascii == text.size()) {
    return out;
  }
  out.reserve(text.size() + (text.size() - ascii));
  for (char byte : text.substr(ascii)) {
    AppendUtf8(out, Windows1251ToUnicode(static_cast<unsigned char>(byte)));
  }
  return out;
}

std::u16string Utf8ToUnicode(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t position = 0; position < text.size();) {
    AppendUtf16(out, DecodeUtf8(text, position));
  }
  return out;
}

std::string UnicodeToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t position = 0; position < text.size();) {
    AppendUtf8(out, DecodeUtf16(text, position));
  }
  return out;
}

}  // namespace sqv64
