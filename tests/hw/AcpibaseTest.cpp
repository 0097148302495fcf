#include "hw/Acpibase.h"

#include <gtest/gtest.h>

#include "hw/Readwrite.h"
#include "hw/Rwconfig.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FileSeamTap.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;

class AcpibaseTest : public test::BoardFixture {
 protected:
  std::string SignatureAt(std::uint64_t address) {
    char text[4];
    Machine().Memory().Read(address, reinterpret_cast<std::uint8_t*>(text), 4);
    return std::string(text, 4);
  }
  std::vector<std::string> Signatures(const TAcpiBase& acpi) {
    std::vector<std::string> out;
    for (const auto& entry : acpi.Tables) {
      out.push_back(SignatureAt(entry->Address));
    }
    return out;
  }
  RwCfg& Settings() { return ReadWriteInstance()->GetConfig().GetRwCfg(); }
};

TEST_F(AcpibaseTest, ShippedBoardListsItsTablesAndLeavesThePlatformValues) {
  BootFile(kBoards + "/kabylake-z270-optane.json");
  const TAcpiBase* acpi = AcpiBaseInstance();
  ASSERT_TRUE(acpi->Found);
  EXPECT_EQ(Signatures(*acpi),
            (std::vector<std::string>{"RSD ", "RSDT", "FACP", "APIC", "MCFG", "AAFT", "FACS", "DSDT"}));
  EXPECT_EQ(acpi->Tables[0]->Address, 0xF0000u);
  EXPECT_EQ(acpi->Tables[0]->Length, 20u);
  EXPECT_EQ(acpi->Tables[2]->Length, 244u);
  EXPECT_EQ(acpi->Tables[6]->Length, 64u);

  const RwCfg& cfg = Settings();
  EXPECT_EQ(cfg.SmiCommandPort, 0xB2);
  EXPECT_EQ(cfg.PmBase, 0x1800);
  EXPECT_EQ(cfg.SciInterrupt, 9u);
  EXPECT_EQ(cfg.PmTimerPort, 0x1808);
  const std::uint32_t flags = Machine().Memory().ReadDword(acpi->Tables[2]->Address + 112);
  EXPECT_EQ(cfg.PmTimerExtended, flags & 0x100);
  EXPECT_EQ(cfg.AcpiEnableValue, 0xA0);
  EXPECT_EQ(cfg.AcpiDisableValue, 0xA1);
  EXPECT_EQ(cfg.LocalApicAddress, 0xFEE00000u);
  EXPECT_EQ(cfg.IoApicAddress, 0xFEC00000u);
  EXPECT_EQ(cfg.EcCommandPort, 0x66);  // no ECDT: the defaults stay
  EXPECT_EQ(acpi->PcieBaseAddress, 0xE0000000u);
  EXPECT_EQ(acpi->DsdtAddress, acpi->Tables[7]->Address);
  EXPECT_EQ(std::string(acpi->DsdtHeader.begin(), acpi->DsdtHeader.begin() + 4), "DSDT");
}

TEST_F(AcpibaseTest, FindTableMatchesExactlyAndKeepsCurrentOnTheSameEntry) {
  BootFile(kBoards + "/kabylake-z270-optane.json");
  TAcpiBase* acpi = AcpiBaseInstance();
  ASSERT_TRUE(acpi->FindTable("AAFT"));
  TableEntry* first = acpi->Current;
  ASSERT_TRUE(acpi->FindTable("AAFT"));
  EXPECT_EQ(acpi->Current, first);
  EXPECT_EQ(first, acpi->Tables[5].get());
  EXPECT_FALSE(acpi->FindTable("aaft"));
  EXPECT_FALSE(acpi->FindTable("SSDT"));
  EXPECT_FALSE(acpi->FindTable("AAF"));
  EXPECT_EQ(acpi->Current, first);
  ASSERT_TRUE(acpi->FindTable("RSD "));
  EXPECT_EQ(acpi->Current, acpi->Tables[0].get());
}

TEST_F(AcpibaseTest, WithoutTablesNothingIsFoundAndTheSettingsKeepTheirDefaults) {
  Boot();  // a board without ACPI
  TAcpiBase* acpi = AcpiBaseInstance();
  EXPECT_FALSE(acpi->Found);
  EXPECT_TRUE(acpi->Tables.empty());
  EXPECT_FALSE(acpi->FindTable("AAFT"));
  EXPECT_EQ(acpi->Current, nullptr);
  EXPECT_EQ(Settings().SmiCommandPort, 0);
  EXPECT_EQ(Settings().PmBase, 0x800);
  EXPECT_EQ(Settings().IoApicAddress, 0xFEC00000u);
}

