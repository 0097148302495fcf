// Boot-mode probe: a system counts as booting in UEFI mode when the disk
// that holds its system drive has the GPT partition style.
#pragma once

#include <cstdint>

namespace kestrune {

// The storage stack's number of the disk that holds the system drive
// ("SystemDrive"); -1 on any failure.
std::int32_t GetSystemDiskNumber();

// True when a present disk device with that number has the GPT partition
// style. The disks are examined in the order the system lists them; a disk
// that cannot be opened or whose layout cannot be read ends the walk.
bool IsGptDisk(std::int32_t diskNumber);

}  // namespace kestrune
