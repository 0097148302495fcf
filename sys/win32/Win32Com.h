// The COM library adapter.
#pragma once

#include "sys/Com.h"

namespace kestrune::sys::win32 {

class Win32Com : public ICom {
 public:
  HResult CoInitializeEx(Dword coInit) override;
  HResult CoInitializeSecurity(Long authServices, Dword authnLevel, Dword impLevel, Dword capabilities) override;
  void CoUninitialize() override;
};

}  // namespace kestrune::sys::win32
