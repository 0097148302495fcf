#include "hw/Aaft.h"

#include <gtest/gtest.h>

#include "tests/support/FirmwareFixtures.h"
#include "tests/support/RecordingTrace.h"

namespace kestrune {
namespace {

using namespace test;

std::vector<std::pair<std::string, std::uint32_t>> Modules(const TAAFT& aaft) {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  for (const auto* entry : aaft.ModuleVersions) {
    out.emplace_back(ModuleName(*entry), entry->Version);
  }
  return out;
}

std::size_t Offset(const TAAFT& aaft, const void* pointer) {
  return static_cast<std::size_t>(static_cast<const std::uint8_t*>(pointer) - aaft.Table.data());
}

bool NothingDecoded(const TAAFT& aaft) {
  return aaft.SetupConfigs.empty() && aaft.Func7Value == 0 && aaft.Func9Value == 0 && aaft.FanTables.empty() &&
         aaft.SataModes.empty() && aaft.SetupGuids.empty() && aaft.SetupItems.empty() && aaft.EzocItems.empty() &&
         aaft.HddSaverTables.empty() && aaft.SetupGuidTables.empty() && aaft.SataModesEx.empty() &&
         aaft.UserProfiles.empty() && aaft.MacCmosTables.empty() && aaft.ModuleVersions.empty() &&
         aaft.ModelReferences.empty() && !aaft.Func23Block;
}

TEST(AaftTest, ATableOfOnlyItsHeaderDecodesNothing) {
  const TAAFT aaft(AaftTable({}));
  EXPECT_EQ(aaft.Table.size(), 36u);
  EXPECT_TRUE(NothingDecoded(aaft));
}

TEST(AaftTest, ModuleVersionEntriesOf29And30BytesHoldTwoRecords) {
  for (std::size_t spare : {0u, 1u}) {
    SCOPED_TRACE(spare);
    Bytes data = Concat({ModuleVersionRecord("ME", 11), ModuleVersionRecord("OPTANE", 1)});
    data.resize(data.size() + spare, 0xEE);
    const TAAFT aaft(AaftTable(AaftLongEntry(26, data)));
    ASSERT_EQ(aaft.Table[36 + 1], 29 + spare);
    EXPECT_EQ(Modules(aaft), (std::vector<std::pair<std::string, std::uint32_t>>{{"ME", 11}, {"OPTANE", 1}}));
    EXPECT_EQ(Offset(aaft, aaft.ModuleVersions[1]), 36u + 5 + 12);
  }
}

TEST(AaftTest, AModuleNameOfEightCharactersEndsAtTheRecord) {
  const TAAFT aaft(AaftTable(AaftLongEntry(26, ModuleVersionRecord("OPTANEXX", 1))));
  ASSERT_EQ(aaft.ModuleVersions.size(), 1u);
  EXPECT_EQ(ModuleName(*aaft.ModuleVersions[0]), "OPTANEXX");
}

TEST(AaftTest, Func7ValueIsWrittenByFunctions7And22AndTheLaterWins) {
  const Bytes f7 = AaftShortEntry(7, {3});
  const Bytes f22 = AaftLongEntry(22, {0, 5});
  EXPECT_EQ(TAAFT(AaftTable(Concat({f7, f22}))).Func7Value, 5u);
  EXPECT_EQ(TAAFT(AaftTable(Concat({f22, f7}))).Func7Value, 3u);
  // Entries too short to hold the byte leave the value alone.
  EXPECT_EQ(TAAFT(AaftTable(Concat({f7, AaftLongEntry(22, {9}), AaftShortEntry(7, {})}))).Func7Value, 3u);
  EXPECT_EQ(TAAFT(AaftTable(Concat({AaftShortEntry(9, {0x42}), AaftShortEntry(9, {})}))).Func9Value, 0x42);
}

TEST(AaftTest, SetupConfigsAndFanTablesKeepTheLaterEntryOfAKey) {
  const Bytes first = AaftShortEntry(6, {'C', 'P', 'U', 0, 1});
  const Bytes second = AaftShortEntry(6, {'C', 'P', 'U', 0, 2});
  const Bytes unterminated = AaftShortEntry(6, {'F', 'A', 'N'});
  const Bytes fanA = AaftShortEntry(10, {4, 0xA});
  const Bytes fanB = AaftShortEntry(10, {4, 0xB});
  const TAAFT aaft(AaftTable(Concat({first, second, unterminated, fanA, fanB})));
  ASSERT_EQ(aaft.SetupConfigs.size(), 2u);
  EXPECT_EQ(Offset(aaft, aaft.SetupConfigs.at("CPU")), 36u + first.size());
  EXPECT_EQ(Offset(aaft, aaft.SetupConfigs.at("FAN")), 36u + first.size() + second.size());
  ASSERT_EQ(aaft.FanTables.size(), 1u);
  EXPECT_EQ(aaft.FanTables.at(4)->Key, 4);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(aaft.FanTables.at(4))[3], 0xB);
}

TEST(AaftTest, ListEntriesAreAppendedInTableOrder) {
  const TAAFT aaft(AaftTable(Concat({
      AaftShortEntry(11, {1}),
      AaftLongEntry(16, Bytes(16, 0x16)),
      AaftLongEntry(17, {1, 2}),
      AaftShortEntry(11, {2}),
      AaftLongEntry(20, {}),
      AaftLongEntry(21, {3}),
      AaftLongEntry(25, {4}),
      AaftShortEntry(3, {0xFF}),  // no decoder: skipped by its length
      AaftLongEntry(99, Bytes(7, 0)),
  })));
  ASSERT_EQ(aaft.SataModes.size(), 2u);
  EXPECT_EQ(aaft.SataModes[0]->FuncId, 11);
  EXPECT_EQ(Offset(aaft, aaft.SataModes[1]), 36u + 3 + 21 + 7);
  ASSERT_EQ(aaft.SetupGuids.size(), 1u);
  EXPECT_EQ(aaft.SetupGuids[0], aaft.SetupGuidTables[0]);
  EXPECT_EQ(aaft.SetupGuids[0]->Length, 21u);
  EXPECT_EQ(aaft.SetupItems.size(), 1u);
  EXPECT_EQ(aaft.HddSaverTables.size(), 1u);
  EXPECT_EQ(aaft.SataModesEx.size(), 1u);
  EXPECT_EQ(aaft.MacCmosTables.size(), 1u);
}

TEST(AaftTest, Function23KeepsTheFirst45BytesOfTheLatestEntry) {
  Bytes longData(60);
  for (std::size_t i = 0; i < longData.size(); ++i) {
    longData[i] = static_cast<std::uint8_t>(i + 1);
  }
  const Bytes full = AaftLongEntry(23, longData);
  const TAAFT one(AaftTable(full));
  ASSERT_TRUE(one.Func23Block);
  EXPECT_TRUE(std::equal(one.Func23Block->begin(), one.Func23Block->end(), full.begin()));

  const Bytes shortEntry = AaftLongEntry(23, {0xAA, 0xBB});
  const TAAFT two(AaftTable(Concat({full, shortEntry})));
  ASSERT_TRUE(two.Func23Block);
  Bytes expected(45, 0);
  std::copy(shortEntry.begin(), shortEntry.end(), expected.begin());
  EXPECT_TRUE(std::equal(two.Func23Block->begin(), two.Func23Block->end(), expected.begin()));
}

TEST(AaftTest, UserProfilesAndModelReferences) {
  const TAAFT profiles(AaftTable(AaftLongEntry(24, Bytes(2 * 60 + 59, 0x24))));
  ASSERT_EQ(profiles.UserProfiles.size(), 2u);
  EXPECT_EQ(Offset(profiles, profiles.UserProfiles[1]), 36u + 5 + 60);

  Bytes refs(20, 0x27);
  Put32(refs, 16, 3);  // 23 bytes
  refs.resize(23, 0x01);
  Bytes second(20, 0x28);
  Put32(second, 16, 0);
  const TAAFT models(AaftTable(AaftLongEntry(27, Concat({refs, second}))));
  ASSERT_EQ(models.ModelReferences.size(), 2u);
  EXPECT_EQ(Offset(models, models.ModelReferences[1]), 36u + 5 + 23);
  EXPECT_EQ(models.ModelReferences[0]->VariableLength, 3u);
}

TEST(AaftTest, ModelReferenceRecordsThatDoNotFitTheEntryEndTheList) {
  Bytes good(20, 0);
  Bytes tooLong(20, 0);
  Put32(tooLong, 16, 1);  // claims 21 bytes, 20 left
  EXPECT_EQ(TAAFT(AaftTable(AaftLongEntry(27, Concat({good, tooLong})))).ModelReferences.size(), 1u);
  Bytes huge(20, 0);
  Put32(huge, 16, 0xFFFFFFF0);  // would wrap a 32-bit sum
  EXPECT_EQ(TAAFT(AaftTable(AaftLongEntry(27, Concat({good, huge, good})))).ModelReferences.size(), 1u);
  // A stub shorter than a record's fixed part.
  EXPECT_EQ(TAAFT(AaftTable(AaftLongEntry(27, Concat({good, Bytes(19, 0)})))).ModelReferences.size(), 1u);
}

TEST(AaftTest, EzocRecordsWithAndWithoutOptions) {
  const Bytes bare = EzocRecord(0x120, 1, "SATA Mode", 7, {});
  ASSERT_EQ(bare.size(), 137u);
  const Bytes withOptions = EzocRecord(0x44, 2, "Fan Profile", 2, {"AHCI", "IO"});
  ASSERT_EQ(withOptions.size(), 147u);
  RecordingTrace trace;
  const TAAFT aaft(AaftTable(AaftLongEntry(18, Concat({bare, withOptions}))), &trace);
  ASSERT_EQ(aaft.EzocItems.size(), 2u);
  const _VEL_DecodeEZOCTBL& first = aaft.EzocItems[0];
  EXPECT_EQ(first.SetupStrucOffset, 0x120);
  EXPECT_EQ(first.DataLen, 1);
  EXPECT_EQ(ItemText(first), "SATA Mode");
  EXPECT_EQ(first.EZOCNum, 7);
  EXPECT_TRUE(first.Options.empty());
  EXPECT_EQ(aaft.EzocItems[1].Options, (std::vector<std::string>{"AHCI", "IO"}));
  EXPECT_EQ(trace.Lines.front(), "m_pAf->FuncId: ... [18]/10");
  EXPECT_EQ(trace.Lines[2], "DecodeEZOCTable ... [Enter]/14");
  EXPECT_EQ(trace.Lines[3], "funcLen ... [284]/9");
  EXPECT_EQ(trace.Lines.back(), "DecodeEZOCTable ... [Leave]/14");
}

TEST(AaftTest, ALaterEzocEntryReplacesTheItemsOfAnEarlierOne) {
  const TAAFT aaft(AaftTable(Concat(
      {AaftLongEntry(18, EzocRecord(1, 1, "Old", 1, {})), AaftLongEntry(18, EzocRecord(2, 1, "New", 1, {"On"}))})));
  ASSERT_EQ(aaft.EzocItems.size(), 1u);
  EXPECT_EQ(ItemText(aaft.EzocItems[0]), "New");
}

TEST(AaftTest, EzocRecordsThatDoNotFitEndTheItems) {
  const Bytes good = EzocRecord(1, 1, "Good", 1, {"A"});
  Bytes shortLength = EzocRecord(2, 1, "Short", 1, {});
  Put32(shortLength, 133, 136);  // below the fixed part
  Bytes zeroLength = EzocRecord(2, 1, "Zero", 1, {});
  Put32(zeroLength, 133, 0);
  Bytes tooLong = EzocRecord(3, 1, "Long", 1, {});
  Put32(tooLong, 133, 138);  // one byte more than the entry holds
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"record length below 137", Concat({good, shortLength, good})},
      {"record length 0", Concat({good, zeroLength, good})},
      {"record past the entry", Concat({good, tooLong})},
      {"fewer than 137 bytes left", Concat({good, Bytes(100, 0)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TAAFT aaft(AaftTable(AaftLongEntry(18, c.data)));
    ASSERT_EQ(aaft.EzocItems.size(), 1u);
    EXPECT_EQ(ItemText(aaft.EzocItems[0]), "Good");
  }
}

TEST(AaftTest, AnOptionNameWithoutItsNulEndsTheOptionsOfTheRecord) {
  Bytes record = EzocRecord(1, 1, "Item", 1, {"AHCI"});
  record.push_back(9);  // another option: its byte and a name running to the end
  record.push_back('R');
  record.push_back('A');
  Put32(record, 133, static_cast<std::uint32_t>(record.size()));
  const Bytes next = EzocRecord(2, 1, "Next", 2, {"X"});
  const TAAFT aaft(AaftTable(AaftLongEntry(18, Concat({record, next}))));
  ASSERT_EQ(aaft.EzocItems.size(), 2u);
  EXPECT_EQ(aaft.EzocItems[0].Options, (std::vector<std::string>{"AHCI"}));
  EXPECT_EQ(aaft.EzocItems[1].Options, (std::vector<std::string>{"X"}));

  Bytes oneSpare = EzocRecord(1, 1, "Spare", 1, {});
  oneSpare.push_back(0x55);  // the option's byte, no name at all
  Put32(oneSpare, 133, 138);
  const TAAFT spare(AaftTable(AaftLongEntry(18, oneSpare)));
  ASSERT_EQ(spare.EzocItems.size(), 1u);
  EXPECT_TRUE(spare.EzocItems[0].Options.empty());
}

TEST(AaftTest, EntriesThatDoNotFitEndTheWalk) {
  const Bytes before = AaftShortEntry(9, {1});
  const Bytes after = AaftShortEntry(7, {4});
  Bytes zero = AaftShortEntry(11, {0});
  zero[1] = 0;
  Bytes pastEnd = AaftShortEntry(11, {0});
  pastEnd[1] = 200;
  Bytes shorterThanHeader = AaftLongEntry(17, {});
  Put32(shorterThanHeader, 1, 4);
  Bytes longZero = AaftLongEntry(26, ModuleVersionRecord("OPTANE", 1));
  Put32(longZero, 1, 0);
  Bytes longPastEnd = AaftLongEntry(26, ModuleVersionRecord("OPTANE", 1));
  Put32(longPastEnd, 1, 0x7FFFFFFF);
  const struct {
    const char* name;
    Bytes entries;
  } cases[] = {
      {"length 0", Concat({before, zero, after})},
      {"length past the table", Concat({before, pastEnd, after})},
      {"length shorter than the long header", Concat({before, shorterThanHeader, after})},
      {"long length 0", Concat({before, longZero, after})},
      {"long length past the table", Concat({before, longPastEnd, after})},
      {"a short header cut by the table's end", Concat({before, Bytes{7}})},
      {"a long header cut by the table's end", Concat({before, Bytes{26, 9, 0}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TAAFT aaft(AaftTable(c.entries));
    EXPECT_EQ(aaft.Func9Value, 1);
    EXPECT_EQ(aaft.Func7Value, 0u);
    EXPECT_TRUE(aaft.SataModes.empty());
    EXPECT_TRUE(aaft.SetupItems.empty());
    EXPECT_TRUE(aaft.ModuleVersions.empty());
  }
}

TEST(AaftTest, TheHeaderLengthBoundsTheWalkAndNeverReachesPastTheCopy) {
  Bytes table = AaftTable(Concat({AaftShortEntry(9, {1}), AaftShortEntry(7, {4})}));
  Bytes shortened = table;
  Put32(shortened, 4, 36 + 3);  // the header ends the table after the first entry
  const TAAFT first(shortened);
  EXPECT_EQ(first.Func9Value, 1);
  EXPECT_EQ(first.Func7Value, 0u);

  Bytes claimsMore = table;
  Put32(claimsMore, 4, 0x10000);  // more than was copied
  const TAAFT both(claimsMore);
  EXPECT_EQ(both.Func7Value, 4u);

  for (std::uint32_t length : {0u, 20u, 35u}) {
    Bytes tiny = table;
    Put32(tiny, 4, length);
    EXPECT_TRUE(NothingDecoded(TAAFT(tiny))) << length;
  }
  EXPECT_TRUE(NothingDecoded(TAAFT(Bytes(20, 0))));
  EXPECT_TRUE(NothingDecoded(TAAFT(Bytes{})));
}

}  // namespace
}  // namespace kestrune
