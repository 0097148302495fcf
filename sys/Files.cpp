#include "sys/Files.h"

#include "sys/Seam.h"

namespace kestrune::sys {

void UniqueFileHandle::Reset(FileHandle handle) {
  if (handle_ != kInvalidHandleValue) {
    Use<IFiles>().CloseHandle(handle_);
  }
  handle_ = handle;
}

}  // namespace kestrune::sys
