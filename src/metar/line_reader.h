// Reads an open file line by line, the way the weather files are read: a
// line ends at LF or at CR LF (the line end is not part of the line), and
// the last line may have no line end at all.
//
// One LineReader is used by one thread; the file must outlive it. Read
// errors throw platform::IoError.
#pragma once

#include <string>

#include "platform/platform.h"

namespace sqv64 {

class LineReader {
 public:
  explicit LineReader(platform::File& file) : file_(file) {}

  // The next line into `line`; false, with `line` empty, at the end of the
  // file.
  bool ReadLine(std::string& line);
  // Whether no byte is left to read.
  bool AtEnd();

 private:
  // Reads more of the file; false at its end.
  bool Fill();

  platform::File& file_;
  std::string buffer_;
  std::size_t position_ = 0;
  bool exhausted_ = false;
};

}  // namespace sqv64
