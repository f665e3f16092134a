// The XML header document of a compressed data file, in any encoding: read
// whole, and read in pieces as the inflater hands it over. Both readings
// must agree, byte for byte of the record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "catalogue/header_record.h"
#include "catalogue/xml_header_reader.h"

using namespace sqv64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1)
    return 0;
  // The first byte chooses the pieces' size; the rest is the document.
  std::size_t piece = 1 + data[0] % 64;
  std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);

  HeaderRecord whole;
  InitHeader(whole);
  bool whole_read = ReadXmlHeader(document, whole);

  static XmlHeaderReader reader;  // reused, as the data file reader reuses it
  HeaderRecord pieces;
  InitHeader(pieces);
  reader.Begin(pieces);
  bool fed = true;
  for (std::size_t at = 0; at < document.size() && fed; at += piece)
    fed = reader.Feed(document.data() + at, std::min(piece, document.size() - at));
  bool pieces_read = reader.Finish();

  if (whole_read != pieces_read || (whole_read && whole.bytes != pieces.bytes))
    std::abort();
  if (!whole_read) {
    // A document that cannot be read leaves the record as it was.
    HeaderRecord fresh;
    InitHeader(fresh);
    if (fresh.bytes != whole.bytes)
      std::abort();
  }
  return 0;
}
