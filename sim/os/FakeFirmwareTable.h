// GetSystemFirmwareTable as a system without it, or with a given 'RSMB'
// table, answers it.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "sys/FirmwareTable.h"

namespace kestrune::sim {

class FakeFirmwareTable : public sys::IFirmwareTable {
 public:
  bool HasGetSystemFirmwareTable() override { return Present; }
  sys::Dword GetSystemFirmwareTable(sys::Dword provider, sys::Dword tableId, void* buffer,
                                    sys::Dword bufferSize) override {
    ++Calls;
    if (!Present || provider != sys::kFirmwareTableProviderRsmb || tableId != 0 || RawSmbios.empty()) {
      return 0;
    }
    const auto size = static_cast<sys::Dword>(RawSmbios.size());
    if (buffer != nullptr && bufferSize >= size) {
      std::memcpy(buffer, RawSmbios.data(), size);
    }
    return size;
  }

  bool Present = false;
  // The RawSMBIOSData block: 8-byte header, then the table.
  std::vector<std::uint8_t> RawSmbios;
  int Calls = 0;
};

}  // namespace kestrune::sim
