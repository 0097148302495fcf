// Decoders of SMBIOS bytes: the 2.x entry point, the RawSMBIOSData block
// that GetSystemFirmwareTable returns, and the structure table with its
// string sets. Every function reads only inside the bytes it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/LittleEndian.h"
#include "hw/Readwrite.h"

namespace kestrune::smbios {

inline constexpr char kAnchor[] = "_SM_";
inline constexpr std::uint32_t kAnchorLength = 4;
inline constexpr std::uint32_t kEntryPointLength = 31;
inline constexpr std::size_t kRawHeaderLength = 8;
inline constexpr std::size_t kStructureHeaderLength = 4;

inline constexpr std::uint8_t kTypeBios = 0;
inline constexpr std::uint8_t kTypeBaseboard = 2;
inline constexpr std::size_t kBiosVersionString = 0x05;
inline constexpr std::size_t kBiosReleaseDateString = 0x08;
inline constexpr std::size_t kBaseboardProductString = 0x05;

struct EntryPoint {
  std::uint16_t TableLength = 0;
  std::uint32_t TableAddress = 0;
  std::uint32_t Version = 0;  // major * 16 + minor
};
// The anchor and a zero 8-bit sum over the 31 bytes.
std::optional<EntryPoint> ParseEntryPoint(ByteSpan bytes);

// A loaded structure table, as TSmbiosBase keeps it.
struct LoadedTable {
  bool Loaded = false;
  std::vector<std::uint8_t> Table;
  std::uint16_t TableLength = 0;
  std::uint32_t TableAddress = 0xFFFFFFFF;
  std::uint32_t Version = 0;
};

// From RawSMBIOSData: the length keeps its low 16 bits only; a block that
// holds fewer bytes than its header claims yields what it holds.
LoadedTable FromRawSmbiosData(ByteSpan raw);

// The entry point from the BIOS area (occurrence 0, 1, 2, ... of "_SM_"
// whose 31 bytes sum to 0), then its table. An entry point whose table has
// length 0 or cannot be read counts as none. Without one, the system's
// firmware-table interface (sys::IFirmwareTable) supplies the table.
LoadedTable LoadTable(TReadWrite& machine);

// Offsets of the structures in table order. The walk ends at the first
// structure that does not fit: a header or formatted area past the end, a
// formatted length below 4, or a string set without its double NUL.
std::vector<std::size_t> WalkStructures(ByteSpan table);

// Offset of structure `index` (0-based) among those of `type`.
std::optional<std::size_t> FindStructure(ByteSpan table, std::uint8_t type, std::uint32_t index);

// String `number` of the structure at `offset`, 8-bit as stored; empty for
// 0 and for a number beyond the structure's strings.
std::string StructureString(ByteSpan table, std::size_t offset, std::uint8_t number);

// The string whose number is the byte at `field` of the structure's
// formatted area (empty when the area is shorter than that).
std::string StructureFieldString(ByteSpan table, std::size_t offset, std::size_t field);

// Without leading and trailing blanks and control characters.
std::u16string TrimText(const std::u16string& text);

}  // namespace kestrune::smbios
