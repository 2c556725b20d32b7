#include "external/tools/storage_error.h"

#include <cerrno>
#include <system_error>

#include <cpl_error.h>

namespace ortavia::tools {
namespace {

void CPL_STDCALL NoteStorageError(CPLErr level, CPLErrorNum number, const char* message) {
  const int error = errno;
  auto* first = static_cast<int*>(CPLGetErrorHandlerUserData());
  if (first && *first == 0 && !StorageErrorText(error).empty()) *first = error;
  CPLDefaultErrorHandler(level, number, message);
  errno = error;
}

}  // namespace

std::string StorageErrorText(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EROFS:
    case EIO: return std::generic_category().message(error);
    default: return "";
  }
}

std::string WithStorageCause(const std::string& what, int error) {
  const std::string reason = StorageErrorText(error);
  return reason.empty() ? what : what + " (" + reason + ")";
}

StorageErrorWatch::StorageErrorWatch() {
  errno = 0;
  CPLPushErrorHandlerEx(NoteStorageError, &first_);
}

StorageErrorWatch::~StorageErrorWatch() { CPLPopErrorHandler(); }

int StorageErrorWatch::Error() const {
  if (first_ != 0) return first_;
  return StorageErrorText(errno).empty() ? 0 : errno;
}

}  // namespace ortavia::tools
