// Device-interface enumeration through the SetupDi functions.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

// A GUID in the system's layout.
struct DeviceClassGuid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};
  friend bool operator==(const DeviceClassGuid&, const DeviceClassGuid&) = default;
};

// GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}.
inline constexpr DeviceClassGuid kGuidDevinterfaceDisk = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

inline constexpr Dword kDigcfPresent = 0x02;
inline constexpr Dword kDigcfDeviceInterface = 0x10;

using DevInfoSet = std::intptr_t;
inline constexpr DevInfoSet kInvalidDevInfoSet = -1;

// SP_DEVICE_INTERFACE_DATA.
struct DeviceInterfaceData {
  DeviceClassGuid InterfaceClassGuid;
  Dword Flags = 0;
  std::uintptr_t Reserved = 0;
};

class ISetupDi {
 public:
  virtual ~ISetupDi() = default;
  // SetupDiGetClassDevsA with no enumerator and no window; kInvalidDevInfoSet
  // on failure.
  virtual DevInfoSet SetupDiGetClassDevsA(const DeviceClassGuid& classGuid, Dword flags) = 0;
  // Fails with ERROR_NO_MORE_ITEMS past the last interface.
  virtual bool SetupDiEnumDeviceInterfaces(DevInfoSet set, const DeviceClassGuid& interfaceClassGuid, Dword memberIndex,
                                           DeviceInterfaceData* data) = 0;
  // SetupDiGetDeviceInterfaceDetailA. Without devicePath and with a detailSize
  // of 0 it asks for the size of the detail record (SP_DEVICE_INTERFACE_
  // DETAIL_DATA_A with its device path): it then fails with
  // ERROR_INSUFFICIENT_BUFFER and stores the size in *requiredSize. With
  // devicePath, a record of detailSize bytes is allocated with its size field
  // set to the size of the record's fixed part, filled, and its device path
  // copied out; an allocation that fails answers ERROR_NOT_ENOUGH_MEMORY.
  virtual bool SetupDiGetDeviceInterfaceDetailA(DevInfoSet set, const DeviceInterfaceData& data,
                                                std::string* devicePath, Dword detailSize, Dword* requiredSize) = 0;
  virtual bool SetupDiDestroyDeviceInfoList(DevInfoSet set) = 0;
  virtual Dword GetLastError() = 0;
};

inline void DestroyDevInfoSet(DevInfoSet set) { Use<ISetupDi>().SetupDiDestroyDeviceInfoList(set); }

// A device information set, destroyed when the object goes.
using UniqueDevInfoSet = UniqueAny<DevInfoSet, kInvalidDevInfoSet, DestroyDevInfoSet>;

}  // namespace kestrune::sys
