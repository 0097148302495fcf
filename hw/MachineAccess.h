// What the firmware readers ask of the machine: physical memory reads,
// pattern searches over physical memory and PCI configuration reads.
//
// The hardware objects hand their TReadWrite to the readers through
// ReadWriteAccess; tests and fuzz targets hand them a memory image. The
// readers never learn which one they talk to.
#pragma once

#include <cstdint>

namespace kestrune {

class IMachineAccess {
 public:
  virtual ~IMachineAccess() = default;
  virtual bool ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address) = 0;
  // The address of match number `skip` (0-based) of the pattern, tried at
  // every step-th position from start over length bytes; kSearchNotFound
  // (hw/Readwrite.h) when there is none.
  virtual std::uint64_t SearchPhysicalMemory(std::uint32_t length, std::uint32_t step, std::uint32_t patternLength,
                                             const void* pattern, std::uint32_t skip, std::uint64_t start) = 0;
  // Bus, device, register, function; all ones for a missing function.
  virtual std::uint8_t ReadPciConfigByte(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                         std::uint8_t function) = 0;
  virtual std::uint16_t ReadPciConfig(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                      std::uint8_t function) = 0;
  virtual std::uint32_t ReadPciConfigDword(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                           std::uint8_t function) = 0;
};

}  // namespace kestrune
