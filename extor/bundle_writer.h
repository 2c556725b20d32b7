#pragma once
// Writing a bundle file of version 206 (docs/formats.md), as the sample project ships one. Texts
// are written as 8-bit characters in UTF-8, each with the shortest length prefix.
#include <cstdint>
#include <string>
#include <vector>

#include "extor/bundle_reader.h"

namespace ortavia {

struct BundleContent {
  std::string title;           // first header text
  int passportType = 0;        // 0 BCC, 1 CVC, 3 RDR
  std::string passportText;    // the whole passport file of that kind
  std::string cameraName;
  std::vector<BundleRecord> records;  // offsets are not used
};

std::vector<std::uint8_t> EncodeBundle206(const BundleContent& content);

}  // namespace ortavia
