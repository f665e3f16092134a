#include "metar/line_reader.h"

namespace sqv64 {
namespace {

constexpr std::size_t kChunkSize = 64 * 1024;

}  // namespace

bool LineReader::Fill() {
  if (exhausted_)
    return false;
  buffer_.erase(0, position_);
  position_ = 0;
  std::size_t kept = buffer_.size();
  buffer_.resize(kept + kChunkSize);
  std::size_t read = file_.Read(buffer_.data() + kept, kChunkSize);
  buffer_.resize(kept + read);
  if (read == 0)
    exhausted_ = true;
  return read > 0;
}

bool LineReader::AtEnd() {
  return position_ >= buffer_.size() && !Fill();
}

bool LineReader::ReadLine(std::string& line) {
  line.clear();
  if (AtEnd())
    return false;
  std::size_t searched = position_;
  for (;;) {
    std::size_t end = buffer_.find('\n', searched);
    if (end != std::string::npos) {
      line.assign(buffer_, position_, end - position_);
      position_ = end + 1;
      break;
    }
    searched = buffer_.size() - position_;
    if (!Fill()) {
      line.assign(buffer_, position_, std::string::npos);
      position_ = buffer_.size();
      return true;
    }
    searched += position_;
  }
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return true;
}

}  // namespace sqv64
