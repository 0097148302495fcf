// The wall clock: a local time that tests set.
#pragma once

#include "sys/Clock.h"

namespace kestrune::sim {

class FakeClock : public sys::IClock {
 public:
  sys::SystemTime GetLocalTime() override { return Now; }
  sys::SystemTime Now{2026, 12, 5, 11, 14, 30, 5, 0};  // Friday 2026-12-11 14:30:05
};

}  // namespace kestrune::sim
