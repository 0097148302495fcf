#include "tools/Probe.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Smbiosbase.h"
#include "sim/os/FakeFirmwareTable.h"
#include "tests/support/BoardFixture.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;

// What the firmware shows on the shipped boards, after the gates' keys.
std::string Firmware(const std::string& board, const std::string& acpiValues, const std::string& variable,
                     const std::string& aaft, const std::string& boot = "boot.system_disk=0\nboot.gpt=1\n") {
  return board + "smbios.loaded=0\nsmbios.baseboard=\n" + boot + acpiValues + variable + aaft;
}

const std::string kAcpiFound =
    "acpi.found=1\nacpi.tables=RSD |RSDT|FACP|APIC|MCFG|AAFT|FACS|DSDT\nacpi.smi_port=0xB2\nacpi.pm_base=0x1800\n"
    "acpi.sci=0x9\nacpi.local_apic=0xFEE00000\nacpi.io_apic=0xFEC00000\nacpi.pcie_base=0xE0000000\n";
const std::string kAcpiMissing =
    "acpi.found=0\nacpi.tables=\nacpi.smi_port=0x0\nacpi.pm_base=0x800\nacpi.sci=0x9\nacpi.local_apic=0x0\n"
    "acpi.io_apic=0xFEC00000\nacpi.pcie_base=0x0\nacpi.dsdt=0x0\n";
const std::string kNoOptaneModules =
    "aaft.modules=ME:11,GOP:9,RAIDDXE:15\naaft.func7=1\naaft.func9=0\naaft.setup_configs=\naaft.fan_tables=\n"
    "aaft.ezoc=\n";

class ProbeTest : public test::BoardFixture {
 protected:
  sim::FakeFirmwareTable FirmwareTable;
  std::string Error;

 private:
  sys::ScopedSeam<sys::IFirmwareTable> FirmwareSeam{FirmwareTable};
};

TEST_F(ProbeTest, ShippedBoardsShowWhatTheirGatesWillSee) {
  struct Case {
    const char* Board;
    std::string Expected;
    // What those reads cost in driver requests.
    int Requests;
  };
  const std::string p140 =
      "board.detected=1\nboard.block_found=1\nboard.model=Z270 Forge\nboard.raw_model=Z270 "
      "Forge\nboard.bios_version=P1.40\nboard.bios_date=2017/03/24\n";
  const std::string noOptane =
      Firmware(p140, kAcpiFound + "acpi.dsdt=0x8AD00140\n", "var.read=1\nvar.size=4\nvar.data=00000000\nsata.mode=0\n",
               kNoOptaneModules + "optane.ready=0\n");
  const Case cases[] = {
      {"kabylake-z270-no-optane.json",
       "driver.open=1\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-7700K CPU @ "
       "4.20GHz\ncpu.signature=0x000906E9\ncpu.kabylake=1\npci.chipset=0xA2C5\n" +
           noOptane,
       151},
      {"skylake-z270.json",
       "driver.open=1\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-6700K CPU @ "
       "4.00GHz\ncpu.signature=0x000506E3\ncpu.kabylake=0\npci.chipset=0xA2C5\n" +
           noOptane,
       151},
      {"amd-x370.json",
       "driver.open=1\ncpu.vendor=AuthenticAMD\ncpu.vendor_code=2\ncpu.brand=AMD Ryzen 7 1800X Eight-Core "
       "Processor\ncpu.signature=0x00800F11\ncpu.kabylake=0\npci.chipset=0xFFFF\n" +
           Firmware("board.detected=1\nboard.block_found=1\nboard.model=X370 Forge\nboard.raw_model=X370 "
                    "Forge\nboard.bios_version=P3.20\nboard.bios_date=2018/01/08\n",
                    kAcpiFound + "acpi.dsdt=0xDAE00140\n", "var.read=0\nvar.size=4\nvar.data=\nsata.mode=0\n",
                    kNoOptaneModules + "optane.ready=1\n"),
       155},
      // Without the driver the chipset reads all ones; CPUID still answers.
      {"kabylake-z270-no-driver.json",
       "driver.open=0\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-7700K CPU @ "
       "4.20GHz\ncpu.signature=0x000906E9\ncpu.kabylake=1\npci.chipset=0xFFFF\n" +
           Firmware("board.detected=0\nboard.block_found=0\nboard.model=\nboard.raw_model=\nboard.bios_version="
                    "\nboard.bios_date=\n",
                    kAcpiMissing, "var.read=0\nvar.size=4\nvar.data=\nsata.mode=0\n",
                    "aaft.modules=\naaft.func7=0\naaft.func9=0\naaft.setup_configs=\naaft.fan_tables=\naaft.ezoc="
                    "\noptane.ready=0\n"),
       0},
      {"kabylake-z270-optane.json",
       "driver.open=1\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-7700K CPU @ "
       "4.20GHz\ncpu.signature=0x000906E9\ncpu.kabylake=1\npci.chipset=0xA2C5\n" +
           Firmware("board.detected=1\nboard.block_found=1\nboard.model=Z270 Forge\nboard.raw_model=Z270 "
                    "Forge\nboard.bios_version=P2.10\nboard.bios_date=2017/09/12\n",
                    kAcpiFound + "acpi.dsdt=0x8AD00140\n", "var.read=1\nvar.size=4\nvar.data=00000000\nsata.mode=0\n",
                    "aaft.modules=ME:11,GOP:9,RAIDDXE:15,OPTANE:1\naaft.func7=1\naaft.func9=0\naaft.setup_configs="
                    "\naaft.fan_tables=\naaft.ezoc=\noptane.ready=1\n"),
       151},
      {"kabylake-z270-raid.json",
       "driver.open=1\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-7700K CPU @ "
       "4.20GHz\ncpu.signature=0x000906E9\ncpu.kabylake=1\npci.chipset=0xA2C5\n" +
           Firmware(p140, kAcpiFound + "acpi.dsdt=0x8AD00140\n",
                    "var.read=1\nvar.size=4\nvar.data=01000000\nsata.mode=1\n", kNoOptaneModules + "optane.ready=0\n"),
       151},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Board);
    PowerOff();
    BootFile(kBoards + "/" + c.Board);
    EXPECT_EQ(tools::ProbeMachine(), c.Expected + "driver.requests=" + std::to_string(c.Requests) + "\n");
  }
}

TEST_F(ProbeTest, AcpiTablesInReportedRamAreRefusedByTheDriver) {
  ASSERT_TRUE(sim::LoadBoardFile(kBoards + "/kabylake-z270-no-optane.json", Board, Error));
  // The operating system reports the tables' range as RAM: the driver reads
  // the root pointer in the BIOS area but nothing it points to.
  Board.SystemRam.push_back({0x8AD00000, 0x00100000});
  Boot();
  const std::string lines = tools::ProbeMachine();
  EXPECT_NE(lines.find("board.model=Z270 Forge\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("acpi.tables=RSD |????\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("acpi.smi_port=0x0\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("var.read=0\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("aaft.modules=\n"), std::string::npos) << lines;
}

}  // namespace
}  // namespace kestrune
