#include "sys/win32/Win32FirmwareTable.h"

#include <windows.h>

namespace kestrune::sys::win32 {

namespace {

using GetSystemFirmwareTableFunction = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);

GetSystemFirmwareTableFunction LookUp() {
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<GetSystemFirmwareTableFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "GetSystemFirmwareTable")));
}

}  // namespace

bool Win32FirmwareTable::HasGetSystemFirmwareTable() { return LookUp() != nullptr; }

Dword Win32FirmwareTable::GetSystemFirmwareTable(Dword provider, Dword tableId, void* buffer, Dword bufferSize) {
  const GetSystemFirmwareTableFunction function = LookUp();
  return function == nullptr ? 0 : function(provider, tableId, buffer, bufferSize);
}

}  // namespace kestrune::sys::win32
