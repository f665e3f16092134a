// Placeholder until the catalogue lands: the scan of the store's data files.
#pragma once

#include <string>

#include "service/working_folder.h"

namespace sqv64 {

std::string ScanCatalogue(const WorkingFolder& folder);
void AppendCatalogueTrailer(const WorkingFolder& folder, std::string& stream);

}  // namespace sqv64
