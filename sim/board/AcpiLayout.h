// The board's ACPI tables in its memory, in either of the two forms of
// BoardAcpi: laid out from a base, with an RSDT and an RSDP built and every
// checksum fixed, or placed at their own addresses byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/board/Board.h"
#include "sim/board/PhysicalMemory.h"

namespace kestrune::sim {

// false with the fault named in error (overlapping or malformed tables,
// tables above 4 GiB, both forms at once).
bool LayOutAcpi(const BoardAcpi& acpi, PhysicalMemory& memory, std::string& error);

// Where the board's firmware hands the system its root pointer: the laid-out
// form's rsdp, the placed form's root pointer table; none without one.
std::optional<std::uint64_t> AcpiRootPointer(const BoardAcpi& acpi);

}  // namespace kestrune::sim
