// The install run's processor and chipset gates, bound as the product binds
// them, on the shipped boards.
#include <gtest/gtest.h>

#include <string>

#include "app/ProductCollaborators.h"
#include "install/InstallRun.h"
#include "tests/support/BoardFixture.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;
const char* const kNotKabyLake = "Unsupport non-Kabylake CPU!";
const char* const kNot200Series = "Unsupport non-200 series model!";

// The product's binding, with the run stopped at the operating-system gate
// that follows, whatever the rest of the binding does.
class StopAfterProcessorGate : public app::ProductCollaborators {
 public:
  bool Is64Bit() override { return false; }
};

class ProcessorGateTest : public test::BoardFixture {
 protected:
  std::int32_t Run(const std::string& board) {
    BootFile(kBoards + "/" + board);
    StopAfterProcessorGate platform;
    InstallRun run(platform, {"http://www.velnor.test", "http://download.velnor.test"});
    return run.Run();
  }
  bool Shown(const std::string& text) const {
    for (const auto& box : Dialogs.Boxes) {
      if (box.Text == text) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(ProcessorGateTest, AnIntelProcessorOtherThanKabyLakeOnA200SeriesChipsetIsTheProcessorsFault) {
  EXPECT_EQ(Run("skylake-z270.json"), 1);
  EXPECT_TRUE(Shown(kNotKabyLake));
  EXPECT_FALSE(Shown(kNot200Series));
}

TEST_F(ProcessorGateTest, AnAmdProcessorOnAnotherChipsetIsTheBoardsFault) {
  EXPECT_EQ(Run("amd-x370.json"), 1);
  EXPECT_TRUE(Shown(kNot200Series));
  EXPECT_FALSE(Shown(kNotKabyLake));
}

TEST_F(ProcessorGateTest, AKabyLakeProcessorPasses) {
  EXPECT_EQ(Run("kabylake-z270-no-optane.json"), 1);
  EXPECT_TRUE(Shown("Unsupport OS non-Windows 10 64bits!"));
  EXPECT_FALSE(Shown(kNotKabyLake));
  EXPECT_FALSE(Shown(kNot200Series));
  // The gate's TCpuBase loaded the driver, and the handle stays open.
  EXPECT_TRUE(Machine().DriverLoaded());
  EXPECT_EQ(Machine().OpenDeviceHandles(), 1u);
}

TEST_F(ProcessorGateTest, WithoutTheDriverTheLoaderSaysSoAndCpuidStillAnswers) {
  Run("kabylake-z270-no-driver.json");
  ASSERT_FALSE(Dialogs.Boxes.empty());
  EXPECT_EQ(Dialogs.Boxes[0].Text.rfind("Driver cannot be loaded", 0), 0u);
  EXPECT_FALSE(Shown(kNotKabyLake));
}

}  // namespace
}  // namespace kestrune
