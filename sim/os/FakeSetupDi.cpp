#include "sim/os/FakeSetupDi.h"

namespace kestrune::sim {

sys::DevInfoSet FakeSetupDi::SetupDiGetClassDevsA(const sys::DeviceClassGuid& classGuid, sys::Dword flags) {
  ClassDevsFlags.push_back(flags);
  if (FailGetClassDevs) {
    LastError = sys::kErrorInvalidParameter;
    return sys::kInvalidDevInfoSet;
  }
  const sys::DevInfoSet set = NextSet++;
  OpenSets.insert(set);
  if (classGuid == sys::kGuidDevinterfaceDisk && (flags & sys::kDigcfDeviceInterface) != 0) {
    DiskSets.insert(set);
  }
  return set;
}

bool FakeSetupDi::SetupDiEnumDeviceInterfaces(sys::DevInfoSet set, const sys::DeviceClassGuid& interfaceClassGuid,
                                              sys::Dword memberIndex, sys::DeviceInterfaceData* data) {
  EnumeratedIndexes.push_back(memberIndex);
  if (OpenSets.count(set) == 0) {
    LastError = sys::kErrorInvalidHandle;
    return false;
  }
  const bool disks = DiskSets.count(set) != 0 && interfaceClassGuid == sys::kGuidDevinterfaceDisk;
  if (!disks || memberIndex >= DevicePaths.size()) {
    LastError = sys::kErrorNoMoreItems;
    return false;
  }
  data->InterfaceClassGuid = interfaceClassGuid;
  data->Flags = 1;  // SPINT_ACTIVE
  data->Reserved = memberIndex + 1;
  return true;
}

bool FakeSetupDi::Lookup(sys::DevInfoSet set, const sys::DeviceInterfaceData& data, std::size_t* index) {
  if (DiskSets.count(set) == 0 || OpenSets.count(set) == 0 || data.Reserved == 0 ||
      data.Reserved > DevicePaths.size()) {
    LastError = sys::kErrorInvalidParameter;
    return false;
  }
  *index = data.Reserved - 1;
  return true;
}

bool FakeSetupDi::SetupDiGetDeviceInterfaceDetailA(sys::DevInfoSet set, const sys::DeviceInterfaceData& data,
                                                   std::string* devicePath, sys::Dword detailSize,
                                                   sys::Dword* requiredSize) {
  std::size_t index = 0;
  if (!Lookup(set, data, &index)) {
    return false;
  }
  const std::string& path = DevicePaths[index];
  const auto size = static_cast<sys::Dword>(kDetailFixedSize + path.size() + 1);
  if (requiredSize != nullptr) {
    *requiredSize = size;
  }
  if (devicePath == nullptr) {
    if (FailSizeQueryAt == index) {
      LastError = FailSizeQueryError;
      return false;
    }
    LastError = sys::kErrorInsufficientBuffer;
    return false;
  }
  if (FailDetailAt == index) {
    LastError = sys::kErrorNotEnoughMemory;
    return false;
  }
  if (detailSize < size) {
    LastError = sys::kErrorInsufficientBuffer;
    return false;
  }
  *devicePath = path;
  return true;
}

bool FakeSetupDi::SetupDiDestroyDeviceInfoList(sys::DevInfoSet set) {
  if (OpenSets.erase(set) == 0) {
    LastError = sys::kErrorInvalidHandle;
    return false;
  }
  DiskSets.erase(set);
  ++DestroyedSets;
  return true;
}

}  // namespace kestrune::sim
