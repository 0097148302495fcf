// The power source of the system.
#pragma once

#include <windows.h>

#include "sys/PowerStatus.h"

namespace kestrune::sys::win32 {

class Win32PowerStatus : public IPowerStatus {
 public:
  bool GetSystemPowerStatus(SystemPowerStatus* status) override {
    SYSTEM_POWER_STATUS power{};
    if (!::GetSystemPowerStatus(&power)) {
      return false;
    }
    *status = {power.ACLineStatus, power.BatteryFlag,     power.BatteryLifePercent,
               power.Reserved1,    power.BatteryLifeTime, power.BatteryFullLifeTime};
    return true;
  }
};

}  // namespace kestrune::sys::win32
