#include "protocol/file_name_rules.h"

#include <vector>

#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

std::vector<std::string_view> Components(std::string_view name) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || IsSeparator(name[i])) {
      components.push_back(name.substr(start, i - start));
      start = i + 1;
    }
  }
  return components;
}

}  // namespace

bool HoldsControlByte(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20)
      return true;
  }
  return false;
}

bool IsNameInsideFolder(std::string_view name) {
  if (name.empty() || HoldsControlByte(name) || IsSeparator(name.front()) ||
      name.find(':') != std::string_view::npos) {
    return false;
  }
  for (std::string_view component : Components(name)) {
    if (component == "..")
      return false;
  }
  return true;
}

bool IsDataFileName(std::string_view name) {
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos)
    return false;
  std::string extension = AsciiLowerCase(name.substr(dot));
  return extension == ".hdr" || extension == ".hdrx" || extension == ".quv" || extension == ".quvx";
}

std::optional<std::string> SaveTargetName(std::string_view name) {
  if (HoldsControlByte(name))
    return std::nullopt;
  std::size_t last = name.find_last_of("\\/:");
  std::string_view component = last == std::string_view::npos ? name : name.substr(last + 1);
  if (!IsDataFileName(component))
    return std::nullopt;
  return std::string(component);
}

bool IsWeatherFileName(std::string_view name) {
  for (std::string_view component : Components(name)) {
    if (component.empty() || component == ".")
      continue;
    return EqualsIgnoringAsciiCase(component, "metar");
  }
  return false;
}

}  // namespace sqv64
