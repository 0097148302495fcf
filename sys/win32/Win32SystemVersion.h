#pragma once

#include "sys/SystemVersion.h"

namespace kestrune::sys::win32 {

// The version functions of kernel32. See the .cpp for how the 64-bit test
// builds answer the questions that depend on the process's word size.
class Win32SystemVersion : public ISystemVersion {
 public:
  Bool GetVersionExA(OsVersionInfoEx* info) override;
  void GetSystemInfo(SystemInfo* info) override;
  int GetSystemMetrics(int index) override;
  bool GetNativeSystemInfo(SystemInfo* info) override;
  std::optional<Bool> GetProductInfo(Dword osMajor, Dword osMinor, Dword spMajor, Dword spMinor,
                                     Dword* productType) override;
  std::optional<Bool> IsWow64Process(Bool* wow64Process) override;
};

}  // namespace kestrune::sys::win32
