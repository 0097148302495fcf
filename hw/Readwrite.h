// The process-wide access object of the hardware layer: physical memory,
// PCI configuration space, contiguous buffers for the firmware, and CPUID.
// All but CPUID are requests to the hardware access driver.
#pragma once

#include <array>
#include <cstdint>

#include "sys/Cpuid.h"
#include "sys/Files.h"

namespace kestrune {

class TOsVersion;
class TRwConfig;
struct RwCfg;

inline constexpr std::uint64_t kSearchNotFound = 0x00000000FFFFFFFFull;
inline constexpr std::uint32_t kAllocationFailed = 0xFFFFFFFFu;

using PhysicalBufferHandle = std::array<std::uint8_t, 8>;

class TReadWrite {
 public:
  TReadWrite();
  ~TReadWrite();
  TReadWrite(const TReadWrite&) = delete;
  TReadWrite& operator=(const TReadWrite&) = delete;

  bool ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address);
  bool WritePhysicalMemory(const void* buffer, std::uint32_t length, std::uint64_t address);
  // The address of match number `skip` (0-based) of the pattern, tried at
  // every step-th position from start over length bytes; kSearchNotFound.
  std::uint64_t SearchPhysicalMemory(std::uint32_t length, std::uint32_t step, std::uint32_t patternLength,
                                     const void* pattern, std::uint32_t skip, std::uint64_t start);
  // Note the order: the register comes before the function. A function
  // that does not exist, or a failed request, reads as all ones.
  std::uint8_t ReadPciConfigByte(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function);
  std::uint16_t ReadPciConfig(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function);
  std::uint32_t ReadPciConfigDword(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function);
  // Physical address of a new contiguous buffer below 4 GiB, or kAllocationFailed.
  std::uint32_t AllocPhysicalBuffer(PhysicalBufferHandle& handle, std::uint32_t size);
  void FreePhysicalBuffer(const PhysicalBufferHandle& handle, std::uint32_t size);
  bool Cpuid(sys::CpuidRegisters& registers);
  TRwConfig& GetConfig();
  sys::FileHandle GetDeviceHandle() const;
  // ... fields and the software-SMI request are the hardware layer's to add.
};

TReadWrite* ReadWriteInstance();

}  // namespace kestrune
