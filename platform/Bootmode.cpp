#include "platform/Bootmode.h"

#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "sys/EnvironmentVariables.h"
#include "sys/Files.h"
#include "sys/Seam.h"
#include "sys/SetupDi.h"
#include "sys/Storage.h"

namespace kestrune {

namespace {

// Room for the layout header and 26 partitions; a disk with more fails the
// layout request and is passed over.
constexpr std::size_t kLayoutBufferSize = 3840;

enum class Examination { Stop, GoOn, Match };

sys::FileHandle OpenDevice(const std::string& path) {
  // Opening volumes and disks this way takes administrator rights.
  return sys::Use<sys::IFiles>().CreateFileA(path, sys::kGenericRead | sys::kGenericWrite,
                                             sys::kFileShareRead | sys::kFileShareWrite, sys::kOpenExisting, 0);
}

template <class Record>
bool Request(const sys::UniqueFileHandle& device, sys::Dword code, Record* record) {
  sys::Dword returned = 0;
  return sys::Use<sys::IFiles>().DeviceIoControl(device.Get(), code, nullptr, 0, record,
                                                 static_cast<sys::Dword>(sizeof(Record)), &returned);
}

Examination ExamineInterface(sys::DevInfoSet set, sys::Dword memberIndex, std::int32_t diskNumber) {
  sys::ISetupDi& setupDi = sys::Use<sys::ISetupDi>();
  sys::DeviceInterfaceData data;
  if (!setupDi.SetupDiEnumDeviceInterfaces(set, sys::kGuidDevinterfaceDisk, memberIndex, &data)) {
    return Examination::Stop;  // normally the end of the list
  }
  sys::Dword required = 0;
  if (!setupDi.SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required) &&
      setupDi.GetLastError() != static_cast<sys::Dword>(sys::kErrorInsufficientBuffer)) {
    return Examination::Stop;
  }
  std::string devicePath;
  if (!setupDi.SetupDiGetDeviceInterfaceDetailA(set, data, &devicePath, required, nullptr)) {
    return Examination::Stop;
  }
  // A disk that cannot be opened or whose layout cannot be read (a card
  // reader without a card, more partitions than the buffer holds) is not the
  // system disk's answer: the walk goes on to the next disk.
  const sys::UniqueFileHandle disk(OpenDevice(devicePath));
  if (!disk.Valid()) {
    return Examination::GoOn;
  }
  std::array<std::uint8_t, kLayoutBufferSize> layout{};
  if (!Request(disk, sys::kIoctlDiskGetDriveLayoutEx, &layout)) {
    return Examination::GoOn;
  }
  sys::StorageDeviceNumber number;
  if (!Request(disk, sys::kIoctlStorageGetDeviceNumber, &number)) {
    return Examination::GoOn;
  }
  sys::Dword partitionStyle = 0;
  std::memcpy(&partitionStyle, layout.data(), sizeof partitionStyle);
  // No disk carries a negative number, whatever its device reports.
  const bool match = diskNumber >= 0 && number.DeviceNumber == static_cast<sys::Dword>(diskNumber) &&
                     partitionStyle == sys::kPartitionStyleGpt;
  return match ? Examination::Match : Examination::GoOn;
}

}  // namespace

std::int32_t GetSystemDiskNumber() {
  const std::optional<std::string> systemDrive = sys::Use<sys::IEnvironmentVariables>().GetEnv("SystemDrive");
  if (!systemDrive) {
    return -1;
  }
  const sys::UniqueFileHandle volume(OpenDevice("\\\\.\\" + *systemDrive));
  if (!volume.Valid()) {
    return -1;
  }
  sys::VolumeDiskExtents extents;
  if (!Request(volume, sys::kIoctlVolumeGetVolumeDiskExtents, &extents)) {
    return -1;  // also a volume that spans more than one disk
  }
  sys::StorageDeviceNumber number;
  if (!Request(volume, sys::kIoctlStorageGetDeviceNumber, &number)) {
    return -1;
  }
  // A volume that reports no extent names no disk.
  if (extents.NumberOfDiskExtents == 0) {
    return -1;
  }
  return static_cast<std::int32_t>(extents.Extents[0].DiskNumber);
}

bool IsGptDisk(std::int32_t diskNumber) {
  const sys::UniqueDevInfoSet set(sys::Use<sys::ISetupDi>().SetupDiGetClassDevsA(
      sys::kGuidDevinterfaceDisk, sys::kDigcfPresent | sys::kDigcfDeviceInterface));
  if (!set.Valid()) {
    return false;
  }
  for (sys::Dword memberIndex = 0;; ++memberIndex) {
    switch (ExamineInterface(set.Get(), memberIndex, diskNumber)) {
      case Examination::Stop:
        return false;
      case Examination::Match:
        return true;
      case Examination::GoOn:
        break;
    }
  }
}

}  // namespace kestrune
