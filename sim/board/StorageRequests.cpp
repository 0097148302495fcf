#include "sim/board/StorageRequests.h"

#include <cstring>

#include "common/LittleEndian.h"
#include "sys/Errors.h"
#include "sys/Storage.h"

namespace kestrune::sim {

namespace {

constexpr std::uint32_t kFileDeviceDisk = 7;

}  // namespace

sys::Dword StorageRequests::DeviceNumber(std::uint32_t number, std::uint32_t partition, void* out, sys::Dword outSize,
                                         sys::Dword* returned) {
  if (out == nullptr || outSize < 12) {
    return sys::kErrorInsufficientBuffer;
  }
  auto* bytes = static_cast<std::uint8_t*>(out);
  PutLe32(bytes, kFileDeviceDisk);
  PutLe32(bytes + 4, number);
  PutLe32(bytes + 8, partition);
  *returned = 12;
  return 0;
}

sys::Dword StorageRequests::Volume(sys::Dword code, void* out, sys::Dword outSize, sys::Dword* returned) const {
  const auto system = static_cast<std::uint32_t>(disks_.System);
  if (code == sys::kIoctlStorageGetDeviceNumber) {
    return DeviceNumber(system, 1, out, outSize, returned);
  }
  if (code != sys::kIoctlVolumeGetVolumeDiskExtents) {
    return sys::kErrorInvalidFunction;
  }
  // VOLUME_DISK_EXTENTS with one DISK_EXTENT.
  if (out == nullptr || outSize < 32) {
    return sys::kErrorInsufficientBuffer;
  }
  auto* bytes = static_cast<std::uint8_t*>(out);
  std::memset(bytes, 0, 32);
  *returned = 32;
  // A system volume on no disk the board knows (System -1) answers with
  // no extent, as Wine's volumes do.
  if (disks_.System >= 0) {
    PutLe32(bytes, 1);
    PutLe32(bytes + 8, system);
    PutLe64(bytes + 16, 0x00100000);
    PutLe64(bytes + 24, 0x0000001000000000ull);
  }
  return 0;
}

sys::Dword StorageRequests::Disk(std::size_t index, sys::Dword code, void* out, sys::Dword outSize,
                                 sys::Dword* returned) const {
  const BoardDisk& disk = disks_.List[index];
  if (code == sys::kIoctlStorageGetDeviceNumber) {
    return DeviceNumber(disk.Number, 0, out, outSize, returned);
  }
  if (code != sys::kIoctlDiskGetDriveLayoutEx) {
    return sys::kErrorInvalidFunction;
  }
  if (!disk.Medium) {
    return sys::kErrorNotReady;
  }
  return DriveLayout(disk, out, outSize, returned);
}

sys::Dword StorageRequests::DriveLayout(const BoardDisk& disk, void* out, sys::Dword outSize, sys::Dword* returned) {
  // DRIVE_LAYOUT_INFORMATION_EX: a 48-byte header, then 144 bytes a
  // PARTITION_INFORMATION_EX.
  const std::uint32_t count = disk.Style == PartitionStyle::Raw ? 0 : disk.Partitions;
  const std::uint64_t needed = 48 + 144ull * count;
  if (out == nullptr || outSize < needed) {
    return sys::kErrorInsufficientBuffer;
  }
  auto* bytes = static_cast<std::uint8_t*>(out);
  std::memset(bytes, 0, needed);
  PutLe32(bytes, static_cast<std::uint32_t>(disk.Style));
  PutLe32(bytes + 4, count);
  if (disk.Style == PartitionStyle::Mbr) {
    PutLe32(bytes + 8, 0x4B455300u + disk.Number);  // disk signature
  } else if (disk.Style == PartitionStyle::Gpt) {
    for (int i = 0; i < 16; ++i) {
      bytes[8 + i] = static_cast<std::uint8_t>(0xA0 + i + disk.Number);  // disk GUID
    }
    PutLe64(bytes + 24, 0x4400);                 // first usable byte
    PutLe64(bytes + 32, 0x0000001000000000ull);  // usable length
    PutLe32(bytes + 40, 128);                    // partition entries
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t* entry = bytes + 48 + 144 * i;
    PutLe32(entry, static_cast<std::uint32_t>(disk.Style));
    PutLe64(entry + 8, 0x00100000ull * (i + 1));
    PutLe64(entry + 16, 0x00100000);
    PutLe32(entry + 24, i + 1);
    if (disk.Style == PartitionStyle::Mbr) {
      entry[32] = 0x07;  // NTFS
      entry[33] = i == 0 ? 1 : 0;
      entry[34] = 1;
    }
  }
  *returned = static_cast<sys::Dword>(needed);
  return 0;
}

}  // namespace kestrune::sim
