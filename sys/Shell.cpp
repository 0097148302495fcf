#include "sys/Shell.h"

#include "sys/Seam.h"

namespace kestrune::sys {

void UniqueComObject::Reset() {
  if (object_ != 0) {
    Use<IShell>().Release(object_);
    object_ = 0;
  }
}

}  // namespace kestrune::sys
