#include "external/tools/storage_error.h"

#include <cerrno>
#include <vector>

#include <cpl_error.h>
#include <gtest/gtest.h>

namespace {

// Only the failures of the storage itself get a reason; any other error number left behind by
// an unrelated call must not be blamed on the write.
TEST(StorageError, OnlyTheStoragesOwnFailuresGiveAReason) {
  const struct {
    int error;
    const char* reason;
  } cases[] = {{ENOSPC, "No space left on device"}, {EFBIG, "File too large"},
               {EDQUOT, "Disk quota exceeded"},     {EROFS, "Read-only file system"},
               {EIO, "Input/output error"},         {0, ""},
               {ENOENT, ""},                        {EACCES, ""},
               {EINTR, ""},                         {EDOM, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(ortavia::tools::StorageErrorText(c.error), c.reason) << c.error;
    const std::string expected =
        *c.reason ? std::string("voronoi.tif cannot be written (") + c.reason + ")"
                  : "voronoi.tif cannot be written";
    EXPECT_EQ(ortavia::tools::WithStorageCause("voronoi.tif cannot be written", c.error), expected);
  }
}

// GDAL reports a failed write at once, while errno still holds the reason; libtiff may clear
// errno before the failure reaches the caller. The first storage reason reported is the one kept.
TEST(StorageError, TheWatchKeepsTheFirstStorageReasonGdalReported) {
  const struct {
    const char* what;
    std::vector<int> reported;  // errno at each GDAL error, in order
    int errnoAfter;
    int expected;
  } cases[] = {
      {"nothing reported", {}, 0, 0},
      {"reason cleared afterwards", {EFBIG, 0}, 0, EFBIG},
      {"first of two reasons", {ENOSPC, EIO}, 0, ENOSPC},
      {"an unrelated error first", {ENOENT, EDQUOT}, 0, EDQUOT},
      {"only unrelated errors", {ENOENT, EACCES}, EINTR, 0},
      {"no GDAL error, errno holds the reason", {}, ENOSPC, ENOSPC},
  };
  for (const auto& c : cases) {
    ortavia::tools::StorageErrorWatch watch;
    for (int e : c.reported) {
      errno = e;
      CPLError(CE_Failure, CPLE_FileIO, "write failed");
    }
    errno = c.errnoAfter;
    EXPECT_EQ(watch.Error(), c.expected) << c.what;
  }
}

}  // namespace