TEST_F(AcpibaseTest, ADriverThatCannotBeOpenedFindsNothing) {
  BootFile(kBoards + "/kabylake-z270-no-driver.json");
  EXPECT_FALSE(AcpiBaseInstance()->Found);
  EXPECT_EQ(Settings().SmiCommandPort, 0);
}

TEST_F(AcpibaseTest, TheRegistryRouteFindsARootPointerOutsideTheBiosArea) {
  BootFile(kBoards + "/kabylake-z270-no-optane.json");
  Board.Acpi->Rsdp = Board.Acpi->Base - 0x100;  // below the tables, not in 0xE0000-0xFFFFF
  Reboot();
  EXPECT_FALSE(AcpiBaseInstance()->Found);
  ReleaseAcpiBaseInstance();

  // Windows' copy of the RSDT: the one the board laid out.
  std::uint8_t rsdp[20];
  Machine().Memory().Read(Board.Acpi->Rsdp, rsdp, sizeof rsdp);
  const std::uint32_t rsdt = rsdp[16] | rsdp[17] << 8 | rsdp[18] << 16 | static_cast<std::uint32_t>(rsdp[19]) << 24;
  std::vector<std::uint8_t> copy(Machine().Memory().ReadDword(rsdt + 4));
  Machine().Memory().Read(rsdt, copy.data(), copy.size());
  sys::RegKey key = 0;
  ASSERT_EQ(Registry.RegCreateKeyExW(sys::kHkeyLocalMachine, u"Hardware\\ACPI\\RSDT\\VELNOR\\Z270FRGE\\01072009",
                                     sys::kKeyAllAccess, &key),
            sys::kErrorSuccess);
  Registry.RegSetValueExW(key, u"00000000", sys::kRegBinary, copy.data(), static_cast<sys::Dword>(copy.size()));
  Registry.RegCloseKey(key);
  // Windows writes its copy at boot, before the driver starts and learns
  // what the firmware publishes.
  Reboot();

  TAcpiBase* acpi = AcpiBaseInstance();
  ASSERT_TRUE(acpi->Found);
  EXPECT_EQ(acpi->Tables[0]->Address, Board.Acpi->Rsdp);
  EXPECT_EQ(Signatures(*acpi),
            (std::vector<std::string>{"RSD ", "RSDT", "FACP", "APIC", "MCFG", "AAFT", "FACS", "DSDT"}));
  EXPECT_EQ(Settings().SmiCommandPort, 0xB2);
  EXPECT_EQ(Registry.OpenKeys(), 0u);
}

TEST_F(AcpibaseTest, AHeaderThatCannotBeReadIsSkipped) {
  BootFile(kBoards + "/kabylake-z270-optane.json");
  std::uint64_t mcfg = 0;
  {
    TAcpiBase probe;
    mcfg = probe.Tables[4]->Address;
  }
  test::FileSeamTap tap;
  tap.FailRead = [mcfg](std::uint64_t address, std::uint32_t) { return address == mcfg; };
  TAcpiBase* acpi = AcpiBaseInstance();
  ASSERT_EQ(acpi->Tables.size(), 8u);
  EXPECT_EQ(acpi->Tables[4]->Length, 0u);
  EXPECT_EQ(acpi->PcieBaseAddress, 0u);
  EXPECT_EQ(acpi->Tables[5]->Length, Machine().Memory().ReadDword(acpi->Tables[5]->Address + 4));
  EXPECT_TRUE(acpi->FindTable("AAFT"));  // the unreadable entry is passed over
}

TEST_F(AcpibaseTest, TheSettingsOutliveTheInstanceAndAFreshOneDiscoversAgain) {
  BootFile(kBoards + "/kabylake-z270-optane.json");
  AcpiBaseInstance();
  ReleaseAcpiBaseInstance();
  EXPECT_EQ(Settings().SmiCommandPort, 0xB2);
  test::FileSeamTap tap;
  EXPECT_TRUE(AcpiBaseInstance()->Found);
  EXPECT_GT(tap.MemoryReads, 0);
}

}  // namespace
}  // namespace kestrune
