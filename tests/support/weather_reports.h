// For the weather tests: METAR reports of two airports, and the two shapes
// they take: as the weather server serves them (LF line ends, a blank line
// after each report) and as an airport file holds them (CR LF, no blank
// line).
#pragma once

#include <string>
#include <vector>

namespace sqv64::testing_support {

struct Report {
  std::string time_line;
  std::string report_line;
};

inline const Report kUuee0800{"2020/09/14 08:00", "UUEE 140800Z 18003MPS CAVOK 15/08 Q1015 NOSIG"};
inline const Report kUuee0830{"2020/09/14 08:30", "UUEE 140830Z 18004MPS CAVOK 16/08 Q1015 NOSIG"};
inline const Report kUuee0900{"2020/09/14 09:00", "UUEE 140900Z 19004MPS CAVOK 17/08 Q1014 NOSIG"};
inline const Report kUudd0800{"2020/09/14 08:00", "UUDD 140800Z 00000MPS 9999 SCT030 14/09 Q1016"};
inline const Report kUudd0830{"2020/09/14 08:30", "UUDD 140830Z 00000MPS 9999 SCT030 15/09 Q1016"};

// As the weather server serves them.
inline std::string Downloaded(const std::vector<Report>& reports) {
  std::string text;
  for (const Report& report : reports)
    text += report.time_line + "\n" + report.report_line + "\n\n";
  return text;
}

// As an airport file holds them.
inline std::string Filed(const std::vector<Report>& reports) {
  std::string text;
  for (const Report& report : reports)
    text += report.time_line + "\r\n" + report.report_line + "\r\n";
  return text;
}

}  // namespace sqv64::testing_support
