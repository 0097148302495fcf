// The storage stack's answers for a simulated board's system volume and
// disks: the volume's disk extents and device number, each disk's device
// number and drive layout, as the board describes them.
#pragma once

#include <cstddef>

#include "sim/board/Board.h"
#include "sys/WinTypes.h"

namespace kestrune::sim {

// Storage stack vocabulary (the request codes are in sys/Storage.h).
inline constexpr const char* kSystemVolumePath = "\\\\.\\C:";
inline constexpr const char* kDiskInterfaceClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

class StorageRequests {
 public:
  // disks must outlive the answers.
  explicit StorageRequests(const BoardDisks& disks) : disks_(disks) {}

  // One DeviceIoControl on the system volume, or on the disk at index of
  // the board's list: 0 with *returned set, or the error the system reports.
  sys::Dword Volume(sys::Dword code, void* out, sys::Dword outSize, sys::Dword* returned) const;
  sys::Dword Disk(std::size_t index, sys::Dword code, void* out, sys::Dword outSize, sys::Dword* returned) const;

 private:
  static sys::Dword DeviceNumber(std::uint32_t number, std::uint32_t partition, void* out, sys::Dword outSize,
                                 sys::Dword* returned);
  static sys::Dword DriveLayout(const BoardDisk& disk, void* out, sys::Dword outSize, sys::Dword* returned);

  const BoardDisks& disks_;
};

}  // namespace kestrune::sim
