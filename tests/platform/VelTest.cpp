#include "platform/Vel.h"

#include <gtest/gtest.h>

#include "BuildConfig.h"
#include "platform/Smbiosbase.h"
#include "sim/os/FakeFirmwareTable.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FirmwareFixtures.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;

// A PCI function carrying the given subsystem vendor.
sim::BoardPciFunction PciFunction(std::uint8_t device, std::uint8_t function, std::uint8_t headerType,
                                  std::uint16_t subsystemVendor) {
  sim::BoardPciFunction f;
  f.Device = device;
  f.Function = function;
  f.Config.assign(64, 0);
  f.Config[0] = 0x86;
  f.Config[1] = 0x80;
  f.Config[0x0E] = headerType;
  PutLe16(&f.Config[0x2C], subsystemVendor);
  return f;
}

class VelTest : public test::BoardFixture {
 protected:
  void AddMemory(std::uint64_t address, const test::Bytes& bytes) { Board.Memory.push_back({address, bytes}); }
  void AddSmbios(const test::Bytes& table) {
    AddMemory(0xF0800, test::SmbiosEntryPoint(static_cast<std::uint16_t>(table.size()), 0x7FF10000));
    AddMemory(0x7FF10000, table);
  }

  sim::FakeFirmwareTable Firmware;

 private:
  sys::ScopedSeam<sys::IFirmwareTable> FirmwareSeam{Firmware};
};

TEST_F(VelTest, ShippedBoardsCarryTheirIdentityBlock) {
  const struct {
    const char* board;
    const char* model;
    const char* version;
    const char* date;
  } cases[] = {
      {"/kabylake-z270-optane.json", "Z270 Forge", "P2.10", "2017/09/12"},
      {"/kabylake-z270-no-optane.json", "Z270 Forge", "P1.40", "2017/03/24"},
      {"/amd-x370.json", "X370 Forge", "P3.20", "2018/01/08"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.board);
    BootFile(kBoards + c.board);
    const TVel vel;
    EXPECT_TRUE(vel.Detected);
    EXPECT_TRUE(vel.BlockFound);
    EXPECT_EQ(vel.ModelName, c.model);
    EXPECT_EQ(vel.RawModelName, c.model);
    EXPECT_EQ(vel.BiosVersion, c.version);
    EXPECT_EQ(vel.BiosDate, c.date);
    EXPECT_EQ(vel.BlockByte37, 1);
    EXPECT_EQ(vel.BlockByte38, 0);
    EXPECT_EQ(std::string(vel.Block.begin(), vel.Block.begin() + 8), "$CN1368$");
    PowerOff();
  }
  EXPECT_EQ(Firmware.Calls, 0);
}

TEST_F(VelTest, AForeignBoardLeavesEveryTextEmptyAndAsksNoSmbios) {
  Board.Pci.push_back(PciFunction(0, 0, 0x80, 0x1043));
  AddSmbios(test::Concat({test::SmbiosBaseboard("Other", "Board"), test::SmbiosEnd()}));
  Boot();
  const TVel vel;
  EXPECT_FALSE(vel.Detected);
  EXPECT_FALSE(vel.BlockFound);
  EXPECT_EQ(vel.ModelName, "");
  EXPECT_EQ(vel.BiosVersion, "");
  EXPECT_EQ(vel.BiosDate, "");
}

TEST_F(VelTest, TheSecondOccurrenceCountsOnlyOnAMakersBoard) {
  test::IdentityFields second;
  second.Model = "B250 Forge...";
  second.Suffix = 'A';
  AddMemory(0xE8000, test::IdentityBlock({}, false));
  AddMemory(0xF4000, test::IdentityBlock(second));
  Board.Pci.push_back(PciFunction(31, 0, 0x80, 0x8086));
  Boot();
  EXPECT_FALSE(TVel().Detected);

  Board.Pci.push_back(PciFunction(31, 4, 0x00, config::VelnorPciVendorId));
  Reboot();
  const TVel vel;
  EXPECT_TRUE(vel.Detected);
  EXPECT_TRUE(vel.BlockFound);
  EXPECT_EQ(vel.RawModelName, "B250 Forge...");
  EXPECT_EQ(vel.ModelName, "B250 Forge");
  EXPECT_EQ(vel.BiosVersion, "P1.10A");
}

