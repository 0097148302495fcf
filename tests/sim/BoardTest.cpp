#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/DriverContract.h"
#include "common/LittleEndian.h"
#include "hw/Acpibase.h"
#include "hw/DriverImages.h"
#include "hw/Readwrite.h"
#include "hw/Variable.h"
#include "sim/board/Board.h"
#include "sim/board/BoardMachine.h"
#include "sys/ServiceControl.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FirmwareFixtures.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;
const char* const kShippedBoards[] = {
    "kabylake-z270-no-optane.json",
    "kabylake-z270-optane.json",
    "skylake-z270.json",
    "amd-x370.json",
    "kabylake-z270-mbr.json",
    "kabylake-z270-raid.json",
    "kabylake-z270-reader-first.json",
    "kabylake-z270-no-driver.json",
};
const sim::Guid kPlatformGuid = *sim::ParseGuid("{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}");

std::uint8_t Sum(const std::vector<std::uint8_t>& bytes, std::size_t length) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    sum = static_cast<std::uint8_t>(sum + bytes[i]);
  }
  return sum;
}

class BoardTest : public test::BoardFixture {
 protected:
  std::vector<std::uint8_t> Read(std::uint64_t address, std::uint32_t length) {
    std::vector<std::uint8_t> bytes(length);
    EXPECT_TRUE(ReadWriteInstance()->ReadPhysicalMemory(bytes.data(), length, address));
    return bytes;
  }
  std::vector<std::uint8_t> Table(std::uint32_t address) {
    const std::uint32_t length = Le32(Read(address, 8).data() + 4);
    return Read(address, length);
  }
};

TEST(BoardGuid, TextBecomesTheEfiGuidLayout) {
  const std::optional<sim::Guid> guid = sim::ParseGuid("{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}");
  ASSERT_TRUE(guid);
  EXPECT_EQ(*guid, (sim::Guid{0x43, 0xD6, 0x87, 0xEC, 0xA4, 0xEB, 0xB5, 0x4B, 0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D,
                              0xA9}));
  EXPECT_EQ(sim::ParseGuid("EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9"), guid);
  EXPECT_FALSE(sim::ParseGuid("{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA}"));
  EXPECT_FALSE(sim::ParseGuid("{EC87D643-EBA4-4BB5-A1E5+3F3E36B20DA9}"));
  EXPECT_FALSE(sim::ParseGuid("{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DAZ}"));
}

TEST(BoardHex, BytesMayBeSeparatedButNotSplit) {
  EXPECT_EQ(sim::ParseHex("00 1a FF"), (sim::Bytes{0x00, 0x1A, 0xFF}));
  EXPECT_EQ(sim::ParseHex("001aff"), (sim::Bytes{0x00, 0x1A, 0xFF}));
  EXPECT_EQ(sim::ParseHex(""), sim::Bytes{});
  EXPECT_FALSE(sim::ParseHex("0 1"));
  EXPECT_FALSE(sim::ParseHex("001"));
  EXPECT_FALSE(sim::ParseHex("0x01"));
}

TEST(BoardFile, EveryShippedBoardLoadsAndLaysOut) {
  for (const char* name : kShippedBoards) {
    SCOPED_TRACE(name);
    sim::Board board;
    std::string error;
    ASSERT_TRUE(sim::LoadBoardFile(kBoards + "/" + name, board, error)) << error;
    EXPECT_FALSE(board.Name.empty());
    sim::FakeFiles files;
    EXPECT_NE(sim::BoardMachine::Create(board, files, error), nullptr) << error;
  }
}

TEST(BoardFile, FieldsAreReadAsWritten) {
  const std::string text = R"({
    "name": "test",
    "cpu": {"vendor": "GenuineIntel", "signature": "0x906EA", "brand": "Brand"},
    "pci": [{"bus": 0, "device": 31, "function": 0, "config": "86 80 C5 A2"}],
    "memory": [{"address": 983040, "hex": "24434E"}],
    "smi": {"port": "0xB2", "variables": [
      {"name": "VelnorPlatformConfig", "guid": "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}", "attributes": 7, "hex": "01"}]},
    "disks": {"system": 1, "list": [{"number": 0, "style": "raw", "medium": false}, {"number": 1, "style": "mbr"}]},
    "faults": {"smi": true}
  })";
  sim::Board board;
  std::string error;
  ASSERT_TRUE(sim::ParseBoardJson(text, "", board, error)) << error;
  EXPECT_EQ(board.Cpu.Signature, 0x906EAu);
  EXPECT_EQ(board.Pci.at(0).Device, 31);
  EXPECT_EQ(board.Pci.at(0).Config, (sim::Bytes{0x86, 0x80, 0xC5, 0xA2}));
  EXPECT_EQ(board.Memory.at(0).Address, 0xF0000u);
  EXPECT_EQ(board.Memory.at(0).Data, (sim::Bytes{0x24, 0x43, 0x4E}));
  ASSERT_TRUE(board.Smi);
  EXPECT_EQ(board.Smi->Port, 0xB2);
  EXPECT_EQ(board.Smi->Variables.at(0).Name, u"VelnorPlatformConfig");
  EXPECT_EQ(board.Smi->Variables.at(0).VendorGuid, kPlatformGuid);
  EXPECT_EQ(board.Smi->Variables.at(0).Attributes, 7u);
  EXPECT_EQ(board.Disks.System, 1);
  ASSERT_EQ(board.Disks.List.size(), 2u);
  EXPECT_EQ(board.Disks.List[0].Style, sim::PartitionStyle::Raw);
  EXPECT_FALSE(board.Disks.List[0].Medium);
  EXPECT_EQ(board.Disks.List[1].Style, sim::PartitionStyle::Mbr);
  EXPECT_TRUE(board.Faults.Smi);
  EXPECT_FALSE(board.Faults.Read);
  EXPECT_FALSE(board.Acpi);
}

