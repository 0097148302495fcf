// A machine made of bytes: sparse physical memory in 4 KiB pages and PCI
// configuration spaces, for the firmware readers' tests and fuzz targets.
// Memory that no page covers cannot be read; a function without a
// configuration space reads as all ones.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "hw/MachineAccess.h"

namespace kestrune::test {

class MemoryImage : public IMachineAccess {
 public:
  static constexpr std::uint64_t kPageSize = 4096;

  // Writes bytes at address, creating zero-filled pages as needed.
  void Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes);
  void Write(std::uint64_t address, const std::string& text);
  void WriteDword(std::uint64_t address, std::uint32_t value);
  // Makes the range readable (zero-filled where new).
  void Map(std::uint64_t address, std::uint64_t length);
  // A PCI function with the given config-space bytes (the rest zero).
  void AddPciFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t vendor,
                      std::uint16_t deviceId, std::uint8_t headerType, std::uint16_t subsystemVendor);

  bool ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address) override;
  std::uint64_t SearchPhysicalMemory(std::uint32_t length, std::uint32_t step, std::uint32_t patternLength,
                                     const void* pattern, std::uint32_t skip, std::uint64_t start) override;
  std::uint8_t ReadPciConfigByte(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                 std::uint8_t function) override;
  std::uint16_t ReadPciConfig(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function) override;
  std::uint32_t ReadPciConfigDword(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                   std::uint8_t function) override;

  int Reads = 0;     // ReadPhysicalMemory calls
  int PciReads = 0;  // configuration reads of any width

 private:
  using Page = std::array<std::uint8_t, kPageSize>;
  using PciSpace = std::array<std::uint8_t, 4096>;
  std::uint8_t* ByteAt(std::uint64_t address, bool create);
  std::uint32_t ReadPci(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function,
                        unsigned width);

  std::map<std::uint64_t, Page> Pages;
  std::map<std::tuple<int, int, int>, PciSpace> Pci;
};

}  // namespace kestrune::test
