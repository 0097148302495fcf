// The local date and time.
#pragma once

#include <windows.h>

#include "sys/Clock.h"

namespace kestrune::sys::win32 {

class Win32Clock : public IClock {
 public:
  SystemTime GetLocalTime() override {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDayOfWeek, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  }
};

}  // namespace kestrune::sys::win32
