// The 3408-byte header record that describes one flight data file: stored
// verbatim in plain data files, built from the XML header of compressed
// ones, and sent to clients as one entry of the file list. The layout is a
// file and wire format (little-endian, no padding), so the record is kept
// as raw bytes with typed accessors for the fields the server interprets.
//
// Items are pairs of 8-bit texts (title, value) packed one after another into
// the 2000-byte ItemText area; only their lengths are kept, in two tables of
// 100 entries. The operations below never read or write past position 2000
// of ItemText, nor past the record, whatever the tables of a record taken
// from a file claim; texts longer than 255 bytes are cut to 255, and item
// numbers above 100 are ignored.
//
// Thread safety: a record is a plain value; one owner at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sqv64 {

inline constexpr std::size_t kHeaderRecordSize = 3408;

// Offsets of the fields the server interprets.
inline constexpr std::size_t kListIndexOffset = 0;
inline constexpr std::size_t kItemCountOffset = 106;
inline constexpr std::size_t kTitleLengthOffset = 107;  // + n, for item n from 1
inline constexpr std::size_t kValueLengthOffset = 207;  // + n, for item n from 1
inline constexpr std::size_t kItemTextOffset = 307;     // + p, for position p from 1
inline constexpr std::size_t kListNameOffset = 2358;
inline constexpr std::size_t kListNameSize = 800;
inline constexpr std::size_t kFirstEaTimeOffset = 3208;
inline constexpr std::size_t kSecondEaTimeOffset = 3216;
inline constexpr std::size_t kSrcFileOffset = 3277;

inline constexpr std::size_t kItemTextSize = 2000;
inline constexpr std::uint16_t kMaxItems = 100;
inline constexpr std::size_t kMaxItemTextLength = 255;

struct HeaderRecord {
  std::array<unsigned char, kHeaderRecordSize> bytes{};

  std::uint16_t Uint16At(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
  }
  void SetUint16At(std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<unsigned char>(value);
    bytes[offset + 1] = static_cast<unsigned char>(value >> 8);
  }
  std::uint32_t Uint32At(std::size_t offset) const;
  void SetUint32At(std::size_t offset, std::uint32_t value);
  double DoubleAt(std::size_t offset) const;
  void SetDoubleAt(std::size_t offset, double value);

  // Number of titled items as stored; may exceed 100 in a record from a file.
  std::uint16_t ItemCount() const { return Uint16At(kItemCountOffset); }
  void SetItemCount(std::uint16_t count) { SetUint16At(kItemCountOffset, count); }
  // Length entries of item n, 1 to 100.
  std::uint8_t TitleLength(std::uint16_t n) const { return bytes[kTitleLengthOffset + n]; }
  std::uint8_t ValueLength(std::uint16_t n) const { return bytes[kValueLengthOffset + n]; }

  // The file's place in the list (first four bytes of a catalogue entry).
  std::uint32_t ListIndex() const { return Uint32At(kListIndexOffset); }
  void SetListIndex(std::uint32_t index) { SetUint32At(kListIndexOffset, index); }

  std::uint8_t SrcFileCode() const { return bytes[kSrcFileOffset]; }
  void SetSrcFileCode(std::uint8_t code) { bytes[kSrcFileOffset] = code; }
};

// The defaults of a fresh record: the seven standard items with empty values
// (item 1 empty, items 2 to 7 three spaces), an empty FreeText block, and the
// default numeric fields. Bytes without a default keep what they hold.
void InitHeader(HeaderRecord& record);

// The value of item n without its trailing spaces; empty when n is not an
// item or the value is only spaces.
std::string GetItemValue(const HeaderRecord& record, std::uint16_t n);

// Replace the title or value of item n (1 to ItemCount, at most 100); the
// texts behind it move, and what would fall past position 2000 is dropped.
// Nothing happens for any other n.
void SetItemTitle(HeaderRecord& record, std::uint16_t n, std::string_view text);
void SetItemValue(HeaderRecord& record, std::uint16_t n, std::string_view text);

// Adds one item after the last (ItemCount + 1). Returns false, changing
// nothing, when the record already holds 100 items.
bool AppendItem(HeaderRecord& record, std::string_view title, std::string_view value);

// Writes the FreeText block after the last item and fills the rest of
// ItemText with "."; nothing happens when the items leave no room for it.
void WriteFreeText(HeaderRecord& record, std::string_view text);

// Readies a record for the list: at least seven items, the seven standard
// titles, and "Without name" for an empty aircraft type or registration.
void NormaliseHeader(HeaderRecord& record);

// Writes `name` and a TAB backwards into ListName, the name's first byte at
// the top of the area. Returns false, changing nothing, for a name longer
// than the area can hold (799 bytes).
bool WriteListName(HeaderRecord& record, std::string_view name);

// The name that WriteListName stored: the bytes from the top of ListName
// down to the first TAB (the whole area when there is none).
std::string ReadListName(const HeaderRecord& record);

}  // namespace sqv64
