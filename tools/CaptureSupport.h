// What both captures share: the options, the name a captured board
// carries, and the SMBIOS handling (its entry point in the BIOS area, and
// the blanking of serial numbers and UUIDs).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/board/Board.h"

namespace kestrune::tools {

struct CaptureOptions {
  // Blank the serial numbers, asset tags and UUID in SMBIOS, wherever the
  // captured bytes hold the structure table.
  bool BlankSerials = false;
};

// "0x" and upper-case hex digits, for the capture's texts.
std::string HexAddress(std::uint64_t value);

// "captured on HOST at 2026-12-10T14:30:00Z by kestrune-probe".
std::string CaptureName(const std::string& host);

// The first SMBIOS entry point in bytes whose checksum holds: "_SM_" (31
// bytes, 2.x) or "_SM3_" (24 bytes, 3.x), at a 16-byte boundary of the
// address the bytes start at.
std::optional<sim::BoardMemoryRegion> FindSmbiosEntryPoint(const sim::BoardMemoryRegion& area);
// The structure table's address and length that an entry point names.
bool SmbiosTableOf(const sim::Bytes& entryPoint, std::uint64_t& address, std::uint32_t& length);

// Overwrites, in a structure table, the strings that carry serial numbers
// and asset tags with blanks of the same length, and system UUIDs with
// zeros, so the table's layout stays as it was.
void BlankSmbiosSerials(std::uint8_t* table, std::size_t length);
// The same in every copy the board holds: its SMBIOS table, its
// firmware-table copy and any memory region or ACPI table that holds the
// table at its address.
void BlankBoardSerials(sim::Board& board);

}  // namespace kestrune::tools
