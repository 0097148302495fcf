#include "hw/Aaft.h"

#include <algorithm>
#include <cstring>

#include "common/LittleEndian.h"
#include "hw/AcpiTables.h"

namespace kestrune {

namespace {

constexpr std::size_t kShortHeader = 2;
constexpr std::size_t kLongHeader = 5;
constexpr std::uint8_t kLastShortId = 11;

// EZOC record (function 18).
constexpr std::size_t kEzocSetupStrucOffset = 65;
constexpr std::size_t kEzocDataLen = 67;
constexpr std::size_t kEzocItemString = 68;
constexpr std::size_t kEzocNum = 132;
constexpr std::size_t kEzocRecordLength = 133;
constexpr std::size_t kEzocFixedPart = 137;
constexpr std::size_t kEzocFirstOptionName = 138;

constexpr std::size_t kUserProfileLength = sizeof(_USERPROFILE_TABLE_ENTRY);
constexpr std::size_t kModuleVersionLength = sizeof(_VELNOR_MODULE_VERSION_ENTRY);
constexpr std::size_t kModelRefFixedPart = sizeof(_VEL_MODEL_REF_ENTRY);
constexpr std::size_t kModelRefVariableLength = 16;

template <class Record>
const Record* As(const std::uint8_t* bytes) {
  return reinterpret_cast<const Record*>(bytes);
}

// The text from `text` up to its NUL, or up to `end` when there is none.
std::string TextUpTo(const std::uint8_t* text, const std::uint8_t* end) {
  return std::string(reinterpret_cast<const char*>(text),
                     reinterpret_cast<const char*>(std::find(text, end, std::uint8_t{0})));
}

}  // namespace

std::string ModuleName(const _VELNOR_MODULE_VERSION_ENTRY& entry) {
  return std::string(entry.Name, std::find(entry.Name, entry.Name + sizeof entry.Name, '\0'));
}

std::string ItemText(const _VEL_DecodeEZOCTBL& item) {
  return std::string(item.ItemString.data(), std::find(item.ItemString.begin(), item.ItemString.end(), '\0'));
}

TAAFT::TAAFT(std::vector<std::uint8_t> table, ITraceSink* trace) : Table(std::move(table)) {
  NullTrace none;
  DecodeTable(trace != nullptr ? *trace : none);
}

TAAFT::~TAAFT() = default;

void TAAFT::DecodeTable(ITraceSink& trace) {
  const ByteSpan table(Table);
  if (!Fits(table, 0, acpi::kHeaderLength)) {
    return;
  }
  // The header's length, but never beyond the bytes that were copied.
  const std::size_t end = std::min<std::size_t>(Le32At(table, 4), table.size());
  if (end < acpi::kHeaderLength) {
    return;
  }
  std::size_t offset = acpi::kHeaderLength;
  Remaining = static_cast<std::int32_t>(end - offset);
  while (Remaining > 0) {
    m_pAf = Table.data() + offset;
    const std::size_t left = end - offset;
    if (left < kShortHeader) {
      break;
    }
    const std::uint8_t id = m_pAf[0];
    trace.WriteStatus("m_pAf->FuncId:", std::to_string(id), kColourGreen);
    trace.WriteStatus("m_pAf->FuncId:", std::to_string(m_pAf[1]), kColourGreen);
    std::size_t header = kShortHeader;
    std::size_t length = m_pAf[1];
    if (id > kLastShortId) {
      if (left < kLongHeader) {
        break;
      }
      header = kLongHeader;
      length = Le32(m_pAf + 1);
      LastLongEntry = m_pAf;
    }
    if (length < header || length > left) {
      break;  // a length of 0, one shorter than the header, or one past the table
    }
    DecodeEntry(m_pAf, length, trace);
    offset += length;
    Remaining = static_cast<std::int32_t>(end - offset);
  }
}

void TAAFT::DecodeEntry(const std::uint8_t* entry, std::size_t length, ITraceSink& trace) {
  const std::uint8_t* end = entry + length;
  switch (entry[0]) {
    case 6:
      SetupConfigs[TextUpTo(entry + kShortHeader, end)] = As<VEL_XTU_SETUP>(entry);
      break;
    case 7:
      if (length > kShortHeader) {
        Func7Value = entry[kShortHeader];
      }
      break;
    case 9:
      if (length > kShortHeader) {
        Func9Value = entry[kShortHeader];
      }
      break;
    case 10:
      if (length > kShortHeader) {
        FanTables[entry[kShortHeader]] = As<_VEL_FAN_TABLE>(entry);
      }
      break;
    case 11:
      SataModes.push_back(As<_VEL_SATA_MODE>(entry));
      break;
    case 16:
      SetupGuids.push_back(As<_VEL_SETUP_GUID>(entry));
      SetupGuidTables.push_back(As<_SETUP_GUID_TABLE>(entry));
      break;
    case 17:
      SetupItems.push_back(As<_VEL_SETUP_ITEM>(entry));
      break;
    case 18:
      DecodeEzocTable(entry, length, trace);
      break;
    case 20:
      HddSaverTables.push_back(As<_AAFT_HDD_SAVER_TABLE>(entry));
      break;
    case 21:
      SataModesEx.push_back(As<_VEL_SATA_MODE_EX>(entry));
      break;
    case 22:
      if (length > kLongHeader + 1) {
        Func7Value = entry[kLongHeader + 1];
      }
      break;
    case 23:
      if (!Func23Block) {
        Func23Block = std::make_unique<std::array<std::uint8_t, kAaftFunc23BlockLength>>();
      }
      // An entry shorter than the block leaves the rest of it zero.
      Func23Block->fill(0);
      std::copy_n(entry, std::min(length, kAaftFunc23BlockLength), Func23Block->begin());
      break;
    case 24:
      for (std::size_t i = 0; i < (length - kLongHeader) / kUserProfileLength; ++i) {
        UserProfiles.push_back(As<_USERPROFILE_TABLE_ENTRY>(entry + kLongHeader + i * kUserProfileLength));
      }
      break;
    case 25:
      MacCmosTables.push_back(As<_AAFT_MAC_CMOS_TABLE>(entry));
      break;
    case 26:
      for (std::size_t i = 0; i < (length - kLongHeader) / kModuleVersionLength; ++i) {
        ModuleVersions.push_back(As<_VELNOR_MODULE_VERSION_ENTRY>(entry + kLongHeader + i * kModuleVersionLength));
      }
      break;
    case 27:
      DecodeModelReferences(entry, length);
      break;
    default:
      break;  // no decoder: skipped by its length
  }
}

void TAAFT::DecodeModelReferences(const std::uint8_t* entry, std::size_t length) {
  const std::uint8_t* data = entry + kLongHeader;
  const std::size_t size = length - kLongHeader;
  std::size_t position = 0;
  while (position < size) {
    // A record whose fixed part or whole length does not fit the entry ends
    // the list.
    if (size - position < kModelRefFixedPart) {
      break;
    }
    const std::uint64_t recordLength =
        std::uint64_t{Le32(data + position + kModelRefVariableLength)} + kModelRefFixedPart;
    if (recordLength > size - position) {
      break;
    }
    ModelReferences.push_back(As<_VEL_MODEL_REF_ENTRY>(data + position));
    position += static_cast<std::size_t>(recordLength);
  }
}

void TAAFT::DecodeEzocTable(const std::uint8_t* entry, std::size_t length, ITraceSink& trace) {
  trace.WriteStatus("DecodeEZOCTable", "Enter", kColourYellow);
  EzocItems.clear();
  const std::uint8_t* record = entry + kLongHeader;
  std::size_t left = length - kLongHeader;
  while (left != 0) {
    trace.WriteStatus("funcLen", std::to_string(left), kColourBlue);
    // A record must hold its fixed part, and its length must cover that part
    // and fit the entry; otherwise the items end here.
    if (left < kEzocFixedPart) {
      break;
    }
    const std::uint32_t recordLength = Le32(record + kEzocRecordLength);
    if (recordLength < kEzocFixedPart || recordLength > left) {
      break;
    }
    _VEL_DecodeEZOCTBL item;
    item.SetupStrucOffset = Le16(record + kEzocSetupStrucOffset);
    item.DataLen = record[kEzocDataLen];
    std::memcpy(item.ItemString.data(), record + kEzocItemString, item.ItemString.size());
    item.EZOCNum = record[kEzocNum];
    trace.WriteStatus("SetupStrucOffset", std::to_string(item.SetupStrucOffset), kColourGreen);
    trace.WriteStatus("DataLen", std::to_string(item.DataLen), kColourGreen);
    trace.WriteStatus("ItemString", ItemText(item), kColourGreen);
    trace.WriteStatus("EZOCNum", std::to_string(item.EZOCNum), kColourGreen);

    // Options: a byte, then a NUL-terminated name, up to the record's end. A
    // name without its NUL inside the record ends the options.
    std::int64_t leftInRecord = std::int64_t{recordLength} - std::int64_t{kEzocFixedPart};
    std::size_t position = kEzocFirstOptionName;
    while (leftInRecord > 0 && position < recordLength) {
      const std::uint8_t* name = record + position;
      const std::uint8_t* nul = std::find(name, record + recordLength, std::uint8_t{0});
      if (nul == record + recordLength) {
        break;
      }
      const std::size_t nameLength = static_cast<std::size_t>(nul - name);
      item.Options.emplace_back(reinterpret_cast<const char*>(name), nameLength);
      trace.WriteStatus("optionLen", std::to_string(nameLength), kColourGreen);
      trace.WriteStatus("vOptionName", item.Options.back(), kColourYellow);
      leftInRecord -= static_cast<std::int64_t>(nameLength + 2);
      position += nameLength + 2;
    }
    EzocItems.push_back(std::move(item));
    left -= recordLength;
    record += recordLength;
  }
  trace.WriteStatus("DecodeEZOCTable", "Leave", kColourYellow);
}

}  // namespace kestrune
