// The bundle reader: the whole input is a ".bun" file. A file the reader takes is also imported
// (from a scratch folder that holds a ".ccb" certificate for version 202) and written again.
//
// Invariants: the reader's texts are valid UTF-8 (checked by iconv), a taken file has no more
// records than its bytes can hold, the records come in file order, and a taken file's records
// read back unchanged after writing them as version 206.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

#include <iconv.h>

#include "extor/bundle_import.h"
#include "extor/bundle_reader.h"
#include "extor/bundle_writer.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace ortavia;
using ortavia::fuzz::Check;

bool ValidUtf8(const std::string& text) {
  static iconv_t cd = iconv_open("UTF-8", "UTF-8");
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in = text, out(text.size() * 4 + 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  std::size_t srcLeft = in.size(), dstLeft = out.size();
  return iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) && srcLeft == 0;
}

bool SameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameRecord(const BundleRecord& a, const BundleRecord& b) {
  return a.path == b.path && a.hasOrientation == b.hasOrientation && SameDouble(a.eo.x, b.eo.x) &&
         SameDouble(a.eo.y, b.eo.y) && SameDouble(a.eo.z, b.eo.z) &&
         SameDouble(a.eo.omega, b.eo.omega) && SameDouble(a.eo.phi, b.eo.phi) &&
         SameDouble(a.eo.kappa, b.eo.kappa);
}

void CheckTaken(const Bundle& b, std::size_t size) {
  Check(b.version >= kBundleMinVersion && b.version <= kBundleMaxVersion, "a version out of range");
  Check((b.passport != nullptr) == (b.version >= 203), "a passport where none belongs, or none");
  Check(b.records.size() * kMinBundleRecordBytes <= size, "more records than bytes");
  std::uint64_t last = 0;
  for (const BundleRecord& r : b.records) {
    Check(r.offset < size && (r.offset > last || &r == &b.records.front()), "records out of order");
    last = r.offset;
    Check(ValidUtf8(r.path), "an image path that is not UTF-8");
  }
  if (b.cameraName) Check(ValidUtf8(*b.cameraName), "a camera name that is not UTF-8");
}

// The records written as version 206 with a known passport read back as they were.
void CheckRoundTrip(const Bundle& b) {
  BundleContent c;
  c.passportType = 0;
  c.passportText =
      "[BCC Camera Passport]\nModel = M\nSerialNumber = 1\nFocalLength = 50\nPixelSize = 0.005\n"
      "Width = 100\nHeight = 80\nPrincipalPointX = 49.5\nPrincipalPointY = 39.5\n";
  c.cameraName = b.cameraName.value_or("");
  if (c.cameraName.size() > kMaxBundleNameChars) return;  // UTF-8 may take more bytes than chars
  for (const BundleRecord& r : b.records) {
    if (r.path.size() > kMaxBundlePathChars) return;
    c.records.push_back(r);
  }
  const std::vector<std::uint8_t> bytes = EncodeBundle206(c);
  const BundleReadResult again = ReadBundle(bytes);
  Check(again.status == BundleReadStatus::Ok, "a written bundle cannot be read back");
  Check(again.bundle.records.size() == c.records.size(), "records lost in writing");
  for (std::size_t i = 0; i < c.records.size(); ++i)
    Check(SameRecord(again.bundle.records[i], c.records[i]), "a record changed in writing");
  Check(again.bundle.cameraName.value_or("") == c.cameraName, "the camera name changed");
}

// The import over a file in a folder that also holds a certificate, for version 202.
void Import(std::span<const std::uint8_t> bytes, std::size_t records) {
  // Removed with the process's static objects; the marker keeps the folder's name unique.
  struct Folder {
    ortavia::fuzz::ScratchFile marker{".dir"};
    std::filesystem::path path = marker.Path() + ".d";
    Folder() {
      std::filesystem::create_directories(path);
      std::ofstream(path / "camera.ccb")
          << "[Calibration Certificate]\nCamera = C\nSerial = 2\nFocalLengthMM = 50\n"
             "PixelSizeMicrons = 5\nColumns = 100\nRows = 80\nPPAxMM = 0\nPPAyMM = 0\n";
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder;
  const std::filesystem::path file = folder.path / "block.bun";
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const BundleImport import = PrepareBundleImport(file.string(), "", {});
  if (import.status != BundleImportStatus::Imported) return;
  const BundleImportCounts& n = import.counts;
  Check(n.added + n.withoutOrientation + n.alreadyPresent + n.notReadable +
                n.notMatchingPassport + n.invalidFormat ==
            static_cast<int>(records),
        "a record was lost or counted twice in the import");
  Check(static_cast<int>(import.images.size()) == n.added, "images and count disagree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  Check(ValidUtf8(Utf16ToUtf8(bytes.first(size & ~std::size_t{1}))), "UTF-16 gave invalid UTF-8");
  Check(ValidUtf8(EightBitToUtf8(bytes)), "8-bit text gave invalid UTF-8");

  const BundleReadResult r = ReadBundle(bytes);
  if (r.status != BundleReadStatus::Ok) {
    Check(!r.error.empty() || r.status == BundleReadStatus::BadVersion ||
              r.status == BundleReadStatus::NoPassport || r.status == BundleReadStatus::BadPassport,
          "a damaged file without a reason");
    return 0;
  }
  CheckTaken(r.bundle, size);
  CheckRoundTrip(r.bundle);
  Import(bytes, r.bundle.records.size());
  return 0;
}
