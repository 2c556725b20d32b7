#include "extor/bundle_writer.h"

#include <bit>

namespace ortavia {
namespace {

class Out {
 public:
  void Put(std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Int(std::int32_t v) { Put(static_cast<std::uint32_t>(v), 4); }
  void Real(double v) { Put(std::bit_cast<std::uint64_t>(v), 8); }
  void Text(const std::string& s) {
    const std::uint64_t n = s.size();
    if (n < 0xFF) {
      Put(n, 1);
    } else if (n < 0xFFFE) {  // 0xFFFE itself would read as the mark of 16-bit characters
      Put(0xFF, 1), Put(n, 2);
    } else if (n < 0xFFFFFFFFu) {
      Put(0xFF, 1), Put(0xFFFF, 2), Put(n, 4);
    } else {
      Put(0xFF, 1), Put(0xFFFF, 2), Put(0xFFFFFFFFu, 4), Put(n, 8);
    }
    data.insert(data.end(), s.begin(), s.end());
  }
  std::vector<std::uint8_t> data;
};

}  // namespace

std::vector<std::uint8_t> EncodeBundle206(const BundleContent& c) {
  Out out;
  out.Int(206);
  for (const std::string& header : {c.title, std::string("Ortavia"), std::string(), std::string(),
                                    std::string()})
    out.Text(header);
  out.Int(0);
  out.Int(c.passportType);
  out.Text(c.passportText);
  out.Int(-1);  // no second passport
  out.Int(0);   // the images are not undistorted
  out.Text(c.cameraName);
  out.Int(static_cast<std::int32_t>(c.records.size()));
  for (const BundleRecord& r : c.records) {
    out.Text(r.path);
    for (int i = 0; i < 10; ++i) out.Real(0.0);
    out.Int(0);
    out.Int(r.hasOrientation ? 1 : 0);
    for (double v : {r.eo.x, r.eo.y, r.eo.z, r.eo.omega, r.eo.phi, r.eo.kappa}) out.Real(v);
  }
  out.Int(0);
  out.Text(std::string());
  return std::move(out.data);
}

}  // namespace ortavia
