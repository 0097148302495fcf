// The console adapter: standard output through the C library.
#pragma once

#include "sys/Console.h"

namespace kestrune::sys::win32 {

class Win32Console : public IConsole {
 public:
  void Write(std::string_view text) override;
  void Flush() override;
};

}  // namespace kestrune::sys::win32
