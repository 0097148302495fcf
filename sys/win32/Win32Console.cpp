#include "sys/win32/Win32Console.h"

#include <cstdio>

namespace kestrune::sys::win32 {

void Win32Console::Write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void Win32Console::Flush() { std::fflush(stdout); }

}  // namespace kestrune::sys::win32