TEST(BoardFile, FaultsAreNamedByTheirPlace) {
  struct Case {
    const char* Text;
    const char* Message;
  };
  const Case cases[] = {
      {"{", "not valid JSON"},
      {"{}", "needs \"cpu\""},
      {R"({"cpu": {"vendor": "GenuineIntel"}})", "needs \"signature\""},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "colour": 1})", "unknown field \"colour\""},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": -1}})", "cpu.signature: must not be negative"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": "0x1FFFFFFFF"}})", "cpu.signature: is larger"},
      {R"({"cpu": {"vendor": "GenuineIntelX", "signature": 1}})", "cpu.vendor"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "pci": [{"bus": 0, "device": 32, "function": 0, "config": ""}]})",
       "pci[0]: device must be at most 31"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "pci": [{"bus": 0, "device": 1, "function": 0, "config": "0"}]})",
       "pci[0].config"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "memory": [{"address": 0}]})",
       "memory[0]: needs either \"hex\" or \"file\""},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "memory": [{"address": 0, "file": "missing.bin"}]})",
       "memory[0].file: cannot read"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "smi": {"port": 178, "variables": [{"name": "A", "guid": "x", "hex": ""}]}})",
       "smi.variables[0].guid"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "smi": {"port": 65536}})", "smi.port: is larger"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "disks": {"system": 0, "list": [{"number": 0, "style": "apm"}]}})",
       "disks.list[0].style"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "disks": {"system": 0, "list": [{"number": 0, "style": "gpt"}, {"number": 0, "style": "mbr"}]}})",
       "listed twice"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "faults": {"read": 1}})",
       "faults.read: must be true or false"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "acpi": {"rsdp": 983040, "tables": []}})",
       "needs \"base\""},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "acpi": {"tables": [{"hex": "00"}]}})",
       "acpi.tables[0]: needs an \"address\""},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "acpi": {"tables": [{"address": "0xFFFFFFFFFFFFFFFF", "hex": "0000"}]}})",
       "acpi.tables[0]: runs past the end"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "acpi": {"tables": [], "unplaced": [{"address": 0, "hex": ""}]}})",
       "acpi.unplaced[0]: unknown field \"address\""},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "smbios": {"firmware_table": {"hex": "00"}}})",
       "smbios.firmware_table: must hold the 8-byte"},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "smbios": {"table": {"hex": "00"}}})",
       "smbios.table: needs \"address\""},
      {R"({"cpu": {"vendor": "GenuineIntel", "signature": 1}, "capture": {"source": "linux", "missing": [1]}})",
       "capture.missing: must be a list of texts"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    sim::Board board;
    std::string error;
    EXPECT_FALSE(sim::ParseBoardJson(c.Text, kBoards, board, error));
    EXPECT_NE(error.find(c.Message), std::string::npos) << error;
  }
}

