#include "protocol/request_line.h"

#include "text/code_page.h"

namespace sqv64 {

std::string TextBeforeTab(std::string_view line) {
  std::string name;
  for (std::size_t i = 0; i + 1 < line.size() && line[i] != '\t'; ++i) {
    name.push_back(line[i]);
  }
  return name;
}

RequestLine SplitRequestLine(std::string_view received_line) {
  if (!received_line.empty() && received_line.back() == '\r') {
    received_line.remove_suffix(1);
  }
  std::string line = Utf8ToAnsi(received_line);
  if (line.size() > kUsedRequestLineBytes) {
    line.resize(kUsedRequestLineBytes);
  }
  RequestLine request;
  request.client_name = TextBeforeTab(line);
  std::size_t command_start = request.client_name.size() + 1;
  if (command_start < line.size()) {
    request.command_text = line.substr(command_start);
  }
  return request;
}

}  // namespace sqv64
