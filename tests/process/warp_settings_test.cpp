#include "process/warp_settings.h"

#include <clocale>
#include <cmath>
#include <limits>
#include <gtest/gtest.h>

#include "external/tools/profile.h"

namespace ortavia {
namespace {

std::string Stored(const char* key) { return GT_GetUserProfileString("ProcessSetting", key, "<none>"); }

TEST(WarpSettings, GsdTextsAcceptedOnlyWhenAFiniteNumberAboveZero) {
  struct Case {
    const char* text;
    double expected;  // 0 = refused
  };
  const Case cases[] = {
      {"0.12", 0.12}, {" 1.5 ", 1.5}, {"+2", 2.0}, {"1e-2", 0.01}, {"0.1234", 0.1234},
      {"", 0}, {"   ", 0}, {"0", 0}, {"0.0", 0}, {"-1", 0}, {"-0.5", 0}, {"abc", 0},
      {"0,12", 0}, {"1.5x", 0}, {"nan", 0}, {"NaN", 0}, {"inf", 0}, {"-inf", 0}, {"1e400", 0},
  };
  for (const Case& c : cases) {
    const auto gsd = ParseGsd(c.text);
    if (c.expected == 0) {
      EXPECT_FALSE(gsd.has_value()) << "'" << c.text << "'";
    } else {
      ASSERT_TRUE(gsd.has_value()) << "'" << c.text << "'";
      EXPECT_DOUBLE_EQ(*gsd, c.expected) << "'" << c.text << "'";
    }
  }
}

TEST(WarpSettings, GsdIsWrittenAsEnteredWhateverTheLocale) {
  // A locale with a decimal comma, when the machine has one; the C.UTF-8 fallback still checks
  // the text.
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "it_IT.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name)) break;
  // The shortest decimal that reads back as the same double, with a point.
  EXPECT_EQ(FormatGsd(0.1234), "0.1234");
  EXPECT_EQ(FormatGsd(0.375), "0.375");
  EXPECT_EQ(FormatGsd(2.0), "2");
  EXPECT_EQ(FormatGsd(1234.567), "1234.567");
  EXPECT_EQ(FormatGsd(0.1 + 0.2), "0.30000000000000004");

  WarpSettings s;
  s.gsd = 0.1234;
  s.tileSizeIndex = 0;
  s.useVoronoi = false;
  ASSERT_TRUE(WriteWarpSettings(s));
  EXPECT_EQ(Stored("gsd"), "0.1234");
  EXPECT_EQ(Stored("iTileSize"), "0");
  EXPECT_EQ(Stored("UseVoronoi"), "0");
  ASSERT_TRUE(ParseGsd(Stored("gsd")).has_value());
  std::setlocale(LC_NUMERIC, before.c_str());
}

TEST(WarpSettings, ReadBackFromTheProfileWithFallbacks) {
  struct Case {
    const char* gsd;
    const char* tile;
    const char* voronoi;
    double gsdRead;
    int index, step;
    bool voronoiRead;
  };
  const Case cases[] = {
      {"0.50", "0", "1", 0.5, 0, 1, true},
      {"0.50", "1", "0", 0.5, 1, 16, false},
      {"0.0", "7", "1", 0.0, 1, 16, true},    // unknown position: 16
      {"-3", "abc", "x", 0.0, 1, 16, true},   // refused GSD opens at 0; broken flag: default on
      {"nan", "-1", "0", 0.0, 1, 16, false},
  };
  for (const Case& c : cases) {
    GT_WriteUserProfileString("ProcessSetting", "gsd", c.gsd);
    GT_WriteUserProfileString("ProcessSetting", "iTileSize", c.tile);
    GT_WriteUserProfileString("ProcessSetting", "UseVoronoi", c.voronoi);
    const WarpSettings s = ReadWarpSettings();
    EXPECT_DOUBLE_EQ(s.gsd, c.gsdRead) << c.gsd;
    EXPECT_EQ(s.tileSizeIndex, c.index) << c.tile;
    EXPECT_EQ(s.tileStep, c.step) << c.tile;
    EXPECT_EQ(s.useVoronoi, c.voronoiRead) << c.voronoi;
  }
}

TEST(WarpSettings, LargestErrorGoesThroughTheProfileInTheCLocale) {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "it_IT.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name)) break;
  WarpSettings s;
  s.maxError = 0.05;
  ASSERT_TRUE(WriteWarpSettings(s));
  EXPECT_EQ(Stored("dMaxError"), "0.05");
  struct Case {
    const char* stored;
    double read;
  };
  for (const Case& c : {Case{"0.05", 0.05}, Case{" 0.5 ", 0.5}, Case{"0", 0.0}, Case{"1e9", 1e9},
                        Case{"-0.1", 0.02}, Case{"0,05", 0.02}, Case{"", 0.02}, Case{"inf", 0.02}}) {
    GT_WriteUserProfileString("ProcessSetting", "dMaxError", c.stored);
    EXPECT_EQ(ReadWarpSettings().maxError, c.read) << "'" << c.stored << "'";
  }
  EXPECT_EQ(WarpModeText(16, 0.02),
            "squares of 16 x 16 pixels, split where they depart more than 0.02 px from the exact "
            "projection");
  EXPECT_EQ(WarpModeText(16, 0.0), "every pixel projected");
  EXPECT_EQ(WarpModeText(16, std::numeric_limits<double>::infinity()),
            "squares of 16 x 16 pixels, split only across an edge");
  EXPECT_EQ(WarpModeText(1, 0.02), "every pixel projected");
  std::setlocale(LC_NUMERIC, before.c_str());
}

TEST(WarpSettings, DestinationFolderKeepsItsText) {
  ASSERT_TRUE(WriteDestinationFolder("/data/run 1/orthos"));
  EXPECT_EQ(ReadDestinationFolder(), "/data/run 1/orthos");
  EXPECT_EQ(Stored("destinationFolder"), "/data/run 1/orthos");
}


TEST(WarpSettings, OrthoFileOptionsGoThroughTheProfile) {
  struct Case {
    bool cog;
    std::string compress;
    bool alpha;
    bool mosaic;
    bool occlusion;
    MosaicBlend blend;
    const char* blendText;
  };
  for (const Case& c : {Case{true, "ZSTD", false, true, false, MosaicBlend::Multiband, "multiband"},
                        Case{false, "", true, false, true, MosaicBlend::Feather, "feather"},
                        Case{true, "JPEG", true, true, true, MosaicBlend::None, "none"},
                        Case{false, "DEFLATE", false, false, false, MosaicBlend::Feather, "feather"}}) {
    WarpSettings s;
    s.gsd = 0.5;
    s.cog = c.cog;
    s.compress = c.compress;
    s.alpha = c.alpha;
    s.mosaic = c.mosaic;
    s.occlusion = c.occlusion;
    s.mosaicBlend = c.blend;
    ASSERT_TRUE(WriteWarpSettings(s));
    EXPECT_EQ(Stored("bOcclusion"), c.occlusion ? "1" : "0");
    EXPECT_EQ(Stored("MosaicBlend"), c.blendText);
    EXPECT_EQ(Stored("bCog"), c.cog ? "1" : "0");
    EXPECT_EQ(Stored("Compress"), c.compress);
    EXPECT_EQ(Stored("bAlpha"), c.alpha ? "1" : "0");
    EXPECT_EQ(Stored("bMosaic"), c.mosaic ? "1" : "0");
    const WarpSettings r = ReadWarpSettings();
    EXPECT_EQ(r.cog, c.cog);
    EXPECT_EQ(r.compress, c.compress);
    EXPECT_EQ(r.alpha, c.alpha);
    EXPECT_EQ(r.mosaic, c.mosaic);
    EXPECT_EQ(r.occlusion, c.occlusion);
    EXPECT_EQ(r.mosaicBlend, c.blend);
  }
  // A blend the mosaic does not know reads as feathering.
  GT_WriteUserProfileString("ProcessSetting", "MosaicBlend", "pyramid");
  EXPECT_EQ(ReadWarpSettings().mosaicBlend, MosaicBlend::Feather);
  // Edited by hand: what the orthos cannot take reads as today's files.
  struct Raw {
    const char *cog, *compress, *alpha;
    bool cogRead;
    std::string compressRead;
    bool alphaRead;
  };
  for (const Raw& r : {Raw{"abc", "webp", "2", false, "", false}, Raw{"yes", "NONE", "on", true, "", true},
                       Raw{"0", "LZW", "0", false, "LZW", false}, Raw{"1", "deflate", "1", true, "", true}}) {
    GT_WriteUserProfileString("ProcessSetting", "bCog", r.cog);
    GT_WriteUserProfileString("ProcessSetting", "Compress", r.compress);
    GT_WriteUserProfileString("ProcessSetting", "bAlpha", r.alpha);
    const WarpSettings s = ReadWarpSettings();
    EXPECT_EQ(s.cog, r.cogRead) << r.cog;
    EXPECT_EQ(s.compress, r.compressRead) << r.compress;
    EXPECT_EQ(s.alpha, r.alphaRead) << r.alpha;
  }
}

}  // namespace
}  // namespace ortavia
