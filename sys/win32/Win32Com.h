// The COM library adapter.
#pragma once

#include <objbase.h>

#include "sys/Com.h"

namespace kestrune::sys::win32 {

class Win32Com : public ICom {
 public:
  HResult CoInitializeEx(Dword coInit) override { return ::CoInitializeEx(nullptr, coInit); }
  HResult CoInitializeSecurity(Long authServices, Dword authnLevel, Dword impLevel, Dword capabilities) override {
    return ::CoInitializeSecurity(nullptr, authServices, nullptr, nullptr, authnLevel, impLevel, nullptr, capabilities,
                                  nullptr);
  }
  void CoUninitialize() override { ::CoUninitialize(); }
};

}  // namespace kestrune::sys::win32
