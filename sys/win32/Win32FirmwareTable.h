// GetSystemFirmwareTable, looked up in kernel32.dll by name on each call
// (Windows XP and older lack it).
#pragma once

#include <windows.h>

#include "sys/FirmwareTable.h"

namespace kestrune::sys::win32 {

class Win32FirmwareTable : public IFirmwareTable {
 public:
  bool HasGetSystemFirmwareTable() override { return LookUp() != nullptr; }
  Dword GetSystemFirmwareTable(Dword provider, Dword tableId, void* buffer, Dword bufferSize) override {
    const Function function = LookUp();
    return function == nullptr ? 0 : function(provider, tableId, buffer, bufferSize);
  }

 private:
  using Function = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);
  static Function LookUp() {
    HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    return kernel32 == nullptr ? nullptr
                               : reinterpret_cast<Function>(
                                     reinterpret_cast<void*>(::GetProcAddress(kernel32, "GetSystemFirmwareTable")));
  }
};

}  // namespace kestrune::sys::win32
