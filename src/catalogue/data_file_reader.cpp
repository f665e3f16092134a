#include "catalogue/data_file_reader.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "catalogue/size_text.h"
#include "catalogue/xml_header_reader.h"
#include "text/label_table.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

using platform::File;
using platform::FileAccess;
using platform::FileCreation;
using platform::FileShare;

constexpr std::size_t kPreambleSize = 16;
constexpr std::size_t kPlainHeaderSize = kPreambleSize + kHeaderRecordSize;  // 3424
constexpr std::uint16_t kSizeItem = 7;
constexpr std::int32_t kArchiveLabel = 8054;

// Compressed files are inflated in pieces of this size.
constexpr std::size_t kInflatedPieceSize = 102400;
constexpr std::size_t kCompressedPieceSize = 16384;

std::uint32_t Uint32At(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::string_view Extension(std::string_view name) {
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool ReadPlainFile(File& file, HeaderRecord& record) {
  unsigned char header[kPlainHeaderSize];
  std::uint64_t size = file.Size();
  std::size_t got = file.Read(header, sizeof header);
  if (got < kPreambleSize || std::memcmp(header + 13, "QUV", 3) != 0) {
    return false;
  }
  bool packed = std::memcmp(header + 4, "PACK", 4) == 0;
  // The body length is checked in 64 bits, so that no length wraps round.
  if (!packed && std::uint64_t{Uint32At(header)} + kPreambleSize > size) {
    return false;
  }
  if (got != kPlainHeaderSize) {
    return false;
  }
  std::memcpy(record.bytes.data(), header + kPreambleSize, kHeaderRecordSize);
  NormaliseHeader(record);
  SetItemValue(record, kSizeItem, packed ? TrimSpaces(Label(0, kArchiveLabel)) : SizeText(size));
  return true;
}

// Skips the prefix in front of the zlib stream: two bytes, two counted
// blocks, then twelve bytes.
bool SkipCompressedPrefix(File& file) {
  unsigned char bytes[4];
  if (file.Read(bytes, 4) != 4) {
    return false;
  }
  std::uint64_t position = 4 + static_cast<std::uint64_t>(bytes[2] | bytes[3] << 8);
  file.Seek(position);
  if (file.Read(bytes, 2) != 2) {
    return false;
  }
  // A file that ends inside the prefix leaves nothing to inflate.
  file.Seek(position + 2 + static_cast<std::uint64_t>(bytes[0] | bytes[1] << 8) + 12);
  return true;
}

bool IsCompressedName(std::string_view name) {
  std::string_view extension = Extension(name);
  return extension == ".hdrx" || extension == ".quvx";
}

// A compressed file is read only while nobody writes it. Other readers are
// welcome: two lists, or a list and a fetch, must not hide each other's
// files.
FileShare ShareToReadWith(std::string_view name) {
  return IsCompressedName(name) ? FileShare::kRead : FileShare::kReadWrite;
}

}  // namespace

// What reading a compressed file takes, kept from one file to the next.
struct DataFileReader::Tools {
  Tools() { inflater_ready = inflateInit(&stream) == Z_OK; }
  ~Tools() {
    if (inflater_ready) {
      inflateEnd(&stream);
    }
  }
  Tools(const Tools&) = delete;
  Tools& operator=(const Tools&) = delete;

  // Inflates the zlib stream at the file's position into the XML reader. A
  // stream cut short ends the document where it stops; a corrupt one, or a
  // document the reader rejects, is a failure.
  bool InflateInto(File& file);
  bool ReadCompressedFile(File& file, HeaderRecord& record);

  z_stream stream{};
  bool inflater_ready = false;
  std::unique_ptr<unsigned char[]> compressed =
      std::make_unique_for_overwrite<unsigned char[]>(kCompressedPieceSize);
  std::unique_ptr<unsigned char[]> inflated =
      std::make_unique_for_overwrite<unsigned char[]>(kInflatedPieceSize);
  XmlHeaderReader xml;
};

bool DataFileReader::Tools::InflateInto(File& file) {
  if (!inflater_ready || inflateReset(&stream) != Z_OK) {
    return false;
  }
  stream.avail_in = 0;
  for (;;) {
    if (stream.avail_in == 0) {
      std::size_t got = file.Read(compressed.get(), kCompressedPieceSize);
      if (got == 0) {
        return true;  // the file ends before the stream does
      }
      stream.next_in = compressed.get();
      stream.avail_in = static_cast<uInt>(got);
    }
    stream.next_out = inflated.get();
    stream.avail_out = static_cast<uInt>(kInflatedPieceSize);
    int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      return false;
    }
    std::size_t produced = kInflatedPieceSize - stream.avail_out;
    if (produced > 0 && !xml.Feed(reinterpret_cast<const char*>(inflated.get()), produced)) {
      return false;
    }
    if (status == Z_STREAM_END) {
      return true;
    }
  }
}

bool DataFileReader::Tools::ReadCompressedFile(File& file, HeaderRecord& record) {
  // Bytes that neither the defaults nor the document set are zero.
  record.bytes.fill(0);
  InitHeader(record);
  if (!SkipCompressedPrefix(file)) {
    return false;
  }
  xml.Begin(record);
  if (!InflateInto(file) || !xml.Finish()) {
    return false;
  }
  NormaliseHeader(record);
  SetItemValue(record, kSizeItem, SizeText(file.Size()));
  return true;
}

DataFileReader::DataFileReader() = default;

DataFileReader::~DataFileReader() = default;

bool ReadDataFile(const WorkingFolder& folder, std::string_view name, HeaderRecord& record) {
  DataFileReader reader;
  return reader.Read(folder, name, record);
}

bool DataFileReader::Read(const WorkingFolder& folder, std::string_view name,
                          HeaderRecord& record) {
  return ReadOpened(folder.platform().OpenFile(folder.PathOf(name), FileAccess::kRead,
                                               ShareToReadWith(name), FileCreation::kOpenExisting),
                    name, record);
}

bool DataFileReader::Read(platform::Folder& folder, std::string_view name, HeaderRecord& record) {
  return ReadOpened(folder.OpenFile(std::string(name), FileAccess::kRead, ShareToReadWith(name),
                                    FileCreation::kOpenExisting),
                    name, record);
}

bool DataFileReader::ReadOpened(std::unique_ptr<File> file, std::string_view name,
                                HeaderRecord& record) {
  if (file == nullptr || name.size() + 1 > kListNameSize) {
    return false;
  }
  bool compressed = IsCompressedName(name);
  std::optional<platform::FileStamp> stamp;
  std::string path;
  if (compressed && cache_ != nullptr) {
    stamp = file->Stamp();
    path = cache_folder_ + std::string(name);
    if (stamp && cache_->Find(path, *stamp, record)) {
      return true;
    }
  }
  try {
    if (compressed && tools_ == nullptr) {
      tools_ = std::make_unique<Tools>();
    }
    if (!(compressed ? tools_->ReadCompressedFile(*file, record) : ReadPlainFile(*file, record))) {
      return false;
    }
  } catch (const platform::IoError&) {
    return false;  // a file that cannot be read is left out like any other
  }
  if (!WriteListName(record, name)) {
    return false;
  }
  if (stamp) {
    cache_->Store(path, *stamp, record);
  }
  return true;
}

void DataFileReader::UseCache(CompressedRecordCache& cache, std::string folder_path) {
  cache_ = &cache;
  cache_folder_ = std::move(folder_path);
}

}  // namespace sqv64
