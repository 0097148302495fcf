#include "sys/win32/Win32Com.h"

#include <objbase.h>

namespace kestrune::sys::win32 {

HResult Win32Com::CoInitializeEx(Dword coInit) { return ::CoInitializeEx(nullptr, coInit); }

HResult Win32Com::CoInitializeSecurity(Long authServices, Dword authnLevel, Dword impLevel, Dword capabilities) {
  return ::CoInitializeSecurity(nullptr, authServices, nullptr, nullptr, authnLevel, impLevel, nullptr, capabilities,
                                nullptr);
}

void Win32Com::CoUninitialize() { ::CoUninitialize(); }

}  // namespace kestrune::sys::win32
