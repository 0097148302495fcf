#include "install/RunDecisions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sim/os/FakeCodePage.h"
#include "sys/Seam.h"

namespace kestrune::run {
namespace {

// The texts are the code page's, as on the machine.
class WithCodePage {
 private:
  sim::FakeCodePage CodePage;
  sys::ScopedSeam<sys::ICodePage> CodePageSeam{CodePage};
};

class DecideTest : public ::testing::Test, WithCodePage {};
class SwitchesTest : public ::testing::Test, WithCodePage {};

// A run that found everything it looks for, on the BIOS road to a flash:
// each row below changes what makes its ending.
Findings FlashingRun() {
  Findings found;
  found.KabyLake = true;
  found.Os64Bit = true;
  found.Windows10 = true;
  found.Board = BoardIdentity{"Z270 GAMING", "P1.40"};
  found.SystemDisk = 0;
  found.Gpt = true;
  found.RestartEntryRemoved = true;
  found.InstallStatus = 0;
  found.BiosUpdate = 0;
  found.InstallFinish = 0;
  found.OptanePath = "C:\\Setup\\Optane\\SetupOptaneMemory.exe";
  found.SetupCandidate = "C:\\Setup\\Optane\\SetupOptaneMemory.exe";
  found.OptanePathStored = true;
  found.SataMode = 0;
  found.BiosUpdateAtSataGate = 0;
  found.Modules = std::vector<ModuleVersion>{{"ME", 11}};
  BiosRoadFindings& bios = found.BiosRoad;
  bios.Agreed = true;
  bios.NetworkAgreed = true;
  bios.Catalogue = Fetch{"https://www.velnor.example/support/LiveUpdate.asp?Model=Z270 GAMING", true};
  bios.Package = Fetch{"https://download.velnor.example/bios/WIN/Z270.zip", true};
  bios.PackagePath = "C:\\Setup\\Z270.zip";
  bios.RomPath = "C:\\Setup\\ROM";
  bios.RomRenewed = true;
  bios.Unpacked = true;
  bios.ListingError = 0;
  bios.FlashTool = "Flash.exe";
  bios.ToolTrusted = true;
  bios.AcLineStatus = 1;
  bios.Encryption = EncryptionSuspension::NotProtected;
  bios.Flash = ChildOutcome{true, 0};
  return found;
}

// The BIOS supports Optane: the driver road, which starts Intel's setup
// program, or the uninstaller when Intel RST is registered.
void ReadyBios(Findings& found) {
  found.Board->BiosVersion = "P2.10";
  found.IrstProductCode = "";
  found.DriverRoad.Setup = ChildOutcome{true, 0};
}
void RstRegistered(Findings& found) {
  ReadyBios(found);
  found.IrstProductCode = "{RST}";
  found.DriverRoad.UninstallAgreed = true;
  found.DriverRoad.Uninstaller = ChildOutcome{true, 0};
}

struct EndingRow {
  const char* name;  // the README's row
  std::function<void(Findings&)> arrange;
  Ending ending;
  std::string message;
  Shown how;
  std::int32_t exitCode;
  bool writesExitCode;
};

class EveryEndingOfTheReadme : public ::testing::TestWithParam<EndingRow>, WithCodePage {};

TEST_P(EveryEndingOfTheReadme, MessageAndExitCode) {
  const EndingRow& row = GetParam();
  Findings found = FlashingRun();
  row.arrange(found);
  const Decision decision = run::Decide(found);
  EXPECT_EQ(decision.Step, Next::End);
  EXPECT_EQ(decision.End, row.ending);
  EXPECT_EQ(decision.Message, row.message);
  EXPECT_EQ(decision.How, row.how);
  EXPECT_EQ(decision.ExitCode, row.exitCode);
  EXPECT_EQ(decision.WritesExitCode, row.writesExitCode);
}

const std::string kBiosFail = "Update BIOS Fail!";
const std::string kSetupFail = "Install Driver Fail!C:\\Setup\\Optane\\SetupOptaneMemory.exe";

INSTANTIATE_TEST_SUITE_P(
    Rows, EveryEndingOfTheReadme,
    ::testing::Values(
        EndingRow{"AnotherRunInProgress", [](Findings& f) { f.RunLockTaken = false; }, Ending::AnotherRunInProgress,
                  "Kestrune is already running!", Shown::Box, 1, false},
        EndingRow{"NoKabyLakeOn200Series",
                  [](Findings& f) {
                    f.KabyLake = false;
                    f.ChipsetId = 0xA2C8;
                  },
                  Ending::ProcessorNotKabyLake, "Unsupport non-Kabylake CPU!", Shown::Box, 1, true},
        EndingRow{"NoKabyLakeOnAnotherChipset",
                  [](Findings& f) {
                    f.KabyLake = false;
                    f.ChipsetId = 0xA2C3;
                  },
                  Ending::ChipsetNot200Series, "Unsupport non-200 series model!", Shown::Box, 1, true},
        EndingRow{"NoKabyLakeWithoutTheDriver",
                  [](Findings& f) {
                    f.KabyLake = false;
                    f.ChipsetId = 0xFFFF;  // what a read without the driver answers
                  },
                  Ending::ChipsetNot200Series, "Unsupport non-200 series model!", Shown::Box, 1, true},
        EndingRow{"Not64Bit",
                  [](Findings& f) {
                    f.Os64Bit = false;
                    f.Windows10.reset();  // not asked
                  },
                  Ending::NotWindows10x64, "Unsupport OS non-Windows 10 64bits!", Shown::Box, 1, true},
        EndingRow{"NotWindows10", [](Findings& f) { f.Windows10 = false; }, Ending::NotWindows10x64,
                  "Unsupport OS non-Windows 10 64bits!", Shown::Box, 1, true},
        EndingRow{"NotGpt", [](Findings& f) { f.Gpt = false; }, Ending::NotUefi, "Unsupport OS non-UEFI mode!",
                  Shown::Box, 1, true},
        EndingRow{"SetupStartedByThePreviousRun",
                  [](Findings& f) {
                    f.InstallStatus = 1;
                    f.SataMode = 1;  // not looked at
                  },
                  Ending::Completed, "Installation complete!", Shown::Box, 0, true},
        EndingRow{"SataNotAhci", [](Findings& f) { f.SataMode = 2; }, Ending::SataNotAhci,
                  "Unsupport sata non-AHCI mode!", Shown::Box, 1, true},
        EndingRow{"BiosQuestionNo", [](Findings& f) { f.BiosRoad.Agreed = false; }, Ending::BiosDeclined,
                  kBiosQuestion, Shown::Question, 2, true},
        EndingRow{"NetworkQuestionNo", [](Findings& f) { f.BiosRoad.NetworkAgreed = false; },
                  Ending::NetworkDeclined, kNetworkQuestion, Shown::Question, 2, true},
        EndingRow{"CatalogueNotDownloaded", [](Findings& f) { f.BiosRoad.Catalogue->Stored = false; },
                  Ending::CatalogueNotFetched,
                  "DownloadFileSync Fail!https://www.velnor.example/support/LiveUpdate.asp?Model=Z270 GAMING",
                  Shown::Box, 1, true},
        EndingRow{"PackageNotDownloadedOrItsPathRefused", [](Findings& f) { f.BiosRoad.Package->Stored = false; },
                  Ending::PackageNotFetched,
                  "DownloadFileSync Fail!https://download.velnor.example/bios/WIN/Z270.zip", Shown::Box, 1, true},
        EndingRow{"RomFolderNotMovedAside", [](Findings& f) { f.BiosRoad.RomRenewed = false; },
                  Ending::PackageFolderNotRenewed, kBiosFail + "C:\\Setup\\ROM", Shown::Box, 1, true},
        EndingRow{"PackageMissingRefusedOrNotUnpacked", [](Findings& f) { f.BiosRoad.Unpacked = false; },
                  Ending::PackageNotUnpacked, kBiosFail + "C:\\Setup\\Z270.zip", Shown::Box, 1, true},
        EndingRow{"PackageFolderNotListed",
                  [](Findings& f) {
                    f.BiosRoad.ListingError = 2;
                    f.BiosRoad.FlashTool.reset();
                  },
                  Ending::PackageFolderNotListed, "Error(2) opening C:\\Setup\\ROM", Shown::ConsoleLine, 1, true},
        EndingRow{"NoProgramInThePackage", [](Findings& f) { f.BiosRoad.FlashTool = ""; }, Ending::NoFlashTool,
                  kBiosFail + "C:\\Setup\\ROM\\", Shown::Box, 1, true},
        EndingRow{"FlashToolCannotStart", [](Findings& f) { f.BiosRoad.Flash = ChildOutcome{false, -1}; },
                  Ending::FlashToolNotStarted, kBiosFail + "C:\\Setup\\ROM\\Flash.exe", Shown::Box, 1, true},
        EndingRow{"FlashToolNotSignedByANamedSigner", [](Findings& f) { f.BiosRoad.ToolTrusted = false; },
                  Ending::FlashToolNotTrusted, kBiosFail + "C:\\Setup\\ROM\\Flash.exe", Shown::Box, 1, true},
        EndingRow{"OnBattery", [](Findings& f) { f.BiosRoad.AcLineStatus = 0; }, Ending::OnBattery,
                  "Please connect the AC power before updating the BIOS!", Shown::Box, 1, true},
        EndingRow{"BitLockerNotSuspended",
                  [](Findings& f) { f.BiosRoad.Encryption = EncryptionSuspension::NotSuspended; },
                  Ending::EncryptionNotSuspended, "Please suspend BitLocker before updating the BIOS!", Shown::Box, 1,
                  true},
        EndingRow{"FlashToolRan", [](Findings&) {}, Ending::FlashToolRan, "", Shown::Nothing, -1, true},
        EndingRow{"FlashToolRanAndAnsweredAFailure", [](Findings& f) { f.BiosRoad.Flash = ChildOutcome{true, 1}; },
                  Ending::FlashToolRan, "", Shown::Nothing, -1, true},
        EndingRow{"UninstallQuestionNo",
                  [](Findings& f) {
                    RstRegistered(f);
                    f.DriverRoad.UninstallAgreed = false;
                  },
                  Ending::UninstallDeclined, kUninstallQuestion, Shown::Question, 2, true},
        EndingRow{"MsiExecCannotStart",
                  [](Findings& f) {
                    RstRegistered(f);
                    f.DriverRoad.Uninstaller = ChildOutcome{false, -1};
                  },
                  Ending::UninstallerFailed, std::string("Uninstall Driver Fail!") + kMsiExec, Shown::Box, 1, true},
        EndingRow{"MsiExecEndsWithAnotherCode",
                  [](Findings& f) {
                    RstRegistered(f);
                    f.DriverRoad.Uninstaller = ChildOutcome{true, 1603};
                  },
                  Ending::UninstallerFailed, std::string("Uninstall Driver Fail!") + kMsiExec, Shown::Box, 1, true},
        EndingRow{"UninstallerRan", RstRegistered, Ending::UninstallerRan, "", Shown::Nothing, -1, true},
        EndingRow{"UninstallerAsksForARestart",
                  [](Findings& f) {
                    RstRegistered(f);
                    f.DriverRoad.Uninstaller = ChildOutcome{true, 3010};
                  },
                  Ending::UninstallerRan, "", Shown::Nothing, -1, true},
        EndingRow{"SetupCannotStart",
                  [](Findings& f) {
                    ReadyBios(f);
                    f.DriverRoad.Setup = ChildOutcome{false, -1};
                  },
                  Ending::SetupNotStarted, kSetupFail, Shown::Box, 1, true},
        EndingRow{"SetupEndsWithAnotherCode",
                  [](Findings& f) {
                    ReadyBios(f);
                    f.DriverRoad.Setup = ChildOutcome{true, 1603};
                  },
                  Ending::SetupFailed, kSetupFail, Shown::Box, 1, true},
        EndingRow{"SetupRan", ReadyBios, Ending::SetupRan, "", Shown::Nothing, -1, true},
        EndingRow{"SetupStartedARestart",
                  [](Findings& f) {
                    ReadyBios(f);
                    f.DriverRoad.Setup = ChildOutcome{true, 1641};
                  },
                  Ending::SetupRan, "", Shown::Nothing, -1, true}),
    [](const auto& row) { return std::string(row.param.name); });

// The road the findings choose, and the first thing a run does on it.
TEST_F(DecideTest, RoadByInstallStateAndFirmware) {
  struct Case {
    const char* name;
    std::int32_t biosUpdate;
    const char* biosVersion;
    std::vector<ModuleVersion> modules;
    const char* productCode;  // nullptr: not looked up yet
    Road road;
    Next step;
  };
  const Case cases[] = {
      {"BiosLacksOptane", 0, "P1.40", {{"ME", 11}}, nullptr, Road::Bios, Next::AskBiosQuestion},
      {"OptaneModule", 0, "P1.40", {{"OPTANE", 1}}, nullptr, Road::None, Next::FindIrstProductCode},
      {"VersionTwo", 0, "P2.00", {}, "", Road::Install, Next::RunSetup},
      {"AfterAFlash", 1, "P1.40", {}, "{RST}", Road::Uninstall, Next::AskUninstallQuestion},
      {"StrangeBiosUpdate", 5, "P1.40", {}, nullptr, Road::Bios, Next::AskBiosQuestion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Findings found = FlashingRun();
    found.BiosRoad = {};
    found.BiosUpdate = c.biosUpdate;
    found.BiosUpdateReset = c.biosUpdate == 1;
    found.BiosUpdateAtSataGate = c.biosUpdate == 1 ? 0 : c.biosUpdate;
    found.Board->BiosVersion = c.biosVersion;
    found.Modules = c.modules;
    if (c.productCode != nullptr) {
      found.IrstProductCode = c.productCode;
    }
    const Decision decision = run::Decide(found);
    EXPECT_EQ(decision.Taken, c.road);
    EXPECT_EQ(decision.Step, c.step);
  }
}

// Decide names what to find out next, in the run's order: a run reads the
// chipset only for a processor that is no Kaby Lake, the install state only
// after the restart entry is gone, and the setup path is remembered before
// the SATA mode is read.
TEST_F(DecideTest, FindsOutInTheRunsOrder) {
  Findings found;
  const std::vector<std::function<void()>> answers = {
      [&] { found.KabyLake = true; },
      [&] { found.Os64Bit = true; },
      [&] { found.Windows10 = true; },
      [&] {
        found.Board = BoardIdentity{"Z270", "P1.40"};
        found.SystemDisk = 0;
        found.Gpt = true;
      },
      [&] { found.RestartEntryRemoved = true; },
      [&] { found.InstallStatus = 0; },
      [&] {
        found.BiosUpdate = 1;
        found.InstallFinish = 0;
        found.OptanePath = "";
        found.SetupCandidate = "C:\\Kit\\Optane\\SetupOptaneMemory.exe";
      },
      [&] { found.BiosUpdateReset = true; },
      [&] { found.OptanePathStored = true; },
      [&] {
        found.SataMode = 0;
        found.BiosUpdateAtSataGate = 0;
      },
      [&] { found.Modules = std::vector<ModuleVersion>{}; },
      [&] { found.IrstProductCode = ""; },
  };
  const Next expected[] = {Next::FindProcessor,    Next::FindOs64Bit,        Next::FindWindows10,
                           Next::FindBootMode,     Next::RemoveRestartEntry, Next::FindInstallStatus,
                           Next::FindInstallState, Next::ResetBiosUpdate,    Next::StoreOptanePath,
                           Next::FindSataMode,     Next::FindModules,        Next::FindIrstProductCode};
  for (std::size_t i = 0; i < answers.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(run::Decide(found).Step, expected[i]);
    answers[i]();
  }
  EXPECT_EQ(run::Decide(found).Step, Next::RunSetup);

  Findings noKabyLake;
  noKabyLake.KabyLake = false;
  EXPECT_EQ(run::Decide(noKabyLake).Step, Next::FindChipset);
}

// Under "/SP" the network is not tested.
TEST_F(DecideTest, SilentRunDoesNotAwaitTheNetwork) {
  Findings found = FlashingRun();
  found.BiosRoad.NetworkAgreed.reset();
  found.BiosRoad.Catalogue.reset();
  EXPECT_EQ(run::Decide(found).Step, Next::AwaitNetwork);
  found.Options.Silent = true;
  EXPECT_EQ(run::Decide(found).Step, Next::FetchCatalogue);
}

// The reasons name every finding that chose the road, in the run's order.
TEST_F(DecideTest, ReasonsOfTheRoad) {
  Findings found = FlashingRun();
  found.BiosRoad = {};
  const Decision decision = run::Decide(found);
  EXPECT_EQ(decision.Reasons, (std::vector<std::string>{
                                  "processor: Kaby Lake yes",
                                  "system: 64-bit yes, Windows 10 yes",
                                  "board: model \"Z270 GAMING\", BIOS version \"P1.40\"",
                                  "system disk: 0, GPT yes",
                                  "InstallStatus: 0",
                                  "BiosUpdate: 0, InstallFinish: 0, OptanePath: "
                                  "\"C:\\Setup\\Optane\\SetupOptaneMemory.exe\"",
                                  "SATA mode: 0 (AHCI), the gate lets the run go on",
                                  "AAFT modules: ME 11; Optane support no",
                              }));
}

// A new switch must not change what an existing command line does: no
// switch text holds another.
TEST_F(SwitchesTest, NoSwitchTextHoldsAnother) {
  for (const char* one : kSwitches) {
    for (const char* other : kSwitches) {
      if (std::string(one) != other) {
        EXPECT_EQ(std::string(one).find(other), std::string::npos) << one << " holds " << other;
      }
    }
  }
  for (const char* commandLine : {"Kestrune.exe /NR /NA /SP", "C:/nrtools/Kestrune.exe /spx"}) {
    SCOPED_TRACE(commandLine);
    EXPECT_EQ(ParseSupportOptions(commandLine), SupportOptions{});
  }
}

TEST_F(SwitchesTest, LogPathAndScan) {
  struct Case {
    const char* commandLine;
    SupportOptions options;
  };
  const Case cases[] = {
      {"Kestrune.exe /log", {true, false, ""}},
      {"Kestrune.exe /Log=C:\\Logs\\Kestrune.log /SP", {true, false, "C:\\Logs\\Kestrune.log"}},
      {"Kestrune.exe /LOG=\"C:\\My Logs\\k.log\" /scan", {true, true, "C:\\My Logs\\k.log"}},
      {"Kestrune.exe /LOG=\"C:\\unclosed", {true, false, "C:\\unclosed"}},
      {"Kestrune.exe /SCAN", {false, true, ""}},
      {"Kestrune.exe /LOGS", {true, false, ""}},  // found anywhere, as every switch
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    EXPECT_EQ(ParseSupportOptions(c.commandLine), c.options);
  }
}

}  // namespace
}  // namespace kestrune::run
