// Decoders of the ACPI records the program reads: the root system
// description pointer, the 36-byte table header, and the RSDT, FADT, MADT,
// ECDT, DSDT and MCFG. Every decoder reads only inside the bytes it is
// given; a field that lies outside them is not decoded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/LittleEndian.h"
#include "hw/Trace.h"

namespace kestrune {

// One ACPI table: its physical address and its length in bytes (0 while
// its header has not been read or could not be trusted).
struct TableEntry {
  std::uint32_t Address = 0;
  std::uint32_t Length = 0;
};

namespace acpi {

inline constexpr std::uint32_t kHeaderLength = 36;
// A header that claims more than this is not trusted: the whole table is
// read into one buffer, and no ACPI table comes near this size.
inline constexpr std::uint32_t kMaxTableLength = 0x01000000;
inline constexpr char kRsdpSignature[] = "RSD PTR ";
inline constexpr std::uint32_t kRsdpSignatureLength = 8;
// Bytes read at a candidate root pointer.
inline constexpr std::uint32_t kRsdpReadLength = 36;

// A valid root pointer: the length its list entry gets and the RSDT address.
struct Rsdp {
  std::uint32_t Length = 0;
  std::uint32_t RsdtAddress = 0;
};
// The 8-bit sum of bytes 0 to 19 must be 0 (the first checksum only). The
// XSDT address is never used.
std::optional<Rsdp> ValidateRsdp(ByteSpan bytes);

struct Header {
  std::string Signature;  // 4 characters
  std::uint32_t Length = 0;
};
// None when fewer than 36 bytes are given.
std::optional<Header> ParseHeader(ByteSpan bytes);
// A length from a header that a table can have: 36 to kMaxTableLength.
bool IsUsableTableLength(std::uint32_t length);

// The platform values the decoders find, each set when a table supplied it;
// a later table overwrites an earlier one.
struct PlatformValues {
  std::optional<std::uint16_t> EcCommandPort;
  std::optional<std::uint16_t> EcDataPort;
  std::optional<std::uint8_t> EcAddressSpace;
  std::optional<std::uint32_t> IoApicAddress;
  std::optional<std::uint32_t> LocalApicAddress;
  std::optional<std::uint16_t> PmBase;
  std::optional<std::uint32_t> SciInterrupt;
  std::optional<std::uint16_t> PmTimerPort;
  std::optional<std::uint16_t> PmTimerExtended;
  std::optional<std::uint16_t> SmiCommandPort;
  std::optional<std::uint8_t> AcpiEnableValue;
  std::optional<std::uint8_t> AcpiDisableValue;
  std::optional<std::uint8_t> S4BiosRequestValue;
  std::optional<std::uint8_t> PstateControlValue;
};

// Everything the decoders learn besides the table list.
struct Findings {
  PlatformValues Values;
  std::array<std::uint8_t, kHeaderLength> DsdtHeader{};
  std::uint32_t DsdtAddress = 0;
  std::uint32_t PcieBaseAddress = 0;
};

// Each decoder gets the whole table; `listed` receives the addresses of
// the tables it names, in order.
void DecodeRsdt(ByteSpan table, std::vector<std::uint32_t>& listed);
void DecodeFadt(ByteSpan table, Findings& findings, std::vector<std::uint32_t>& listed, ITraceSink& trace);
void DecodeMadt(ByteSpan table, Findings& findings);
void DecodeEcdt(ByteSpan table, Findings& findings);
void DecodeDsdt(ByteSpan table, Findings& findings);
void DecodeMcfg(ByteSpan table, Findings& findings);

// Whether a table with this signature has a decoder: "RSDT", "FACP",
// "APIC", "ECDT", "DSDT", "MCFG".
bool HasDecoder(std::string_view signature);
// Runs the decoder of the signature, if there is one.
void DecodeTable(std::string_view signature, ByteSpan table, Findings& findings, std::vector<std::uint32_t>& listed,
                 ITraceSink& trace);

}  // namespace acpi
}  // namespace kestrune