TEST_F(VelTest, AMakersBoardWithoutABlockReadsSmbiosFromMemory) {
  Board.Pci.push_back(PciFunction(0, 0, 0x00, config::VelnorPciVendorId));
  AddSmbios(test::Concat({test::SmbiosBios("Velnor", " P1.90 ", "\t06/30/2017 "),
                          test::SmbiosBaseboard("Velnor", "  H270 Forge. "), test::SmbiosEnd()}));
  Boot();
  const TVel vel;
  EXPECT_TRUE(vel.Detected);
  EXPECT_FALSE(vel.BlockFound);
  EXPECT_EQ(vel.RawModelName, "H270 Forge.");
  EXPECT_EQ(vel.ModelName, "H270 Forge");
  EXPECT_EQ(vel.BiosVersion, "P1.90");
  EXPECT_EQ(vel.BiosDate, "06/30/2017");
  EXPECT_EQ(vel.BlockByte37, 0);
  EXPECT_EQ(Firmware.Calls, 0);
}

TEST_F(VelTest, WithoutSmbiosInMemoryTheSystemsTableAnswers) {
  Board.Pci.push_back(PciFunction(0, 0, 0x00, config::VelnorPciVendorId));
  const test::Bytes table = test::Concat({test::SmbiosBios("V", "P2.00", "x"), test::SmbiosBaseboard("V", "Q270")});
  Firmware.Present = true;
  Firmware.RawSmbios = test::Concat({{0, 3, 0, 0}, test::Le32Bytes(static_cast<std::uint32_t>(table.size())), table});
  Boot();
  const TVel vel;
  EXPECT_EQ(vel.ModelName, "Q270");
  EXPECT_EQ(vel.BiosVersion, "P2.00");
  EXPECT_EQ(SmbiosInstance()->TableAddress, 0xFFFFFFFFu);
}

TEST_F(VelTest, WithoutTheDriverNothingIsRecognised) {
  BootFile(kBoards + "/kabylake-z270-no-driver.json");
  const TVel vel;
  EXPECT_FALSE(vel.Detected);
  EXPECT_EQ(vel.ModelName, "");
}

TEST_F(VelTest, TheMethodsAnswerAsTheConstructionDid) {
  BootFile(kBoards + "/kabylake-z270-no-optane.json");
  TVel vel;
  EXPECT_TRUE(vel.IsVelnorBoard());
  std::array<std::uint8_t, 64> block{};
  ASSERT_TRUE(vel.FindIdentityBlock(block));
  EXPECT_EQ(block, vel.Block);
  EXPECT_EQ(TVel::StripTrailingDots("A.B..."), "A.B");
  vel.ReadIdentityFromSmbios();  // no SMBIOS on this board: the texts empty
  EXPECT_EQ(vel.ModelName, "");
  EXPECT_EQ(vel.BiosVersion, "");
}

class SmbiosbaseTest : public VelTest {};

TEST_F(SmbiosbaseTest, LooksUpStructuresOfTheTableInMemory) {
  AddSmbios(test::Concat({test::SmbiosBios("Velnor", "P1.40", "03/24/2017"), test::SmbiosBaseboard("Velnor", " A "),
                          test::SmbiosBaseboard("Velnor", "Second"), test::SmbiosEnd()}));
  Boot();
  const TSmbiosBase* smbios = SmbiosInstance();
  ASSERT_TRUE(smbios->Loaded);
  EXPECT_EQ(smbios->TableAddress, 0x7FF10000u);
  EXPECT_EQ(smbios->SmbiosVersion, 0x28u);
  EXPECT_EQ(smbios->TableLength, smbios->Table.size());
  EXPECT_EQ(smbios->GetBaseboardProduct(), u"A");
  const SmbiosStructure* second = smbios->FindStructure(2, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(smbios->GetStructureString(second, 2), u"Second");
  EXPECT_EQ(smbios->GetStructureString(second, 0), u"");
  EXPECT_EQ(smbios->GetStructureString(second, 3), u"");
  EXPECT_EQ(smbios->FindStructure(2, 2), nullptr);
  ASSERT_NE(smbios->FindStructure(127, 0), nullptr);
  const SmbiosStructure elsewhere{2, 4, {0, 0}};
  EXPECT_EQ(smbios->GetStructureString(&elsewhere, 1), u"");
  EXPECT_EQ(smbios->GetStructureString(nullptr, 1), u"");
}

TEST_F(SmbiosbaseTest, NothingLoadedAnswersNothing) {
  Boot();
  const TSmbiosBase* smbios = SmbiosInstance();
  EXPECT_FALSE(smbios->Loaded);
  EXPECT_EQ(smbios->FindStructure(0, 0), nullptr);
  EXPECT_EQ(smbios->GetBaseboardProduct(), u"");
}

}  // namespace
}  // namespace kestrune
