// The power source of the system: what a test sets, a desktop on mains
// power without a battery unless told otherwise.
#pragma once

#include "sys/PowerStatus.h"

namespace kestrune::sim {

class FakePowerStatus : public sys::IPowerStatus {
 public:
  bool GetSystemPowerStatus(sys::SystemPowerStatus* status) override {
    if (Fails) {
      return false;
    }
    *status = Status;
    return true;
  }

  // A laptop on battery: the line offline, the battery discharging.
  static sys::SystemPowerStatus OnBattery() { return {sys::kAcLineOffline, 1, 62, 0, 5400, 0xFFFFFFFF}; }

  sys::SystemPowerStatus Status{sys::kAcLineOnline, 128, 255, 0, 0xFFFFFFFF, 0xFFFFFFFF};
  bool Fails = false;
};

}  // namespace kestrune::sim
