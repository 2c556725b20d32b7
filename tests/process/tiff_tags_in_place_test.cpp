#include "process/tiff_tags_in_place.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include "support/test_env.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

uint64_t FirstIfd(const fs::path& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  const uint64_t at = tif ? TIFFCurrentDirOffset(tif) : 0;
  if (tif) TIFFClose(tif);
  return at;
}

TEST(TiffTagsInPlace, TagsGoIntoTheFirstDirectoryWithoutMovingIt) {
  GDALAllRegister();
  struct Case {
    std::string layout;  // GTiff options beyond tiling
    int room;            // length of the DocumentName placeholder; 0: none
    std::string error;   // fragment of the refusal; empty when it must work
  };
  const Case cases[] = {
      {"", 200, ""},
      {"ENDIANNESS=BIG", 200, ""},
      {"BIGTIFF=YES", 200, ""},
      {"BIGTIFF=YES ENDIANNESS=BIG", 200, ""},
      {"COMPRESS=DEFLATE", 200, ""},
      {"", 0, "not enough room"},
      {"", 20, "not enough room"},
  };
  const fs::path dir = test::MakeTempDir("tags");
  const std::vector<TiffTag> tags = {TiffTag::Short(TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH),
                                     TiffTag::Rational(TIFFTAG_XRESOLUTION, 300, 1),
                                     TiffTag::Rational(TIFFTAG_YRESOLUTION, 300, 1),
                                     TiffTag::Rational(TIFFTAG_XPOSITION, 1500, 300),
                                     TiffTag::Rational(TIFFTAG_YPOSITION, 7, 300),
                                     TiffTag::Long(TIFFTAG_PIXAR_IMAGEFULLWIDTH, 90000),
                                     TiffTag::Long(TIFFTAG_PIXAR_IMAGEFULLLENGTH, 70000)};
  for (const Case& c : cases) {
    const fs::path path = dir / ("t" + std::to_string(&c - cases) + ".tif");
    {
      CPLStringList options(CSLTokenizeString2(c.layout.c_str(), " ", 0));
      options.SetNameValue("TILED", "YES");
      GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
      GDALDatasetUniquePtr ds(gtiff->Create(path.c_str(), 300, 200, 2, GDT_UInt16, options.List()));
      ASSERT_TRUE(ds);
      if (c.room > 0) ds->SetMetadataItem("TIFFTAG_DOCUMENTNAME", std::string(c.room, '-').c_str());
      for (int b = 1; b <= 2; ++b) ds->GetRasterBand(b)->Fill(1000 * b + 7);
    }
    const uint64_t ifd = FirstIfd(path);
    const std::string before = Bytes(path);
    const std::string error = SetTiffTagsInPlace(path.string(), tags, TIFFTAG_DOCUMENTNAME);
    if (!c.error.empty()) {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.layout << " " << c.room << ": " << error;
      EXPECT_EQ(Bytes(path), before) << c.layout;  // untouched
      continue;
    }
    ASSERT_EQ(error, "") << c.layout;
    EXPECT_EQ(Bytes(path).size(), before.size()) << c.layout;
    EXPECT_EQ(FirstIfd(path), ifd) << c.layout;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_TRUE(tif) << c.layout;
    uint16_t unit = 0;
    float xres = 0, xpos = 0, ypos = 0;
    uint32_t fullW = 0, fullH = 0, width = 0;
    char* document = nullptr;
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit), 1);
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres), 1);
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XPOSITION, &xpos), 1);
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_YPOSITION, &ypos), 1);
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_PIXAR_IMAGEFULLWIDTH, &fullW), 1);
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_PIXAR_IMAGEFULLLENGTH, &fullH), 1);
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width), 1);
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_DOCUMENTNAME, &document), 0);
    TIFFClose(tif);
    EXPECT_EQ(unit, RESUNIT_INCH);
    EXPECT_FLOAT_EQ(xres, 300.0f);
    EXPECT_FLOAT_EQ(xpos, 5.0f);
    EXPECT_FLOAT_EQ(ypos, 7.0f / 300.0f);
    EXPECT_EQ(fullW, 90000u);
    EXPECT_EQ(fullH, 70000u);
    EXPECT_EQ(width, 300u);
    // The pixels are where they were.
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(ds);
    uint16_t v[2] = {};
    for (int b = 1; b <= 2; ++b)
      ASSERT_EQ(ds->GetRasterBand(b)->RasterIO(GF_Read, 299, 199, 1, 1, &v[b - 1], 1, 1, GDT_UInt16,
                                               0, 0, nullptr),
                CE_None);
    EXPECT_EQ(v[0], 1007) << c.layout;
    EXPECT_EQ(v[1], 2007) << c.layout;
  }
  const fs::path text = dir / "text.tif";
  std::ofstream(text) << "not a tiff at all";
  EXPECT_NE(SetTiffTagsInPlace(text.string(), tags, 0).find("not a TIFF"), std::string::npos);
  EXPECT_NE(SetTiffTagsInPlace((dir / "missing.tif").string(), tags, 0), "");
}

}  // namespace
}  // namespace ortavia
