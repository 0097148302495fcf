// The process-wide access object of the hardware layer: physical memory,
// PCI configuration space, contiguous buffers for the firmware, the
// software SMI, and CPUID. All but CPUID are requests to the hardware access
// driver (common/DriverContract.h).
#pragma once

#include <array>
#include <cstdint>

#include "common/DriverContract.h"
#include "hw/OsPlatform.h"
#include "sys/Cpuid.h"
#include "sys/Files.h"

namespace kestrune {

class TRwConfig;
struct RwCfg;

inline constexpr std::uint64_t kSearchNotFound = 0x00000000FFFFFFFFull;
inline constexpr std::uint32_t kAllocationFailed = 0xFFFFFFFFu;
// Searches read physical memory in chunks of this size, one request each.
inline constexpr std::uint32_t kSearchChunkSize = 4096;

using PhysicalBufferHandle = std::array<std::uint8_t, 8>;

class TReadWrite {
 public:
  // Brings the driver up through LoadDriverInstance(false, false, false) and
  // takes the OS flags from a TOsVersion of its own.
  TReadWrite();
  // With the flags word and the device handle given (the handle stays the
  // loader's or the caller's: the object does not close it).
  TReadWrite(std::uint32_t osFlags, sys::FileHandle deviceHandle);
  // Releases TRwConfig and the loader.
  ~TReadWrite();
  TReadWrite(const TReadWrite&) = delete;
  TReadWrite& operator=(const TReadWrite&) = delete;

  bool ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address);
  bool WritePhysicalMemory(const void* buffer, std::uint32_t length, std::uint64_t address);
  // The address of match number `skip` (0-based) of the pattern, tried at
  // every step-th position from start over length bytes; kSearchNotFound.
  // A chunk whose read fails contributes no match.
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
  // Raises a software SMI (request 0x222888): the driver loads the six
  // registers and writes AL to the port in DX; on success the registers
  // hold what the SMI handler left. False when the driver is not open or
  // the request fails; the registers are then unchanged.
  bool SoftwareSmi(DRV_SMI_REGISTERS& registers);
  TRwConfig& GetConfig();
  sys::FileHandle GetDeviceHandle() const { return DeviceHandle; }
  std::uint32_t GetOsFlags() const { return OsFlags; }
  // The PCI request record as the last PCI read left it.
  const DRV_PCI_REQUEST& GetPciRequest() const { return PciRequest; }

 private:
  bool IsWindows9x() const { return OsFlags == kOsWindows9x; }
  bool CopyPhysical9x(void* buffer, std::uint32_t length, std::uint64_t address, bool write);
  bool MemoryRequest(std::uint32_t code, const void* buffer, std::uint32_t length, std::uint64_t address);
  std::uint32_t ReadPci(std::uint32_t code, std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                        std::uint8_t function, std::uint32_t width);
  std::uint32_t ReadPci9x(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function,
                          std::uint32_t width);

  std::uint32_t OsFlags = 0;
  sys::FileHandle DeviceHandle = sys::kInvalidHandleValue;
  TRwConfig* Config = nullptr;
  RwCfg* Settings = nullptr;
  std::uint32_t PciAddress = 0;
  std::uint16_t PciDataPort = 0;
  DRV_PCI_REQUEST PciRequest{};
};

// The process-wide instance; the first call constructs it, and with it the
// driver loader and TRwConfig.
TReadWrite* ReadWriteInstance();
// Destroys the process-wide instance (and so TRwConfig and the loader). The
// program never calls it; tests and tools do, to start a fresh machine.
void ReleaseReadWriteInstance();

}  // namespace kestrune
