// The Linux capture over a copy of the kernel's interfaces in a folder.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "sim/board/Board.h"
#include "tests/support/FirmwareFixtures.h"
#include "tests/tools/CaptureFixture.h"
#include "tools/LinuxCapture.h"

namespace kestrune {
namespace {

using test::CaptureTest;
using test::Put32;
using test::capture::SmbiosEntryPoint;
using test::capture::SmbiosTable;

// A Linux machine's interfaces in a folder: /sys and a /dev/mem stand-in.
class LinuxCaptureTest : public CaptureTest {
 protected:
  LinuxCaptureTest() {
    char pattern[] = "/tmp/kestrune-capture-XXXXXX";
    Root = mkdtemp(pattern);
    Sources.Sysfs = Root + "/sys";
    Sources.CpuidDevice = Root + "/cpuid";
    Sources.MemoryDevice = Root + "/mem";
  }
  ~LinuxCaptureTest() override { std::system(("rm -rf '" + Root + "'").c_str()); }

  void Write(const std::string& path, const sim::Bytes& bytes, std::uint64_t offset = 0) {
    std::system(("mkdir -p \"$(dirname '" + Root + path + "')\"").c_str());
    std::fstream file(Root + path, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) {
      file.open(Root + path, std::ios::binary | std::ios::out);
    }
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  // The kernel's ACPI tables, PCI 0:31.0, SMBIOS and the variable.
  void MachineFiles() {
    sim::Bytes fadt(244 - 36, 0);
    fadt[48 - 36] = 0xB2;
    Put32(fadt, 40 - 36, 0x7A002000);
    Fadt = sim::MakeAcpiTable("FACP", fadt, 4);
    Dsdt = sim::MakeAcpiTable("DSDT", sim::Bytes(9, 1));
    Apic = sim::MakeAcpiTable("APIC", sim::Bytes(8, 2));
    Write("/sys/firmware/acpi/tables/FACP", Fadt);
    Write("/sys/firmware/acpi/tables/DSDT", Dsdt);
    Write("/sys/firmware/acpi/tables/APIC", Apic);
    Write("/sys/firmware/acpi/tables/dynamic/SSDT1", sim::MakeAcpiTable("SSDT", sim::Bytes(4, 3)));
    sim::Bytes lpc(256, 0);
    Put32(lpc, 0, 0xA2C58086);
    Write("/sys/bus/pci/devices/0000:00:1f.0/config", lpc);
    Write("/sys/bus/pci/devices/0001:00:00.0/config", lpc);
    const sim::Bytes table = SmbiosTable();
    Write("/sys/firmware/dmi/tables/smbios_entry_point", SmbiosEntryPoint(0x7B000000, table.size()));
    Write("/sys/firmware/dmi/tables/DMI", table);
    Write("/sys/firmware/efi/efivars/VelnorPlatformConfig-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9",
          {7, 0, 0, 0, 1, 0, 0, 0});
  }

  std::string Root;
  tools::LinuxSources Sources;
  sim::Bytes Fadt, Dsdt, Apic;
};

TEST_F(LinuxCaptureTest, WithoutDevMemTheKernelsTablesAreLaidOutAndWhatIsMissingIsSaid) {
  MachineFiles();
  const sim::Board captured = tools::CaptureLinuxMachine({}, Sources);
  ASSERT_TRUE(captured.Capture);
  EXPECT_EQ(captured.Capture->Source, "linux");
  const std::string missing = [&] {
    std::string all;
    for (const std::string& line : captured.Capture->Missing) {
      all += line + "\n";
    }
    return all;
  }();
  for (const char* part : {"bios area", "tables' addresses are unknown", "pci 0001:00:00.0", "disks",
                           "entry point's address is unknown"}) {
    EXPECT_NE(missing.find(part), std::string::npos) << part << "\n" << missing;
  }
  ASSERT_TRUE(captured.Acpi);
  EXPECT_EQ(captured.Acpi->Tables, (std::vector<sim::Bytes>{Fadt, Apic, Dsdt}));
  EXPECT_EQ(captured.Acpi->Unplaced.size(), 1u);
  ASSERT_EQ(captured.Pci.size(), 1u);
  EXPECT_EQ(captured.Pci[0].Device, 31);
  const std::string replay = ProbeOf(ThroughFile(captured));
  for (const char* key :
       {"pci.chipset=0xA2C5\n", "acpi.tables=RSD |RSDT|FACP|APIC|????|DSDT\n", "acpi.smi_port=0xB2\n", "var.read=1\n",
        "var.data=01000000\n", "smbios.loaded=1\n", "smbios.baseboard=Z270 Forge\n"}) {
    EXPECT_NE(replay.find(key), std::string::npos) << key << replay;
  }
}

TEST_F(LinuxCaptureTest, WithDevMemTheTablesStayAtTheirAddresses) {
  MachineFiles();
  // The firmware's memory: a root pointer of revision 2 in the BIOS area,
  // an XSDT (no RSDT), the tables, the SMBIOS entry point and table.
  const sim::Bytes rsdp = test::Rsdp(0x7A000000, 2, 0x7A000100);
  const sim::Bytes rsdt = test::Rsdt({0x7A001000, 0x7A003000});
  sim::Bytes xsdt = sim::MakeAcpiTable("XSDT", sim::Bytes(16, 0));
  Put32(xsdt, 36, 0x7A001000);
  Put32(xsdt, 44, 0x7A003000);
  Write("/mem", sim::Bytes(0x20000, 0), 0xE0000);
  Write("/mem", rsdp, 0xF0000);
  const sim::Bytes table = SmbiosTable();
  Write("/mem", SmbiosEntryPoint(0x7B000000, table.size()), 0xF5000);
  Write("/mem", rsdt, 0x7A000000);
  Write("/mem", xsdt, 0x7A000100);
  Write("/mem", Fadt, 0x7A001000);
  Write("/mem", Dsdt, 0x7A002000);
  Write("/mem", Apic, 0x7A003000);
  Write("/mem", table, 0x7B000000);

  const sim::Board captured = tools::CaptureLinuxMachine({}, Sources);
  ASSERT_TRUE(captured.Acpi);
  EXPECT_TRUE(captured.Acpi->Tables.empty());
  std::vector<std::uint64_t> addresses;
  for (const sim::BoardMemoryRegion& placed : captured.Acpi->Placed) {
    addresses.push_back(placed.Address);
  }
  EXPECT_EQ(addresses,
            (std::vector<std::uint64_t>{0xF0000, 0x7A000000, 0x7A000100, 0x7A001000, 0x7A003000, 0x7A002000}));
  ASSERT_TRUE(captured.Smbios && captured.Smbios->EntryPoint && captured.Smbios->Table);
  EXPECT_EQ(captured.Smbios->EntryPoint->Address, 0xF5000u);
  EXPECT_EQ(captured.Smbios->Table->Address, 0x7B000000u);
  const std::string replay = ProbeOf(ThroughFile(captured));
  for (const char* key : {"acpi.tables=RSD |RSDT|FACP|APIC|????|DSDT\n", "acpi.dsdt=0x7A002000\n",
                          "smbios.baseboard=Z270 Forge\n", "var.data=01000000\n"}) {
    EXPECT_NE(replay.find(key), std::string::npos) << key << replay;
  }
}
}  // namespace
}  // namespace kestrune
