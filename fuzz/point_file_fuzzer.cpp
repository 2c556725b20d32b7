// The point-file tokenizer and the exterior-orientation import over it, as the batch runner and
// the import window use them. The first two bytes choose the reading options (separators,
// comment marks, column assignment, angle unit); the rest is the file.
//
// Invariants: every data row is accounted for exactly once (imported, unmatched, duplicate,
// non-numeric or over-long), an import changes only images it names, and every imported value
// is finite.
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>

#include "extor/parse_it.h"
#include "extor/point_file_import.h"
#include "fuzz/fuzz_support.h"
#include "model/project.h"

namespace {

using namespace ortavia::extor;
using ortavia::fuzz::Check;

constexpr std::array<std::array<int, kQuantityCount>, 4> kLayouts = {{
    {0, 1, 2, 3, 4, 5, 6},    // as written by most adjustment programs
    {0, 2, 1, 3, 6, 5, 4},    // Y before X, angles reversed
    {1, 2, 3, 4, 5, 6, 7},    // a leading counter column
    {0, 1, 2, 3, -1, -1, -1},  // positions only
}};

// Images of the project the rows are matched against.
std::map<std::string, geo::COrientation> Images() {
  std::map<std::string, geo::COrientation> images;
  for (const char* name : {"1", "a", "img_0001", "img_0002", "dsc01", "x"})
    images.emplace(name, geo::COrientation());
  return images;
}

bool Finite(const geo::COrientation& o) {
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(o.N[i])) return false;
    for (int j = 0; j < 3; ++j)
      if (!std::isfinite(o.RotMat()(i, j))) return false;
  }
  return true;
}

// The tokenizer alone, on the text held in memory: fields never reach past the text.
void SplitInMemory(std::string_view text, const std::string& separators) {
  CParseIt split;
  if (!split.ParseString(text, separators.c_str())) return;
  std::size_t bytes = 0;
  for (int i = 1; i <= split.GetCount(); ++i) bytes += split.FieldView(i).size();
  Check(bytes <= text.size(), "fields hold more bytes than the text");
  double d = 0;
  long l = 0;
  std::string s;
  split.GetDouble(1, &d);
  split.GetLong(split.GetCount(), &l);
  split.GetString(split.GetCount() + 1, s);
  Check(s.empty(), "a field past the last one");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ortavia::fuzz::ScratchFile file(".txt");
  ortavia::fuzz::Input input(data, size);
  const std::uint8_t options = input.Byte();
  const std::uint8_t marks = input.Byte();

  PointFileImportOptions o;
  o.sourceColumns = kLayouts[options & 3];
  o.angles = static_cast<AngleUnit>((options >> 2) % 3);
  if (options & 0x10) o.separators = std::string(input.Bytes(marks & 7));
  if (options & 0x20) o.comments = std::string(input.Bytes((marks >> 3) & 3));
  const std::string_view text = input.Rest();
  o.path = file.Write(text);

  SplitInMemory(text, o.separators + '\t');

  auto images = Images();
  const auto before = images;
  const PointFileImportResult r = ImportPointFile(o, images, {});
  Check(images.size() == before.size(), "the import added or removed images");
  if (r.load.status != LoadResult::Status::kOk) return 0;
  Check(r.load.dataRows + r.load.commentLines <= r.load.lines, "more rows than lines");
  const ImportResult& im = r.import;
  if (im.status == ImportResult::Status::kNoSelection) {
    Check(r.load.dataRows == 0, "rows were loaded but none was offered to the import");
    return 0;
  }
  Check(im.imported + im.unmatchedRows + im.duplicateRows + im.nonNumericRows +
                im.overlongIdRows ==
            r.load.dataRows,
        "a data row was lost or counted twice");
  Check((im.status == ImportResult::Status::kOk) == (im.imported > 0), "status and count disagree");
  for (const auto& [name, o2] : images) {
    Check(Finite(o2), "an imported orientation is not finite");
    if (im.imported == 0) Check(o2.N == before.at(name).N, "a failed import changed an image");
  }
  return 0;
}
