#pragma once
// The whole exterior-orientation import in one call, for callers without the window (the batch
// runner): load the point file, assign the columns, convert the angles, import every row.
#include <array>
#include <map>
#include <string>

#include "external/geo/orientation.h"
#include "extor/ext_or_import_model.h"
#include "extor/point_file_settings.h"
#include "model/run_context.h"

namespace ortavia::extor {

enum class AngleUnit { kRadians, kDegrees, kGrads };

struct PointFileImportOptions {
  std::string path;
  std::string separators = kDefaultSeparators;  // a tab is added, as in the window
  std::string comments = kDefaultComments;
  // Grid column of each quantity (ID, X, Y, Z, Omega, Phi, Kappa); -1 = none.
  std::array<int, kQuantityCount> sourceColumns = {0, 1, 2, 3, 4, 5, 6};
  AngleUnit angles = AngleUnit::kRadians;
};

struct PointFileImportResult {
  LoadResult load;
  ImportResult import;  // untouched (kNoSelection) when the file could not be loaded or is empty
};

// Changes `orientations` only when at least one row matched and the import was not stopped.
PointFileImportResult ImportPointFile(const PointFileImportOptions& options,
                                      std::map<std::string, geo::COrientation>& orientations,
                                      const RunContext& context = {});

}  // namespace ortavia::extor
