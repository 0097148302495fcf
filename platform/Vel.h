// Which of the maker's boards this is and which BIOS it carries: from the
// board identity block in the legacy BIOS area, or from SMBIOS when the
// block cannot be found.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "hw/Ioobject.h"

namespace kestrune {

class TVel : public TIoObject {
 public:
  // Identifies the board. A board that is not the maker's leaves every text
  // empty.
  TVel();
  ~TVel() override;

  // A valid block at the first signature occurrence, or a PCI function with
  // the maker's subsystem vendor identifier.
  bool IsVelnorBoard();
  // The first signature occurrence that holds a valid block, copied into block.
  bool FindIdentityBlock(std::array<std::uint8_t, 64>& block);
  // Fills the texts from SMBIOS (SmbiosInstance()).
  void ReadIdentityFromSmbios();
  static std::string StripTrailingDots(std::string text);

  bool Detected = false;
  bool BlockFound = false;
  std::array<std::uint8_t, 64> Block{};
  std::string RawModelName;
  std::string ModelName;    // RawModelName without trailing dots
  std::string BiosVersion;  // "%c%d.%02d" and an optional suffix letter
  std::string BiosDate;     // "%d/%02d/%02d"
  std::int32_t BlockByte37 = 0;
  std::int32_t BlockByte38 = 0;
};

}  // namespace kestrune
