#include "platform/IdentityBlock.h"

#include <gtest/gtest.h>

#include "tests/support/FakeOsFixture.h"
#include "tests/support/FirmwareFixtures.h"

namespace kestrune {
namespace {

using namespace test;
using L = BoardLayout;

constexpr std::uint16_t kVendor = 0x1A58;

identity::Block AsBlock(const Bytes& bytes) {
  identity::Block block{};
  std::copy_n(bytes.begin(), block.size(), block.begin());
  return block;
}

TEST(IdentityBlockTest, VersionAndDateTexts) {
  const struct {
    char prefix;
    std::uint8_t major, minor, suffix;
    const char* version;
  } cases[] = {
      {'P', 1, 10, 0, "P1.10"}, {'P', 1, 10, 'A', "P1.10A"},     {'P', 1, 10, '0', "P1.10"},
      {'P', 1, 5, 0, "P1.05"},  {'A', 12, 100, 'B', "A12.100B"}, {'P', 255, 255, 0, "P255.255"},
      {'\0', 1, 10, 'A', ""},  // a prefix byte of 0 ends the text at once
  };
  for (const auto& c : cases) {
    IdentityFields fields;
    fields.Prefix = c.prefix;
    fields.Major = c.major;
    fields.Minor = c.minor;
    fields.Suffix = c.suffix;
    EXPECT_EQ(identity::ParseBlock(AsBlock(IdentityBlock(fields))).BiosVersion, c.version) << c.version;
  }
  IdentityFields date;
  const identity::BoardTexts texts = identity::ParseBlock(AsBlock(IdentityBlock(date)));
  EXPECT_EQ(texts.BiosDate, "2017/03/24");
  EXPECT_EQ(texts.BlockByte37, 0x37);
  EXPECT_EQ(texts.BlockByte38, 0x38);
}

TEST(IdentityBlockTest, TrailingDotsLeaveTheModelNameButNotTheRawName) {
  const struct {
    const char* stored;
    const char* model;
  } cases[] = {{"Z270 KRAIT...", "Z270 KRAIT"}, {"...", ""}, {"B250.M", "B250.M"}, {"", ""}};
  for (const auto& c : cases) {
    IdentityFields fields;
    fields.Model = c.stored;
    const identity::BoardTexts texts = identity::ParseBlock(AsBlock(IdentityBlock(fields)));
    EXPECT_EQ(texts.RawModelName, c.stored);
    EXPECT_EQ(texts.ModelName, c.model);
  }
}

TEST(IdentityBlockTest, AModelNameWithoutNulEndsAtTheBlocksEnd) {
  Bytes bytes(64, 'M');
  PutText(bytes, 0, "$CN1368$");
  bytes[9] = 0;
  FixChecksum(bytes, 8, 0, 64);  // bytes 8 and 9 are not interpreted
  const identity::Block block = AsBlock(bytes);
  ASSERT_TRUE(identity::IsValidBlock(block));
  const identity::BoardTexts texts = identity::ParseBlock(block);
  EXPECT_EQ(texts.RawModelName, std::string(64 - 0x0A, 'M'));
}

TEST(IdentityBlockTest, ValidityIsTheZeroSumOfTheBlock) {
  EXPECT_TRUE(identity::IsValidBlock(AsBlock(IdentityBlock({}))));
  EXPECT_FALSE(identity::IsValidBlock(AsBlock(IdentityBlock({}, false))));
  EXPECT_FALSE(identity::IsValidBlock(identity::Block{}));
}

class BoardIdentificationTest : public FakeOsFixture {
 protected:
  BoardIdentificationTest() { WriteBiosArea(Image); }
  identity::Identification Identify() {
    return identity::IdentifyBoard(Image.Machine(), kVendor, [this] {
      ++SmbiosAsked;
      return ByteSpan(SmbiosTable);
    });
  }
  MemoryImage Image;
  Bytes SmbiosTable;
  int SmbiosAsked = 0;
};

TEST_F(BoardIdentificationTest, AValidFirstBlockIdentifiesTheBoardWithoutThePciBus) {
  Image.Write(L::kIdentity, IdentityBlock({}));
  const identity::Identification id = Identify();
  EXPECT_TRUE(id.Detected);
  EXPECT_TRUE(id.BlockFound);
  EXPECT_EQ(id.Texts.ModelName, "Z270 KRAIT GAMING");
  EXPECT_EQ(id.Texts.BiosVersion, "P1.10");
  EXPECT_EQ(Image.PciReads, 0);
  EXPECT_EQ(SmbiosAsked, 0);
}

TEST_F(BoardIdentificationTest, ASecondOccurrenceIsUsedOnlyWhenThePciSubsystemVendorMatches) {
  IdentityFields second;
  second.Model = "SECOND";
  Image.Write(0xE4000, IdentityBlock({}, false));
  Image.Write(0xF8000, IdentityBlock(second));

  const identity::Identification foreign = Identify();
  EXPECT_FALSE(foreign.Detected);
  EXPECT_FALSE(foreign.BlockFound);
  EXPECT_EQ(foreign.Texts.ModelName, "");
  EXPECT_EQ(foreign.Texts.BiosVersion, "");
  EXPECT_EQ(SmbiosAsked, 0);

  Image.AddPciFunction(0, 31, 0, 0x8086, 0xA2C5, 0x80, 0x8086);
  Image.AddPciFunction(0, 31, 3, 0x8086, 0xA2F0, 0x00, kVendor);
  const identity::Identification ours = Identify();
  EXPECT_TRUE(ours.Detected);
  EXPECT_TRUE(ours.BlockFound);
  EXPECT_EQ(ours.Texts.ModelName, "SECOND");
}

TEST_F(BoardIdentificationTest, OnlyMultiFunctionDevicesHaveTheirOtherFunctionsAsked) {
  Image.AddPciFunction(0, 31, 0, 0x8086, 0xA2C5, 0x00, 0x8086);  // header type: single function
  Image.AddPciFunction(0, 31, 3, 0x8086, 0xA2F0, 0x00, kVendor);
  EXPECT_FALSE(Identify().Detected);
  Image.AddPciFunction(3, 0, 0, 0x10EC, 0x8168, 0x00, kVendor);  // a device on bus 3
  EXPECT_TRUE(Identify().Detected);
}

TEST_F(BoardIdentificationTest, ABoardRecognisedByPciWithoutABlockReadsSmbiosTrimmed) {
  Image.AddPciFunction(0, 0, 0, 0x8086, 0x591F, 0x00, kVendor);
  SmbiosTable = Concat({SmbiosBios("Velnor", "  P1.40 \t", " 05/17/2017\r\n"),
                        SmbiosBaseboard("Velnor", " Z270 KRAIT GAMING.. "), SmbiosEnd()});
  const identity::Identification id = Identify();
  EXPECT_TRUE(id.Detected);
  EXPECT_FALSE(id.BlockFound);
  EXPECT_EQ(SmbiosAsked, 1);
  EXPECT_EQ(id.Texts.RawModelName, "Z270 KRAIT GAMING..");
  EXPECT_EQ(id.Texts.ModelName, "Z270 KRAIT GAMING");
  EXPECT_EQ(id.Texts.BiosVersion, "P1.40");
  EXPECT_EQ(id.Texts.BiosDate, "05/17/2017");
  EXPECT_EQ(id.Texts.BlockByte37, 0);
}

TEST_F(BoardIdentificationTest, SmbiosWithoutBiosInformationLeavesVersionAndDateEmpty) {
  Image.AddPciFunction(0, 0, 0, 0x8086, 0x591F, 0x00, kVendor);
  SmbiosTable = Concat({SmbiosBaseboard("Velnor", "H270"), SmbiosEnd()});
  const identity::Identification id = Identify();
  EXPECT_EQ(id.Texts.ModelName, "H270");
  EXPECT_EQ(id.Texts.BiosVersion, "");
  EXPECT_EQ(id.Texts.BiosDate, "");

  SmbiosTable.clear();  // no table at all
  const identity::Identification none = Identify();
  EXPECT_TRUE(none.Detected);
  EXPECT_EQ(none.Texts.ModelName, "");
}

TEST_F(BoardIdentificationTest, EveryOccurrenceInvalidFallsBackToSmbios) {
  Image.Write(0xE4000, IdentityBlock({}, false));
  Image.Write(0xE5000, IdentityBlock({}, false));
  Image.AddPciFunction(0, 0, 0, 0x8086, 0x591F, 0x00, kVendor);
  SmbiosTable = Concat({SmbiosBaseboard("Velnor", "B250"), SmbiosEnd()});
  const identity::Identification id = Identify();
  EXPECT_FALSE(id.BlockFound);
  EXPECT_EQ(id.Texts.ModelName, "B250");
}

}  // namespace
}  // namespace kestrune
