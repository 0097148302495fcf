#include "platform/PowerSource.h"

#include "sys/PowerStatus.h"
#include "sys/Seam.h"

namespace kestrune {

std::uint8_t ReadAcLineStatus() {
  sys::SystemPowerStatus status;
  if (!sys::Use<sys::IPowerStatus>().GetSystemPowerStatus(&status)) {
    return sys::kAcLineUnknown;
  }
  return status.AcLineStatus;
}

}  // namespace kestrune
