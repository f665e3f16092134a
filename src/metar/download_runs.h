// The two download runs as the scheduler sees them. Both run on the event
// thread and block it until they are done.
#pragma once

namespace sqv64 {

class DownloadRuns {
 public:
  virtual ~DownloadRuns() = default;
  // The cycle run: one whole-hour cycle file.
  virtual void MetarData1() = 0;
  // The station run: the files of the listed airports the server offers.
  virtual void MetarData2() = 0;
};

}  // namespace sqv64
