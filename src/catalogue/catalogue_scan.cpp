#include "catalogue/catalogue_scan.h"

namespace sqv64 {

std::string ScanCatalogue(const WorkingFolder&) {
  return {};
}
void AppendCatalogueTrailer(const WorkingFolder&, std::string&) {}

}  // namespace sqv64
