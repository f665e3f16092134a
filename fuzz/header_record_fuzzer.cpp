// A header record taken from a plain file, readied for the list as the data
// file reader does it: normalised, given its size text and its name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "catalogue/header_record.h"

using namespace sqv64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  HeaderRecord record;
  std::size_t taken = std::min(size, kHeaderRecordSize);
  std::memcpy(record.bytes.data(), data, taken);
  std::string_view rest(reinterpret_cast<const char*>(data) + taken, size - taken);
  // What follows the record: the size text, a TAB, then the file's name.
  std::size_t tab = rest.find('\t');
  std::string_view size_text = rest.substr(0, tab);
  std::string_view name = tab == std::string_view::npos ? "" : rest.substr(tab + 1);

  NormaliseHeader(record);
  if (record.ItemCount() < 7)
    std::abort();
  SetItemValue(record, 7, size_text);
  for (std::uint16_t n = 0; n <= kMaxItems + 1; ++n) {
    std::string value = GetItemValue(record, n);
    if (value.size() > kMaxItemTextLength)
      std::abort();
  }
  HeaderRecord before = record;
  if (WriteListName(record, name)) {
    std::string_view expected = name.substr(0, name.find('\t'));
    if (ReadListName(record) != expected)
      std::abort();
  } else if (record.bytes != before.bytes) {
    std::abort();  // a refused name changes nothing
  }
  return 0;
}
