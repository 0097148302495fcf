// The system's copy of the firmware tables: GetSystemFirmwareTable, which
// older Windows versions lack (kernel32.dll is asked for it by name at run
// time, and its absence is a normal case).
#pragma once

#include "sys/WinTypes.h"

namespace kestrune::sys {

// Provider signature 'RSMB': the raw SMBIOS data.
inline constexpr Dword kFirmwareTableProviderRsmb = 0x52534D42;

class IFirmwareTable {
 public:
  virtual ~IFirmwareTable() = default;
  // Whether this system has GetSystemFirmwareTable.
  virtual bool HasGetSystemFirmwareTable() = 0;
  // GetSystemFirmwareTable: the size of the table, copied into buffer when
  // bufferSize is large enough (buffer may be null to ask for the size);
  // 0 on failure, and always 0 when the function is missing.
  virtual Dword GetSystemFirmwareTable(Dword provider, Dword tableId, void* buffer, Dword bufferSize) = 0;
};

}  // namespace kestrune::sys
