// The boot-mode probe on simulated boards: the board's disks decide the
// UEFI gate through the same seams as on Windows.
#include <gtest/gtest.h>

#include "platform/Bootmode.h"
#include "tests/support/BoardFixture.h"

namespace kestrune {
namespace {

using BootmodeBoardTest = test::BoardFixture;
using sim::PartitionStyle;

TEST_F(BootmodeBoardTest, BoardDisksDecideTheUefiGate) {
  const struct {
    const char* name;
    sim::BoardDisks disks;
    std::int32_t systemDisk;
    bool gpt;
  } cases[] = {
      {"one GPT disk", {0, {{0, PartitionStyle::Gpt}}}, 0, true},
      {"GPT system disk listed after an MBR disk", {1, {{0, PartitionStyle::Mbr}, {1, PartitionStyle::Gpt}}}, 1, true},
      {"MBR system disk", {0, {{0, PartitionStyle::Mbr}, {1, PartitionStyle::Gpt}}}, 0, false},
      {"raw system disk", {0, {{0, PartitionStyle::Raw}}}, 0, false},
      {"empty reader listed first", {1, {{0, PartitionStyle::Raw, false}, {1, PartitionStyle::Gpt}}}, 1, true},
      {"26 partitions", {0, {{0, PartitionStyle::Gpt, true, 26}}}, 0, true},
      {"27 partitions", {0, {{0, PartitionStyle::Gpt, true, 27}}}, 0, false},
      {"system disk numbered apart from its place", {7, {{3, PartitionStyle::Mbr}, {7, PartitionStyle::Gpt}}}, 7, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session.reset();
    Board.Disks = c.disks;
    Boot();
    EXPECT_EQ(GetSystemDiskNumber(), c.systemDisk);
    EXPECT_EQ(IsGptDisk(GetSystemDiskNumber()), c.gpt);
    EXPECT_EQ(Machine().OpenDeviceHandles(), 0u);
    EXPECT_TRUE(Session->Storage().Interfaces().OpenSets.empty());
  }
}

TEST_F(BootmodeBoardTest, ShippedBoards) {
  const struct {
    const char* file;
    bool gpt;
  } cases[] = {
      {"kabylake-z270-optane.json", true},
      {"kabylake-z270-mbr.json", false},
      {"kabylake-z270-reader-first.json", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Session.reset();
    BootFile(std::string(KESTRUNE_BOARDS_DIR) + "/" + c.file);
    EXPECT_EQ(IsGptDisk(GetSystemDiskNumber()), c.gpt);
  }
}

}  // namespace
}  // namespace kestrune
