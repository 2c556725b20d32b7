#pragma once
// The engine's model of the CAD drawing shown in the main window: named layers with an ACI colour
// and a lock, and entities addressed by 32-bit handles. Coordinates are ground units (X east,
// Y north). Erased entities stay (hidden) until Purge removes them, as handles may still be held.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

namespace ortavia {

using CadHandle = std::uint32_t;  // 0 = no entity

// AutoCAD colour indices 1..7 (red, yellow, green, cyan, blue, magenta, white/black); 0 = by layer.
enum CadColor : int { kAciByLayer = 0, kAciRed = 1, kAciYellow = 2, kAciGreen = 3, kAciCyan = 4,
                      kAciBlue = 5, kAciMagenta = 6, kAciWhite = 7 };

struct CadLayer {
  std::string name;
  int color = kAciWhite;
  bool locked = false;
};

enum class CadEntityKind { Polyline, Image };

// Where a picture lies on the ground, for any affine placement (turned, mirrored, sheared): the
// ground point of its upper-left corner and the ground vectors along its whole top edge (left to
// right) and its whole left edge (top to bottom).
struct CadImageFrame {
  cv::Point2d origin;
  cv::Vec2d across{1.0, 0.0};
  cv::Vec2d down{0.0, -1.0};

  // A north-up picture over the ground rectangle with this lower-left corner and size.
  static CadImageFrame NorthUp(cv::Point2d lowerLeft, double width, double height);
  // Upper-left, upper-right, lower-right and lower-left corners of the picture on the ground.
  std::array<cv::Point2d, 4> Corners() const;
};

struct CadEntity {
  CadHandle handle = 0;
  CadEntityKind kind = CadEntityKind::Polyline;
  std::string layer;
  int color = kAciByLayer;
  bool filled = false;
  bool erased = false;
  // Polyline: vertices in order; closed polylines join the last vertex to the first.
  std::vector<cv::Point2d> points;
  bool closed = false;
  // Image placement: the picture file, where it lies on the ground, the ground box around it
  // (lower-left corner and size) and a draw code that tells the view which painter fills it
  // (100 DEM, 200 ortho).
  std::string file;
  CadImageFrame frame;
  cv::Point2d lowerLeft;
  double width = 0.0, height = 0.0;
  int code = 0;
};

struct CadBox {
  double left, bottom, right, top;
};

class CadDrawing {
 public:
  // Adds or updates a layer.
  void AddLayer(const std::string& name, int color, bool locked);
  const CadLayer* FindLayer(const std::string& name) const;

  CadHandle AddPolyline(const std::string& layer, std::vector<cv::Point2d> points, bool closed,
                        int color = kAciByLayer, bool filled = false);
  CadHandle AddImage(const std::string& layer, const std::string& file, cv::Point2d lowerLeft,
                     double width, double height, int code);
  CadHandle AddImage(const std::string& layer, const std::string& file, const CadImageFrame& frame,
                     int code);

  CadEntity* Find(CadHandle handle);  // null when unknown or erased
  const CadEntity* Find(CadHandle handle) const;
  bool SetColor(CadHandle handle, int color);
  bool SetFilled(CadHandle handle, bool filled);
  bool Erase(CadHandle handle);
  // Removes erased entities for good.
  void Purge();
  // Removes everything but the layers.
  void Clear();

  const std::vector<CadEntity>& Entities() const { return entities_; }
  // Colour an entity is drawn in: its own, or its layer's when by layer.
  int EffectiveColor(const CadEntity& e) const;
  // Bounding box of one live entity, or of every live entity; empty when there is none.
  std::optional<CadBox> EntityBox(CadHandle handle) const;
  std::optional<CadBox> Extents() const;
  // Grows with every change, so that views know when to repaint.
  std::uint64_t Revision() const { return revision_; }

 private:
  std::vector<CadLayer> layers_;
  std::vector<CadEntity> entities_;
  CadHandle nextHandle_ = 1;
  std::uint64_t revision_ = 0;
};

// Bounding box edges of an entity (0 when unknown).
double CadEntityGetLeft(const CadDrawing& cad, CadHandle handle);
double CadEntityGetRight(const CadDrawing& cad, CadHandle handle);
double CadEntityGetTop(const CadDrawing& cad, CadHandle handle);
double CadEntityGetBottom(const CadDrawing& cad, CadHandle handle);

}  // namespace ortavia