TEST(BoardLayout, OverlappingRegionsAndMalformedTablesAreRefused) {
  struct Case {
    const char* Name;
    sim::Board Board;
    const char* Message;
  };
  std::vector<Case> cases;
  {
    sim::Board board;
    board.Memory = {{0x1000, sim::Bytes(16, 0)}, {0x1008, sim::Bytes(16, 0)}};
    cases.push_back({"overlap", board, "overlaps"});
  }
  {
    sim::Board board;
    sim::Bytes table = sim::MakeAcpiTable("APIC", sim::Bytes(8, 0));
    table[4] = 200;  // longer than the bytes given
    board.Acpi = sim::BoardAcpi{0xF0000, 0x7FF00000, {table}, {}, {}};
    cases.push_back({"table length", board, "has length 200"});
  }
  {
    sim::Board board;
    board.Acpi =
        sim::BoardAcpi{0xF0000, 0x7FF00000, {sim::MakeAcpiTable("DSDT", {}), sim::MakeAcpiTable("DSDT", {})}, {}, {}};
    cases.push_back({"two DSDTs", board, "more than one DSDT"});
  }
  {
    sim::Board board;
    board.Acpi = sim::BoardAcpi{0xF0000, 0xFFFFFFF0ull, {sim::MakeAcpiTable("APIC", {})}, {}, {}};
    cases.push_back({"above 4 GiB", board, "below 4 GiB"});
  }
  {
    sim::Board board;
    board.Acpi =
        sim::BoardAcpi{0xF0000, 0x7FF00000, {}, {{0x1000, sim::Bytes(40, 0)}, {0x1020, sim::Bytes(40, 0)}}, {}};
    cases.push_back({"placed tables overlap", board, "overlaps another table"});
  }
  {
    sim::Board board;
    board.Acpi =
        sim::BoardAcpi{0xF0000, 0x7FF00000, {sim::MakeAcpiTable("APIC", {})}, {{0x1000, sim::Bytes(40, 0)}}, {}};
    cases.push_back({"both forms", board, "not both"});
  }
  {
    sim::Board board;
    board.Memory = {{0, sim::Bytes(0x100000, 0)}};
    board.Memory.push_back({0x10000000, sim::Bytes()});
    for (std::uint64_t base = 0x10000000; base < 0x100000000ull; base += 0x04000000) {
      board.Memory.push_back({base + 0x100, sim::Bytes(1, 0)});
    }
    cases.push_back({"no room for buffers", board, "no free"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    sim::FakeFiles files;
    std::string error;
    EXPECT_EQ(sim::BoardMachine::Create(c.Board, files, error), nullptr);
    EXPECT_NE(error.find(c.Message), std::string::npos) << error;
  }
}

TEST_F(BoardTest, AcpiTablesAreLaidOutWithAnRsdtAndValidChecksums) {
  sim::Bytes fadtBody(244 - 36, 0);
  fadtBody[48 - 36] = 0xB2;                   // SMI_CMD
  std::memset(fadtBody.data(), 0xEE, 8);      // FIRMWARE_CTRL and DSDT of another machine
  std::memset(&fadtBody[140 - 36], 0xEE, 8);  // X_DSDT of another machine
  const sim::Bytes fadt = sim::MakeAcpiTable("FACP", fadtBody, 4);
  const sim::Bytes apic = sim::MakeAcpiTable("APIC", sim::Bytes(8, 1));
  const sim::Bytes aaft = sim::MakeAcpiTable("AAFT", sim::Bytes(3, 2));
  const sim::Bytes dsdt = sim::MakeAcpiTable("DSDT", sim::Bytes(5, 3));
  Board.Acpi = sim::BoardAcpi{0xF0000, 0x7FF00004, {apic, sim::MakeFacs(), fadt, dsdt, aaft}, {}, {}};
  Boot();

  const std::vector<std::uint8_t> rsdp = Read(0xF0000, 20);
  EXPECT_EQ(std::string(rsdp.begin(), rsdp.begin() + 8), "RSD PTR ");
  EXPECT_EQ(Sum(rsdp, 20), 0);
  EXPECT_EQ(rsdp[15], 0);  // revision 0
  const std::vector<std::uint8_t> rsdt = Table(Le32(rsdp.data() + 16));
  EXPECT_EQ(std::string(rsdt.begin(), rsdt.begin() + 4), "RSDT");
  EXPECT_EQ(Sum(rsdt, rsdt.size()), 0);
  ASSERT_EQ(rsdt.size(), 36u + 3 * 4);
  // Every table but the FACS and the DSDT, in the order given.
  const char* const listed[] = {"APIC", "FACP", "AAFT"};
  std::uint32_t fadtAddress = 0;
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t address = Le32(rsdt.data() + 36 + 4 * i);
    const std::vector<std::uint8_t> table = Table(address);
    EXPECT_EQ(std::string(table.begin(), table.begin() + 4), listed[i]);
    EXPECT_EQ(Sum(table, table.size()), 0) << listed[i];
    EXPECT_EQ(address % 16, 0u);
    if (i == 1) {
      fadtAddress = address;
    }
  }
  const std::vector<std::uint8_t> fadtRead = Table(fadtAddress);
  EXPECT_EQ(fadtRead[48], 0xB2);
  const std::uint32_t facsAddress = Le32(fadtRead.data() + 36);
  const std::uint32_t dsdtAddress = Le32(fadtRead.data() + 40);
  EXPECT_EQ(facsAddress % 64, 0u);
  const std::vector<std::uint8_t> facs = Read(facsAddress, 4);
  EXPECT_EQ(std::string(facs.begin(), facs.end()), "FACS");
  const std::vector<std::uint8_t> dsdtRead = Table(dsdtAddress);
  EXPECT_EQ(std::string(dsdtRead.begin(), dsdtRead.begin() + 4), "DSDT");
  EXPECT_EQ(Sum(dsdtRead, dsdtRead.size()), 0);
  EXPECT_EQ(Le32(fadtRead.data() + 140), dsdtAddress);
  EXPECT_EQ(Le32(fadtRead.data() + 144), 0u);
  EXPECT_EQ(Le32(fadtRead.data() + 132), 0u);
}

// A root table listing addresses of the given width.
sim::Bytes RootTable(const char* signature, const std::vector<std::uint64_t>& addresses, std::size_t width) {
  sim::Bytes table = sim::MakeAcpiTable(signature, sim::Bytes(addresses.size() * width, 0));
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    test::Put32(table, 36 + width * i, static_cast<std::uint32_t>(addresses[i]));
    if (width == 8) {
      test::Put32(table, 40 + width * i, static_cast<std::uint32_t>(addresses[i] >> 32));
    }
  }
  return table;
}

