#include "extor/point_file_import.h"

#include <numeric>
#include <vector>

namespace ortavia::extor {

PointFileImportResult ImportPointFile(const PointFileImportOptions& options,
                                      std::map<std::string, geo::COrientation>& orientations,
                                      const RunContext& context) {
  PointFileImportResult result;
  ExtOrImportModel model;
  model.SetFilePath(options.path);
  model.SetComments(options.comments);
  model.SetSeparatorsText(options.separators);
  model.SetSourceColumns(options.sourceColumns);
  result.load = model.Load(context);
  if (result.load.status != LoadResult::Status::kOk) return result;
  if (options.angles != AngleUnit::kRadians) {
    const Correction c =
        options.angles == AngleUnit::kDegrees ? Correction::kDegToRad : Correction::kGradToRad;
    for (int column = kOmega; column <= kKappa; ++column) model.ApplyCorrection(column, c);
  }
  std::vector<int> rows(model.Imported().size());
  std::iota(rows.begin(), rows.end(), 0);
  result.import = model.Import(rows, orientations, context);
  return result;
}

}  // namespace ortavia::extor
