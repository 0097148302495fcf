#include "sys/Registry.h"

#include "sys/Seam.h"

namespace kestrune::sys {

void RegKeyHandle::Close() {
  if (key_ != 0) {
    Use<IRegistry>().RegCloseKey(key_);
    key_ = 0;
  }
}

}  // namespace kestrune::sys
