#include "catalogue/header_record.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "text/label_table.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

constexpr unsigned char kFiller = '.';
constexpr char kTab = '\t';

// Label ids of the seven standard titles (the title of item n is 49 + n) and
// of the placeholder for an empty type or registration.
constexpr std::int32_t kFirstTitleLabel = 50;
constexpr std::int32_t kWithoutNameLabel = -50;
constexpr std::uint16_t kStandardItems = 7;

// The label texts never change; they are looked up once.
const std::string& StandardTitle(std::uint16_t n) {
  static const std::array<std::string, kStandardItems> titles = [] {
    std::array<std::string, kStandardItems> texts;
    for (std::uint16_t k = 1; k <= kStandardItems; ++k) {
      texts[k - 1] = Label(LabelLanguage, kFirstTitleLabel - 1 + k);
    }
    return texts;
  }();
  return titles[n - 1];
}

const std::string& WithoutName() {
  static const std::string text = Label(LabelLanguage, kWithoutNameLabel);
  return text;
}

unsigned char* ItemText(HeaderRecord& record) {
  return record.bytes.data() + kItemTextOffset + 1;
}
const unsigned char* ItemText(const HeaderRecord& record) {
  return record.bytes.data() + kItemTextOffset + 1;
}

// The number of items the tables can describe.
std::uint16_t UsableItemCount(const HeaderRecord& record) {
  return std::min(record.ItemCount(), kMaxItems);
}

bool IsItem(const HeaderRecord& record, std::uint16_t n) {
  return n >= 1 && n <= UsableItemCount(record);
}

// The number of positions that items 1 to n - 1 take, as the tables claim;
// it may exceed the area.
std::size_t UsedBefore(const HeaderRecord& record, std::uint16_t n) {
  std::size_t used = 0;
  for (std::uint16_t k = 1; k < n; ++k) {
    used += record.TitleLength(k) + record.ValueLength(k);
  }
  return used;
}

// Replaces the entry of `length_offset` + n, whose text starts after
// position `begin`, by `text`; the old bytes behind it move with the new
// end, and what passes position 2000 is dropped.
void ReplaceEntry(HeaderRecord& record, std::size_t begin, std::size_t length_offset,
                  std::string_view text) {
  text = text.substr(0, kMaxItemTextLength);
  std::size_t old_end = begin + record.bytes[length_offset];
  std::size_t new_end = begin + text.size();
  record.bytes[length_offset] = static_cast<unsigned char>(text.size());
  if (begin >= kItemTextSize) {
    return;
  }
  unsigned char* area = ItemText(record);
  if (new_end != old_end && new_end < kItemTextSize) {
    std::size_t old_tail = old_end < kItemTextSize ? kItemTextSize - old_end : 0;
    std::size_t moved = std::min(old_tail, kItemTextSize - new_end);
    if (moved > 0) {
      std::memmove(area + new_end, area + old_end, moved);
    }
    std::fill(area + new_end + moved, area + kItemTextSize, kFiller);
  }
  std::memcpy(area + begin, text.data(), std::min(text.size(), kItemTextSize - begin));
}

void ZeroBytes(HeaderRecord& record, std::size_t offset, std::size_t size) {
  std::fill_n(record.bytes.begin() + static_cast<std::ptrdiff_t>(offset), size, 0);
}

}  // namespace

