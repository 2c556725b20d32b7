#pragma once
// The GSD a run starts from when the operator has given none: what the images' own pixels cover
// on the ground over the DEM.
#include <optional>
#include <string>

#include <gdal_priv.h>

#include "model/project.h"

namespace ortavia {

// Mean of the DEM's heights (missing heights left out), read from a grid of at most 512 x 512
// samples; empty when the DEM has none.
std::optional<double> DemMeanHeight(GDALDataset* dem);

// The value rounded to `digits` significant digits (0.2468 -> 0.25 for 2); 0 and non-finite
// values are returned as they are.
double RoundToSignificantDigits(double value, int digits);

// The median over the images with an exterior orientation of their ground pixel size,
// pixel size x (projection centre height - DEM mean height) / focal length, rounded to 2
// significant digits. Images at or below the DEM's mean height are left out. Empty without a DEM,
// a passport or such an image.
std::optional<double> SuggestedGsd(const WarpProject& project);

// What a log line says of a suggested GSD: "GSD 0.25, the images' median ground pixel size over
// the DEM".
std::string SuggestedGsdText(double gsd);

}  // namespace ortavia
