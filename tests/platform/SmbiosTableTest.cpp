#include "platform/SmbiosTable.h"

#include <gtest/gtest.h>

#include "sim/os/FakeFirmwareTable.h"
#include "tests/support/FakeOsFixture.h"
#include "tests/support/FirmwareFixtures.h"

namespace kestrune {
namespace {

using namespace test;
using L = BoardLayout;

Bytes BoardTable() {
  return Concat({SmbiosBios("Velnor", " P1.40 ", "05/17/2017"), SmbiosStructure(1, 1, Bytes(0x1B - 4, 0), {}),
                 SmbiosBaseboard("Velnor", "Z270 KRAIT"), SmbiosBaseboard("Other", "Second"), SmbiosEnd()});
}

Bytes RawData(const Bytes& table, std::uint32_t claimedLength) {
  Bytes raw = {0, 3, 0, 0};
  Put32(raw, 4, claimedLength);
  raw.insert(raw.end(), table.begin(), table.end());
  return raw;
}

class SmbiosTableTest : public FakeOsFixture {
 protected:
  sim::FakeFirmwareTable Firmware;
  sys::ScopedSeam<sys::IFirmwareTable> FirmwareSeam{Firmware};
  MemoryImage Image;
};

TEST_F(SmbiosTableTest, EntryPointNeedsItsAnchorAndAZeroSum) {
  const auto entry = smbios::ParseEntryPoint(SmbiosEntryPoint(0x1234, 0x7FF10000, 3, 0));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->TableLength, 0x1234);
  EXPECT_EQ(entry->TableAddress, 0x7FF10000u);
  EXPECT_EQ(entry->Version, 0x30u);
  Bytes bad = SmbiosEntryPoint(10, 0x1000);
  bad[30] ^= 1;
  EXPECT_FALSE(smbios::ParseEntryPoint(bad));
  EXPECT_FALSE(smbios::ParseEntryPoint(Bytes(30, 0)));
}

TEST_F(SmbiosTableTest, LoadsTheTableThatTheFirstValidEntryPointNames) {
  const Bytes table = BoardTable();
  WriteBiosArea(Image);
  Bytes broken = SmbiosEntryPoint(10, 0x1000);
  broken[4] ^= 1;
  Image.Write(0xE2001, broken);  // first occurrence: bad checksum
  Image.Write(L::kSmbiosEntry, SmbiosEntryPoint(static_cast<std::uint16_t>(table.size()), L::kSmbiosTable));
  Image.Write(L::kSmbiosTable, table);
  const smbios::LoadedTable loaded = smbios::LoadTable(Image.Machine());
  EXPECT_TRUE(loaded.Loaded);
  EXPECT_EQ(loaded.Table, table);
  EXPECT_EQ(loaded.TableLength, table.size());
  EXPECT_EQ(loaded.TableAddress, L::kSmbiosTable);
  EXPECT_EQ(loaded.Version, 0x28u);
  EXPECT_EQ(Firmware.Calls, 0);
}

TEST_F(SmbiosTableTest, WithoutAnEntryPointTheSystemsCopyIsUsed) {
  const Bytes table = BoardTable();
  WriteBiosArea(Image);
  Firmware.Present = true;
  Firmware.RawSmbios = RawData(table, static_cast<std::uint32_t>(table.size()));
  const smbios::LoadedTable loaded = smbios::LoadTable(Image.Machine());
  EXPECT_TRUE(loaded.Loaded);
  EXPECT_EQ(loaded.Table, table);
  EXPECT_EQ(loaded.TableAddress, 0xFFFFFFFFu);
  EXPECT_EQ(loaded.Version, 0x30u);
  EXPECT_EQ(Firmware.Calls, 2);  // the size, then the data
}

TEST_F(SmbiosTableTest, NothingLoadsWithoutEitherSource) {
  WriteBiosArea(Image);
  EXPECT_FALSE(smbios::LoadTable(Image.Machine()).Loaded);  // the function is missing
  EXPECT_EQ(Firmware.Calls, 0);
  Firmware.Present = true;  // present, but answers 0
  const smbios::LoadedTable loaded = smbios::LoadTable(Image.Machine());
  EXPECT_FALSE(loaded.Loaded);
  EXPECT_TRUE(loaded.Table.empty());
}

TEST_F(SmbiosTableTest, AnEntryPointThatNamesNothingReadableFallsBackToTheSystem) {
  const Bytes table = BoardTable();
  Firmware.Present = true;
  Firmware.RawSmbios = RawData(table, static_cast<std::uint32_t>(table.size()));
  const struct {
    const char* name;
    std::uint16_t length;
    std::uint32_t address;
  } cases[] = {{"length 0", 0, L::kSmbiosTable}, {"unreadable address", 0x100, 0x90000000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryImage image;
    WriteBiosArea(image);
    image.Write(L::kSmbiosTable, table);
    image.Write(L::kSmbiosEntry, SmbiosEntryPoint(c.length, c.address));
    const smbios::LoadedTable loaded = smbios::LoadTable(image.Machine());
    EXPECT_TRUE(loaded.Loaded);
    EXPECT_EQ(loaded.Table, table);
    EXPECT_EQ(loaded.TableAddress, 0xFFFFFFFFu);
  }
}

TEST_F(SmbiosTableTest, RawDataKeepsTheLow16BitsOfItsLengthAndNeverMoreThanItHolds) {
  Bytes big(0x10010, 0xAB);
  const smbios::LoadedTable wrapped = smbios::FromRawSmbiosData(RawData(big, 0x10010));
  EXPECT_TRUE(wrapped.Loaded);
  EXPECT_EQ(wrapped.TableLength, 0x10);
  EXPECT_EQ(wrapped.Table.size(), 0x10u);

  const smbios::LoadedTable cut = smbios::FromRawSmbiosData(RawData(Bytes(8, 1), 0x400));
  EXPECT_EQ(cut.TableLength, 8);
  EXPECT_EQ(cut.Table.size(), 8u);
  EXPECT_FALSE(smbios::FromRawSmbiosData(Bytes(7, 0)).Loaded);
}

TEST_F(SmbiosTableTest, FindsStructuresByTypeAndIndexIncludingTheEndOfTable) {
  const Bytes table = BoardTable();
  EXPECT_EQ(smbios::WalkStructures(table).size(), 5u);
  const auto first = smbios::FindStructure(table, 2, 0);
  const auto second = smbios::FindStructure(table, 2, 1);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(smbios::StructureFieldString(table, *first, smbios::kBaseboardProductString), "Z270 KRAIT");
  EXPECT_EQ(smbios::StructureFieldString(table, *second, smbios::kBaseboardProductString), "Second");
  EXPECT_FALSE(smbios::FindStructure(table, 2, 2));
  EXPECT_FALSE(smbios::FindStructure(table, 4, 0));
  const auto end = smbios::FindStructure(table, 127, 0);
  ASSERT_TRUE(end);
  EXPECT_EQ(*end + 6, table.size());
  EXPECT_FALSE(smbios::FindStructure({}, 0, 0));
}

TEST_F(SmbiosTableTest, StringsByNumber) {
  const Bytes table = BoardTable();
  const std::size_t bios = *smbios::FindStructure(table, 0, 0);
  const struct {
    std::uint8_t number;
    const char* text;
  } cases[] = {{0, ""}, {1, "Velnor"}, {2, " P1.40 "}, {3, "05/17/2017"}, {4, ""}, {255, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(smbios::StructureString(table, bios, c.number), c.text) << int(c.number);
  }
  const std::size_t noStrings = *smbios::FindStructure(table, 1, 0);
  EXPECT_EQ(smbios::StructureString(table, noStrings, 1), "");
  // A field beyond the formatted area reads as string number 0.
  EXPECT_EQ(smbios::StructureFieldString(SmbiosStructure(2, 0, {1}, {"x"}), 0, 0x05), "");
}

TEST_F(SmbiosTableTest, TheWalkEndsAtAStructureThatDoesNotFit) {
  const Bytes good = SmbiosBaseboard("Velnor", "Z270");
  Bytes noDoubleNul = SmbiosBios("V", "P1.40", "x");
  noDoubleNul.pop_back();  // the string set loses its second NUL and meets the table's end
  Bytes pastEnd = SmbiosStructure(0, 0, Bytes(20, 0), {});
  pastEnd[1] = 200;
  Bytes shortHeader = SmbiosStructure(0, 0, {}, {"a"});
  shortHeader[1] = 3;
  const struct {
    const char* name;
    Bytes table;
  } cases[] = {
      {"string set without its double NUL", Concat({good, noDoubleNul})},
      {"formatted area past the table", Concat({good, pastEnd})},
      {"formatted length below 4", Concat({good, shortHeader, good})},
      {"header cut by the table's end", Concat({good, Bytes{0, 0x18}})},
      {"lone NUL at the end", Concat({good, Bytes{0}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(smbios::WalkStructures(c.table).size(), 1u);
    EXPECT_FALSE(smbios::FindStructure(c.table, 0, 0));
    EXPECT_EQ(smbios::StructureString(c.table, good.size(), 1), "");
  }
}

TEST_F(SmbiosTableTest, TrimRemovesBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(smbios::TrimText(u" \t P1.40\r\n\x7F "), u"P1.40");
  EXPECT_EQ(smbios::TrimText(u"A B"), u"A B");
  EXPECT_EQ(smbios::TrimText(u"\x01\x1F"), u"");
  EXPECT_EQ(smbios::TrimText(u""), u"");
}

}  // namespace
}  // namespace kestrune
