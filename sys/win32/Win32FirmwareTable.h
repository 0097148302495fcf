#pragma once

#include "sys/FirmwareTable.h"

namespace kestrune::sys::win32 {

// GetSystemFirmwareTable, looked up in kernel32.dll by name on each call
// (Windows XP and older lack it).
class Win32FirmwareTable : public IFirmwareTable {
 public:
  bool HasGetSystemFirmwareTable() override;
  Dword GetSystemFirmwareTable(Dword provider, Dword tableId, void* buffer, Dword bufferSize) override;
};

}  // namespace kestrune::sys::win32
