// What a board must be before a machine is built from it, as far as the
// board alone can tell: a processor whose texts fit its CPUID leaves,
// regions that do not run past the end of the address space, PCI functions
// that exist on a bus and are listed once, disks listed once and firmware
// variables with names. Overlaps and the ACPI layout are found while the
// machine places the board in memory (BoardMachine, AcpiLayout).
#pragma once

#include <cstdint>
#include <string>

#include "sim/board/Board.h"

namespace kestrune::sim {

// false with the fault named in error.
bool CheckBoard(const Board& board, std::string& error);

// "0x1000": how a board's faults name an address.
std::string AddressText(std::uint64_t address);

}  // namespace kestrune::sim
