// Device-interface enumeration over an ordered list of device paths: the
// disks that a fake or the simulated board presents, in the order the
// system lists them. Every device information set answers with the same
// list for the disk interface class and with none for other classes.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sys/SetupDi.h"

namespace kestrune::sim {

class FakeSetupDi : public sys::ISetupDi {
 public:
  FakeSetupDi() = default;
  explicit FakeSetupDi(std::vector<std::string> devicePaths) : DevicePaths(std::move(devicePaths)) {}

  sys::DevInfoSet SetupDiGetClassDevsA(const sys::DeviceClassGuid& classGuid, sys::Dword flags) override;
  bool SetupDiEnumDeviceInterfaces(sys::DevInfoSet set, const sys::DeviceClassGuid& interfaceClassGuid,
                                   sys::Dword memberIndex, sys::DeviceInterfaceData* data) override;
  bool SetupDiGetDeviceInterfaceDetailA(sys::DevInfoSet set, const sys::DeviceInterfaceData& data,
                                        std::string* devicePath, sys::Dword detailSize,
                                        sys::Dword* requiredSize) override;
  bool SetupDiDestroyDeviceInfoList(sys::DevInfoSet set) override;
  sys::Dword GetLastError() override { return LastError; }

  std::vector<std::string> DevicePaths;

  // Failures to inject, by member index.
  bool FailGetClassDevs = false;
  std::optional<sys::Dword> FailSizeQueryAt;  // answers FailSizeQueryError instead of the size
  sys::Dword FailSizeQueryError = sys::kErrorInvalidParameter;
  std::optional<sys::Dword> FailDetailAt;  // the record cannot be allocated

  // What was asked.
  std::vector<sys::Dword> ClassDevsFlags;
  std::vector<sys::Dword> EnumeratedIndexes;
  std::set<sys::DevInfoSet> OpenSets;
  int DestroyedSets = 0;

  // The size of the detail record's fixed part, as on 32-bit Windows.
  static constexpr sys::Dword kDetailFixedSize = 5;

 private:
  bool Lookup(sys::DevInfoSet set, const sys::DeviceInterfaceData& data, std::size_t* index);

  sys::Dword LastError = 0;
  sys::DevInfoSet NextSet = 0x10;
  std::set<sys::DevInfoSet> DiskSets;
};

}  // namespace kestrune::sim
