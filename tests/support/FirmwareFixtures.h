// Small builders of firmware bytes for the readers' tests and fuzz seeds:
// ACPI tables with their checksums, SMBIOS structures and entry points,
// identity blocks and AAFT entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/MemoryImage.h"

namespace kestrune::test {

using Bytes = std::vector<std::uint8_t>;

void Put8(Bytes& bytes, std::size_t offset, std::uint8_t value);
void Put16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void PutText(Bytes& bytes, std::size_t offset, const std::string& text);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Le32Bytes(std::uint32_t value);

// Makes the 8-bit sum of bytes[begin, end) 0 by setting bytes[at].
void FixChecksum(Bytes& bytes, std::size_t at, std::size_t begin, std::size_t end);

// ACPI.
// An RSDP: revision 0 is 20 bytes long, others 36 with the given length
// field; the first checksum is set (and the extended one for revision 2).
Bytes Rsdp(std::uint32_t rsdtAddress, std::uint8_t revision = 0, std::uint32_t xsdtAddress = 0);
// A table: the 36-byte header with signature, length and checksum, then body.
Bytes AcpiTable(const std::string& signature, const Bytes& body);
Bytes Rsdt(const std::vector<std::uint32_t>& addresses);
struct FadtFields {
  std::uint32_t FirmwareCtrl = 0;
  std::uint32_t Dsdt = 0;
  std::uint16_t SciInterrupt = 9;
  std::uint32_t SmiCommand = 0xB2;
  std::uint8_t AcpiEnable = 0xA0;
  std::uint8_t AcpiDisable = 0xA1;
  std::uint8_t S4BiosRequest = 0;
  std::uint8_t PstateControl = 0x80;
  std::uint32_t Pm1aEvent = 0x1800;
  std::uint32_t PmTimer = 0x1808;
  std::uint32_t Flags = 0x000084A5;
};
Bytes Fadt(const FadtFields& fields);  // 116 bytes (ACPI 1.0 layout)
struct IoApic {
  std::uint8_t Id;
  std::uint32_t Address;
  std::uint32_t InterruptBase;
};
Bytes Madt(std::uint32_t localApic, const std::vector<IoApic>& ioApics);
Bytes Mcfg(std::uint64_t base);
Bytes Ecdt(std::uint8_t controlSpace, std::uint16_t controlPort, std::uint16_t dataPort);
Bytes Facs();  // "FACS", 64 bytes, no checksum

// SMBIOS.
// A structure: type, formatted area (after the 4-byte header) and strings.
Bytes SmbiosStructure(std::uint8_t type, std::uint16_t handle, const Bytes& formatted,
                      const std::vector<std::string>& strings);
// BIOS information with version string 2 and release date string 3.
Bytes SmbiosBios(const std::string& vendor, const std::string& version, const std::string& date);
// Baseboard information with manufacturer string 1 and product string 2.
Bytes SmbiosBaseboard(const std::string& manufacturer, const std::string& product);
Bytes SmbiosEnd();
// A 31-byte 2.x entry point with its checksum.
Bytes SmbiosEntryPoint(std::uint16_t tableLength, std::uint32_t tableAddress, std::uint8_t major = 2,
                       std::uint8_t minor = 8);

// Identity block.
struct IdentityFields {
  std::string Model = "Z270 KRAIT GAMING";
  char Prefix = 'P';
  std::uint8_t Major = 1;
  std::uint8_t Minor = 10;
  std::uint8_t Suffix = 0;
  std::uint16_t Year = 2017;
  std::uint8_t Month = 3;
  std::uint8_t Day = 24;
  std::uint8_t Byte37 = 0x37;
  std::uint8_t Byte38 = 0x38;
};
// 64 bytes with the signature; `valid` false breaks the checksum.
Bytes IdentityBlock(const IdentityFields& fields, bool valid = true);

// AAFT.
Bytes AaftShortEntry(std::uint8_t id, const Bytes& data);
Bytes AaftLongEntry(std::uint8_t id, const Bytes& data);
Bytes ModuleVersionRecord(const std::string& name, std::uint32_t version);
// An EZOC record with the given options (each: a byte, then the name).
Bytes EzocRecord(std::uint16_t setupOffset, std::uint8_t dataLength, const std::string& item, std::uint8_t number,
                 const std::vector<std::string>& options);
Bytes AaftTable(const Bytes& entries);

// A whole board in memory: RSDP in the BIOS area, RSDT listing FACP, APIC,
// MCFG and AAFT, FACS and DSDT after the FADT, an SMBIOS entry point and
// table, and an identity block. Addresses below.
struct BoardLayout {
  static constexpr std::uint32_t kRsdp = 0xF0500;
  static constexpr std::uint32_t kRsdt = 0x7FF00000;
  static constexpr std::uint32_t kFacp = 0x7FF01000;
  static constexpr std::uint32_t kApic = 0x7FF02000;
  static constexpr std::uint32_t kMcfg = 0x7FF03000;
  static constexpr std::uint32_t kAaft = 0x7FF04000;
  static constexpr std::uint32_t kFacs = 0x7FF05000;
  static constexpr std::uint32_t kDsdt = 0x7FF06000;
  static constexpr std::uint32_t kSmbiosEntry = 0xF0800;
  static constexpr std::uint32_t kSmbiosTable = 0x7FF10000;
  static constexpr std::uint32_t kIdentity = 0xF1200;
};
void WriteBiosArea(MemoryImage& image);  // maps 0xE0000..0xFFFFF
void WriteAcpiBoard(MemoryImage& image, const Bytes& aaft);
Bytes DefaultAaft();  // module versions ME and OPTANE 1

}  // namespace kestrune::test
