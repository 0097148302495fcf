// The console adapter: standard output through the C library.
#pragma once

#include <cstdio>

#include "sys/Console.h"

namespace kestrune::sys::win32 {

class Win32Console : public IConsole {
 public:
  void Write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
  void Flush() override { std::fflush(stdout); }
};

}  // namespace kestrune::sys::win32
