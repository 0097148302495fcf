#include "sys/win32/Win32Dialogs.h"

#include <windows.h>

namespace kestrune::sys::win32 {

int Win32Dialogs::MessageBoxA(const std::string& text, const std::string& caption, Dword type) {
  return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), type);
}

}  // namespace kestrune::sys::win32
