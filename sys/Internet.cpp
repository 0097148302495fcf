#include "sys/Internet.h"

#include "sys/Seam.h"

namespace kestrune::sys {

void UniqueInternetHandle::Reset(InternetHandle handle) {
  if (handle_ != kNullInternetHandle) {
    Use<IInternet>().InternetCloseHandle(handle_);
  }
  handle_ = handle;
}

}  // namespace kestrune::sys