std::uint32_t HeaderRecord::Uint32At(std::size_t offset) const {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void HeaderRecord::SetUint32At(std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

double HeaderRecord::DoubleAt(std::size_t offset) const {
  std::uint64_t pattern = 0;
  for (int i = 7; i >= 0; --i) {
    pattern = pattern << 8 | bytes[offset + i];
  }
  return std::bit_cast<double>(pattern);
}

void HeaderRecord::SetDoubleAt(std::size_t offset, double value) {
  auto pattern = std::bit_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i) {
    bytes[offset + i] = static_cast<unsigned char>(pattern >> (8 * i));
  }
}

void InitHeader(HeaderRecord& record) {
  unsigned char* area = ItemText(record);
  std::fill(area, area + kItemTextSize, kFiller);

  record.SetItemCount(kStandardItems);
  std::size_t position = 0;
  for (std::uint16_t n = 1; n <= kStandardItems; ++n) {
    const std::string& title = StandardTitle(n);
    std::string_view value = n == 1 ? "" : "   ";
    std::memcpy(area + position, title.data(), title.size());
    position += title.size();
    std::memcpy(area + position, value.data(), value.size());
    position += value.size();
    record.bytes[kTitleLengthOffset + n] = static_cast<unsigned char>(title.size());
    record.bytes[kValueLengthOffset + n] = static_cast<unsigned char>(value.size());
  }

  // The numeric fields at the start of the record.
  ZeroBytes(record, 0, 34);
  record.SetUint16At(36, 64);
  record.SetUint16At(38, 1);
  record.SetUint16At(40, 1);
  record.SetUint16At(42, 15);
  record.SetUint16At(44, 1);
  record.SetUint16At(46, 1);

  // The numeric fields at its end.
  ZeroBytes(record, 3208, 30);  // both EA_Time values, 3224, 3226 to 3237
  ZeroBytes(record, 3244, 14);
  ZeroBytes(record, 3266, 10);
  record.SetSrcFileCode(2);
  ZeroBytes(record, 3308, 92);
  record.bytes[3400] = 0x00;
  record.bytes[3401] = 0x00;
  record.bytes[3402] = 0x80;
  record.bytes[3403] = 0x3F;
  ZeroBytes(record, 3404, 4);

  WriteFreeText(record, "");
}

std::string GetItemValue(const HeaderRecord& record, std::uint16_t n) {
  if (!IsItem(record, n)) {
    return {};
  }
  std::size_t begin = UsedBefore(record, n) + record.TitleLength(n);
  std::size_t end = std::min(begin + record.ValueLength(n), kItemTextSize);
  if (begin >= end) {
    return {};
  }
  std::string_view value(reinterpret_cast<const char*>(ItemText(record)) + begin, end - begin);
  std::size_t last = value.find_last_not_of(' ');
  if (last == std::string_view::npos) {
    return {};
  }
  return std::string(value.substr(0, last + 1));
}

void SetItemTitle(HeaderRecord& record, std::uint16_t n, std::string_view text) {
  if (!IsItem(record, n)) {
    return;
  }
  ReplaceEntry(record, UsedBefore(record, n), kTitleLengthOffset + n, text);
}

void SetItemValue(HeaderRecord& record, std::uint16_t n, std::string_view text) {
  if (!IsItem(record, n)) {
    return;
  }
  ReplaceEntry(record, UsedBefore(record, n) + record.TitleLength(n), kValueLengthOffset + n, text);
}

bool AppendItem(HeaderRecord& record, std::string_view title, std::string_view value) {
  std::uint16_t count = record.ItemCount();
  if (count >= kMaxItems) {
    return false;
  }
  record.SetItemCount(static_cast<std::uint16_t>(count + 1));
  SetItemTitle(record, count + 1, title);
  SetItemValue(record, count + 1, value);
  return true;
}

void WriteFreeText(HeaderRecord& record, std::string_view text) {
  std::size_t used = UsedBefore(record, static_cast<std::uint16_t>(UsableItemCount(record) + 1));
  if (used + 2 >= kItemTextSize) {
    return;
  }
  unsigned char* area = ItemText(record);
  std::size_t written = std::min(text.size(), kItemTextSize - used - 2);
  std::memcpy(area + used + 2, text.data(), written);
  std::fill(area + used + 2 + written, area + kItemTextSize, kFiller);
  area[used] = static_cast<unsigned char>(written);
  area[used + 1] = static_cast<unsigned char>(written >> 8);
}

void NormaliseHeader(HeaderRecord& record) {
  std::uint16_t old_count = record.ItemCount();
  if (old_count < kStandardItems) {
    record.SetItemCount(kStandardItems);
    for (std::uint16_t n = old_count + 1; n <= kStandardItems; ++n) {
      SetItemTitle(record, n, " ");
      SetItemValue(record, n, "");
    }
  }
  for (std::uint16_t n = 1; n <= kStandardItems; ++n) {
    SetItemTitle(record, n, StandardTitle(n));
  }
  for (std::uint16_t n = 1; n <= 2; ++n) {
    if (TrimSpaces(GetItemValue(record, n)).empty()) {
      SetItemValue(record, n, WithoutName());
    }
  }
}

bool WriteListName(HeaderRecord& record, std::string_view name) {
  if (name.size() + 1 > kListNameSize) {
    return false;
  }
  std::size_t top = kListNameOffset + kListNameSize - 1;
  for (std::size_t i = 0; i < name.size(); ++i) {
    record.bytes[top - i] = static_cast<unsigned char>(name[i]);
  }
  record.bytes[top - name.size()] = kTab;
  return true;
}

std::string ReadListName(const HeaderRecord& record) {
  std::string name;
  for (std::size_t offset = kListNameOffset + kListNameSize; offset > kListNameOffset; --offset) {
    char byte = static_cast<char>(record.bytes[offset - 1]);
    if (byte == kTab) {
      break;
    }
    name.push_back(byte);
  }
  return name;
}

}  // namespace sqv64
