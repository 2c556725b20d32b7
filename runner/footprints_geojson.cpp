#include "runner/footprints_geojson.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace ortavia {
namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Point(const cv::Point2d& p) {
  char text[96];
  std::snprintf(text, sizeof text, "[%.3f, %.3f]", p.x, p.y);
  return text;
}

}  // namespace

std::string FootprintsGeoJson(const WarpProject& project) {
  std::string json = "{\n\"type\": \"FeatureCollection\",\n\"features\": [";
  bool first = true;
  for (const ImageItem& image : project.images) {
    const auto it = project.footprints.find(image.name);
    if (it == project.footprints.end()) continue;
    const CadEntity* e = project.cad.Find(it->second);
    if (!e || e->points.size() < 3) continue;
    std::string ring;
    for (const auto& p : e->points) ring += (ring.empty() ? "" : ", ") + Point(p);
    // GeoJSON rings repeat their first position at the end.
    if (e->points.front() != e->points.back()) ring += ", " + Point(e->points.front());
    json += first ? "\n" : ",\n";
    first = false;
    json += "{\"type\": \"Feature\", \"properties\": {\"name\": " + JsonString(image.name) +
            "}, \"geometry\": {\"type\": \"Polygon\", \"coordinates\": [[" + ring + "]]}}";
  }
  json += "\n]\n}\n";
  return json;
}

std::string WriteFootprintsGeoJson(const WarpProject& project, const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  fs::path temp = target;
  temp += ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot create " + temp.string();
    out << FootprintsGeoJson(project);
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(temp, ec);
      return "cannot write " + temp.string();
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return "cannot write " + path + ": " + ec.message();
  }
  return {};
}

}  // namespace ortavia
