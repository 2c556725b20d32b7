#pragma once
// The coordinate reference system of a run: the DEM's, or one the operator names. Orthos and
// products carry it as GeoTIFF keys; their georeferencing numbers stay those of the mosaic grid.
// Definitions are held as WKT2 text so that plain option structs can carry them.
#include <string>

#include <gdal_priv.h>

namespace ortavia {

// Reads a definition GDAL accepts: "EPSG:32633" (or the bare code "32633"), WKT, a PROJ string,
// or a file holding one (never a network address). Returns "" and sets *wkt, or GDAL's reason.
std::string ParseCrsDefinition(const std::string& text, std::string* wkt);

// WKT2 of the dataset's CRS; empty when it has none.
std::string DatasetCrsWkt(GDALDataset* dataset);

// True for a geographic CRS (X and Y in degrees); false for projected, local or unreadable ones.
bool IsGeographicCrs(const std::string& wkt);

// Gives a dataset the CRS of a WKT text (nothing for an empty text); false when it cannot.
bool SetDatasetCrs(GDALDataset& dataset, const std::string& wkt);

// The CRS's own name ("WGS 84 / UTM zone 33N"); empty when there is none.
std::string CrsName(const std::string& wkt);

// EPSG code of the WGS 84 UTM zone holding a longitude and latitude in degrees: 326zz north of
// the equator, 327zz south; zones 1..60, 6 degrees wide from 180 W.
int UtmEpsgFor(double lon, double lat);

// For a DEM whose CRS `wkt` is geographic: what is wrong and the gdalwarp command that
// reprojects it (to the UTM zone of its centre, when its coordinates are degrees). Empty otherwise.
std::string GeographicDemAdvice(GDALDataset* dem, const std::string& wkt, const std::string& path);

}  // namespace ortavia
