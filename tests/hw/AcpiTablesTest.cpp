#include "hw/AcpiTables.h"

#include <gtest/gtest.h>

#include "tests/support/FirmwareFixtures.h"
#include "tests/support/RecordingTrace.h"

namespace kestrune {
namespace {

using namespace test;

TEST(AcpiTablesTest, RootPointerRevisionZeroIsTwentyBytesLong) {
  const auto rsdp = acpi::ValidateRsdp(Rsdp(0x7FF00000));
  ASSERT_TRUE(rsdp);
  EXPECT_EQ(rsdp->Length, 20u);
  EXPECT_EQ(rsdp->RsdtAddress, 0x7FF00000u);
}

TEST(AcpiTablesTest, RootPointerRevisionTwoCarriesItsLengthFieldAndIgnoresTheXsdt) {
  const auto rsdp = acpi::ValidateRsdp(Rsdp(0x7FF00000, 2, 0x7FF80000));
  ASSERT_TRUE(rsdp);
  EXPECT_EQ(rsdp->Length, 36u);
  EXPECT_EQ(rsdp->RsdtAddress, 0x7FF00000u);
}

TEST(AcpiTablesTest, OnlyTheFirstChecksumOfTheRootPointerIsTested) {
  Bytes extendedBroken = Rsdp(0x1000, 2, 0x2000);
  extendedBroken[32] ^= 0x55;
  EXPECT_TRUE(acpi::ValidateRsdp(extendedBroken));

  Bytes firstBroken = Rsdp(0x1000, 2, 0x2000);
  firstBroken[19] ^= 0x01;
  EXPECT_FALSE(acpi::ValidateRsdp(firstBroken));

  Bytes wrongSignature = Rsdp(0x1000);
  wrongSignature[0] = 'X';
  FixChecksum(wrongSignature, 8, 0, 20);
  EXPECT_FALSE(acpi::ValidateRsdp(wrongSignature));
  EXPECT_FALSE(acpi::ValidateRsdp(Bytes(10, 0)));
}

TEST(AcpiTablesTest, UsableTableLengths) {
  const struct {
    std::uint32_t length;
    bool usable;
  } cases[] = {
      {0, false},         {35, false}, {36, true}, {acpi::kMaxTableLength, true}, {acpi::kMaxTableLength + 1, false},
      {0xFFFFFFFF, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(acpi::IsUsableTableLength(c.length), c.usable) << c.length;
  }
  EXPECT_FALSE(acpi::ParseHeader(Bytes(35, 0)));
  const auto header = acpi::ParseHeader(AcpiTable("AAFT", Bytes(4, 0)));
  ASSERT_TRUE(header);
  EXPECT_EQ(header->Signature, "AAFT");
  EXPECT_EQ(header->Length, 40u);
}

TEST(AcpiTablesTest, RsdtListsEveryAddressButZeroInOrder) {
  std::vector<std::uint32_t> listed;
  Bytes rsdt = Rsdt({0x1000, 0, 0x3000, 0x2000});
  rsdt.push_back(0xAB);  // a stray byte is no address
  acpi::DecodeRsdt(rsdt, listed);
  EXPECT_EQ(listed, (std::vector<std::uint32_t>{0x1000, 0x3000, 0x2000}));
}

TEST(AcpiTablesTest, FadtSetsThePlatformValuesAndListsFacsAndDsdtEvenWhenZero) {
  FadtFields fields;
  fields.FirmwareCtrl = 0;
  fields.Dsdt = 0x7FF06000;
  fields.SciInterrupt = 0x0109;
  fields.SmiCommand = 0x123400B2;  // only the low 16 bits count
  fields.Pm1aEvent = 0x00011800;
  fields.PmTimer = 0x1808;
  fields.Flags = 0x000084A5;
  fields.S4BiosRequest = 0x42;
  acpi::Findings findings;
  std::vector<std::uint32_t> listed;
  RecordingTrace trace;
  acpi::DecodeFadt(Fadt(fields), findings, listed, trace);

  EXPECT_EQ(listed, (std::vector<std::uint32_t>{0, 0x7FF06000}));
  EXPECT_EQ(findings.DsdtAddress, 0x7FF06000u);
  const acpi::PlatformValues& v = findings.Values;
  EXPECT_EQ(v.SmiCommandPort, 0x00B2);
  EXPECT_EQ(v.SciInterrupt, 0x0109u);
  EXPECT_EQ(v.PmBase, 0x1800);
  EXPECT_EQ(v.PmTimerPort, 0x1808);
  EXPECT_EQ(v.PmTimerExtended, 0x0000);  // flag 0x100 clear in 0x84A5
  EXPECT_EQ(v.AcpiEnableValue, 0xA0);
  EXPECT_EQ(v.AcpiDisableValue, 0xA1);
  EXPECT_EQ(v.S4BiosRequestValue, 0x42);
  EXPECT_EQ(v.PstateControlValue, 0x80);
  EXPECT_FALSE(v.LocalApicAddress);
  EXPECT_EQ(trace.Lines, (std::vector<std::string>{"TAcpiBase::BuildFACP ... [DsdtAddress = 0x7FF06000]/10"}));

  fields.Flags = 0x100;
  acpi::DecodeFadt(Fadt(fields), findings, listed, trace);
  EXPECT_EQ(findings.Values.PmTimerExtended, 0x100);
}

TEST(AcpiTablesTest, AShortFadtDecodesOnlyTheFieldsItHolds) {
  FadtFields fields;
  fields.FirmwareCtrl = 0x5000;
  fields.Dsdt = 0x6000;
  Bytes fadt = Fadt(fields);
  fadt.resize(48);  // up to SMI_CMD
  acpi::Findings findings;
  std::vector<std::uint32_t> listed;
  NullTrace trace;
  acpi::DecodeFadt(fadt, findings, listed, trace);
  EXPECT_EQ(listed, (std::vector<std::uint32_t>{0x5000, 0x6000}));
  EXPECT_EQ(findings.Values.SciInterrupt, 9u);
  EXPECT_FALSE(findings.Values.SmiCommandPort);
  EXPECT_FALSE(findings.Values.PmBase);

  fadt.resize(38);
  listed.clear();
  acpi::Findings none;
  acpi::DecodeFadt(fadt, none, listed, trace);
  EXPECT_TRUE(listed.empty());
  EXPECT_EQ(none.DsdtAddress, 0u);
}

TEST(AcpiTablesTest, MadtTakesTheIoApicWithInterruptBaseZero) {
  const struct {
    const char* name;
    std::vector<IoApic> ioApics;
    std::optional<std::uint32_t> expected;
  } cases[] = {
      {"bases 0 and 24", {{2, 0xFEC00000, 0}, {3, 0xFEC01000, 24}}, 0xFEC00000},
      {"bases 24 and 0", {{3, 0xFEC01000, 24}, {2, 0xFEC00000, 0}}, 0xFEC00000},
      {"two with base 0: the later wins", {{2, 0xFEC00000, 0}, {3, 0xFEC08000, 0}}, 0xFEC08000},
      {"none with base 0", {{3, 0xFEC01000, 24}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    acpi::Findings findings;
    acpi::DecodeMadt(Madt(0xFEE00000, c.ioApics), findings);
    EXPECT_EQ(findings.Values.LocalApicAddress, 0xFEE00000u);
    EXPECT_EQ(findings.Values.IoApicAddress, c.expected);
  }
}

TEST(AcpiTablesTest, MadtStructureOfLengthZeroEndsTheWalk) {
  Bytes madt = Madt(0xFEE00000, {{2, 0xFEC00000, 24}, {3, 0xFEC08000, 0}});
  madt[44 + 1] = 0;  // the local APIC structure's length
  acpi::Findings findings;
  acpi::DecodeMadt(madt, findings);
  EXPECT_EQ(findings.Values.LocalApicAddress, 0xFEE00000u);
  EXPECT_FALSE(findings.Values.IoApicAddress);
}

TEST(AcpiTablesTest, MadtStructuresThatDoNotFitAreNotRead) {
  Bytes madt = Madt(0xFEE00000, {{2, 0xFEC00000, 0}});
  madt[52 + 1] = 10;  // an I/O APIC too short to hold its interrupt base
  acpi::Findings findings;
  acpi::DecodeMadt(madt, findings);
  EXPECT_FALSE(findings.Values.IoApicAddress);

  Bytes cut = Madt(0xFEE00000, {{2, 0xFEC00000, 0}});
  cut.resize(cut.size() - 2);  // the last structure runs past the table
  acpi::Findings cutFindings;
  acpi::DecodeMadt(cut, cutFindings);
  EXPECT_FALSE(cutFindings.Values.IoApicAddress);

  acpi::Findings tiny;
  acpi::DecodeMadt(Bytes(38, 0), tiny);
  EXPECT_FALSE(tiny.Values.LocalApicAddress);
}

TEST(AcpiTablesTest, EcdtMcfgAndDsdt) {
  acpi::Findings findings;
  acpi::DecodeEcdt(Ecdt(1, 0x0066, 0x0062), findings);
  EXPECT_EQ(findings.Values.EcAddressSpace, 1);
  EXPECT_EQ(findings.Values.EcCommandPort, 0x66);
  EXPECT_EQ(findings.Values.EcDataPort, 0x62);

  acpi::DecodeMcfg(Mcfg(0x1E0000000ull), findings);
  EXPECT_EQ(findings.PcieBaseAddress, 0xE0000000u);  // the low 32 bits
  acpi::Findings noAllocation;
  acpi::DecodeMcfg(AcpiTable("MCFG", Bytes(8, 0)), noAllocation);
  acpi::DecodeMcfg(AcpiTable("MCFG", {}), noAllocation);
  EXPECT_EQ(noAllocation.PcieBaseAddress, 0u);

  const Bytes dsdt = AcpiTable("DSDT", Bytes(100, 0x5B));
  acpi::DecodeDsdt(dsdt, findings);
  EXPECT_TRUE(std::equal(findings.DsdtHeader.begin(), findings.DsdtHeader.end(), dsdt.begin()));
}

TEST(AcpiTablesTest, DecoderChoiceBySignature) {
  for (const char* signature : {"RSDT", "FACP", "APIC", "ECDT", "DSDT", "MCFG"}) {
    EXPECT_TRUE(acpi::HasDecoder(signature)) << signature;
  }
  for (const char* signature : {"AAFT", "FACS", "XSDT", "SSDT", "rsdt", "HPET"}) {
    EXPECT_FALSE(acpi::HasDecoder(signature)) << signature;
  }
}

}  // namespace
}  // namespace kestrune
