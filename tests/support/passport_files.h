#pragma once
// Passport files of every kind, written by the tests.
#include <filesystem>
#include <fstream>
#include <string>

namespace ortavia::test {

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string CommonKeys(const std::string& model, const std::string& serial, const std::string& focal,
                              const std::string& pixel, const std::string& width, const std::string& height,
                              const std::string& x0, const std::string& y0) {
  return "Model = " + model + "\nSerialNumber = " + serial + "\nFocalLength = " + focal +
         "\nPixelSize = " + pixel + "\nWidth = " + width + "\nHeight = " + height +
         "\nPrincipalPointX = " + x0 + "\nPrincipalPointY = " + y0 + "\n";
}

// F = 100 mm, p = 0.01 mm, 4000 x 3000, principal point at the centre; K1 = 2, the rest 0.
inline std::string SimpleBcc(const std::string& model = "RC30", const std::string& serial = "5001") {
  return "[BCC Camera Passport]\n" +
         CommonKeys(model, serial, "100", "0.01", "4000", "3000", "1999.5", "1499.5") + "K1 = 2\n";
}

inline std::string SimpleCcb() {
  return "[Calibration Certificate]\nCamera = UltraCam\nSerial = U-7\nFocalLengthMM = 100\n"
         "PixelSizeMicrons = 10\nColumns = 4000\nRows = 3000\nPPAxMM = 0.1\nPPAyMM = -0.2\nK1 = 2\n";
}

}  // namespace ortavia::test
