// The board identity block that the maker's BIOS leaves in the legacy BIOS
// area ("$CN1368$", 64 bytes, zero 8-bit sum), and the identification of
// the board from it, from the PCI bus and from SMBIOS. TVel runs these on
// the process-wide TReadWrite; tests and fuzz targets on one over a memory
// image.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "common/LittleEndian.h"
#include "hw/Readwrite.h"

namespace kestrune::identity {

inline constexpr char kSignature[] = "$CN1368$";
inline constexpr std::uint32_t kSignatureLength = 8;
inline constexpr std::size_t kBlockLength = 64;

using Block = std::array<std::uint8_t, kBlockLength>;

// What a block or the SMBIOS fallback supplies.
struct BoardTexts {
  std::string RawModelName;
  std::string ModelName;
  std::string BiosVersion;
  std::string BiosDate;
  std::int32_t BlockByte37 = 0;
  std::int32_t BlockByte38 = 0;
};

bool IsValidBlock(const Block& block);
// The texts of a valid block. The model name ends at its first NUL or at
// the end of the block.
BoardTexts ParseBlock(const Block& block);
std::string StripTrailingDots(std::string text);

// A valid block at the first signature occurrence, or a PCI function with
// the maker's subsystem vendor identifier.
bool IsVelnorBoard(TReadWrite& machine, std::uint16_t vendorId);
// The first signature occurrence that holds a valid block.
bool FindIdentityBlock(TReadWrite& machine, Block& block);
// The fallback: model name from the baseboard, BIOS version and date from
// the BIOS information structure of an SMBIOS structure table (8-bit text
// in, 8-bit text out, through the system code page).
BoardTexts ReadIdentityFromSmbios(ByteSpan smbiosTable);

// The whole identification, as TVel's constructor runs it: nothing when the
// board is not the maker's; the block's texts when a valid block is found;
// otherwise the SMBIOS fallback on the table that `smbiosTable` supplies
// (asked for only then).
struct Identification {
  bool Detected = false;
  bool BlockFound = false;
  Block LastBlock{};
  BoardTexts Texts;
};
Identification IdentifyBoard(TReadWrite& machine, std::uint16_t vendorId, const std::function<ByteSpan()>& smbiosTable);

}  // namespace kestrune::identity
