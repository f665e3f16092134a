#include "text/label_table.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace sqv64 {
namespace {

struct LabelEntry {
  std::int32_t id;
  std::string_view english;
  std::string_view russian;  // Windows-1251
};

// The Russian form of command word 256 begins with the Latin letter C (0x43),
// as the suite's clients send it.
constexpr LabelEntry kLabels[] = {
    {50, "A/C type", "\xD2\xE8\xEF"},
    {51, "Reg.No.", "\xC1\xEE\xF0\xF2"},
    {52, "Note", "\xCF\xF0\xE8\xEC\xE5\xF7\xE0\xED\xE8\xE5"},
    {53, "Date", "\xC4\xE0\xF2\xE0"},
    {54, "Flight", "\xD0\xE5\xE9\xF1"},
    {55, "Pilot", "\xCF\xE8\xEB\xEE\xF2"},
    {56, "Header", "\xD6\xE8\xEA\xEB\xEE\xE3\xF0\xE0\xEC\xEC\xE0"},
    {-50, "Without name", "\xC1\xE5\xE7 \xED\xE0\xE7\xE2\xE0\xED\xE8\xFF"},
    {254, "File list", "\xD1\xEF\xE8\xF1\xEE\xEA \xF4\xE0\xE9\xEB\xEE\xE2"},
    {255, "File copying from server database ",
     "\xCA\xEE\xEF\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5 \xF1 \xC1\xC4 \xF1\xE5\xF0\xE2\xE5\xF0\xE0 "
     "\xF4\xE0\xE9\xEB\xE0 "},
    {256, "File saving into server database ",
     "C\xEE\xF5\xF0\xE0\xED\xE5\xED\xE8\xE5 \xE2 \xC1\xC4 \xED\xE0 \xF1\xE5\xF0\xE2\xE5\xF0\xE5 "
     "\xF4\xE0\xE9\xEB\xE0 "},
    {257, "File deleting from server database ",
     "\xD3\xE4\xE0\xEB\xE5\xED\xE8\xE5 \xE2 \xC1\xC4 \xED\xE0 \xF1\xE5\xF0\xE2\xE5\xF0\xE5 "
     "\xF4\xE0\xE9\xEB\xE0 "},
    {258, "File copying from server ",
     "\xCA\xEE\xEF\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5 \xF1 \xF1\xE5\xF0\xE2\xE5\xF0\xE0 "
     "\xF4\xE0\xE9\xEB\xE0 "},
    {8054, "archive", "\xE0\xF0\xF5\xE8\xE2"},
};

constexpr std::string_view kUnknownLabel = "---";

// Ids -254 to -258 hold the command words with the two columns exchanged.
constexpr std::int32_t kFirstCommandWord = 254;
constexpr std::int32_t kLastCommandWord = 258;

const LabelEntry* FindLabel(std::int32_t id) {
  auto found = std::find_if(std::begin(kLabels), std::end(kLabels),
                            [id](const LabelEntry& entry) { return entry.id == id; });
  return found == std::end(kLabels) ? nullptr : &*found;
}

}  // namespace

std::string Label(std::uint8_t language, std::int32_t id) {
  bool exchanged = id <= -kFirstCommandWord && id >= -kLastCommandWord;
  const LabelEntry* entry = FindLabel(exchanged ? -id : id);
  if (entry == nullptr) {
    return std::string(kUnknownLabel);
  }
  bool english = (language == 0) != exchanged;
  return std::string(english ? entry->english : entry->russian);
}

}  // namespace sqv64
