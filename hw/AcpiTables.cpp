#include "hw/AcpiTables.h"

#include <algorithm>

#include "common/DriverContract.h"
#include "common/Utils.h"

namespace kestrune::acpi {

namespace {

// FADT fields (offsets in the table).
constexpr std::size_t kFadtFirmwareCtrl = 36;
constexpr std::size_t kFadtDsdt = 40;
constexpr std::size_t kFadtSciInt = 46;
constexpr std::size_t kFadtSmiCmd = 48;
constexpr std::size_t kFadtAcpiEnable = 52;
constexpr std::size_t kFadtAcpiDisable = 53;
constexpr std::size_t kFadtS4BiosReq = 54;
constexpr std::size_t kFadtPstateCnt = 55;
constexpr std::size_t kFadtPm1aEvtBlk = 56;
constexpr std::size_t kFadtPmTmrBlk = 76;
constexpr std::size_t kFadtFlags = 112;
constexpr std::uint32_t kFadtTmrValExt = 0x100;

// MADT.
constexpr std::size_t kMadtLocalApic = 36;
constexpr std::size_t kMadtFirstStructure = 44;
constexpr std::uint8_t kMadtIoApic = 1;
constexpr std::size_t kIoApicAddress = 4;
constexpr std::size_t kIoApicInterruptBase = 8;

// ECDT.
constexpr std::size_t kEcdtControlSpace = 36;
constexpr std::size_t kEcdtControlAddress = 40;
constexpr std::size_t kEcdtDataAddress = 52;

// MCFG.
constexpr std::size_t kMcfgFirstAllocation = 44;
constexpr std::size_t kMcfgAllocationLength = 16;

template <class T>
void SetByte(ByteSpan table, std::size_t offset, std::optional<T>& field) {
  if (Fits(table, offset, 1)) {
    field = table[offset];
  }
}

template <class T>
void SetWord(ByteSpan table, std::size_t offset, std::optional<T>& field) {
  if (Fits(table, offset, 2)) {
    field = Le16At(table, offset);
  }
}

template <class T>
void SetDword(ByteSpan table, std::size_t offset, std::optional<T>& field) {
  if (Fits(table, offset, 4)) {
    field = static_cast<T>(Le32At(table, offset));
  }
}

}  // namespace

std::optional<Rsdp> ValidateRsdp(ByteSpan bytes) {
  if (bytes.size() < 20 || !std::equal(kRsdpSignature, kRsdpSignature + kRsdpSignatureLength, bytes.begin()) ||
      ByteSum(bytes.first(20)) != 0) {
    return std::nullopt;
  }
  const bool revisionZero = bytes[15] == 0;
  if (!revisionZero && !Fits(bytes, 20, 4)) {
    return std::nullopt;
  }
  Rsdp rsdp;
  rsdp.Length = revisionZero ? 20 : Le32At(bytes, 20);
  rsdp.RsdtAddress = Le32At(bytes, 16);
  return rsdp;
}

std::optional<Header> ParseHeader(ByteSpan bytes) {
  if (bytes.size() < kHeaderLength) {
    return std::nullopt;
  }
  Header header;
  header.Signature.assign(reinterpret_cast<const char*>(bytes.data()), 4);
  header.Length = Le32At(bytes, 4);
  return header;
}

bool IsUsableTableLength(std::uint32_t length) { return length >= kHeaderLength && length <= kMaxTableLength; }

void DecodeRsdt(ByteSpan table, std::vector<std::uint32_t>& listed) {
  for (std::size_t offset = kHeaderLength; Fits(table, offset, 4); offset += 4) {
    const std::uint32_t address = Le32At(table, offset);
    if (address != 0) {
      listed.push_back(address);
    }
  }
}

void DecodeFadt(ByteSpan table, Findings& findings, std::vector<std::uint32_t>& listed, ITraceSink& trace) {
  if (Fits(table, kFadtDsdt, 4)) {
    findings.DsdtAddress = Le32At(table, kFadtDsdt);
    trace.WriteStatus("TAcpiBase::BuildFACP", "DsdtAddress = " + HexText(findings.DsdtAddress), kColourGreen);
  }
  PlatformValues& v = findings.Values;
  SetWord(table, kFadtPm1aEvtBlk, v.PmBase);
  SetWord(table, kFadtSciInt, v.SciInterrupt);
  SetWord(table, kFadtPmTmrBlk, v.PmTimerPort);
  if (Fits(table, kFadtFlags, 4)) {
    v.PmTimerExtended = static_cast<std::uint16_t>(Le32At(table, kFadtFlags) & kFadtTmrValExt);
  }
  SetWord(table, kFadtSmiCmd, v.SmiCommandPort);
  SetByte(table, kFadtAcpiEnable, v.AcpiEnableValue);
  SetByte(table, kFadtAcpiDisable, v.AcpiDisableValue);
  SetByte(table, kFadtS4BiosReq, v.S4BiosRequestValue);
  SetByte(table, kFadtPstateCnt, v.PstateControlValue);
  // FIRMWARE_CTRL (the FACS) and DSDT are listed as they stand, also when 0.
  if (Fits(table, kFadtFirmwareCtrl, 4)) {
    listed.push_back(Le32At(table, kFadtFirmwareCtrl));
  }
  if (Fits(table, kFadtDsdt, 4)) {
    listed.push_back(Le32At(table, kFadtDsdt));
  }
}

void DecodeMadt(ByteSpan table, Findings& findings) {
  SetDword(table, kMadtLocalApic, findings.Values.LocalApicAddress);
  std::size_t offset = kMadtFirstStructure;
  // Each structure starts with its type and its length; a length below 2
  // could not advance the walk, so it ends it.
  while (Fits(table, offset, 2)) {
    const std::uint8_t type = table[offset];
    const std::uint8_t length = table[offset + 1];
    if (length < 2 || !Fits(table, offset, length)) {
      break;
    }
    if (type == kMadtIoApic && length >= kIoApicInterruptBase + 4 &&
        Le32At(table, offset + kIoApicInterruptBase) == 0) {
      findings.Values.IoApicAddress = Le32At(table, offset + kIoApicAddress);
    }
    offset += length;
  }
}

void DecodeEcdt(ByteSpan table, Findings& findings) {
  SetByte(table, kEcdtControlSpace, findings.Values.EcAddressSpace);
  SetWord(table, kEcdtControlAddress, findings.Values.EcCommandPort);
  SetWord(table, kEcdtDataAddress, findings.Values.EcDataPort);
}

void DecodeDsdt(ByteSpan table, Findings& findings) {
  if (Fits(table, 0, kHeaderLength)) {
    std::copy_n(table.begin(), kHeaderLength, findings.DsdtHeader.begin());
  }
}

void DecodeMcfg(ByteSpan table, Findings& findings) {
  if (Fits(table, kMcfgFirstAllocation, kMcfgAllocationLength)) {
    findings.PcieBaseAddress = Le32At(table, kMcfgFirstAllocation);
  }
}

bool HasDecoder(std::string_view signature) {
  return signature == "RSDT" || signature == kFadtSignatureText || signature == "APIC" || signature == "ECDT" ||
         signature == "DSDT" || signature == "MCFG";
}

void DecodeTable(std::string_view signature, ByteSpan table, Findings& findings, std::vector<std::uint32_t>& listed,
                 ITraceSink& trace) {
  if (signature == "RSDT") {
    DecodeRsdt(table, listed);
  } else if (signature == kFadtSignatureText) {
    DecodeFadt(table, findings, listed, trace);
  } else if (signature == "APIC") {
    DecodeMadt(table, findings);
  } else if (signature == "ECDT") {
    DecodeEcdt(table, findings);
  } else if (signature == "DSDT") {
    DecodeDsdt(table, findings);
  } else if (signature == "MCFG") {
    DecodeMcfg(table, findings);
  }
}

}  // namespace kestrune::acpi
