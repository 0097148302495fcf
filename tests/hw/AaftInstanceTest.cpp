#include <gtest/gtest.h>

#include "hw/Aaft.h"
#include "hw/Acpibase.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FileSeamTap.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;

class AaftInstanceTest : public test::BoardFixture {
 protected:
  static std::vector<std::string> Names(const TAAFT& aaft) {
    std::vector<std::string> out;
    for (const auto* entry : aaft.ModuleVersions) {
      out.push_back(ModuleName(*entry) + ":" + std::to_string(std::uint32_t{entry->Version}));
    }
    return out;
  }
};

TEST_F(AaftInstanceTest, TheShippedBoardsModuleTables) {
  const struct {
    const char* board;
    std::vector<std::string> modules;
  } cases[] = {
      {"/kabylake-z270-optane.json", {"ME:11", "GOP:9", "RAIDDXE:15", "OPTANE:1"}},
      {"/kabylake-z270-no-optane.json", {"ME:11", "GOP:9", "RAIDDXE:15"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.board);
    BootFile(kBoards + c.board);
    const TAAFT* aaft = AaftInstance();
    EXPECT_EQ(aaft->AcpiBase, AcpiBaseInstance());
    EXPECT_EQ(Names(*aaft), c.modules);
    EXPECT_EQ(aaft->Func7Value, 1u);
    PowerOff();  // before the next board boots
  }
}

TEST_F(AaftInstanceTest, NoTablesLeaveEveryContainerEmpty) {
  Boot();
  const TAAFT* aaft = AaftInstance();
  EXPECT_TRUE(aaft->Table.empty());
  EXPECT_TRUE(aaft->ModuleVersions.empty());
}

TEST_F(AaftInstanceTest, ATableThatCannotBeCopiedIsNotDecoded) {
  BootFile(kBoards + "/kabylake-z270-optane.json");
  ASSERT_TRUE(AcpiBaseInstance()->FindTable("AAFT"));
  const std::uint64_t address = AcpiBaseInstance()->Current->Address;
  test::FileSeamTap tap;
  tap.FailRead = [address](std::uint64_t at, std::uint32_t length) { return at == address && length > 36; };
  const TAAFT* aaft = AaftInstance();
  EXPECT_TRUE(aaft->Table.empty());
  EXPECT_TRUE(aaft->ModuleVersions.empty());
  EXPECT_EQ(aaft->Func7Value, 0u);
}

TEST_F(AaftInstanceTest, ReleasedAndCreatedAgainItDecodesAgain) {
  BootFile(kBoards + "/kabylake-z270-optane.json");
  AaftInstance();
  ReleaseAaftInstance();
  ReleaseAcpiBaseInstance();
  EXPECT_EQ(Names(*AaftInstance()).size(), 4u);
}

}  // namespace
}  // namespace kestrune
