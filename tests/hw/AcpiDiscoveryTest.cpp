#include "hw/AcpiDiscovery.h"

#include <gtest/gtest.h>

#include "tests/support/FakeOsFixture.h"
#include "tests/support/FirmwareFixtures.h"
#include "tests/support/RecordingTrace.h"

namespace kestrune {
namespace {

using namespace test;
using L = BoardLayout;

struct Listed {
  std::uint32_t Address;
  std::uint32_t Length;
  bool operator==(const Listed&) const = default;
};

std::vector<Listed> Entries(const acpi::TableList& tables) {
  std::vector<Listed> out;
  for (const auto& entry : tables) {
    out.push_back({entry->Address, entry->Length});
  }
  return out;
}

class AcpiDiscoveryTest : public FakeOsFixture {
 protected:
  // Memory scan, then the list.
  bool Discover() {
    Tables.clear();
    const bool found = acpi::ScanMemoryForRootPointer(Image.Machine(), Tables);
    if (found) {
      acpi::BuildTableList(Image.Machine(), Tables, Found, Trace);
    }
    return found;
  }

  MemoryImage Image;
  acpi::TableList Tables;
  acpi::Findings Found;
  RecordingTrace Trace;
};

TEST_F(AcpiDiscoveryTest, ListsRootPointerRsdtTheListedTablesThenFacsAndDsdt) {
  const Bytes aaft = DefaultAaft();
  WriteAcpiBoard(Image, aaft);
  ASSERT_TRUE(Discover());
  EXPECT_EQ(Entries(Tables), (std::vector<Listed>{{L::kRsdp, 20},
                                                  {L::kRsdt, 36 + 16},
                                                  {L::kFacp, 116},
                                                  {L::kApic, static_cast<std::uint32_t>(Madt(0, {{}}).size())},
                                                  {L::kMcfg, 60},
                                                  {L::kAaft, static_cast<std::uint32_t>(aaft.size())},
                                                  {L::kFacs, 64},
                                                  {L::kDsdt, 100}}));
  EXPECT_EQ(Found.Values.SmiCommandPort, 0xB2);
  EXPECT_EQ(Found.Values.IoApicAddress, 0xFEC00000u);
  EXPECT_EQ(Found.PcieBaseAddress, 0xE0000000u);
  EXPECT_EQ(Found.DsdtAddress, L::kDsdt);
  EXPECT_EQ(std::string(Found.DsdtHeader.begin(), Found.DsdtHeader.begin() + 4), "DSDT");

  std::vector<std::string> reported;
  for (const std::string& line : Trace.Lines) {
    if (line.rfind("BuildAcpiTable", 0) == 0) {
      reported.push_back(line);
    }
  }
  EXPECT_EQ(reported.front(), "BuildAcpiTable ... [Table = RSDT]/12");
  EXPECT_EQ(reported.size(), 7u);  // every entry after the root pointer
}

TEST_F(AcpiDiscoveryTest, RevisionTwoRootPointerKeepsItsLengthAndTheXsdtIsNotWalked) {
  WriteAcpiBoard(Image, DefaultAaft());
  Image.Write(L::kRsdp, Rsdp(L::kRsdt, 2, 0x7FF20000));
  Image.Write(0x7FF20000, AcpiTable("XSDT", Bytes(8, 0)));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(Entries(Tables)[0], (Listed{L::kRsdp, 36}));
  for (const auto& entry : Tables) {
    EXPECT_NE(entry->Address, 0x7FF20000u);
  }
}

TEST_F(AcpiDiscoveryTest, ZeroInTheRsdtIsSkippedAndAZeroFirmwareControlIsListed) {
  WriteAcpiBoard(Image, DefaultAaft());
  Image.Write(L::kRsdt, Rsdt({0, L::kFacp}));
  FadtFields fadt;
  fadt.FirmwareCtrl = 0;
  fadt.Dsdt = L::kDsdt;
  Image.Write(L::kFacp, Fadt(fadt));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(Entries(Tables),
            (std::vector<Listed>{{L::kRsdp, 20}, {L::kRsdt, 44}, {L::kFacp, 116}, {0, 0}, {L::kDsdt, 100}}));
}

TEST_F(AcpiDiscoveryTest, TheScanStepsBy16AndTriesOnlyTheFirstMatch) {
  WriteBiosArea(Image);
  Image.Write(0xF0008, Rsdp(0x7FF00000));  // not 16-byte aligned: never seen
  EXPECT_FALSE(Discover());

  Bytes broken = Rsdp(0x7FF00000);
  broken[8] ^= 1;
  Image.Write(0xE1000, broken);
  Image.Write(0xF0010, Rsdp(0x7FF00000));
  EXPECT_FALSE(Discover());  // the first match is invalid; the valid one later is not tried
  EXPECT_TRUE(Tables.empty());

  Image.Write(0xE1000, Bytes(20, 0));
  EXPECT_TRUE(Discover());
  EXPECT_EQ(Tables[0]->Address, 0xF0010u);
}

TEST_F(AcpiDiscoveryTest, TablesThatListEachOtherDoNotGrowTheListWithoutEnd) {
  WriteBiosArea(Image);
  Image.Write(L::kRsdp, Rsdp(L::kRsdt));
  // The RSDT lists itself and a FADT whose FACS and DSDT fields point back
  // at the RSDT and the FADT.
  Image.Write(L::kRsdt, Rsdt({L::kRsdt, L::kFacp}));
  FadtFields fadt;
  fadt.FirmwareCtrl = L::kRsdt;
  fadt.Dsdt = L::kFacp;
  Image.Write(L::kFacp, Fadt(fadt));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(Entries(Tables),
            (std::vector<Listed>{
                {L::kRsdp, 20}, {L::kRsdt, 44}, {L::kRsdt, 44}, {L::kFacp, 116}, {L::kRsdt, 44}, {L::kFacp, 116}}));
}

TEST_F(AcpiDiscoveryTest, AnRsdtOfManyDistinctTablesIsCutAtTheListLimit) {
  WriteBiosArea(Image);
  Image.Write(L::kRsdp, Rsdp(L::kRsdt));
  std::vector<std::uint32_t> addresses;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    addresses.push_back(0x10000000 + i * 0x1000);  // unmapped: headers cannot be read
  }
  Image.Write(L::kRsdt, Rsdt(addresses));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(Tables.size(), acpi::kMaxListedTables);
}

TEST_F(AcpiDiscoveryTest, AnUnreadableHeaderIsSkippedAndTheWalkGoesOn) {
  WriteAcpiBoard(Image, DefaultAaft());
  Image.Write(L::kRsdt, Rsdt({0x90000000, L::kApic}));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(Entries(Tables)[2], (Listed{0x90000000, 0}));
  EXPECT_EQ(Tables[3]->Address, L::kApic);
  EXPECT_EQ(Found.Values.IoApicAddress, 0xFEC00000u);
}

TEST_F(AcpiDiscoveryTest, HeadersWithLengthsNoTableCanHaveAreNotDecoded) {
  const std::uint32_t lengths[] = {0, 35, acpi::kMaxTableLength + 1, 0xFFFFFFFF};
  for (std::uint32_t length : lengths) {
    SCOPED_TRACE(length);
    MemoryImage image;
    WriteAcpiBoard(image, DefaultAaft());
    image.WriteDword(L::kFacp + 4, length);
    acpi::TableList tables;
    acpi::Findings found;
    NullTrace trace;
    ASSERT_TRUE(acpi::ScanMemoryForRootPointer(image.Machine(), tables));
    acpi::BuildTableList(image.Machine(), tables, found, trace);
    EXPECT_EQ(Entries(tables)[2], (Listed{L::kFacp, 0}));
    EXPECT_FALSE(found.Values.SmiCommandPort);
    EXPECT_EQ(tables.size(), 6u);  // no FACS and DSDT from the FADT
  }
}

TEST_F(AcpiDiscoveryTest, ATableWhoseBodyCannotBeReadIsNotDecoded) {
  WriteAcpiBoard(Image, DefaultAaft());
  // An RSDT whose header is readable but whose body runs into unmapped memory.
  const std::uint32_t edge = 0x7FF08000 - 36;
  Image.Map(0x7FF07000, 0x1000);
  Bytes header = Rsdt({L::kFacp});
  header.resize(36);
  Put32(header, 4, 36 + 4 * 8);
  Image.Write(edge, header);
  Image.Write(L::kRsdp, Rsdp(edge));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(Entries(Tables), (std::vector<Listed>{{L::kRsdp, 20}, {edge, 68}}));
}

class AcpiRegistryRouteTest : public AcpiDiscoveryTest {
 protected:
  void PutRegistryCopy(const Bytes& data) {
    sys::RegKey key = 0;
    ASSERT_EQ(Registry.RegCreateKeyExW(sys::kHkeyLocalMachine, u"Hardware\\ACPI\\RSDT\\VELNOR\\KBLDESK\\00000001",
                                       sys::kKeyAllAccess, &key),
              sys::kErrorSuccess);
    ASSERT_EQ(
        Registry.RegSetValueExW(key, u"00000000", sys::kRegBinary, data.data(), static_cast<sys::Dword>(data.size())),
        sys::kErrorSuccess);
    Registry.RegCloseKey(key);
  }
};

TEST_F(AcpiRegistryRouteTest, SearchesTheWindowBelowTheFirstListedTable) {
  // First table at A = 0x7FF12345: the window starts at (A - 0x10000) with the
  // low 8 bits cleared and covers 0x20000 bytes.
  const std::uint32_t first = 0x7FF12345;
  const std::uint32_t windowStart = 0x7FF02300;
  PutRegistryCopy(Rsdt({first, 0x7FF20000}));
  const struct {
    std::uint64_t rsdpAt;
    bool found;
  } cases[] = {
      {windowStart, true},
      {windowStart - 0x10, false},
      {windowStart + 0x20000 - 0x10, true},  // the last aligned place a whole signature fits
      {windowStart + 0x20000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rsdpAt);
    MemoryImage image;
    image.Map(windowStart - 0x1000, 0x22000);
    image.Write(c.rsdpAt, Rsdp(0x7FF00000));
    acpi::TableList tables;
    EXPECT_FALSE(acpi::ScanMemoryForRootPointer(image.Machine(), tables));
    EXPECT_EQ(acpi::FindRootPointerThroughRegistry(image.Machine(), tables), c.found);
    if (c.found) {
      ASSERT_EQ(tables.size(), 2u);
      EXPECT_EQ(tables[0]->Address, c.rsdpAt);
      EXPECT_EQ(tables[1]->Address, 0x7FF00000u);
    }
  }
  EXPECT_EQ(Registry.OpenKeys(), 0u);
}

TEST_F(AcpiRegistryRouteTest, AcceptsAnXsdtCopyAndItsLowHalf) {
  Bytes xsdt = AcpiTable("XSDT", Concat({Le32Bytes(0x7FF12345), Le32Bytes(0x1)}));
  PutRegistryCopy(xsdt);
  Image.Map(0x7FF00000, 0x30000);
  Image.Write(0x7FF02300, Rsdp(0x7FF00000));
  EXPECT_TRUE(acpi::FindRootPointerThroughRegistry(Image.Machine(), Tables));
}

TEST_F(AcpiRegistryRouteTest, FailsOnAnyOtherCopyOrAMissingKey) {
  // A root pointer that a search below a first table at 0x7FF12345 finds.
  Image.Map(0x7FF00000, 0x30000);
  Image.Write(0x7FF02300, Rsdp(0x7FF00000));
  EXPECT_FALSE(acpi::FindRootPointerThroughRegistry(Image.Machine(), Tables));  // no key at all

  PutRegistryCopy(AcpiTable("FACP", Le32Bytes(0x7FF12345)));
  EXPECT_FALSE(acpi::FindRootPointerThroughRegistry(Image.Machine(), Tables));

  PutRegistryCopy(Bytes{'R', 'S', 'D', 'T', 40, 0, 0, 0});  // too short to list a table
  EXPECT_FALSE(acpi::FindRootPointerThroughRegistry(Image.Machine(), Tables));

  // A first table below 64 KiB searches from 0, not from near 4 GiB where
  // the subtraction wraps to; below 1 MiB the driver serves only the BIOS
  // area, so nothing is found.
  PutRegistryCopy(Rsdt({0x8000}));
  Image.Map(0xFFFF8000, 0x1000);
  Image.Write(0xFFFF8000, Rsdp(0x7FF00000));
  EXPECT_FALSE(acpi::FindRootPointerThroughRegistry(Image.Machine(), Tables));
  EXPECT_TRUE(Tables.empty());
  EXPECT_EQ(Registry.OpenKeys(), 0u);
}

TEST_F(AcpiRegistryRouteTest, FailsWhenTheKeyCannotBeOpened) {
  PutRegistryCopy(Rsdt({0x7FF12345}));
  Registry.FailOpen = sys::kErrorAccessDenied;
  EXPECT_FALSE(acpi::FindRootPointerThroughRegistry(Image.Machine(), Tables));
}

}  // namespace
}  // namespace kestrune
