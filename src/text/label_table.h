// The suite's bilingual label table: constant texts looked up by a signed id
// and a language byte. Only the entries the server can reach are carried.
//
// Thread safety: lookups read constant data and may run on any thread.
#pragma once

#include <cstdint>
#include <string>

namespace sqv64 {

// The language the header-record code passes to every lookup. It is 0
// (English) for the whole life of the process.
inline constexpr std::uint8_t LabelLanguage = 0;

// The text of label `id`: its English form when `language` is 0, its Russian
// form (Windows-1251 bytes) for any other value, and "---" when the id is not
// in the table.
std::string Label(std::uint8_t language, std::int32_t id);

}  // namespace sqv64
