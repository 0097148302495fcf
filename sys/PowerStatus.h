// The power source of the system: GetSystemPowerStatus.
#pragma once

#include <cstdint>

#include "sys/WinTypes.h"

namespace kestrune::sys {

// ACLineStatus.
inline constexpr std::uint8_t kAcLineOffline = 0;
inline constexpr std::uint8_t kAcLineOnline = 1;
inline constexpr std::uint8_t kAcLineUnknown = 255;

// SYSTEM_POWER_STATUS.
struct SystemPowerStatus {
  std::uint8_t AcLineStatus = kAcLineUnknown;
  std::uint8_t BatteryFlag = 255;         // 128: no system battery, 255: unknown
  std::uint8_t BatteryLifePercent = 255;  // 255: unknown
  std::uint8_t SystemStatusFlag = 0;      // 1: battery saver on (the older headers call it Reserved1)
  Dword BatteryLifeTime = 0xFFFFFFFF;     // seconds; 0xFFFFFFFF: unknown
  Dword BatteryFullLifeTime = 0xFFFFFFFF;
};

class IPowerStatus {
 public:
  virtual ~IPowerStatus() = default;
  // False on failure, *status then untouched.
  virtual bool GetSystemPowerStatus(SystemPowerStatus* status) = 0;
};

}  // namespace kestrune::sys
