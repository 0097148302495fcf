#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hw/Acpibase.h"
#include "platform/Smbiosbase.h"
#include "sim/board/Board.h"
#include "sim/os/FakeFirmwareTable.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FirmwareFixtures.h"
#include "tools/CaptureSupport.h"
#include "tools/MachineCapture.h"
#include "tools/Probe.h"
#if !defined(_WIN32)
#include "tools/LinuxCapture.h"
#endif

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;

// The probe's keys without the driver's: a capture replays the machine,
// not the driver that read it.
std::string WithoutDriverKeys(const std::string& lines) {
  std::istringstream in(lines);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("driver.", 0) != 0) {
      kept += line + "\n";
    }
  }
  return kept;
}

using test::Put32;

// An SMBIOS table: a system structure with a serial number and a UUID, a
// baseboard with its product and serial number, and the end structure.
sim::Bytes SmbiosTable() {
  sim::Bytes system = {1, 2, 3, 4};  // manufacturer, product, version, serial number
  for (int i = 0; i < 16; ++i) {
    system.push_back(static_cast<std::uint8_t>(0xA0 + i));  // the UUID at 0x08
  }
  system.insert(system.end(), {6, 0, 0});
  return test::Concat({test::SmbiosStructure(1, 1, system, {"Velnor", "Forge", "1.0", "SYS-SERIAL-42"}),
                       test::SmbiosStructure(2, 2, {1, 2, 3, 4, 0}, {"Velnor", "Z270 Forge", "1.0", "BB-SERIAL-7"}),
                       test::SmbiosEnd()});
}

sim::Bytes SmbiosEntryPoint(std::uint32_t tableAddress, std::size_t tableLength) {
  return test::SmbiosEntryPoint(static_cast<std::uint16_t>(tableLength), tableAddress);
}

