#include "platform/IdentityBlock.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "common/DriverContract.h"
#include "hw/Readwrite.h"
#include "platform/SmbiosTable.h"
#include "sys/CodePage.h"
#include "sys/Seam.h"

namespace kestrune::identity {

namespace {

constexpr std::uint64_t kBiosAreaStart = 0xE0000;
constexpr std::uint32_t kSearchLength = 0x20000;

constexpr std::size_t kModelName = 0x0A;
constexpr std::size_t kVersionPrefix = 0x2A;
constexpr std::size_t kVersionMajor = 0x2B;
constexpr std::size_t kVersionMinor = 0x2C;
constexpr std::size_t kVersionSuffix = 0x2D;
constexpr std::size_t kDateYear = 0x2E;
constexpr std::size_t kDateMonth = 0x30;
constexpr std::size_t kDateDay = 0x31;
constexpr std::size_t kByte37 = 0x37;
constexpr std::size_t kByte38 = 0x38;

constexpr std::uint16_t kPciVendorRegister = 0x00;
constexpr std::uint16_t kPciHeaderTypeRegister = 0x0E;
constexpr std::uint16_t kPciSubsystemVendorRegister = 0x2C;
constexpr std::uint8_t kMultiFunction = 0x80;

// Reads the block at occurrence `occurrence` of the signature; none when
// there is no such occurrence.
std::optional<Block> ReadOccurrence(TReadWrite& machine, std::uint32_t occurrence) {
  const std::uint64_t address =
      machine.SearchPhysicalMemory(kSearchLength, 1, kSignatureLength, kSignature, occurrence, kBiosAreaStart);
  if (address == kSearchNotFound) {
    return std::nullopt;
  }
  Block block{};
  if (!machine.ReadPhysicalMemory(block.data(), kBlockLength, address)) {
    block.fill(0xFF);  // without the signature: never a valid block
  }
  return block;
}

// The text of a string that went through the code page to UTF-16 and back.
std::string Trimmed(const std::string& text) {
  sys::ICodePage& codePage = sys::Use<sys::ICodePage>();
  const std::u16string wide = codePage.MultiByteToWideChar(sys::kCpAcp, text).value_or(std::u16string());
  return codePage.WideCharToMultiByte(sys::kCpAcp, smbios::TrimText(wide));
}

}  // namespace

bool IsValidBlock(const Block& block) {
  return std::equal(kSignature, kSignature + kSignatureLength, block.begin()) && ByteSum(block) == 0;
}

BoardTexts ParseBlock(const Block& block) {
  BoardTexts texts;
  const auto* name = reinterpret_cast<const char*>(block.data() + kModelName);
  texts.RawModelName.assign(name, std::find(name, name + (kBlockLength - kModelName), '\0'));
  texts.ModelName = StripTrailingDots(texts.RawModelName);

  // Formatted as C text: a prefix byte of 0 ends the version there.
  char version[32];
  const std::uint8_t suffix = block[kVersionSuffix];
  if (suffix != '0' && suffix != 0) {
    std::snprintf(version, sizeof version, "%c%d.%02d%c", block[kVersionPrefix], block[kVersionMajor],
                  block[kVersionMinor], suffix);
  } else {
    std::snprintf(version, sizeof version, "%c%d.%02d", block[kVersionPrefix], block[kVersionMajor],
                  block[kVersionMinor]);
  }
  texts.BiosVersion = version;

  char date[32];
  std::snprintf(date, sizeof date, "%d/%02d/%02d", Le16(block.data() + kDateYear), block[kDateMonth], block[kDateDay]);
  texts.BiosDate = date;
  texts.BlockByte37 = block[kByte37];
  texts.BlockByte38 = block[kByte38];
  return texts;
}

std::string StripTrailingDots(std::string text) {
  while (!text.empty() && text.back() == '.') {
    text.pop_back();
  }
  return text;
}

bool IsVelnorBoard(TReadWrite& machine, std::uint16_t vendorId) {
  const std::optional<Block> first = ReadOccurrence(machine, 0);
  if (first && IsValidBlock(*first)) {
    return true;
  }
  for (unsigned bus = 0; bus <= 255; ++bus) {
    for (std::uint8_t device = 0; device <= 31; ++device) {
      const auto b = static_cast<std::uint8_t>(bus);
      if (machine.ReadPciConfigDword(b, device, kPciVendorRegister, 0) == kPciAllOnes) {
        continue;
      }
      const bool multi = (machine.ReadPciConfigByte(b, device, kPciHeaderTypeRegister, 0) & kMultiFunction) != 0;
      const std::uint8_t functions = multi ? 8 : 1;
      for (std::uint8_t function = 0; function < functions; ++function) {
        if (machine.ReadPciConfig(b, device, kPciSubsystemVendorRegister, function) == vendorId) {
          return true;
        }
      }
    }
  }
  return false;
}

bool FindIdentityBlock(TReadWrite& machine, Block& block) {
  for (std::uint32_t occurrence = 0;; ++occurrence) {
    const std::optional<Block> found = ReadOccurrence(machine, occurrence);
    if (!found) {
      return false;
    }
    block = *found;
    if (IsValidBlock(block)) {
      return true;
    }
  }
}

BoardTexts ReadIdentityFromSmbios(ByteSpan smbiosTable) {
  BoardTexts texts;
  if (const auto baseboard = smbios::FindStructure(smbiosTable, smbios::kTypeBaseboard, 0)) {
    texts.RawModelName =
        Trimmed(smbios::StructureFieldString(smbiosTable, *baseboard, smbios::kBaseboardProductString));
  }
  texts.ModelName = StripTrailingDots(texts.RawModelName);
  if (const auto bios = smbios::FindStructure(smbiosTable, smbios::kTypeBios, 0)) {
    texts.BiosVersion = Trimmed(smbios::StructureFieldString(smbiosTable, *bios, smbios::kBiosVersionString));
    texts.BiosDate = Trimmed(smbios::StructureFieldString(smbiosTable, *bios, smbios::kBiosReleaseDateString));
  }
  return texts;
}

Identification IdentifyBoard(TReadWrite& machine, std::uint16_t vendorId,
                             const std::function<ByteSpan()>& smbiosTable) {
  Identification result;
  result.Detected = IsVelnorBoard(machine, vendorId);
  if (!result.Detected) {
    return result;
  }
  result.BlockFound = FindIdentityBlock(machine, result.LastBlock);
  result.Texts = result.BlockFound ? ParseBlock(result.LastBlock) : ReadIdentityFromSmbios(smbiosTable());
  return result;
}

}  // namespace kestrune::identity
