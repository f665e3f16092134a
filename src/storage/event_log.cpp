#include "storage/event_log.h"

namespace sqv64 {
namespace {

constexpr std::size_t kDateWidth = 10;
constexpr std::size_t kTimeWidth = 8;
constexpr std::size_t kCommandWidth = 10;

// A client's text with every byte below 0x20 shown as "?", so that a line of
// the log never holds a line break or a NUL that a client put there.
std::string Printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20)
      c = '?';
  }
  return shown;
}

}  // namespace

std::string PadRight(std::string_view text, std::size_t width) {
  std::string padded(text);
  if (padded.size() < width)
    padded.append(width - padded.size(), ' ');
  return padded;
}

std::string PadLeft(std::string_view text, std::size_t width) {
  std::string padded;
  if (text.size() < width)
    padded.assign(width - text.size(), ' ');
  padded.append(text);
  return padded;
}

std::string EventLog::TimeField() {
  return PadLeft(folder_.platform().CurrentLocalDateTime().long_time, kTimeWidth);
}

void EventLog::WriteLog(std::string_view message) {
  using namespace platform;
  Platform& system = folder_.platform();
  std::string line = PadRight(system.CurrentLocalDateTime().short_date, kDateWidth);
  line += ' ';
  line += message;
  line += "\r\n";
  std::string path = folder_.PathOf("log.txt");

  std::lock_guard<std::mutex> lock(mutex_);
  auto file =
      system.OpenFile(path, FileAccess::kWrite, FileShare::kRead, FileCreation::kOpenAlways);
  if (file == nullptr) {
    return;
  }
  file->SeekToEnd();
  file->Write(line.data(), line.size());
  file->Close();
}

void EventLog::LogCommand(std::string_view command_text, std::string_view client_name) {
  std::string message = TimeField();
  message += ' ';
  message += PadRight(Printable(command_text), kCommandWidth);
  message += " (";
  message += Printable(client_name);
  message += ')';
  WriteLog(message);
}

}  // namespace sqv64
