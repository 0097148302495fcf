#include "sys/SetupDi.h"

#include "sys/Seam.h"

namespace kestrune::sys {

UniqueDevInfoSet::~UniqueDevInfoSet() {
  if (Valid()) {
    Use<ISetupDi>().SetupDiDestroyDeviceInfoList(set_);
  }
}

}  // namespace kestrune::sys
