// 8-bit text in the ANSI code page, as the program keeps paths, made wide
// for the system calls that take only wide text.
#pragma once

#include <windows.h>

#include <string>

namespace kestrune::sys::win32 {

inline std::wstring WideFromAnsi(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  }
  return wide;
}

}  // namespace kestrune::sys::win32
