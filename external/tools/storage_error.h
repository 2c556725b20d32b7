#pragma once
// Why a write failed, for the failures an operator can act on: a full disk or quota, a file-size
// limit, a read-only or failing device. GDAL and libtiff only say that a write failed; the error
// number the system gave the failing call says why.
#include <string>

namespace ortavia::tools {

// The system's text for those error numbers; empty for any other.
std::string StorageErrorText(int error);

// "what (reason)" when the error number has such a reason, else "what".
std::string WithStorageCause(const std::string& what, int error);

// While alive, notes the error number behind the first storage failure GDAL reports on this
// thread; GDAL's messages still reach its default handler. Needed because libtiff clears errno
// on its way out of a failed close.
class StorageErrorWatch {
 public:
  StorageErrorWatch();
  ~StorageErrorWatch();
  StorageErrorWatch(const StorageErrorWatch&) = delete;
  StorageErrorWatch& operator=(const StorageErrorWatch&) = delete;

  // The first storage error GDAL reported, else errno when it is one, else 0. Read it right
  // after the failed call.
  int Error() const;

 private:
  int first_ = 0;
};

}  // namespace ortavia::tools
