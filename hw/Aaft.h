// The board's "AAFT" ACPI table: a sequence of numbered function entries in
// which the BIOS describes its setup items, fan tables, SATA modes, user
// profiles, module versions and more. TAAFT copies the table out of
// physical memory and sorts the entries into typed tables.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/LittleEndian.h"
#include "hw/Trace.h"

namespace kestrune {

class TReadWrite;
class TAcpiBase;

// Records as they stand in the table (little-endian, unaligned: every
// field is made of bytes, so each type has alignment 1). The containers of TAAFT point at an entry's first byte, its
// header included; beyond the fields below, the firmware's layouts are not decoded here.
struct VEL_XTU_SETUP {  // function 6: the key text follows the header
  std::uint8_t FuncId;
  std::uint8_t Length;
};
struct _VEL_FAN_TABLE {  // function 10
  std::uint8_t FuncId;
  std::uint8_t Length;
  std::uint8_t Key;
};
struct _VEL_SATA_MODE {  // function 11
  std::uint8_t FuncId;
  std::uint8_t Length;
};
struct _VEL_SETUP_GUID {  // function 16
  std::uint8_t FuncId;
  Le32Field Length;
};
using _SETUP_GUID_TABLE = _VEL_SETUP_GUID;  // function 16, listed twice
struct _VEL_SETUP_ITEM {                    // function 17
  std::uint8_t FuncId;
  Le32Field Length;
};
struct _AAFT_HDD_SAVER_TABLE {  // function 20
  std::uint8_t FuncId;
  Le32Field Length;
};
struct _VEL_SATA_MODE_EX {  // function 21
  std::uint8_t FuncId;
  Le32Field Length;
};
struct _USERPROFILE_TABLE_ENTRY {  // function 24: 60-byte records
  std::uint8_t Bytes[60];
};
struct _AAFT_MAC_CMOS_TABLE {  // function 25
  std::uint8_t FuncId;
  Le32Field Length;
};
struct _VELNOR_MODULE_VERSION_ENTRY {  // function 26: 12-byte records
  char Name[8];                        // NUL-terminated when shorter than 8
  Le32Field Version;
};
struct _VEL_MODEL_REF_ENTRY {  // function 27: VariableLength + 20 bytes
  std::uint8_t Fixed[16];
  Le32Field VariableLength;
};
static_assert(sizeof(_VELNOR_MODULE_VERSION_ENTRY) == 12);
static_assert(sizeof(_USERPROFILE_TABLE_ENTRY) == 60);
static_assert(sizeof(_VEL_MODEL_REF_ENTRY) == 20);
static_assert(sizeof(_VEL_SETUP_GUID) == 5 && alignof(_VEL_SETUP_GUID) == 1);

// The module name of a record: up to its NUL, at most 8 characters.
std::string ModuleName(const _VELNOR_MODULE_VERSION_ENTRY& entry);

// A decoded EZOC item (function 18), held by value.
struct _VEL_DecodeEZOCTBL {
  std::uint16_t SetupStrucOffset = 0;
  std::uint8_t DataLen = 0;
  std::array<char, 64> ItemString{};  // as it stands
  std::uint8_t EZOCNum = 0;
  std::vector<std::string> Options;
};
// ItemString up to its first NUL.
std::string ItemText(const _VEL_DecodeEZOCTBL& item);

using TBiosSetupConfig = std::map<std::string, const VEL_XTU_SETUP*>;
using TBiosFanTable = std::map<int, const _VEL_FAN_TABLE*>;
using TBiosSataMode = std::vector<const _VEL_SATA_MODE*>;
using TBiosSetupGuid = std::vector<const _VEL_SETUP_GUID*>;
using TBiosSetupItem = std::vector<const _VEL_SETUP_ITEM*>;
using TBiosEZOC = std::vector<_VEL_DecodeEZOCTBL>;
using TBiosHddSaverTable = std::vector<const _AAFT_HDD_SAVER_TABLE*>;
using TSetupGuidTable = std::vector<const _SETUP_GUID_TABLE*>;
using TBiosSataModeEx = std::vector<const _VEL_SATA_MODE_EX*>;
using TUserProfileTable = std::vector<const _USERPROFILE_TABLE_ENTRY*>;
using TMACCMOSTable = std::vector<const _AAFT_MAC_CMOS_TABLE*>;
using TModuleVersionTable = std::vector<const _VELNOR_MODULE_VERSION_ENTRY*>;
using TModuleReferenceTable = std::vector<const _VEL_MODEL_REF_ENTRY*>;

inline constexpr std::size_t kAaftFunc23BlockLength = 45;

class TAAFT {
 public:
  // Finds "AAFT" through AcpiBaseInstance(), copies it and decodes it.
  TAAFT();
  // Decodes a copy of a table that is already at hand.
  explicit TAAFT(std::vector<std::uint8_t> table, ITraceSink* trace = nullptr);
  virtual ~TAAFT();
  TAAFT(const TAAFT&) = delete;
  TAAFT& operator=(const TAAFT&) = delete;

  TReadWrite* ReadWrite = nullptr;  // not owned
  TAcpiBase* AcpiBase = nullptr;    // not owned
  std::vector<std::uint8_t> Table;  // empty: none
  // Walk state.
  const std::uint8_t* m_pAf = nullptr;
  const std::uint8_t* LastLongEntry = nullptr;
  std::int32_t Remaining = 0;

  TBiosSetupConfig SetupConfigs;
  std::uint32_t Func7Value = 0;
  std::uint8_t Func9Value = 0;
  TBiosFanTable FanTables;
  TBiosSataMode SataModes;
  TBiosSetupGuid SetupGuids;
  TBiosSetupItem SetupItems;
  TBiosEZOC EzocItems;
  TBiosHddSaverTable HddSaverTables;
  TSetupGuidTable SetupGuidTables;
  TBiosSataModeEx SataModesEx;
  TUserProfileTable UserProfiles;
  TMACCMOSTable MacCmosTables;
  TModuleVersionTable ModuleVersions;
  TModuleReferenceTable ModelReferences;
  std::unique_ptr<std::array<std::uint8_t, kAaftFunc23BlockLength>> Func23Block;

 private:
  // Walks the entries of Table. An entry that does not fit the table, or
  // whose length is shorter than its own header, ends the walk.
  void DecodeTable(ITraceSink& trace);
  void DecodeEntry(const std::uint8_t* entry, std::size_t length, ITraceSink& trace);
  void DecodeEzocTable(const std::uint8_t* entry, std::size_t length, ITraceSink& trace);
  void DecodeModelReferences(const std::uint8_t* entry, std::size_t length);
};

// The process-wide instance: created (and decoded) by the first call.
TAAFT* AaftInstance();
// Destroys the process-wide instance, if any, and forgets it.
void ReleaseAaftInstance();

}  // namespace kestrune
