#include "file_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "catalogue/header_record.h"
#include "text/code_page.h"
#include "text/number_parsers.h"

namespace sqv64::ctl {
namespace {

// A JSON string of the 8-bit text.
std::string JsonText(const std::string& ansi) {
  return nlohmann::json(AnsiToUtf8(ansi))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::optional<FileList> ParseFileList(const std::string& stream, bool with_trailer,
                                      std::string& error) {
  FileList list;
  std::size_t records_size = stream.size();
  if (with_trailer) {
    if (stream.size() < 2) {
      error = "the file list is too short to hold its trailer";
      return std::nullopt;
    }
    std::size_t length = static_cast<unsigned char>(stream[stream.size() - 2]) |
                         static_cast<std::size_t>(static_cast<unsigned char>(stream.back())) << 8;
    if (length + 2 > stream.size() || (stream.size() - length - 2) % kHeaderRecordSize != 0) {
      error = "the file list's trailer length does not fit the stream";
      return std::nullopt;
    }
    records_size = stream.size() - length - 2;
    std::string trailer = stream.substr(records_size, length);
    std::size_t first_tab = trailer.find('\t');
    if (first_tab == std::string::npos || trailer.empty() || trailer.back() != '\t') {
      error = "the file list's trailer is not folder, TAB, free space, TAB";
      return std::nullopt;
    }
    list.folder = trailer.substr(0, first_tab);
    std::string digits = trailer.substr(first_tab + 1, trailer.size() - first_tab - 2);
    if (!digits.empty() && std::all_of(digits.begin(), digits.end(), ::isdigit)) {
      list.free_mb = std::stoull(digits);
    }
  } else if (stream.size() % kHeaderRecordSize != 0) {
    error = "the catalogue is not a whole number of records";
    return std::nullopt;
  }
  for (std::size_t offset = 0; offset < records_size; offset += kHeaderRecordSize) {
    HeaderRecord record;
    std::memcpy(record.bytes.data(), stream.data() + offset, kHeaderRecordSize);
    FileListEntry entry;
    entry.index = static_cast<std::uint32_t>(record.bytes[0]) |
                  static_cast<std::uint32_t>(record.bytes[1]) << 8 |
                  static_cast<std::uint32_t>(record.bytes[2]) << 16 |
                  static_cast<std::uint32_t>(record.bytes[3]) << 24;
    std::string name = ReadListName(record);
    if (name.size() >= kListNameSize) {
      error = "record " + std::to_string(offset / kHeaderRecordSize) + " carries no file name";
      return std::nullopt;
    }
    entry.name = std::move(name);
    std::string* items[] = {&entry.aircraft_type, &entry.registration, &entry.note, &entry.date,
                            &entry.flight,        &entry.pilot,        &entry.size};
    for (std::uint16_t item = 1; item <= 7; ++item) {
      *items[item - 1] = GetItemValue(record, item);
    }
    list.entries.push_back(std::move(entry));
  }
  return list;
}

std::string FormatFileListTable(const FileList& list) {
  const char* headings[] = {"#", "name", "type", "reg.", "note", "date", "flight", "pilot", "size"};
  std::vector<std::vector<std::string>> rows;
  rows.emplace_back(std::begin(headings), std::end(headings));
  for (const FileListEntry& e : list.entries) {
    rows.push_back({std::to_string(e.index), e.name, e.aircraft_type, e.registration, e.note,
                    e.date, e.flight, e.pilot, e.size});
  }
  // Widths count characters, so Cyrillic (one byte in Windows-1251) lines up.
  std::vector<std::size_t> widths(std::size(headings), 0);
  for (const auto& row : rows) {
    for (std::size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], row[column].size());
    }
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      std::string cell = row[column];
      for (char& c : cell) {
        if (static_cast<unsigned char>(c) < 0x20)
          c = ' ';
      }
      line += cell;
      if (column + 1 < row.size())
        line += std::string(widths[column] - cell.size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    out += AnsiToUtf8(line) + "\n";
  }
  out += std::to_string(list.entries.size()) + (list.entries.size() == 1 ? " file" : " files");
  if (!list.folder.empty())
    out += " in " + AnsiToUtf8(list.folder);
  if (list.free_mb)
    out += ", " + std::to_string(*list.free_mb) + " MB free";
  return out + "\n";
}

std::string FormatFileListJson(const FileList& list) {
  std::string out = "{\"folder\": " + JsonText(list.folder) +
                    ", \"free_mb\": " + (list.free_mb ? std::to_string(*list.free_mb) : "null") +
                    ", \"files\": [";
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    const FileListEntry& e = list.entries[i];
    out += i == 0 ? "\n  " : ",\n  ";
    out += "{\"index\": " + std::to_string(e.index) + ", \"name\": " + JsonText(e.name) +
           ", \"type\": " + JsonText(e.aircraft_type) +
           ", \"registration\": " + JsonText(e.registration) + ", \"note\": " + JsonText(e.note) +
           ", \"date\": " + JsonText(e.date) + ", \"flight\": " + JsonText(e.flight) +
           ", \"pilot\": " + JsonText(e.pilot) + ", \"size\": " + JsonText(e.size) + "}";
  }
  out += list.entries.empty() ? "]}\n" : "\n]}\n";
  return out;
}

}  // namespace sqv64::ctl
