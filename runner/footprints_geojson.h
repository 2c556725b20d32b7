#pragma once
// The image footprints of a project as a GeoJSON FeatureCollection, for a GIS: one Polygon per
// image that has a footprint, with the image name as property "name". Coordinates are the DEM's
// ground coordinates (X east, Y north) as they stand; no reprojection to longitude and latitude.
#include <string>

#include "model/project.h"

namespace ortavia {

// The collection, in image-list order. Images without footprint are left out.
std::string FootprintsGeoJson(const WarpProject& project);

// Writes the collection through a temporary file; empty on success, else the cause.
std::string WriteFootprintsGeoJson(const WarpProject& project, const std::string& path);

}  // namespace ortavia
