// Storage I/O control requests on volumes and disks, and the records they
// answer with, in the system's layout (the same on 32- and 64-bit Windows).
#pragma once

#include <cstdint>

#include "sys/WinTypes.h"

namespace kestrune::sys {

inline constexpr Dword kIoctlVolumeGetVolumeDiskExtents = 0x00560000;
inline constexpr Dword kIoctlStorageGetDeviceNumber = 0x002D1080;
inline constexpr Dword kIoctlDiskGetDriveLayoutEx = 0x00070050;

// DISK_EXTENT.
struct DiskExtent {
  Dword DiskNumber = 0;
  Dword Padding = 0;
  std::int64_t StartingOffset = 0;
  std::int64_t ExtentLength = 0;
};

// VOLUME_DISK_EXTENTS with room for one extent: a volume on more than one
// disk does not fit and the request fails with ERROR_MORE_DATA.
struct VolumeDiskExtents {
  Dword NumberOfDiskExtents = 0;
  Dword Padding = 0;
  DiskExtent Extents[1];
};
static_assert(sizeof(VolumeDiskExtents) == 32);

// STORAGE_DEVICE_NUMBER.
struct StorageDeviceNumber {
  Dword DeviceType = 0;
  Dword DeviceNumber = 0;
  Dword PartitionNumber = 0;
};
static_assert(sizeof(StorageDeviceNumber) == 12);

// DRIVE_LAYOUT_INFORMATION_EX: a 48-byte header whose first word is the
// partition style, then one 144-byte PARTITION_INFORMATION_EX a partition.
inline constexpr Dword kDriveLayoutHeaderSize = 48;
inline constexpr Dword kPartitionInformationSize = 144;
inline constexpr Dword kPartitionStyleMbr = 0;
inline constexpr Dword kPartitionStyleGpt = 1;
inline constexpr Dword kPartitionStyleRaw = 2;

inline constexpr Dword kFileDeviceDisk = 7;

}  // namespace kestrune::sys
