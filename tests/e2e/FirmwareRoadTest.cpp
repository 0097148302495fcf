// The install run's board identity, SATA-mode and Optane-support steps,
// bound as the product binds them, on the shipped boards: the firmware
// chooses the road.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ProductCollaborators.h"
#include "hw/Aaft.h"
#include "hw/Acpibase.h"
#include "install/InstallRun.h"
#include "platform/BoardIdentity.h"
#include "platform/Smbiosbase.h"
#include "sim/os/FakeFirmwareTable.h"
#include "tests/support/BoardFixture.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;

// The product's binding of the firmware steps; the gates and roads around
// them that other parts of the program answer are stood in for here: a
// Windows 10 x64 on a GPT system disk with a network, servers that serve
// nothing, and programs that start.
class FirmwareSteps : public app::ProductCollaborators {
 public:
  bool Is64Bit() override { return true; }
  bool IsWindows10() override { return true; }
  std::int32_t GetSystemDiskNumber() override { return 0; }
  bool IsGptDisk(std::int32_t) override { return true; }
  bool RegisterRestartEntry(const std::string&) override { return true; }
  bool UnregisterRestartEntry(const std::string&) override { return true; }
  bool IsNetworkConnected() override { return true; }
  bool DownloadFileSync(const std::string& url, const std::string&, std::vector<DownloadAttempt>& attempts) override {
    Downloads.push_back(url);
    attempts.assign(4, DownloadAttempt{404, 0, 0});
    return false;
  }
  std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool,
                          const std::function<void()>& onStarted) override {
    Programs.push_back(path + " " + arguments);
    onStarted();
    return 0;
  }
  std::int32_t RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                         const std::function<void()>& onStarted) override {
    return RunProgram(path, arguments, false, onStarted);
  }

  std::vector<std::string> Downloads;
  std::vector<std::string> Programs;
};

class FirmwareRoadTest : public test::BoardFixture {
 protected:
  std::int32_t Run(const std::string& board) {
    BootFile(kBoards + "/" + board);
    InstallRun run(Steps, {"http://www.velnor.test", "http://download.velnor.test"});
    return run.Run();
  }
  bool Shown(const std::string& text) const {
    for (const auto& box : Dialogs.Boxes) {
      if (box.Text.rfind(text, 0) == 0) {
        return true;
      }
    }
    return false;
  }

  FirmwareSteps Steps;
  sim::FakeFirmwareTable Firmware;

 private:
  sys::ScopedSeam<sys::IFirmwareTable> FirmwareSeam{Firmware};
};

TEST_F(FirmwareRoadTest, ABiosWithoutOptaneSupportTakesTheBiosRoad) {
  EXPECT_EQ(Run("kabylake-z270-no-optane.json"), 1);  // stopped at the catalogue download
  EXPECT_EQ(BoardModelName, "Z270 Forge");
  EXPECT_EQ(BoardBiosVersion, "P1.40");
  EXPECT_NE(Console.Output.find("SataMode=0\n"), std::string::npos);
  EXPECT_TRUE(Shown("System will update Bios to support Intel Optane Memory"));
  ASSERT_EQ(Steps.Downloads.size(), 1u);
  EXPECT_EQ(Steps.Downloads[0], "http://www.velnor.test/support/LiveUpdate.asp?Model=Z270 Forge");
  EXPECT_TRUE(Steps.Programs.empty());
  EXPECT_EQ(Machine().SmiCount(), 1);
}

TEST_F(FirmwareRoadTest, ABiosWithOptaneSupportTakesTheDriverRoad) {
  Run("kabylake-z270-optane.json");
  EXPECT_EQ(BoardBiosVersion, "P2.10");
  EXPECT_FALSE(Shown("System will update Bios"));
  EXPECT_TRUE(Steps.Downloads.empty());
  ASSERT_EQ(Steps.Programs.size(), 1u);
  EXPECT_NE(Steps.Programs[0].find("SetupOptaneMemory.exe -s -b"), std::string::npos);
}

TEST_F(FirmwareRoadTest, TheOptaneRecordAloneMakesAnOlderBiosReady) {
  BootFile(kBoards + "/kabylake-z270-optane.json");
  // The same firmware with the identity block of BIOS P1.40: only the
  // AAFT table's "OPTANE" record can make it ready.
  std::string error;
  sim::Board older = Board;
  sim::Board lacking;
  ASSERT_TRUE(sim::LoadBoardFile(kBoards + "/kabylake-z270-no-optane.json", lacking, error)) << error;
  older.Memory = lacking.Memory;
  Board = older;
  Reboot();
  InstallRun run(Steps, {"http://www.velnor.test", "http://download.velnor.test"});
  run.Run();
  EXPECT_EQ(BoardBiosVersion, "P1.40");
  EXPECT_TRUE(Steps.Downloads.empty());
  EXPECT_EQ(Steps.Programs.size(), 1u);
}

TEST_F(FirmwareRoadTest, ASataControllerInRaidModeStopsTheRun) {
  EXPECT_EQ(Run("kabylake-z270-raid.json"), 1);
  EXPECT_TRUE(Shown("Unsupport sata non-AHCI mode!"));
  EXPECT_TRUE(Steps.Downloads.empty());
  EXPECT_TRUE(Steps.Programs.empty());
}

}  // namespace
}  // namespace kestrune
