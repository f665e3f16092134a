// Reads the XML header document of a compressed data file into a
// HeaderRecord: the Src_File code, the two EA_Time numbers and the titled
// items of the last Pass_List of the root element.
//
// The document is parsed as a stream (Expat), so the caller may hand it over
// in pieces as it is inflated; it is never held whole. UTF-8, UTF-16 (with
// or without a byte-order mark) and Windows-1251 documents are read; all
// texts are stored as Windows-1251. No external entity or DTD is ever
// loaded, and a document larger than kMaxXmlHeaderSize (counting the text
// its entities expand to), or with elements nested deeper than
// kMaxXmlDepth, is unreadable.
//
// On failure the record is left exactly as it was; on success it holds what
// the document says over the defaults it came with.
//
// One reader may read any number of documents, one after the other; it
// keeps its parser and buffers from one to the next, which makes the
// documents after the first cheaper to read.
//
// Thread safety: each reader owns its own parser; readers on different
// threads are independent. One reader is used by one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "catalogue/header_record.h"

namespace sqv64 {

inline constexpr std::size_t kMaxXmlHeaderSize = std::size_t{64} << 20;
// Real headers are five elements deep; the parser keeps every open element.
inline constexpr std::size_t kMaxXmlDepth = 256;

class XmlHeaderReader {
 public:
  // A reader with no document begun.
  XmlHeaderReader();
  // A reader with the document for `record` begun.
  explicit XmlHeaderReader(HeaderRecord& record);
  ~XmlHeaderReader();
  XmlHeaderReader(const XmlHeaderReader&) = delete;
  XmlHeaderReader& operator=(const XmlHeaderReader&) = delete;

  // Starts a new document, whatever became of the one before. `record`
  // should already hold InitHeader's defaults; it must outlive the document
  // and is written only by a successful Finish.
  void Begin(HeaderRecord& record);

  // The next piece of the document. Returns false as soon as the document is
  // known to be unreadable; further pieces are then ignored.
  bool Feed(const char* data, std::size_t size);
  // Ends the document. True when it was read whole and the record updated.
  bool Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The whole document at once.
bool ReadXmlHeader(std::string_view document, HeaderRecord& record);

}  // namespace sqv64
