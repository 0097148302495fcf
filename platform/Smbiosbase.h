// The machine's SMBIOS structure table: found through its entry point in
// the BIOS area or, failing that, asked of Windows (GetSystemFirmwareTable),
// and looked up by structure type and string number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hw/Ioobject.h"

namespace kestrune {

// The header every structure starts with; a pointer to one points into the
// table of the TSmbiosBase that answered it.
struct SmbiosStructure {
  std::uint8_t Type;
  std::uint8_t Length;
  std::uint8_t Handle[2];
};

class TSmbiosBase : public TIoObject {
 public:
  // Loads the table.
  TSmbiosBase();
  ~TSmbiosBase() override;

  // Structure number `index` (0-based) among those of `type`, in table
  // order; nullptr when the table is not loaded or has no such structure.
  const SmbiosStructure* FindStructure(std::uint8_t type, std::uint32_t index) const;
  // String `number` of the structure, from the system code page to UTF-16;
  // empty for 0, for a number beyond its strings and for a structure that is
  // not in this table.
  std::u16string GetStructureString(const SmbiosStructure* structure, std::uint8_t number) const;
  // The product string of the first baseboard structure (type 2), without
  // leading and trailing blanks and control characters.
  std::u16string GetBaseboardProduct() const;

  bool Loaded = false;
  std::vector<std::uint8_t> Table;
  std::uint16_t TableLength = 0;
  std::uint32_t TableAddress = 0xFFFFFFFF;  // all ones: not from physical memory
  std::uint32_t SmbiosVersion = 0;          // major * 16 + minor
};

// The process-wide instance, created (and loaded) on first use.
TSmbiosBase* SmbiosInstance();
// Destroys it. The program never does; tests and tools do, to start again.
void ReleaseSmbiosInstance();

}  // namespace kestrune