bool Contains(const sim::Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

class CaptureTest : public test::BoardFixture {
 protected:
  ~CaptureTest() override { PowerOff(); }
  void PowerOff() {
    ReleaseSmbiosInstance();
    ReleaseAcpiBaseInstance();
    ReleaseReadWriteInstance();
    Session.reset();
  }
  // The board written to a board file and read back.
  sim::Board ThroughFile(const sim::Board& board) {
    sim::Board read;
    std::string error;
    EXPECT_TRUE(sim::ParseInlineBoardJson(sim::WriteBoardJson(board), read, error)) << error;
    return read;
  }
  std::string ProbeOf(const sim::Board& board) {
    PowerOff();
    Board = board;
    Boot();
    return tools::ProbeMachine();
  }

  sim::FakeFirmwareTable FirmwareTable;
  std::string Error;

 private:
  sys::ScopedSeam<sys::IFirmwareTable> FirmwareSeam{FirmwareTable};
};

TEST_F(CaptureTest, ACapturedBoardReplaysTheKeysOfTheBoardItWasCapturedFrom) {
  int boards = 0;
  for (const auto& file : std::filesystem::directory_iterator(kBoards)) {
    if (file.path().extension() != ".json") {
      continue;
    }
    ++boards;
    SCOPED_TRACE(file.path().string());
    sim::Board original;
    std::string error;
    ASSERT_TRUE(sim::LoadBoardFile(file.path().string(), original, error)) << error;
    const std::string live = ProbeOf(original);
    PowerOff();
    Board = original;
    Boot();
    const sim::Board captured = tools::CaptureThroughHardware({}, "a test machine");
    ASSERT_TRUE(captured.Capture);
    EXPECT_EQ(captured.Capture->Source, "windows");
    EXPECT_NE(captured.Name.find("captured on a test machine at "), std::string::npos) << captured.Name;
    EXPECT_EQ(WithoutDriverKeys(ProbeOf(ThroughFile(captured))), WithoutDriverKeys(live));
    // Without the driver nothing behind it can be captured, and the file says so.
    const bool driverless = original.Faults.Driver;
    EXPECT_EQ(captured.Acpi.has_value(), !driverless);
    EXPECT_EQ(!captured.Capture->Missing.empty() && captured.Capture->Missing[0].rfind("driver:", 0) == 0, driverless);
  }
  EXPECT_GE(boards, 8);
}

TEST_F(CaptureTest, TheCaptureTakesTheTablesAtTheirAddressesAndTheXsdtsToo) {
  ASSERT_TRUE(sim::LoadBoardFile(kBoards + "/kabylake-z270-no-optane.json", Board, Error));
  Boot();
  const sim::Board captured = tools::CaptureThroughHardware({}, "");
  ASSERT_TRUE(captured.Acpi);
  EXPECT_TRUE(captured.Acpi->Tables.empty());
  // The root pointer, the RSDT, FACP, APIC, MCFG, AAFT, FACS and DSDT, each once.
  std::vector<std::string> signatures;
  for (const sim::BoardMemoryRegion& table : captured.Acpi->Placed) {
    signatures.emplace_back(table.Data.begin(), table.Data.begin() + 4);
  }
  EXPECT_EQ(signatures, (std::vector<std::string>{"RSD ", "RSDT", "FACP", "APIC", "MCFG", "AAFT", "FACS", "DSDT"}));
  EXPECT_EQ(captured.Acpi->Placed[0].Address, 0xF0000u);
  EXPECT_EQ(captured.Acpi->Placed[0].Data.size(), 20u);
  ASSERT_EQ(captured.Memory.size(), 1u);
  EXPECT_EQ(captured.Memory[0].Address, 0xE0000u);
  EXPECT_EQ(captured.Memory[0].Data.size(), 0x20000u);
  ASSERT_TRUE(captured.Smi);
  EXPECT_EQ(captured.Smi->Port, 0xB2);
  ASSERT_EQ(captured.Smi->Variables.size(), 1u);
  EXPECT_EQ(captured.Smi->Variables[0].Data, sim::Bytes(4, 0));
  EXPECT_EQ(captured.Smi->Variables[0].Attributes, Board.Smi->Variables[0].Attributes);

  // A revision-2 root pointer: its XSDT and what it lists are taken as well.
  sim::Board two;
  two.Cpu = Board.Cpu;
  const sim::Bytes rsdp = test::Rsdp(0, 2, 0x80000100);
  sim::Bytes xsdt = sim::MakeAcpiTable("XSDT", sim::Bytes(8, 0));
  Put32(xsdt, 36, 0x80001000);
  sim::Bytes hpet = sim::MakeAcpiTable("HPET", sim::Bytes(20, 0));
  two.Acpi = sim::BoardAcpi{0, 0, {}, {{0xF0000, rsdp}, {0x80000100, xsdt}, {0x80001000, hpet}}, {}};
  PowerOff();
  Board = two;
  Boot();
  const sim::Board again = tools::CaptureThroughHardware({}, "");
  ASSERT_TRUE(again.Acpi);
  ASSERT_EQ(again.Acpi->Placed.size(), 3u);
  EXPECT_EQ(again.Acpi->Placed[1].Data, xsdt);
  EXPECT_EQ(again.Acpi->Placed[2].Data, hpet);
}

TEST_F(CaptureTest, SmbiosAtItsAddressOrAsTheSystemsCopyIsCapturedAndReplayed) {
  const sim::Bytes table = SmbiosTable();
  sim::Board board;
  board.Smbios = sim::BoardSmbios{sim::BoardMemoryRegion{0xF5000, SmbiosEntryPoint(0x9A000000, table.size())},
                                  sim::BoardMemoryRegion{0x9A000000, table},
                                  {}};
  const std::string live = ProbeOf(board);
  EXPECT_NE(live.find("smbios.loaded=1\nsmbios.baseboard=Z270 Forge\n"), std::string::npos) << live;
  const sim::Board captured = tools::CaptureThroughHardware({}, "");
  ASSERT_TRUE(captured.Smbios && captured.Smbios->EntryPoint && captured.Smbios->Table);
  EXPECT_EQ(captured.Smbios->EntryPoint->Address, 0xF5000u);
  EXPECT_EQ(captured.Smbios->Table->Address, 0x9A000000u);
  EXPECT_EQ(captured.Smbios->Table->Data, table);
  EXPECT_EQ(WithoutDriverKeys(ProbeOf(ThroughFile(captured))), WithoutDriverKeys(live));

  // A UEFI machine: no entry point in the BIOS area, only the system's copy.
  sim::Bytes raw = {0, 2, 8, 0};
  raw.resize(8);
  Put32(raw, 4, table.size());
  raw.insert(raw.end(), table.begin(), table.end());
  sim::Board uefi;
  uefi.Smbios = sim::BoardSmbios{std::nullopt, std::nullopt, raw};
  const std::string uefiLive = ProbeOf(uefi);
  EXPECT_NE(uefiLive.find("smbios.loaded=1\nsmbios.baseboard=Z270 Forge\n"), std::string::npos) << uefiLive;
  const sim::Board uefiCaptured = tools::CaptureThroughHardware({}, "");
  ASSERT_TRUE(uefiCaptured.Smbios);
  EXPECT_EQ(uefiCaptured.Smbios->FirmwareTable, raw);
  EXPECT_FALSE(uefiCaptured.Smbios->EntryPoint);
  EXPECT_EQ(WithoutDriverKeys(ProbeOf(ThroughFile(uefiCaptured))), WithoutDriverKeys(uefiLive));
}

TEST_F(CaptureTest, BlankingSerialsKeepsTheLayoutAndWhatTheProgramReads) {
  const sim::Bytes table = SmbiosTable();
  sim::Bytes raw(8, 0);
  Put32(raw, 4, table.size());
  raw.insert(raw.end(), table.begin(), table.end());
  sim::Board board;
  // The table lies inside the BIOS area, as on many legacy boards.
  board.Smbios = sim::BoardSmbios{sim::BoardMemoryRegion{0xF5000, SmbiosEntryPoint(0xF6000, table.size())},
                                  sim::BoardMemoryRegion{0xF6000, table}, raw};
  ProbeOf(board);
  sim::Board captured = tools::CaptureThroughHardware({true}, "");
  ASSERT_TRUE(captured.Smbios && captured.Smbios->Table);
  for (const sim::Bytes* copy :
       {&captured.Smbios->Table->Data, &captured.Smbios->FirmwareTable, &captured.Memory.at(0).Data}) {
    EXPECT_FALSE(Contains(*copy, "SYS-SERIAL-42"));
    EXPECT_FALSE(Contains(*copy, "BB-SERIAL-7"));
    EXPECT_TRUE(Contains(*copy, "Z270 Forge"));
    EXPECT_TRUE(Contains(*copy, "             "));  // the serial's length in blanks
  }
  EXPECT_EQ(captured.Smbios->Table->Data.size(), table.size());
  // The UUID is zeroed, the rest of the system structure kept.
  EXPECT_EQ(sim::Bytes(captured.Smbios->Table->Data.begin() + 8, captured.Smbios->Table->Data.begin() + 24),
            sim::Bytes(16, 0));
  EXPECT_EQ(captured.Smbios->Table->Data[4], 1);
  const std::string replay = ProbeOf(ThroughFile(captured));
  EXPECT_NE(replay.find("smbios.baseboard=Z270 Forge\n"), std::string::npos) << replay;

  // Tables that end too early are left as they are.
  for (std::size_t cut = 0; cut < table.size(); ++cut) {
    sim::Bytes part(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(cut));
    tools::BlankSmbiosSerials(part.data(), part.size());
    EXPECT_EQ(part.size(), cut);
  }
}

TEST_F(CaptureTest, AVolumeOnNoListedDiskIsCapturedAsSuch) {
  // As Wine's system volume answers: no disk extent, and no disk interface.
  sim::Board board;
  board.Disks = sim::BoardDisks{-1, {}};
  const std::string live = ProbeOf(board);
  EXPECT_NE(live.find("boot.system_disk=-1\nboot.gpt=0\n"), std::string::npos) << live;
  const sim::Board captured = tools::CaptureThroughHardware({}, "");
  EXPECT_EQ(captured.Disks.System, -1);
  EXPECT_TRUE(captured.Disks.List.empty());
  EXPECT_EQ(WithoutDriverKeys(ProbeOf(ThroughFile(captured))), WithoutDriverKeys(live));
  // A disk that the volume names and that is listed second, after a GPT disk.
  board.Disks = sim::BoardDisks{3, {{1, sim::PartitionStyle::Gpt, true, 3}, {3, sim::PartitionStyle::Mbr, true, 2}}};
  const std::string second = ProbeOf(board);
  const sim::Board again = tools::CaptureThroughHardware({}, "");
  EXPECT_EQ(again.Disks.System, 3);
  ASSERT_EQ(again.Disks.List.size(), 2u);
  EXPECT_EQ(again.Disks.List[1].Style, sim::PartitionStyle::Mbr);
  EXPECT_EQ(WithoutDriverKeys(ProbeOf(ThroughFile(again))), WithoutDriverKeys(second));
  sim::Board refused;
  std::string error;
  EXPECT_FALSE(sim::ParseInlineBoardJson(
      R"({"cpu": {"vendor": "", "signature": 0}, "disks": {"system": -2, "list": []}})", refused, error));
  EXPECT_NE(error.find("disks.system: must not be negative"), std::string::npos) << error;
}

TEST(BoardFileWriter, AWrittenBoardReadsBackAsTheSameBoard) {
  const char* const boards[] = {"kabylake-z270-no-optane.json", "kabylake-z270-reader-first.json",
                                "kabylake-z270-no-driver.json", "amd-x370.json"};
  for (const char* name : boards) {
    SCOPED_TRACE(name);
    sim::Board board;
    std::string error;
    ASSERT_TRUE(sim::LoadBoardFile(kBoards + "/" + name, board, error)) << error;
    board.Capture = sim::BoardCapture{"linux", {"bios area: not readable", "smbios: \"none\""}};
    board.Smi->Variables.push_back({u"Name\u00E9\U0001F600", {}, 3, {1, 2}});
    const std::string text = sim::WriteBoardJson(board);
    sim::Board read;
    ASSERT_TRUE(sim::ParseBoardJson(text, kBoards, read, error)) << error;
    EXPECT_EQ(sim::WriteBoardJson(read), text);
    EXPECT_EQ(read.Smi->Variables.back().Name, board.Smi->Variables.back().Name);
    EXPECT_EQ(read.Capture->Missing, board.Capture->Missing);
    EXPECT_EQ(read.Acpi->Tables, board.Acpi->Tables);
    EXPECT_EQ(read.Faults.Driver, board.Faults.Driver);
  }
}

#if !defined(_WIN32)
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
#endif

}  // namespace
}  // namespace kestrune
