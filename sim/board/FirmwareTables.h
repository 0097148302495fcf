// The ACPI tables of a simulated board as the operating system finds them
// at boot, and so as its firmware-table provider answers them
// (GetSystemFirmwareTable('ACPI', ...), and the kernel's
// ZwQuerySystemInformation that the driver asks): from the root pointer the
// firmware hands the system, or, where it hands none, the one a search of
// the BIOS area finds (16-byte steps from 0xE0000, valid checksum), through
// the XSDT (revision 2 and later, when it names one) or else the RSDT to
// the tables it lists, and the FACS and DSDT the first FADT names. Tables
// are copied at boot; the first table of a signature answers for it.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sim/board/PhysicalMemory.h"

namespace kestrune::sim {

class FirmwareTables {
 public:
  FirmwareTables() = default;
  // rootPointer: where the firmware hands the system its root pointer
  // (as UEFI does), or none (as a legacy BIOS does).
  static FirmwareTables Find(const PhysicalMemory& memory, std::optional<std::uint64_t> rootPointer);

  // The table with the signature ("FACP" as 0x50434146), or nullptr.
  const std::vector<std::uint8_t>* Table(std::uint32_t signature) const;

 private:
  void Add(const PhysicalMemory& memory, std::uint64_t address);

  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> tables_;  // signature, bytes; in the order found
};

}  // namespace kestrune::sim
