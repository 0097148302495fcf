// The wall clock: the local date and time (GetLocalTime).
#pragma once

#include <cstdint>

namespace kestrune::sys {

// SYSTEMTIME.
struct SystemTime {
  std::uint16_t Year = 0;
  std::uint16_t Month = 0;
  std::uint16_t DayOfWeek = 0;
  std::uint16_t Day = 0;
  std::uint16_t Hour = 0;
  std::uint16_t Minute = 0;
  std::uint16_t Second = 0;
  std::uint16_t Milliseconds = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  virtual SystemTime GetLocalTime() = 0;
};

}  // namespace kestrune::sys
