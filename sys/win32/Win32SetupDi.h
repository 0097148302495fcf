// Device-interface enumeration through the SetupDi functions.
#pragma once

#include "sys/SetupDi.h"

namespace kestrune::sys::win32 {

class Win32SetupDi : public ISetupDi {
 public:
  DevInfoSet SetupDiGetClassDevsA(const DeviceClassGuid& classGuid, Dword flags) override;
  bool SetupDiEnumDeviceInterfaces(DevInfoSet set, const DeviceClassGuid& interfaceClassGuid, Dword memberIndex,
                                   DeviceInterfaceData* data) override;
  bool SetupDiGetDeviceInterfaceDetailA(DevInfoSet set, const DeviceInterfaceData& data, std::string* devicePath,
                                        Dword detailSize, Dword* requiredSize) override;
  bool SetupDiDestroyDeviceInfoList(DevInfoSet set) override;
  Dword GetLastError() override;
};

}  // namespace kestrune::sys::win32
