// The capture through the hardware objects on simulated boards, the serial
// blanking, and the replay of a captured board.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "sim/board/Board.h"
#include "tests/support/FirmwareFixtures.h"
#include "tests/tools/CaptureFixture.h"
#include "tools/CaptureSupport.h"
#include "tools/MachineCapture.h"
#include "tools/Probe.h"

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

bool Contains(const sim::Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}
using test::CaptureTest;
using test::Put32;
using test::capture::SmbiosEntryPoint;
using test::capture::SmbiosTable;

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

}  // namespace
}  // namespace kestrune