TEST_F(BoardTest, PlacedAcpiTablesStayAtTheirAddressesByteForByte) {
  // A machine of ACPI 2.0: a 36-byte root pointer naming an RSDT and an
  // XSDT, two FADTs and two SSDTs, the tables' checksums as the firmware
  // left them (here: wrong, which the board must not fix).
  const sim::Bytes rsdp = test::Rsdp(0x80000000, 2, 0x80000100);
  sim::Bytes fadt(244 - 36, 0);
  fadt[48 - 36] = 0xB2;
  test::Put32(fadt, 40 - 36, 0x80002000);
  sim::Bytes secondFadt = fadt;
  secondFadt[48 - 36] = 0xB3;
  const std::vector<std::uint64_t> listed = {0x80001000, 0x80004000, 0x80005000, 0x80003000};
  const std::vector<sim::BoardMemoryRegion> placed = {
      {0xF0000, rsdp},
      {0x80000000, RootTable("RSDT", listed, 4)},
      {0x80000100, RootTable("XSDT", listed, 8)},
      {0x80001000, sim::MakeAcpiTable("FACP", fadt, 4)},
      {0x80002000, sim::MakeAcpiTable("DSDT", sim::Bytes(7, 3))},
      {0x80003000, sim::MakeAcpiTable("FACP", secondFadt, 4)},
      {0x80004000, sim::MakeAcpiTable("SSDT", sim::Bytes(9, 4))},
      {0x80005000, sim::MakeAcpiTable("SSDT", sim::Bytes(11, 5))},
  };
  Board.Acpi = sim::BoardAcpi{0xF0000, 0x7FF00000, {}, placed, {sim::MakeAcpiTable("SSDT", {})}};
  Board.Smi = sim::BoardSmi{0xB2, {}};
  Boot();

  for (const sim::BoardMemoryRegion& table : placed) {
    EXPECT_EQ(Read(table.Address, static_cast<std::uint32_t>(table.Data.size())), table.Data) << table.Address;
  }
  const TAcpiBase* acpi = AcpiBaseInstance();
  ASSERT_TRUE(acpi->Found);
  std::vector<std::uint32_t> addresses;
  for (const auto& entry : acpi->Tables) {
    addresses.push_back(entry->Address);
  }
  // The root pointer, the RSDT, what it lists, then each FADT's FACS (0)
  // and DSDT; the XSDT only lies there.
  const std::vector<std::uint32_t> expected = {0xF0000,    0x80000000, 0x80001000, 0x80004000, 0x80005000,
                                               0x80003000, 0,          0x80002000, 0,          0x80002000};
  EXPECT_EQ(addresses, expected);
  EXPECT_EQ(acpi->Tables[0]->Length, 36u);
  ReleaseAcpiBaseInstance();
}

// The driver asks the operating system's firmware-table provider for the
// FADT, and the operating system found its tables at boot from the root
// pointer: so a board whose ACPI tables are only bytes in memory, reachable
// from a root pointer in the BIOS area, gives the driver its SMI port as
// the laid-out and placed forms do, and the variable read goes through.
TEST_F(BoardTest, TheFirmwareTableProviderFindsTheTablesAsTheSystemDoes) {
  constexpr std::uint32_t kRsdt = 0x7FF00000, kXsdt = 0x7FF00100, kFadt = 0x7FF01000, kOther = 0x7FF02000;
  test::FadtFields fields;
  fields.SmiCommand = 0xB2;
  const sim::Bytes fadt = test::Fadt(fields);
  const sim::Bytes ssdt = test::AcpiTable("SSDT", sim::Bytes(4, 0));
  // The tables as they lie in memory, from a root pointer at 0xF0100.
  auto inMemory = [&](const sim::Bytes& rsdp, const sim::Bytes& rsdt, const sim::Bytes& xsdt) {
    sim::Bytes bios(0x1000, 0);
    std::copy(rsdp.begin(), rsdp.end(), bios.begin() + 0x100);
    sim::Bytes tables(0x3000, 0);
    std::copy(rsdt.begin(), rsdt.end(), tables.begin());
    std::copy(xsdt.begin(), xsdt.end(), tables.begin() + (kXsdt - kRsdt));
    std::copy(fadt.begin(), fadt.end(), tables.begin() + (kFadt - kRsdt));
    std::copy(ssdt.begin(), ssdt.end(), tables.begin() + (kOther - kRsdt));
    return std::vector<sim::BoardMemoryRegion>{{0xF0000, bios}, {kRsdt, tables}};
  };
  const sim::Bytes rsdtListingFadt = test::Rsdt({kFadt});
  const sim::Bytes xsdtListingFadt = RootTable("XSDT", {kOther, kFadt}, 8);
  const sim::Bytes xsdtListingNoFadt = RootTable("XSDT", {kOther}, 8);
  struct Case {
    const char* Name;
    std::vector<sim::BoardMemoryRegion> Memory;
    std::optional<sim::BoardAcpi> Acpi;
    bool Read;
  };
  const Case cases[] = {
      {"tables only in memory", inMemory(test::Rsdp(kRsdt), rsdtListingFadt, {}), std::nullopt, true},
      {"tables only in memory, from an XSDT", inMemory(test::Rsdp(kRsdt, 2, kXsdt), rsdtListingFadt, xsdtListingFadt),
       std::nullopt, true},
      {"laid out", {}, sim::BoardAcpi{0xF0000, kRsdt, {fadt}, {}, {}}, true},
      {"placed",
       {},
       sim::BoardAcpi{0, 0, {}, {{0xF0100, test::Rsdp(kRsdt)}, {kRsdt, rsdtListingFadt}, {kFadt, fadt}}, {}},
       true},
      // The system takes the XSDT, which lists no FADT: the driver has no
      // SMI port, though the program's own walk of the RSDT finds one.
      {"an XSDT without the FADT the RSDT lists",
       inMemory(test::Rsdp(kRsdt, 2, kXsdt), rsdtListingFadt, xsdtListingNoFadt), std::nullopt, false},
      // A root pointer outside the BIOS area that no firmware record names.
      {"tables in memory from a root pointer the system does not find",
       {{0x200000, test::Rsdp(kRsdt)}, inMemory({}, rsdtListingFadt, {})[1]},
       std::nullopt,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Board.Memory = c.Memory;
    Board.Acpi = c.Acpi;
    Board.Smi = sim::BoardSmi{0xB2, {{u"VelnorPlatformConfig", kPlatformGuid, 7, {0x01, 0x02, 0x03, 0x04}}}};
    Reboot();
    std::uint8_t data[4] = {};
    std::uint64_t size = 4;
    std::uint32_t attributes = 0;
    AcpiBaseInstance();
    const bool read =
        TVariable().GetVariable(u"VelnorPlatformConfig", kPlatformGuid, nullptr, data, &size, &attributes);
    EXPECT_EQ(read, c.Read);
    EXPECT_EQ(Machine().SmiCount(), c.Read ? 1 : 0);
    if (c.Read) {
      EXPECT_EQ(data[3], 0x04);
    }
  }
}

class SmiTest : public BoardTest {
 protected:
  SmiTest() {
    Board.Smi = sim::BoardSmi{0xB2,
                              {{u"VelnorPlatformConfig", kPlatformGuid, 7, {0x01, 0x02, 0x03, 0x04}},
                               {u"Large", kPlatformGuid, 3, sim::Bytes(100, 0x5A)}}};
    // The driver learns the SMI command port from the firmware's FADT.
    Board.Acpi = sim::BoardAcpi{0xF0000, 0x7FF00000, {test::FadtNaming(0xB2)}, {}, {}};
  }
  struct Answer {
    bool Sent = false;
    std::uint32_t Eax = 0;
    std::uint32_t RegisterEax = 0;
    SMI_VARIABLE_BLOCK Block{};
    std::vector<std::uint8_t> Data;
  };
  // The caller's side of the variable protocol, written out by hand.
  Answer Call(const std::u16string& name, const sim::Guid& guid, std::uint32_t size, std::uint16_t port = 0xB2) {
    const std::uint32_t command = kSmiGetVariable;
    TReadWrite* rw = ReadWriteInstance();
    PhysicalBufferHandle handles[4];
    const std::uint32_t reg = rw->AllocPhysicalBuffer(handles[0], 256);
    const std::uint32_t var = rw->AllocPhysicalBuffer(handles[1], 256);
    const std::uint32_t nameBuffer = rw->AllocPhysicalBuffer(handles[2], 256);
    const std::uint32_t data = rw->AllocPhysicalBuffer(handles[3], 8192);
    EXPECT_NE(data, kAllocationFailed);
    std::u16string terminated = name + u'\0';
    rw->WritePhysicalMemory(terminated.data(), static_cast<std::uint32_t>(terminated.size() * 2), nameBuffer);
    SMI_VARIABLE_BLOCK block{};
    std::memcpy(block.VendorGuid, guid.data(), 16);
    block.NameAddress = nameBuffer;
    block.DataSize = size;
    block.DataAddress = data;
    rw->WritePhysicalMemory(&block, sizeof block, var);
    SMI_REGISTER_BLOCK registers{command, var, {}};
    rw->WritePhysicalMemory(&registers, sizeof registers, reg);
    DRV_SMI_REGISTERS image{command, var, 0, port, reg, 0};
    Answer answer;
    answer.Sent = rw->SoftwareSmi(image);
    answer.Eax = image.Eax;
    rw->ReadPhysicalMemory(&registers, sizeof registers, reg);
    answer.RegisterEax = registers.Eax;
    rw->ReadPhysicalMemory(&answer.Block, sizeof answer.Block, var);
    answer.Data.resize(8);
    rw->ReadPhysicalMemory(answer.Data.data(), 8, data);
    rw->FreePhysicalBuffer(handles[3], 8192);
    for (int i = 2; i >= 0; --i) {
      rw->FreePhysicalBuffer(handles[i], 256);
    }
    return answer;
  }
};

TEST_F(SmiTest, AVariableThatFitsIsCopiedWithItsSizeAndAttributes) {
  Boot();
  const Answer a = Call(u"VelnorPlatformConfig", kPlatformGuid, 4);
  ASSERT_TRUE(a.Sent);
  EXPECT_EQ(SmiStatusOf(a.RegisterEax), kSmiStatusSuccess);
  EXPECT_EQ(a.Eax, a.RegisterEax);
  EXPECT_EQ(a.Block.DataSize, 4u);
  EXPECT_EQ(a.Block.Attributes, 7u);
  EXPECT_EQ(a.Data[0], 0x01);
  EXPECT_EQ(a.Data[3], 0x04);
  EXPECT_EQ(Machine().SmiCount(), 1);
}

TEST_F(SmiTest, ATooSmallBufferGetsTheVariableSizeAndNoData) {
  Boot();
  const Answer a = Call(u"Large", kPlatformGuid, 4);
  ASSERT_TRUE(a.Sent);
  EXPECT_EQ(SmiStatusOf(a.RegisterEax), kSmiStatusBufferTooSmall);
  EXPECT_EQ(a.Block.DataSize, 100u);
  EXPECT_EQ(a.Block.Attributes, 0u);  // unchanged
  EXPECT_NE(a.Data[0], 0x5A);
}

TEST_F(SmiTest, MissingVariablesFail) {
  Boot();
  sim::Guid otherGuid = kPlatformGuid;
  otherGuid[15] ^= 1;
  struct Case {
    const char* Name;
    std::u16string Variable;
    sim::Guid Guid;
    std::uint8_t Status;
  };
  const Case cases[] = {
      {"unknown name", u"Missing", kPlatformGuid, kSmiStatusNotFound},
      {"name differs in case", u"velnorplatformconfig", kPlatformGuid, kSmiStatusNotFound},
      {"other GUID", u"VelnorPlatformConfig", otherGuid, kSmiStatusNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const Answer a = Call(c.Variable, c.Guid, 4, 0xB2);
    ASSERT_TRUE(a.Sent);
    EXPECT_EQ(SmiStatusOf(a.RegisterEax), c.Status);
    EXPECT_EQ(a.Block.DataSize, 4u);
  }
}

// The handler offers the variable read the program makes and nothing else
// of the command byte's service, whatever reaches it: the board answers
// the SMI here without the driver, which lets none of these through.
TEST_F(SmiTest, TheHandlerOffersOnlyTheProgramsVariableRead) {
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  PhysicalBufferHandle handle{};
  const std::uint32_t base = rw->AllocPhysicalBuffer(handle, 0x4000);
  ASSERT_NE(base, kAllocationFailed);
  const std::uint32_t reg = base, var = base + 0x100, name = base + 0x200, data = base + 0x1000;
  struct Layout {
    DRV_SMI_REGISTERS Registers;
    SMI_REGISTER_BLOCK RegisterBlock;
    SMI_VARIABLE_BLOCK VariableBlock;
    std::u16string Name;
  };
  auto program = [&] {
    Layout l{{kSmiGetVariable, var, 0, 0xB2, reg, 0}, {kSmiGetVariable, var, {}}, {}, u"VelnorPlatformConfig"};
    std::memcpy(l.VariableBlock.VendorGuid, kPlatformGuid.data(), 16);
    l.VariableBlock.NameAddress = name;
    l.VariableBlock.DataSize = 4;
    l.VariableBlock.DataAddress = data;
    return l;
  };
  struct Case {
    const char* Name;
    std::function<void(Layout&)> Change;
    std::uint8_t Status;
  };
  const Case cases[] = {
      {"the program's read", [](Layout&) {}, kSmiStatusSuccess},
      {"another function in EAX", [](Layout& l) { l.Registers.Eax = 0x2EF; }, kSmiStatusUnsupported},
      {"another function in the register block", [](Layout& l) { l.RegisterBlock.Eax = 0x2EF; }, kSmiStatusUnsupported},
      {"a register block naming another variable block",
       [&](Layout& l) { l.RegisterBlock.VariableBlockAddress = name; }, kSmiStatusInvalidParameter},
      {"a register block's unused bytes set", [](Layout& l) { l.RegisterBlock.Unused[4] = 1; },
       kSmiStatusInvalidParameter},
      {"a name of 128 characters", [](Layout& l) { l.Name = std::u16string(128, u'A'); }, kSmiStatusInvalidParameter},
      {"data of more than 8192 bytes", [](Layout& l) { l.VariableBlock.DataSize = 8193; }, kSmiStatusInvalidParameter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Layout l = program();
    c.Change(l);
    const std::u16string terminated = l.Name + u'\0';
    Machine().Memory().Write(name, reinterpret_cast<const std::uint8_t*>(terminated.data()), 2 * terminated.size());
    Machine().Memory().Write(var, reinterpret_cast<const std::uint8_t*>(&l.VariableBlock), sizeof l.VariableBlock);
    Machine().Memory().Write(reg, reinterpret_cast<const std::uint8_t*>(&l.RegisterBlock), sizeof l.RegisterBlock);
    Machine().RaiseSmi(l.Registers);
    EXPECT_EQ(SmiStatusOf(Machine().Memory().ReadDword(reg)), c.Status);
    EXPECT_EQ(SmiStatusOf(l.Registers.Eax), c.Status);
  }
  rw->FreePhysicalBuffer(handle, 0x4000);
}

TEST_F(SmiTest, TheDriverWritesOnlyToTheFirmwaresOwnPort) {
  Boot();
  const Answer a = Call(u"VelnorPlatformConfig", kPlatformGuid, 4, 0xB3);
  EXPECT_FALSE(a.Sent);
  EXPECT_EQ(a.RegisterEax, kSmiGetVariable);
  EXPECT_EQ(Machine().SmiCount(), 0);
}

TEST_F(SmiTest, AWriteToAPortWithoutTheHandlerRaisesNoSmi) {
  // The FADT names a port the board's handler does not listen on.
  Board.Acpi = sim::BoardAcpi{0xF0000, 0x7FF00000, {test::FadtNaming(0xB3)}, {}, {}};
  Boot();
  const Answer a = Call(u"VelnorPlatformConfig", kPlatformGuid, 4, 0xB3);
  ASSERT_TRUE(a.Sent);
  EXPECT_EQ(a.RegisterEax, kSmiGetVariable);
  EXPECT_EQ(a.Eax, kSmiGetVariable);
  EXPECT_EQ(Machine().SmiCount(), 0);
}

TEST_F(SmiTest, TheSmiFaultFailsTheRequest) {
  Board.Faults.Smi = true;
  Boot();
  const Answer a = Call(u"VelnorPlatformConfig", kPlatformGuid, 4);
  EXPECT_FALSE(a.Sent);
  EXPECT_EQ(a.RegisterEax, kSmiGetVariable);
}

TEST_F(BoardTest, ANewBufferIsZeroedWhereAReleasedOneLeftItsBytes) {
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  PhysicalBufferHandle handle{};
  const std::uint32_t first = rw->AllocPhysicalBuffer(handle, 8192);
  ASSERT_GE(first, Machine().BufferPoolBase());
  const std::uint32_t marker = 0xC0FFEE;
  ASSERT_TRUE(rw->WritePhysicalMemory(&marker, 4, first + 16));
  rw->FreePhysicalBuffer(handle, 8192);
  EXPECT_EQ(Machine().AllocatedBuffers(), 0u);
  const std::uint32_t second = rw->AllocPhysicalBuffer(handle, 8192);
  EXPECT_EQ(second, first);
  std::uint32_t left = 1;
  ASSERT_TRUE(rw->ReadPhysicalMemory(&left, 4, second + 16));
  EXPECT_EQ(left, 0u);
}

TEST_F(BoardTest, TheReadFaultFailsDeviceReadsButNotTheBuffers) {
  Board.Memory = {{0xFED00000, sim::Bytes(16, 0)}};
  Board.Faults.Read = true;
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  std::uint8_t byte = 1;
  EXPECT_FALSE(rw->ReadPhysicalMemory(&byte, 1, 0xFED00000));
  PhysicalBufferHandle handle{};
  const std::uint32_t buffer = rw->AllocPhysicalBuffer(handle, 4096);
  EXPECT_TRUE(rw->WritePhysicalMemory(&byte, 1, buffer));
  EXPECT_TRUE(rw->ReadPhysicalMemory(&byte, 1, buffer));
  rw->FreePhysicalBuffer(handle, 4096);
}

TEST_F(BoardTest, TheKernelStartsOnlyTheProgramsOwnImageForThePlatform) {
  // The fixture's system is a 64-bit Windows 10: the x64 image fits it.
  Boot();
  const DriverImages& images = CarriedDriverImages();
  const sim::Bytes x64(images.X64.begin(), images.X64.end());
  const sim::Bytes x86(images.X86.begin(), images.X86.end());
  struct Case {
    const char* Name;
    std::optional<sim::Bytes> File;
    sys::Dword Error;  // 0: the driver loads
  };
  const Case cases[] = {
      {"the x64 image", x64, 0},
      {"the x86 image", x86, 577},
      {"a truncated image", sim::Bytes(x64.begin(), x64.end() - 1), 577},
      {"another file", sim::Bytes{'M', 'Z', 0x90, 0}, 577},
      {"no file", std::nullopt, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = std::string("C:\\Drivers\\") + c.Name + ".sys";
    if (c.File) {
      Files.Put(path, *c.File);
    }
    Reboot();
    sim::FakeServiceControl& scm = Session->ServiceControl();
    scm.Add({kDriverName, kDriverName, path, sys::kServiceKernelDriver, sys::kServiceDemandStart, 0, false});
    sys::UniqueScHandle manager(scm.OpenSCManagerA(sys::kScManagerAllAccess));
    sys::UniqueScHandle service(scm.OpenServiceA(manager.Get(), kDriverName, sys::kServiceAllAccess));
    ASSERT_TRUE(service.Valid());
    EXPECT_EQ(scm.StartServiceA(service.Get()), c.Error == 0);
    if (c.Error != 0) {
      EXPECT_EQ(scm.GetLastError(), c.Error);
    }
    EXPECT_EQ(Machine().DriverLoaded(), c.Error == 0);
  }
}

TEST_F(BoardTest, MalformedDriverRequestsFailWithInvalidParameter) {
  Boot();
  ReadWriteInstance();
  sys::IFiles& files = sys::Use<sys::IFiles>();
  const sys::FileHandle device = ReadWriteInstance()->GetDeviceHandle();
  std::uint8_t buffer[32] = {};
  sys::Dword returned = 0;
  EXPECT_FALSE(files.DeviceIoControl(device, kIoctlReadPhysicalMemory, buffer, 23, buffer, 24, &returned));
  EXPECT_EQ(files.GetLastError(), 87u);
  EXPECT_FALSE(files.DeviceIoControl(device, kIoctlReadPciConfigWord, buffer, 12, buffer, 11, &returned));
  EXPECT_FALSE(files.DeviceIoControl(device, kIoctlSoftwareSmi, buffer, 20, buffer, 24, &returned));
  EXPECT_FALSE(
      files.DeviceIoControl(device, kIoctlPhysicalBuffer, buffer, 16, nullptr, 0, &returned));  // no such handle
  EXPECT_FALSE(files.DeviceIoControl(device, kIoctlMapPhysicalMemory, buffer, 4, buffer, 4, &returned));
  EXPECT_EQ(files.GetLastError(), 1u);
}

TEST_F(BoardTest, OtherPathsPassThroughToTheFilesBelow) {
  Boot();
  sys::IFiles& files = sys::Use<sys::IFiles>();
  sys::UniqueFileHandle file(
      files.CreateFileA("C:\\Temp\\note.txt", sys::kGenericWrite, 0, sys::kCreateAlways, sys::kFileAttributeNormal));
  ASSERT_TRUE(file.Valid());
  sys::Dword written = 0;
  ASSERT_TRUE(files.WriteFile(file.Get(), "abc", 3, &written));
  file.Reset();
  EXPECT_EQ(Files.Content("C:\\Temp\\note.txt"), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(files.CreateFileA("C:\\Temp\\missing.txt", sys::kGenericRead, 0, sys::kOpenExisting, 0),
            sys::kInvalidHandleValue);
  EXPECT_EQ(files.GetLastError(), 2u);
  EXPECT_EQ(Files.OpenHandles(), 0u);
}

class DiskTest : public BoardTest {
 protected:
  sys::FileHandle Open(const std::string& path) {
    return sys::Use<sys::IFiles>().CreateFileA(path, sys::kGenericRead | sys::kGenericWrite,
                                               sys::kFileShareRead | sys::kFileShareWrite, sys::kOpenExisting, 0);
  }
  bool Ask(sys::FileHandle device, std::uint32_t code, std::vector<std::uint8_t>& out) {
    sys::Dword returned = 0;
    return sys::Use<sys::IFiles>().DeviceIoControl(device, code, nullptr, 0, out.data(),
                                                   static_cast<sys::Dword>(out.size()), &returned);
  }
};

TEST_F(DiskTest, TheSystemVolumeLiesOnTheSystemDisk) {
  Board.Disks = {1, {{0, sim::PartitionStyle::Mbr}, {1, sim::PartitionStyle::Gpt}}};
  Boot();
  sys::UniqueFileHandle volume(Open("\\\\.\\C:"));
  ASSERT_TRUE(volume.Valid());
  std::vector<std::uint8_t> extents(32, 0xCC);
  ASSERT_TRUE(Ask(volume.Get(), sys::kIoctlVolumeGetVolumeDiskExtents, extents));
  EXPECT_EQ(Le32(extents.data()), 1u);
  EXPECT_EQ(Le32(extents.data() + 8), 1u);
  std::vector<std::uint8_t> number(12);
  ASSERT_TRUE(Ask(volume.Get(), sys::kIoctlStorageGetDeviceNumber, number));
  EXPECT_EQ(Le32(number.data() + 4), 1u);
  std::vector<std::uint8_t> small(31);
  EXPECT_FALSE(Ask(volume.Get(), sys::kIoctlVolumeGetVolumeDiskExtents, small));
}

TEST_F(DiskTest, EachDiskAnswersItsLayoutAndNumberInTheBoardsOrder) {
  Board.Disks = {2,
                 {{2, sim::PartitionStyle::Gpt},
                  {0, sim::PartitionStyle::Mbr},
                  {1, sim::PartitionStyle::Raw},
                  {3, sim::PartitionStyle::Raw, false}}};
  Boot();
  const std::vector<std::string> paths = Machine().DiskDevicePaths();
  ASSERT_EQ(paths.size(), 4u);
  struct Expect {
    std::uint32_t Number;
    bool LayoutAnswers;
    std::uint32_t Style;
  };
  const Expect expected[] = {{2, true, 1}, {0, true, 0}, {1, true, 2}, {3, false, 0}};
  for (std::size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    EXPECT_NE(paths[i].find("{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"), std::string::npos);
    sys::UniqueFileHandle disk(Open(paths[i]));
    ASSERT_TRUE(disk.Valid());
    std::vector<std::uint8_t> layout(3840, 0);
    EXPECT_EQ(Ask(disk.Get(), sys::kIoctlDiskGetDriveLayoutEx, layout), expected[i].LayoutAnswers);
    if (expected[i].LayoutAnswers) {
      EXPECT_EQ(Le32(layout.data()), expected[i].Style);
    } else {
      EXPECT_EQ(sys::Use<sys::IFiles>().GetLastError(), 21u);  // not ready: no medium
    }
    std::vector<std::uint8_t> number(12);
    ASSERT_TRUE(Ask(disk.Get(), sys::kIoctlStorageGetDeviceNumber, number));
    EXPECT_EQ(Le32(number.data() + 4), expected[i].Number);
  }
}

TEST_F(DiskTest, ALayoutThatDoesNotFitTheBufferFails) {
  Board.Disks = {0, {{0, sim::PartitionStyle::Gpt, true, 26}, {1, sim::PartitionStyle::Gpt, true, 27}}};
  Boot();
  std::vector<std::uint8_t> layout(3840, 0);
  sys::UniqueFileHandle fits(Open(Machine().DiskDevicePaths()[0]));
  EXPECT_TRUE(Ask(fits.Get(), sys::kIoctlDiskGetDriveLayoutEx, layout));
  EXPECT_EQ(Le32(layout.data() + 4), 26u);
  sys::UniqueFileHandle tooMany(Open(Machine().DiskDevicePaths()[1]));
  EXPECT_FALSE(Ask(tooMany.Get(), sys::kIoctlDiskGetDriveLayoutEx, layout));
  EXPECT_EQ(sys::Use<sys::IFiles>().GetLastError(), 122u);
}

TEST_F(BoardTest, WindowsNinetyFivePciReadsGoThroughTheConfigurationPorts) {
  sim::Bytes lpc(256, 0);
  lpc[0] = 0x86;
  lpc[1] = 0x80;
  lpc[2] = 0xC5;
  lpc[3] = 0xA2;
  lpc[0x2C] = 0x58;
  lpc[0x2D] = 0x1A;
  Board.Pci = {{0, 31, 0, lpc}};
  Boot();
  TReadWrite rw(0x10, sys::kInvalidHandleValue);
  EXPECT_EQ(rw.ReadPciConfig(0, 31, 2, 0), 0xA2C5);
  EXPECT_EQ(rw.ReadPciConfigByte(0, 31, 0x2D, 0), 0x1A);
  EXPECT_EQ(rw.ReadPciConfigDword(0, 31, 0, 0), 0xA2C58086u);
  EXPECT_EQ(rw.ReadPciConfig(0, 30, 0, 0), 0xFFFF);
}

}  // namespace
}  // namespace kestrune
