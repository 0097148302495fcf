#include "install/InstallRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "common/Utils.h"
#include "install/RunLock.h"
#include "platform/BoardIdentity.h"
#include "sim/os/FakeClock.h"
#include "sim/os/FakeEnvironmentVariables.h"
#include "sim/os/FakeFileSystem.h"
#include "sim/os/FakeMutexes.h"
#include "tests/support/FakeOsFixture.h"
#include "tests/support/FakeRunCollaborators.h"

namespace kestrune {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;

constexpr const char* kState = "HKCU\\Software\\Velnor\\Kestrune";
constexpr const char* kWeb = "https://www.velnor.example";
constexpr const char* kPackages = "https://download.velnor.example";

class InstallRunTest : public test::FakeOsFixture {
 public:
  InstallRunTest() {
    Environment.ModulePath = "C:\\Setup\\Kestrune.exe";
    Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
    Environment.CurrentDirectory = "C:\\Setup";
    FileVersion.Files["C:\\Setup\\Kestrune.exe"] = {0x00010000, 0x00000000};
    Files.CurrentDirectory = u"C:\\Setup";
    Files.AddFolder(u"C:\\Setup");
  }

  std::int32_t Run(const std::string& arguments = "") {
    if (!arguments.empty()) {
      Environment.CommandLine += " " + arguments;
    }
    // An empty table of folders: every listing fails with ENOENT.
    std::optional<sys::ScopedSeam<sys::IDirectoryListing>> failingListing;
    if (ListingFails) {
      failingListing.emplace(Directories);
    }
    InstallRun run(Platform, {kWeb, kPackages});
    return run.Run();
  }

  std::optional<std::int32_t> State(const char* name) const {
    const auto value = Registry.GetDword(kState, name);
    return value ? std::optional<std::int32_t>(static_cast<std::int32_t>(*value)) : std::nullopt;
  }
  void SetState(const char* name, std::uint32_t value) { Registry.SetDword(kState, name, value); }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : Dialogs.Boxes) {
      texts.push_back(box.Text);
    }
    return texts;
  }

  // Events of the run after the banner, without registry and console noise.
  std::vector<std::string> Actions() const {
    std::vector<std::string> actions;
    for (const std::string& event : Log.All()) {
      if (event.rfind("print ", 0) != 0 && event.rfind("reg create", 0) != 0) {
        actions.push_back(event);
      }
    }
    return actions;
  }

  bool Saw(const std::string& prefix) const {
    for (const std::string& event : Log.All()) {
      if (event.rfind(prefix, 0) == 0) {
        return true;
      }
    }
    return false;
  }

  test::FakeRunCollaborators Platform{Log};
  sim::FakeFileSystem Files{&Log};
  sim::FakeClock Clock;
  bool ListingFails = false;
  // Another process on the machine, in another session (the logon task's
  // run beside a person's double-click).
  sim::FakeMutexes OtherProcess{MutexNames, 2};

  // The other process holds the run lock, as a run in progress does.
  void AnotherRunInProgress() { OtherProcess.CreateMutexW(true, RunLock::kName); }

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Files};
  sys::ScopedSeam<sys::IFileSystem> FileSystemSeam{Files};
  sys::ScopedSeam<sys::IDirectoryListing> ListingSeam{Files};
  sys::ScopedSeam<sys::IClock> ClockSeam{Clock};
};

constexpr const char* kBiosQuestion =
    "System will update Bios to support Intel Optane Memory, please note all current setting will be "
    "removed!\nDo you want to contiune?";
constexpr const char* kNetworkQuestion =
    "No network connection! Please confirm network connection!\nDo you want to contiune?";
constexpr const char* kUninstallQuestion =
    "The Intel RST driver in this computer is not updated, system will uninstall current version for newer "
    "driver, please note all current setting will be removed!\nDo you want to contiune?";

TEST_F(InstallRunTest, BannerBytes) {
  Run();
  EXPECT_EQ(Console.Output.substr(0, 42 * 2 + 2 + 33),
            "==========================================\n"
            "  Velnor Kestrune Utility v1.0.0\n"
            "==========================================\n");
}

TEST_F(InstallRunTest, BannerWithoutVersionResource) {
  FileVersion.Files.clear();
  Run();
  EXPECT_THAT(Console.Output, HasSubstr("\n  Velnor Kestrune Utility v\n"));
}

// Every way a run ends: message, EXERetCode and exit code.
struct EndingCase {
  const char* name;
  std::function<void(InstallRunTest&, test::FakeRunCollaborators&)> arrange;
  const char* arguments;
  std::string message;  // the last box shown; empty for none
  std::int32_t exitCode;
  std::optional<std::int32_t> exeRetCode;  // none: not written
};

class InstallRunEndings : public InstallRunTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(InstallRunEndings, MessageRetCodeAndExitCode) {
  const EndingCase& c = GetParam();
  c.arrange(*this, Platform);
  EXPECT_EQ(Run(c.arguments), c.exitCode);
  if (c.message.empty()) {
    EXPECT_THAT(BoxTexts(), Not(Contains(HasSubstr("Fail"))));
  } else {
    ASSERT_FALSE(Dialogs.Boxes.empty());
    EXPECT_EQ(Dialogs.Boxes.back().Text, c.message);
    EXPECT_EQ(Dialogs.Boxes.back().Caption, "Kestrune");
  }
  EXPECT_EQ(State("EXERetCode"), c.exeRetCode);
}

const auto kNothing = [](InstallRunTest&, test::FakeRunCollaborators&) {};
const auto kReadyBios = [](InstallRunTest&, test::FakeRunCollaborators& p) { p.Board.BiosVersion = "P2.10"; };
const auto kRstRegistered = [](InstallRunTest& fx, test::FakeRunCollaborators& p) {
  kReadyBios(fx, p);
  fx.Registry.SetString("HKLM\\Software\\Intel\\IRST", "ProductCode", "{1234}", sim::FakeRegistry::View::Wow32);
};

INSTANTIATE_TEST_SUITE_P(
    EveryEnding, InstallRunEndings,
    ::testing::Values(
        // The run in progress writes EXERetCode: this one leaves it alone.
        EndingCase{"AnotherRunInProgress", [](auto& fx, auto&) { fx.AnotherRunInProgress(); }, "",
                   "Kestrune is already running!", 1, std::nullopt},
        EndingCase{"CpuOn200Series", [](auto&, auto& p) { p.KabyLake = false; }, "", "Unsupport non-Kabylake CPU!", 1,
                   1},
        EndingCase{"OtherChipset",
                   [](auto&, auto& p) {
                     p.KabyLake = false;
                     p.ChipsetId = 0x9D48;
                   },
                   "", "Unsupport non-200 series model!", 1, 1},
        EndingCase{"Os32Bit", [](auto&, auto& p) { p.Os64Bit = false; }, "", "Unsupport OS non-Windows 10 64bits!", 1,
                   1},
        EndingCase{"NotWindows10", [](auto&, auto& p) { p.Windows10 = false; }, "",
                   "Unsupport OS non-Windows 10 64bits!", 1, 1},
        EndingCase{"NotUefi", [](auto&, auto& p) { p.Gpt = false; }, "", "Unsupport OS non-UEFI mode!", 1, 1},
        EndingCase{"Completion", [](auto& fx, auto&) { fx.SetState("InstallStatus", 1); }, "", "Installation complete!",
                   0, 0},
        EndingCase{"SataNotAhci", [](auto&, auto& p) { p.Variable = {1}; }, "", "Unsupport sata non-AHCI mode!", 1, 1},
        EndingCase{"BiosQuestionNo", [](auto& fx, auto&) { fx.Dialogs.Answers = {sys::kIdNo}; }, "", kBiosQuestion, 2,
                   2},
        EndingCase{"NetworkQuestionNo",
                   [](auto& fx, auto& p) {
                     p.NetworkAnswers = {false};
                     fx.Dialogs.Answers = {sys::kIdYes, sys::kIdNo};
                   },
                   "", kNetworkQuestion, 2, 2},
        EndingCase{"CatalogueDownloadFails",
                   [](auto&, auto& p) {
                     p.DownloadResults[std::string(kWeb) + "/support/LiveUpdate.asp?Model=Z270 GAMING"] = false;
                   },
                   "", std::string("DownloadFileSync Fail!") + kWeb + "/support/LiveUpdate.asp?Model=Z270 GAMING", 1,
                   1},
        EndingCase{"ModelNameThatIsNoFileName", [](auto&, auto& p) { p.Board.ModelName = "..\\x"; }, "",
                   std::string("DownloadFileSync Fail!") + kWeb + "/support/LiveUpdate.asp?Model=..\\x", 1, 1},
        EndingCase{"PackageDownloadFails",
                   [](auto&, auto& p) { p.DownloadResults[std::string(kPackages) + "/bios/WIN/Z270.zip"] = false; }, "",
                   std::string("DownloadFileSync Fail!") + kPackages + "/bios/WIN/Z270.zip", 1, 1},
        EndingCase{"PackagePathOnAnotherHost", [](auto&, auto& p) { p.BiosFile = "@other.host/x.zip"; }, "",
                   std::string("DownloadFileSync Fail!") + kPackages + "@other.host/x.zip", 1, 1},
        EndingCase{"PackageFolderCannotBeMovedAside",
                   [](auto& fx, auto&) {
                     fx.Files.AddFile(u"C:\\Setup\\ROM\\Notes.txt", "mine");
                     // A file open in the folder keeps it where it is.
                     fx.Files.CreateFileA("C:\\Setup\\ROM\\Notes.txt", sys::kGenericRead, 0, sys::kOpenExisting, 0);
                   },
                   "", "Update BIOS Fail!C:\\Setup\\ROM", 1, 1},
        EndingCase{"PackageNotUnpacked", [](auto&, auto& p) { p.PackageUnpacks = false; }, "",
                   "Update BIOS Fail!C:\\Setup\\Z270.zip", 1, 1},
        EndingCase{"PackageFolderCannotBeListed", [](auto& fx, auto&) { fx.ListingFails = true; }, "", "", 1, 1},
        EndingCase{"NoFlashToolInThePackage", [](auto&, auto& p) { p.PackageMembers = {"Z270.bin"}; }, "",
                   "Update BIOS Fail!C:\\Setup\\ROM\\", 1, 1},
        EndingCase{"FlashToolNotSignedByTheMaker", [](auto&, auto& p) { p.FlashToolTrusted = false; }, "",
                   "Update BIOS Fail!C:\\Setup\\ROM\\Flash.exe", 1, 1},
        EndingCase{"OnBattery", [](auto&, auto& p) { p.AcLineStatus = 0; }, "",
                   "Please connect the AC power before updating the BIOS!", 1, 1},
        EndingCase{"BitLockerCannotBeSuspended",
                   [](auto&, auto& p) { p.Encryption = EncryptionSuspension::NotSuspended; }, "",
                   "Please suspend BitLocker before updating the BIOS!", 1, 1},
        EndingCase{"FlashToolCannotStart", [](auto&, auto& p) { p.ProgramsStart = false; }, "",
                   "Update BIOS Fail!C:\\Setup\\ROM\\Flash.exe", 1, 1},
        EndingCase{"FlashToolRan", kNothing, "", "", -1, -1},
        EndingCase{"FlashToolAnsweredMinusOne", [](auto&, auto& p) { p.ProgramResult = -1; }, "", "", -1, -1},
        EndingCase{"UninstallQuestionNo",
                   [](auto& fx, auto& p) {
                     kRstRegistered(fx, p);
                     fx.Dialogs.Answers = {sys::kIdNo};
                   },
                   "", kUninstallQuestion, 2, 2},
        EndingCase{"UninstallerRan", kRstRegistered, "", kUninstallQuestion, -1, -1},
        EndingCase{"UninstallerCannotStart",
                   [](auto& fx, auto& p) {
                     kRstRegistered(fx, p);
                     p.ProgramsStart = false;
                   },
                   "", "Uninstall Driver Fail!C:\\Windows\\System32\\MsiExec.exe", 1, 1},
        EndingCase{"UninstallerFails",
                   [](auto& fx, auto& p) {
                     kRstRegistered(fx, p);
                     p.ProgramResult = 1603;
                   },
                   "", "Uninstall Driver Fail!C:\\Windows\\System32\\MsiExec.exe", 1, 1},
        EndingCase{"UninstallerAsksForARestart",
                   [](auto& fx, auto& p) {
                     kRstRegistered(fx, p);
                     p.ProgramResult = 3010;
                   },
                   "", kUninstallQuestion, -1, -1},
        EndingCase{"SetupRanSilently", kReadyBios, "/SP", "", -1, -1},
        EndingCase{"SetupStartedARestartSilently",
                   [](auto& fx, auto& p) {
                     kReadyBios(fx, p);
                     p.ProgramResult = 1641;
                   },
                   "/SP", "", -1, -1},
        EndingCase{"SetupFailsSilently",
                   [](auto& fx, auto& p) {
                     kReadyBios(fx, p);
                     p.ProgramResult = 1603;
                   },
                   "/SP", "", 1, 1},
        EndingCase{"SetupCannotStartSilently",
                   [](auto& fx, auto& p) {
                     kReadyBios(fx, p);
                     p.ProgramsStart = false;
                   },
                   "/SP", "", 1, 1},
        EndingCase{"SetupCannotStart",
                   [](auto& fx, auto& p) {
                     kReadyBios(fx, p);
                     p.ProgramsStart = false;
                   },
                   "", "Install Driver Fail!C:\\Setup\\Optane\\SetupOptaneMemory.exe", 1, 1},
        EndingCase{"SetupNotSignedByItsSigner",
                   [](auto& fx, auto& p) {
                     kReadyBios(fx, p);
                     p.SetupProgramTrusted = false;
                   },
                   "", "Install Driver Fail!C:\\Setup\\Optane\\SetupOptaneMemory.exe", 1, 1},
        EndingCase{"SetupStartedNoReboot", kReadyBios, "/NR", "", -1, -1},
        // The restart normally ends the run under the progress line; a setup
        // program that ends first is answered like a waited-for one.
        EndingCase{"SetupEndsUnderProgressLine", kReadyBios, "", "", -1, -1},
        EndingCase{"SetupFailsUnderProgressLine",
                   [](auto& fx, auto& p) {
                     kReadyBios(fx, p);
                     p.ProgramResult = 1;
                   },
                   "", "Install Driver Fail!C:\\Setup\\Optane\\SetupOptaneMemory.exe", 1, 1}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(InstallRunTest, GatesTouchNothingButTheResult) {
  Platform.Gpt = false;
  Run();
  EXPECT_THAT(Actions(),
              ElementsAre("cpu", "board", "gpt 0", "message Unsupport OS non-UEFI mode!", "reg set EXERetCode=1"));
}

// A second start while a run is in progress: nothing is read, written,
// registered or started, on any road the first run could be on.
TEST_F(InstallRunTest, SecondRunTouchesNothing) {
  SetState("BiosUpdate", 1);
  SetState("EXERetCode", 7);
  AnotherRunInProgress();
  Log.Clear();
  EXPECT_EQ(Run(), 1);
  EXPECT_THAT(Actions(), ElementsAre("message Kestrune is already running!"));
  EXPECT_EQ(State("BiosUpdate"), 1);
  EXPECT_EQ(State("EXERetCode"), 7);

  Log.Clear();
  EXPECT_EQ(Run("/SP"), 1);
  EXPECT_THAT(Actions(), ElementsAre());
  EXPECT_THAT(Console.Output, HasSubstr("  Velnor Kestrune Utility v1.0.0\n"));
  // Only this process's own handle was ever opened, and it is closed.
  EXPECT_EQ(Mutexes.OpenHandles(), 0u);
}

// The lock is the machine's, not the session's, and it goes with the
// process that held it: a run after one that died goes ahead.
TEST_F(InstallRunTest, RunAfterARunThatDiedGoesAhead) {
  AnotherRunInProgress();
  EXPECT_EQ(Run(), 1);
  OtherProcess.End();
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(Saw("run C:\\Setup\\ROM\\Flash.exe /S /C (wait)"));
}

TEST_F(InstallRunTest, ChipsetIsReadOnlyWhenTheProcessorFails) {
  Run();
  EXPECT_FALSE(Saw("chipset"));
  Platform.KabyLake = false;
  Run();
  EXPECT_TRUE(Saw("chipset"));
}

// The state a run finds after its gates decides its course.
struct StateCase {
  const char* name;
  std::optional<std::uint32_t> installStatus;
  std::optional<std::uint32_t> biosUpdate;
  std::optional<std::uint32_t> installFinish;
  bool sataGate;             // a SATA mode of 1 stops the run
  const char* roadQuestion;  // the first question of the road taken
};

class InstallRunStates : public InstallRunTest, public ::testing::WithParamInterface<StateCase> {
 public:
  void Arrange() {
    const StateCase& c = GetParam();
    if (c.installStatus) SetState("InstallStatus", *c.installStatus);
    if (c.biosUpdate) SetState("BiosUpdate", *c.biosUpdate);
    if (c.installFinish) SetState("InstallFinish", *c.installFinish);
    Registry.SetString("HKLM\\Software\\Intel\\IRST", "ProductCode", "{RST}", sim::FakeRegistry::View::Wow32);
  }
};

TEST_P(InstallRunStates, SataGateAndRoad) {
  const StateCase& c = GetParam();
  Arrange();
  Platform.Variable = {1};
  Run();
  if (c.sataGate) {
    EXPECT_THAT(BoxTexts(), ElementsAre("Unsupport sata non-AHCI mode!"));
  } else {
    ASSERT_FALSE(Dialogs.Boxes.empty());
    EXPECT_EQ(Dialogs.Boxes.front().Text, c.roadQuestion);
  }
}

TEST_P(InstallRunStates, BiosUpdateIsClearedAfterAFlash) {
  const StateCase& c = GetParam();
  Arrange();
  Run();
  if (c.biosUpdate == 1u) {
    EXPECT_EQ(State("BiosUpdate"), 0);
  } else if (c.biosUpdate == 5u) {
    EXPECT_EQ(State("BiosUpdate"), 1);  // not reset; the BIOS road then flashes
  }
  EXPECT_EQ(State("InstallFinish"), c.installFinish ? std::optional<std::int32_t>(*c.installFinish) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(EveryState, InstallRunStates,
                         ::testing::Values(StateCase{"FreshMachine", std::nullopt, std::nullopt, std::nullopt, true,
                                                     kBiosQuestion},
                                           StateCase{"AfterFlashFinished", 0, 1, 1, false, kUninstallQuestion},
                                           StateCase{"AfterFlash", 0, 1, 0, true, kUninstallQuestion},
                                           StateCase{"Finished", 0, 0, 1, false, kBiosQuestion},
                                           StateCase{"Plain", 0, 0, 0, true, kBiosQuestion},
                                           StateCase{"StrangeBiosUpdate", 0, 5, 0, false, kBiosQuestion}),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(InstallRunTest, CompletionChangesNothingElse) {
  SetState("InstallStatus", 1);
  Platform.Variable = {1};  // would fail the SATA gate
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(Actions(), ElementsAre("cpu", "board", "gpt 0", "unregister Kestrune", "reg set InstallStatus=0",
                                     "reg set InstallFinish=1", "remove restart copy", "message Installation complete!",
                                     "reg set EXERetCode=0"));
}

TEST_F(InstallRunTest, FirstRunTakesTheBiosRoadInOrder) {
  EXPECT_EQ(Run(), -1);
  EXPECT_THAT(
      Actions(),
      ElementsAre("cpu", "board", "gpt 0", "unregister Kestrune",
                  "reg set OptanePath=\"C:\\Setup\\Optane\\SetupOptaneMemory.exe\"", "acpi",
                  "variable VelnorPlatformConfig size 4", "aaft", "release aaft", "release acpi",
                  std::string("ask ") + kBiosQuestion + " -> Yes", "network",
                  std::string("download ") + kWeb + "/support/LiveUpdate.asp?Model=Z270 GAMING -> Z270 GAMING.xml",
                  "catalogue C:\\Setup\\Z270 GAMING.xml",
                  std::string("download ") + kPackages + "/bios/WIN/Z270.zip -> Z270.zip", "mkdir C:\\Setup\\ROM",
                  "package C:\\Setup\\Z270.zip -> C:\\Setup\\ROM", "create C:\\Setup\\ROM\\Z270.bin",
                  "create C:\\Setup\\ROM\\Flash.exe", "open C:\\Setup\\ROM\\Flash.exe",
                  "verify C:\\Setup\\ROM\\Flash.exe", "power", "bitlocker", "reg set BiosUpdate=1", "register Kestrune",
                  "run C:\\Setup\\ROM\\Flash.exe /S /C (wait)", "reg set EXERetCode=4294967295"));
  EXPECT_THAT(Console.Output, HasSubstr("SataMode=0\nReady to Update BIOS\n"));
  EXPECT_EQ(BoardModelName, "Z270 GAMING");
  EXPECT_EQ(BoardBiosVersion, "P1.40");
}

TEST_F(InstallRunTest, SwitchesAreSubstringsOfTheUpperCasedCommandLine) {
  struct Case {
    const char* commandLine;
    run::RunOptions options;
  };
  const Case cases[] = {
      {"C:\\Setup\\Kestrune.exe", {}},
      {"C:\\Setup\\Kestrune.exe /na", {false, true, false}},
      {"C:\\Setup\\Kestrune.exe /SPX", {false, false, true}},
      {"C:\\Setup\\Kestrune.exe /nr/na/sp", {true, true, true}},
      {"C:/nrtools/Kestrune.exe", {true, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    EXPECT_EQ(run::ParseOptions(UpperCase(c.commandLine)), c.options);
  }
}

TEST_F(InstallRunTest, NoRebootAndNoAutoRunOnTheBiosRoad) {
  Run("/nr /na");
  EXPECT_TRUE(Saw("run C:\\Setup\\ROM\\Flash.exe /S /C /NR (wait)"));
  EXPECT_TRUE(Saw("unregister Kestrune"));
  EXPECT_FALSE(Saw("register Kestrune"));
}

TEST_F(InstallRunTest, SilentNeitherAsksNorTestsTheNetwork) {
  Run("/SP");
  EXPECT_TRUE(Dialogs.Boxes.empty());
  EXPECT_FALSE(Saw("network"));
  EXPECT_TRUE(Saw("run C:\\Setup\\ROM\\Flash.exe /S /C (wait)"));
}

// A calling installer that passes "/SP" must never wait on a box: not even
// on one that the hardware layer or the restart entry shows of its own.
TEST_F(InstallRunTest, SilentShowsNoBoxOfAnyPart) {
  Platform.DriverLoads = false;
  Platform.ChipsetId = 0xFFFF;  // what a read without the driver answers
  EXPECT_EQ(Run("/SP"), 1);
  EXPECT_TRUE(Dialogs.Boxes.empty());
  EXPECT_EQ(State("EXERetCode"), 1);

  Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
  EXPECT_EQ(Run(), 1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Driver cannot be loaded", "Unsupport non-200 series model!"));
}

TEST_F(InstallRunTest, NetworkQuestionRepeatsUntilTheNetworkIsUp) {
  Platform.NetworkAnswers = {false, false, true};
  EXPECT_EQ(Run(), -1);
  EXPECT_THAT(BoxTexts(), ElementsAre(kBiosQuestion, kNetworkQuestion, kNetworkQuestion));
}

TEST_F(InstallRunTest, SetupPathRule) {
  struct Case {
    const char* currentDir;
    const char* stored;  // nullptr: no value
    const char* setupPath;
    const char* storedAfter;
  };
  const Case cases[] = {
      {"C:\\Setup", nullptr, "C:\\Setup\\Optane\\SetupOptaneMemory.exe", "C:\\Setup\\Optane\\SetupOptaneMemory.exe"},
      {"C:\\Setup", "D:\\Kit\\Optane\\SetupOptaneMemory.exe", "D:\\Kit\\Optane\\SetupOptaneMemory.exe",
       "D:\\Kit\\Optane\\SetupOptaneMemory.exe"},
      {"C:\\Windows\\system32", "D:\\Kit\\Optane\\SetupOptaneMemory.exe", "D:\\Kit\\Optane\\SetupOptaneMemory.exe",
       nullptr},
      {"C:\\Windows\\system32", nullptr, "", nullptr},
      {"C:\\Windows\\SYSTEM32", nullptr, "C:\\Windows\\SYSTEM32\\Optane\\SetupOptaneMemory.exe",
       "C:\\Windows\\SYSTEM32\\Optane\\SetupOptaneMemory.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.currentDir);
    const run::SetupPathChoice choice =
        run::ChooseSetupPath(std::string(c.currentDir) + "\\Optane\\SetupOptaneMemory.exe", c.stored ? c.stored : "");
    EXPECT_EQ(choice.SetupPath, c.setupPath);
    EXPECT_EQ(choice.StoreOptanePath, c.storedAfter ? std::optional<std::string>(c.storedAfter) : std::nullopt);
  }
}

TEST_F(InstallRunTest, InstallRoadFromTheSystemDirectoryUsesTheRememberedPath) {
  Platform.Board.BiosVersion = "P2.00";
  Environment.CurrentDirectory = "C:\\Windows\\system32";
  Registry.SetString(kState, "OptanePath", "C:\\Setup\\Optane\\SetupOptaneMemory.exe");
  EXPECT_EQ(Run("/SP"), -1);
  EXPECT_THAT(Actions(),
              IsSupersetOf({"reg set InstallStatus=1", "register Kestrune",
                            "run C:\\Setup\\Optane\\SetupOptaneMemory.exe -s -b (wait)", "reg set OptanePath=\"\""}));
  EXPECT_THAT(Console.Output, HasSubstr("Ready to Install Driver C:\\Setup\\Optane\\SetupOptaneMemory.exe\n"));
}

TEST_F(InstallRunTest, InstallRoadOrderUnderTheProgressLine) {
  Platform.Board.BiosVersion = "P2.00";
  // The restart normally ends the process under the line; a setup program
  // that ends first without a failure leaves the restart pending.
  EXPECT_EQ(Run(), -1);
  const auto actions = Actions();
  const std::vector<std::string> tail(actions.end() - 6, actions.end());
  EXPECT_THAT(tail, ElementsAre("reg set InstallStatus=1", "register Kestrune",
                                "run C:\\Setup\\Optane\\SetupOptaneMemory.exe -s -b (no wait)",
                                "reg set OptanePath=\"\"", "progress", "reg set EXERetCode=4294967295"));
}

// A setup program that cannot be started, in every mode: nothing waits for a
// restart, the next run reports no completion, the restart entry goes and
// the remembered path is forgotten, so that a start from a folder that holds
// the setup program can finish the installation.
TEST_F(InstallRunTest, SetupThatCannotStartEndsWithOneAndForgetsTheRememberedPath) {
  struct Case {
    const char* arguments;
    bool unregistered;
  };
  const Case cases[] = {{"", true}, {"/SP", true}, {"/NR", true}, {"/SP /NA", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Log.Clear();
    Registry.DeleteKey(kState);
    Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
    Platform.Board.BiosVersion = "P2.00";
    Platform.ProgramsStart = false;
    EXPECT_EQ(Run(c.arguments), 1);
    EXPECT_FALSE(Saw("progress"));
    EXPECT_EQ(State("EXERetCode"), 1);
    EXPECT_EQ(State("InstallStatus"), 0);
    EXPECT_EQ(Registry.GetString(kState, "OptanePath"), "");
    // The run's start removes the entry in every mode; the failure removes
    // the one it registered.
    EXPECT_EQ(std::count(Log.All().begin(), Log.All().end(), "unregister Kestrune"), c.unregistered ? 2 : 1);
  }
}

// The kit ran from a folder that its wrapper deleted after the restart; the
// user starts it again from another folder that holds the setup program.
TEST_F(InstallRunTest, StaleRememberedSetupPathDoesNotMakeTheInstallUnfinishable) {
  Platform.Board.BiosVersion = "P2.00";
  Registry.SetString(kState, "OptanePath", "C:\\Temp\\a\\Optane\\SetupOptaneMemory.exe");
  Environment.CurrentDirectory = "C:\\Windows\\system32";
  Platform.ProgramsStart = false;
  EXPECT_EQ(Run("/SP"), 1);
  EXPECT_TRUE(Saw("run C:\\Temp\\a\\Optane\\SetupOptaneMemory.exe -s -b (wait) (cannot start)"));

  Log.Clear();
  Environment.CurrentDirectory = "C:\\Temp\\b";
  Files.AddFolder(u"C:\\Temp\\b");
  Platform.ProgramsStart = true;
  EXPECT_EQ(Run("/SP"), -1);
  EXPECT_TRUE(Saw("run C:\\Temp\\b\\Optane\\SetupOptaneMemory.exe -s -b (wait)"));
}

// Intel's setup program that started and then failed, with no restart to
// come: the same ending as one that could not start, but its path stays
// forgotten as on every start.
TEST_F(InstallRunTest, SetupThatFailsEndsTheRunAsAFailure) {
  for (const char* arguments : {"", "/SP"}) {
    SCOPED_TRACE(arguments);
    Log.Clear();
    Registry.DeleteKey(kState);
    Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
    Platform.Board.BiosVersion = "P2.00";
    Platform.ProgramResult = 1603;
    EXPECT_EQ(Run(arguments), 1);
    EXPECT_EQ(State("InstallStatus"), 0);
    EXPECT_EQ(std::count(Log.All().begin(), Log.All().end(), "unregister Kestrune"), 2);
  }
  // The next run reports no completion: it starts the setup program again.
  Log.Clear();
  Platform.ProgramResult = 0;
  EXPECT_EQ(Run("/SP"), -1);
  EXPECT_FALSE(Saw("message Installation complete!"));
}

// An uninstaller that could not start or failed leaves no restart entry that
// nothing would use.
TEST_F(InstallRunTest, UninstallerThatFailsRemovesTheRestartEntry) {
  for (const bool starts : {false, true}) {
    SCOPED_TRACE(starts ? "fails" : "cannot start");
    Log.Clear();
    Registry.SetString("HKLM\\Software\\Intel\\IRST", "ProductCode", "{RST}", sim::FakeRegistry::View::Wow32);
    Platform.Board.BiosVersion = "P2.00";
    Platform.ProgramsStart = starts;
    Platform.ProgramResult = 1605;
    EXPECT_EQ(Run("/SP"), 1);
    const auto actions = Actions();
    const std::vector<std::string> tail(actions.end() - 3, actions.end());
    EXPECT_THAT(tail, ElementsAre(HasSubstr("run C:\\Windows\\System32\\MsiExec.exe /x {RST}"), "unregister Kestrune",
                                  "reg set EXERetCode=1"));
  }
}

// The flash tool that could not be started leaves no pending flash behind:
// the next run would otherwise take the driver road over the old BIOS.
TEST_F(InstallRunTest, FlashToolThatCannotStartTakesBackTheFlash) {
  Platform.ProgramsStart = false;
  EXPECT_EQ(Run(), 1);
  const auto actions = Actions();
  const std::vector<std::string> tail(actions.end() - 6, actions.end());
  EXPECT_THAT(tail, ElementsAre("register Kestrune", "run C:\\Setup\\ROM\\Flash.exe /S /C (wait) (cannot start)",
                                "reg set BiosUpdate=0", "unregister Kestrune",
                                "message Update BIOS Fail!C:\\Setup\\ROM\\Flash.exe", "reg set EXERetCode=1"));
  EXPECT_EQ(State("BiosUpdate"), 0);

  Log.Clear();
  Run("/SP /NA");
  EXPECT_THAT(Actions(), Not(Contains("register Kestrune")));
  EXPECT_EQ(std::count(Log.All().begin(), Log.All().end(), "unregister Kestrune"), 1);  // the run's start only
  EXPECT_EQ(State("BiosUpdate"), 0);
  // The first run's question and message; none under /SP.
  EXPECT_THAT(BoxTexts(), ElementsAre(kBiosQuestion, "Update BIOS Fail!C:\\Setup\\ROM\\Flash.exe"));
}

// On battery the flash does not start, and nothing is left that would make
// the next run take it for one; a line that is online or that the system
// cannot report does not stop it.
// A tool that is not the maker's is not started, and nothing is left that
// would make the next run take it for a flash.
TEST_F(InstallRunTest, UntrustedFlashToolIsNotStarted) {
  SetState("BiosUpdate", 5);  // left by someone else: not the run's to change
  Platform.FlashToolTrusted = false;
  EXPECT_EQ(Run(), 1);
  EXPECT_FALSE(Saw("run "));
  EXPECT_FALSE(Saw("register Kestrune"));
  EXPECT_TRUE(Saw("unregister Kestrune"));
  EXPECT_EQ(State("BiosUpdate"), 5);
}

// A setup program that its signer did not sign (unsigned, changed, or
// another's) is not started, in any mode: it ends as one that cannot start,
// and nothing is recorded for it.
TEST_F(InstallRunTest, UntrustedSetupProgramIsNotStarted) {
  for (const char* arguments : {"", "/SP", "/NR"}) {
    SCOPED_TRACE(arguments);
    Log.Clear();
    Registry.DeleteKey(kState);
    Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
    Platform.Board.BiosVersion = "P2.00";
    Platform.SetupProgramTrusted = false;
    EXPECT_EQ(Run(arguments), 1);
    EXPECT_TRUE(Saw("verify setup C:\\Setup\\Optane\\SetupOptaneMemory.exe"));
    EXPECT_FALSE(Saw("run "));
    EXPECT_FALSE(Saw("register Kestrune"));
    EXPECT_FALSE(Saw("reg set InstallStatus=1"));
    EXPECT_EQ(State("InstallStatus"), 0);
    EXPECT_EQ(Registry.GetString(kState, "OptanePath"), "");
    EXPECT_EQ(State("EXERetCode"), 1);
  }
}

// The program started is the program checked: from its signature check
// until it has started, another process can neither write, delete nor
// rename it; once started it is let go. One that another process already
// holds open for writing is not started at all.
TEST_F(InstallRunTest, TheProgramCheckedIsTheProgramStarted) {
  const struct {
    const char* Name;
    const char* BiosVersion;
    std::string Program;
  } cases[] = {
      {"flash tool", "P1.40", "C:\\Setup\\ROM\\Flash.exe"},
      {"setup program", "P2.00", "C:\\Setup\\Optane\\SetupOptaneMemory.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Log.Clear();
    Registry.DeleteKey(kState);
    Platform.Board.BiosVersion = c.BiosVersion;
    Files.AddFolder(u"C:\\Setup\\Optane");
    Files.AddFile(u"C:\\Setup\\Optane\\SetupOptaneMemory.exe", "MZ setup");
    std::vector<std::string> changed;
    Platform.OnProgram = [&](const std::string& path) {
      const std::u16string wide(path.begin(), path.end());
      const sys::FileHandle writer = Files.CreateFileW(
          wide, sys::kGenericWrite, sys::kFileShareRead | sys::kFileShareWrite, sys::kOpenExisting, 0);
      if (writer != sys::kInvalidHandleValue) {
        Files.CloseHandle(writer);
        changed.push_back("written " + path);
      }
      if (Files.MoveFileA(path, path + ".old")) {
        changed.push_back("renamed " + path);
      }
      if (Files.DeleteFileW(wide)) {
        changed.push_back("deleted " + path);
      }
    };
    EXPECT_EQ(Run("/SP"), -1);
    Platform.OnProgram = nullptr;
    EXPECT_TRUE(changed.empty()) << changed.front();
    EXPECT_TRUE(Saw("run " + c.Program));
    EXPECT_EQ(Files.OpenHandles(), 0u);

    // Held open for writing by another process: not started.
    Log.Clear();
    Registry.DeleteKey(kState);
    Files.HoldOpen(std::u16string(c.Program.begin(), c.Program.end()), sys::kGenericWrite,
                   sys::kFileShareRead | sys::kFileShareWrite);
    EXPECT_EQ(Run("/SP"), 1);
    EXPECT_FALSE(Saw("run "));
  }
}

// A volume that is not protected or that was suspended goes on; one that
// could not be suspended starts nothing and records nothing.
TEST_F(InstallRunTest, FlashOnlyWhenBitLockerCannotStopTheNextStart) {
  for (const EncryptionSuspension encryption :
       {EncryptionSuspension::NotProtected, EncryptionSuspension::Suspended, EncryptionSuspension::NotSuspended}) {
    SCOPED_TRACE(static_cast<int>(encryption));
    const bool flashes = encryption != EncryptionSuspension::NotSuspended;
    Log.Clear();
    Registry.DeleteKey(kState);
    Platform.Encryption = encryption;
    EXPECT_EQ(Run("/SP"), flashes ? -1 : 1);
    EXPECT_EQ(Saw("run C:\\Setup\\ROM\\Flash.exe"), flashes);
    EXPECT_EQ(Saw("register Kestrune"), flashes);
    EXPECT_EQ(State("BiosUpdate"), flashes ? std::optional<std::int32_t>(1) : std::nullopt);
  }
}

TEST_F(InstallRunTest, FlashWaitsForMainsPower) {
  struct Case {
    std::uint8_t acLineStatus;
    std::int32_t exitCode;
  };
  for (const Case c : {Case{0, 1}, Case{1, -1}, Case{255, -1}}) {
    SCOPED_TRACE(int{c.acLineStatus});
    Log.Clear();
    Registry.DeleteKey(kState);
    Platform.AcLineStatus = c.acLineStatus;
    EXPECT_EQ(Run("/SP"), c.exitCode);
    EXPECT_EQ(Saw("run C:\\Setup\\ROM\\Flash.exe"), c.exitCode == -1);
    EXPECT_EQ(Saw("register Kestrune"), c.exitCode == -1);
    EXPECT_EQ(State("BiosUpdate"), c.exitCode == -1 ? std::optional<std::int32_t>(1) : std::nullopt);
  }
}

TEST_F(InstallRunTest, UninstallArgumentsAndTheSixtyFourBitView) {
  struct Case {
    const char* arguments;
    sim::FakeRegistry::View view;
    const char* expected;
  };
  const Case cases[] = {
      {"", sim::FakeRegistry::View::Wow32,
       "run C:\\Windows\\System32\\MsiExec.exe /x {RST} /quiet /forcerestart (wait)"},
      {"", sim::FakeRegistry::View::Native64,
       "run C:\\Windows\\System32\\MsiExec.exe /x {RST} /quiet /forcerestart (wait)"},
      {"/NR", sim::FakeRegistry::View::Wow32, "run C:\\Windows\\System32\\MsiExec.exe /x {RST} /quiet (wait)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Log.Clear();
    Registry.DeleteKey("HKLM\\Software\\Intel\\IRST", sim::FakeRegistry::View::Wow32);
    Registry.DeleteKey("HKLM\\Software\\Intel\\IRST", sim::FakeRegistry::View::Native64);
    Registry.SetString("HKLM\\Software\\Intel\\IRST", "ProductCode", "{RST}", c.view);
    SetState("BiosUpdate", 1);
    Environment.CommandLine = "Kestrune.exe";
    Run(c.arguments);
    EXPECT_TRUE(Saw(c.expected));
    EXPECT_FALSE(Saw("reg set InstallStatus"));
  }
}

TEST_F(InstallRunTest, BiosVersionRule) {
  struct Case {
    const char* version;
    bool optaneModule;
    std::uint32_t moduleVersion;
    bool ready;
  };
  const Case cases[] = {
      {"P2.00", false, 0, true},  {"P1.90", true, 1, true},    {"P1.90", false, 0, false}, {"P1.90", true, 2, false},
      {"F9.10", false, 0, true},  {"P10.00", false, 0, false}, {"", false, 0, false},      {"P.10", false, 0, false},
      {"PX.10", false, 0, false}, {"P", false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    std::vector<ModuleVersion> modules{{"ME", 11}};
    if (c.optaneModule) {
      modules.push_back({"OPTANE", c.moduleVersion});
    }
    EXPECT_EQ(run::IsOptaneReady(modules, c.version), c.ready);
  }
  EXPECT_FALSE(run::IsOptaneReady({{"optane", 1}}, "P1.00"));  // the name is compared exactly
}

TEST_F(InstallRunTest, ModelNameWithSlashes) {
  Platform.Board.ModelName = "AB/CD/E";
  Run();
  EXPECT_TRUE(Saw(std::string("download ") + kWeb + "/support/LiveUpdate.asp?Model=AB/CD/E -> AB_CD_E.xml"));
  EXPECT_TRUE(Saw("catalogue C:\\Setup\\AB_CD_E.xml"));
}

// The model name comes from the board: its catalogue file name must name a
// file in the current directory like the package's.
TEST_F(InstallRunTest, CatalogueFileNamesFromTheModelName) {
  const struct {
    const char* model;
    const char* file;
    bool plain;
  } cases[] = {
      {"Z270 GAMING", "Z270 GAMING.xml", true},
      {"AB/CD/E", "AB_CD_E.xml", true},
      {"../x", ".._x.xml", true},
      {"..\\x", "..\\x.xml", false},
      {"NUL", "NUL.xml", false},
      {"com1", "com1.xml", false},
      {"C:x", "C:x.xml", false},
      {"", ".xml", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    EXPECT_EQ(run::CatalogueFileName(c.model), c.file);
    EXPECT_EQ(run::IsPlainFileName(run::CatalogueFileName(c.model)), c.plain);
    Log.Clear();
    Registry.DeleteKey(kState);
    Platform.Board.ModelName = c.model;
    Run();
    EXPECT_EQ(Saw("download "), c.plain) << "a catalogue that is no plain file name is never requested";
  }
}

TEST_F(InstallRunTest, PackagePathWithRomTwice) {
  Platform.BiosFile = "/ROM/Z270/ROM/Z270F4.zip";
  Run();
  EXPECT_TRUE(Saw(std::string("download ") + kPackages + "/WIN/Z270/ROM/Z270F4.zip -> Z270F4.zip"));
}

TEST_F(InstallRunTest, PackagePathsThatLeaveTheServerOrTheCurrentDirectoryAreRefused) {
  for (const char* file : {"/bios/..", "/bios/..\\..\\evil.exe", "/bios/C:evil.exe", "@other.host/x.zip", ":8080/x.zip",
                           "x.zip", "", ".other.host/x.zip", "/bios/x\r\nHost: other.host/x.zip", "/bios/\x7f.zip",
                           "/bios/NUL", "/bios/COM1", "/bios/nul.zip", "/bios/CONOUT$", "/bios/", "/bios/x.zip."}) {
    SCOPED_TRACE(file);
    Log.Clear();
    Platform.BiosFile = file;
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Dialogs.Boxes.back().Text, std::string("DownloadFileSync Fail!") + kPackages + file);
    EXPECT_FALSE(Saw(std::string("download ") + kPackages));
  }
  Platform.BiosFile = "//bios/ROM/x y.zip";  // still a path on the package server
  Log.Clear();
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(Saw(std::string("download ") + kPackages + "//bios/WIN/x y.zip -> x y.zip"));
}

// The flash tool is the first regular file of this run's package whose name
// ends in ".exe" in any case; whatever the folder held before is kept aside.
TEST_F(InstallRunTest, FlashToolComesFromThisRunsPackage) {
  struct Case {
    std::vector<std::string> members;
    const char* tool;  // nullptr: none is found and nothing is started
  };
  const Case cases[] = {
      {{"readme.exe.txt", "Flash.exe"}, "C:\\Setup\\ROM\\Flash.exe"},
      {{"B.exe", "A.exe"}, "C:\\Setup\\ROM\\A.exe"},  // the listing's order: by name
      {{"AFUWINx64.EXE", "Z270F210.bin"}, "C:\\Setup\\ROM\\AFUWINx64.EXE"},
      {{"Tools.exe\\", "Tools.exe\\Flash.bin", "x.bin"}, nullptr},
      {{"a.exe\\", "b.exe"}, "C:\\Setup\\ROM\\b.exe"},
      {{"readme.exe.txt"}, nullptr},
      {{}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool == nullptr ? "none" : c.tool);
    Log.Clear();
    Registry.DeleteKey(kState);
    // A tool of an earlier package is never the one that runs.
    Files.AddFile(u"C:\\Setup\\ROM\\Old.exe", "an earlier release's tool");
    Platform.PackageMembers = c.members;
    const std::int32_t code = Run();
    if (c.tool != nullptr) {
      EXPECT_EQ(code, -1);
      EXPECT_TRUE(Saw(std::string("run ") + c.tool + " /S /C (wait)"));
    } else {
      EXPECT_EQ(code, 1);
      EXPECT_FALSE(Saw("run "));
      EXPECT_FALSE(Saw("register"));
      EXPECT_EQ(State("BiosUpdate"), std::nullopt);
      EXPECT_EQ(Dialogs.Boxes.back().Text, "Update BIOS Fail!C:\\Setup\\ROM\\");
    }
  }
}

TEST_F(InstallRunTest, EarlierPackageFolderIsMovedAsideNeverDeleted) {
  Files.AddFile(u"C:\\Setup\\ROM\\Notes.txt", "a person's own notes");
  Files.AddFile(u"C:\\Setup\\ROM\\Old.exe", "an earlier release's tool");
  EXPECT_EQ(Run(), -1);
  ASSERT_NE(Files.FindFile(u"C:\\Setup\\ROM.old-20261211-143005\\Notes.txt"), nullptr);
  EXPECT_EQ(Files.FindFile(u"C:\\Setup\\ROM.old-20261211-143005\\Notes.txt")->Data, "a person's own notes");
  EXPECT_EQ(Files.FindFile(u"C:\\Setup\\ROM\\Old.exe"), nullptr);
  EXPECT_TRUE(Saw("run C:\\Setup\\ROM\\Flash.exe /S /C (wait)"));

  // A second road within the same second keeps the first aside as well.
  Log.Clear();
  Registry.DeleteKey(kState);
  EXPECT_EQ(Run(), -1);
  EXPECT_NE(Files.FindFile(u"C:\\Setup\\ROM.old-20261211-143005\\Notes.txt"), nullptr);
  EXPECT_NE(Files.FindFile(u"C:\\Setup\\ROM.old-20261211-143005-2\\Flash.exe"), nullptr);
}

// A package that did not arrive whole (refused, or not unpacked) starts
// nothing and leaves no flash pending.
TEST_F(InstallRunTest, PackageThatCannotBeUnpackedStartsNothing) {
  Platform.PackageUnpacks = false;
  Files.AddFile(u"C:\\Setup\\ROM\\Flash.exe", "an earlier release's tool");
  EXPECT_EQ(Run(), 1);
  EXPECT_FALSE(Saw("run "));
  EXPECT_FALSE(Saw("register"));
  EXPECT_EQ(State("BiosUpdate"), std::nullopt);
  EXPECT_EQ(Dialogs.Boxes.back().Text, "Update BIOS Fail!C:\\Setup\\Z270.zip");
}

// Exit code 2 would read as "the user declined" to a calling installer.
TEST_F(InstallRunTest, UnlistablePackageFolderPrintsTheErrorLineInEveryModeAndEndsWithOne) {
  ListingFails = true;
  EXPECT_EQ(Run("/SP"), 1);
  EXPECT_THAT(Console.Output, HasSubstr("Error(2) opening C:\\Setup\\ROM\n"));
  EXPECT_GE(Console.Flushes, 1);
  EXPECT_EQ(State("EXERetCode"), 1);
  EXPECT_EQ(State("BiosUpdate"), std::nullopt);
  EXPECT_FALSE(Saw("register"));
}

TEST_F(InstallRunTest, InstallStateOfAnotherTypeReadsAsMissing) {
  Registry.SetString(kState, "InstallStatus", "1");
  EXPECT_EQ(Run(), -1);  // not a completion: the BIOS road
  EXPECT_TRUE(Saw("register Kestrune"));
}

TEST_F(InstallRunTest, LargerVariableIsReadAgainWithTheSizeItNeeds) {
  Platform.Variable = std::vector<std::uint8_t>(100, 0);
  Platform.Variable[0] = 2;
  Run();
  EXPECT_THAT(Platform.VariableSizesAsked, ElementsAre(4u, 100u));
  EXPECT_THAT(Console.Output, HasSubstr("SataMode=0\n"));                 // printed after the first read
  EXPECT_EQ(Dialogs.Boxes.back().Text, "Unsupport sata non-AHCI mode!");  // the second read's byte
}

TEST_F(InstallRunTest, UnreadableVariableCountsAsAhci) {
  Platform.VariableReadable = false;
  EXPECT_EQ(Run(), -1);
  EXPECT_THAT(Platform.VariableSizesAsked, ElementsAre(4u, 4u));
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// "/LOG": what a support engineer reads afterwards.
class InstallRunLogTest : public InstallRunTest {
 public:
  InstallRunLogTest() { Files.AddFolder(u"C:\\Logs"); }

  std::string LogText(const char16_t* path = u"C:\\Logs\\k.log") const {
    const sim::FakeFileSystem::File* file = Files.FindFile(path);
    return file == nullptr ? std::string() : file->Data;
  }

  sim::FakeEnvironmentVariables Variables;

 private:
  sys::ScopedSeam<sys::IEnvironmentVariables> VariablesSeam{Variables};
};

TEST_F(InstallRunLogTest, HoldsTheFindingsTheRoadAndEveryEffect) {
  EXPECT_EQ(Run("/LOG=C:\\Logs\\k.log"), -1);
  const std::string log = LogText();
  for (const char* line : {
           "2026-12-11 14:30:05.000 Kestrune started: \"C:\\Setup\\Kestrune.exe\" /LOG=C:\\Logs\\k.log\r\n",
           "2026-12-11 14:30:05.000   Velnor Kestrune Utility v1.0.0\r\n",
           " found: processor signature 0x000906E9\r\n",
           " found: processor: Kaby Lake yes\r\n",
           " found: system: 64-bit yes, Windows 10 yes\r\n",
           " found: board: model \"Z270 GAMING\", BIOS version \"P1.40\"\r\n",
           " found: system disk: 0, GPT yes\r\n",
           " found: SATA mode: 0 (AHCI), the gate lets the run go on\r\n",
           " found: AAFT modules: none; Optane support no\r\n",
           " road: the BIOS road (download and flash a BIOS with Optane support)\r\n",
           " question: System will update Bios",
           " download attempt 1: https://www.velnor.example/support/LiveUpdate.asp?Model=Z270 GAMING -> Z270 "
           "GAMING.xml: HTTP 200, 4096 of 4096 bytes stored\r\n",
           " download: https://www.velnor.example/support/LiveUpdate.asp?Model=Z270 GAMING -> Z270 GAMING.xml: "
           "stored\r\n",
           " unpacked: C:\\Setup\\ROM\\Flash.exe\r\n",
           " registry: OptanePath := \"C:\\Setup\\Optane\\SetupOptaneMemory.exe\"\r\n",
           " registry: BiosUpdate := 1\r\n",
           " restart entry registered: Kestrune\r\n",
           " SataMode=0\r\n",
           " start: C:\\Setup\\ROM\\Flash.exe /S /C\r\n",
           " exit code: 0\r\n",
           " end: exit code -1\r\n",
           " registry: EXERetCode := -1\r\n",
       }) {
    EXPECT_THAT(log, HasSubstr(line));
  }
}

TEST_F(InstallRunLogTest, GatesAndMessagesAreLoggedUnderSilentToo) {
  Platform.KabyLake = false;
  EXPECT_EQ(Run("/SP /LOG=C:\\Logs\\k.log"), 1);
  EXPECT_TRUE(Dialogs.Boxes.empty());
  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr(" found: chipset: 0x0000A2C5, 200 series yes\r\n"));
  EXPECT_THAT(log, HasSubstr(" message: Unsupport non-Kabylake CPU!\r\n"));
  EXPECT_THAT(log, HasSubstr(" end: exit code 1: Unsupport non-Kabylake CPU!\r\n"));
}

// The runs of one installation share the file they are given.
TEST_F(InstallRunLogTest, AppendsAcrossRuns) {
  Files.AddFile(u"C:\\Logs\\k.log", "an earlier line\r\n");
  EXPECT_EQ(Run("/SP /LOG=C:\\Logs\\k.log"), -1);
  Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\" /SP /LOG=C:\\Logs\\k.log";
  EXPECT_EQ(Run(), -1);  // after the flash: the driver road
  const std::string log = LogText();
  EXPECT_EQ(log.rfind("an earlier line\r\n", 0), 0u);
  EXPECT_THAT(log, HasSubstr(" road: the BIOS road"));
  EXPECT_THAT(log, HasSubstr(" road: the install road"));
}

TEST_F(InstallRunLogTest, DefaultFileInTheTemporaryFolder) {
  Variables.Variables["TEMP"] = "C:\\Users\\Ann\\AppData\\Local\\Temp";
  Files.AddFolder(u"C:\\Users\\Ann\\AppData\\Local\\Temp");
  EXPECT_EQ(Run("/log /SP"), -1);
  EXPECT_THAT(LogText(u"C:\\Users\\Ann\\AppData\\Local\\Temp\\Kestrune_20261211_143005.log"),
              HasSubstr(" end: exit code -1\r\n"));
}

// A log that cannot be written is skipped: the run does what it does
// without one.
TEST_F(InstallRunLogTest, NeverStopsARun) {
  Files.AddFile(u"C:\\Setup\\ROM\\Notes.txt", "kept aside each time");
  EXPECT_EQ(Run("/SP"), -1);
  const std::vector<std::string> without = Actions();
  for (const char* arguments : {"/SP /LOG=C:\\Missing\\k.log", "/SP /LOG=C:\\Logs", "/SP /LOG"}) {
    SCOPED_TRACE(arguments);
    Log.Clear();
    Registry.DeleteKey(kState);
    Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
    Files.AddFile(u"C:\\Setup\\ROM\\Notes.txt", "kept aside each time");
    EXPECT_EQ(Run(arguments), -1);  // "/LOG" alone: no TEMP variable here
    EXPECT_EQ(Actions().size(), without.size());
  }

  // A disk that fills up mid-run ends the log, not the run.
  Log.Clear();
  Registry.DeleteKey(kState);
  Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
  Files.FreeSpace = 300;
  EXPECT_EQ(Run("/SP /LOG=C:\\Logs\\k.log"), -1);
  EXPECT_LE(LogText().size(), 300u);
}

TEST_F(InstallRunLogTest, NothingIsWrittenWithoutTheSwitch) {
  const std::vector<std::u16string> before = Files.AllFiles();
  Run("/SP /NA");
  for (const std::u16string& path : Files.AllFiles()) {
    EXPECT_EQ(path.find(u".log"), std::u16string::npos);
  }
  EXPECT_FALSE(Saw("create C:\\Logs"));
}

// "/SCAN": the road or the ending a run would take, from the same findings,
// and nothing changed: no registry value, no restart entry, no download, no
// program, no box.
struct ScanCase {
  const char* name;
  std::function<void(InstallRunTest&, test::FakeRunCollaborators&)> arrange;
  std::int32_t exitCode;
  const char* prediction;   // the scan's last line
  const char* realRunSign;  // an event of the real run that shows the road or the ending
};

class InstallRunScan : public InstallRunTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(InstallRunScan, PredictsTheRealRunAndChangesNothing) {
  const ScanCase& c = GetParam();
  c.arrange(*this, Platform);
  SetState("EXERetCode", 7);
  Log.Clear();
  EXPECT_EQ(Run("/SCAN"), c.exitCode);
  EXPECT_THAT(Console.Output, HasSubstr(std::string(c.prediction) + "\n"));
  EXPECT_TRUE(Dialogs.Boxes.empty());
  for (const char* effect : {"reg set", "reg delete", "register", "unregister", "download", "run ", "progress", "mkdir",
                             "create", "verify", "power", "bitlocker", "network", "ask", "message"}) {
    EXPECT_FALSE(Saw(effect)) << effect;
  }
  EXPECT_EQ(State("EXERetCode"), 7);

  // Not even the key of the install state is created.
  Registry.DeleteKey(kState);
  c.arrange(*this, Platform);
  Log.Clear();
  Run("/SCAN");
  EXPECT_FALSE(Saw("reg create")) << "a state that is only read";
  Registry.DeleteKey(kState);
  c.arrange(*this, Platform);

  Log.Clear();
  Dialogs.Boxes.clear();
  Environment.CommandLine = "\"C:\\Setup\\Kestrune.exe\"";
  Run("/SP");
  EXPECT_TRUE(Saw(c.realRunSign)) << c.realRunSign;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRoadAndGate, InstallRunScan,
    ::testing::Values(ScanCase{"BiosRoad", kNothing, 0,
                               "Scan: the run would take the BIOS road (download and flash a BIOS with Optane support)",
                               "run C:\\Setup\\ROM\\Flash.exe"},
                      ScanCase{"InstallRoad", kReadyBios, 0,
                               "Scan: the run would take the install road (start Intel's setup program)",
                               "run C:\\Setup\\Optane\\SetupOptaneMemory.exe"},
                      ScanCase{"UninstallRoad", kRstRegistered, 0,
                               "Scan: the run would take the uninstall road (remove Intel RST)",
                               "run C:\\Windows\\System32\\MsiExec.exe"},
                      // After a flash the run resets BiosUpdate and takes the driver road;
                      // the scan leaves it at 1 and says so.
                      ScanCase{"AfterAFlash",
                               [](auto& fx, auto& p) {
                                 fx.SetState("BiosUpdate", 1);
                                 p.Variable = {1};  // the SATA gate applies after a flash
                               },
                               1, "Scan: the run would end with 1: Unsupport sata non-AHCI mode!",
                               "reg set EXERetCode=1"},
                      ScanCase{"AfterAFlashInAhciMode", [](auto& fx, auto&) { fx.SetState("BiosUpdate", 1); }, 0,
                               "Scan: the run would take the install road (start Intel's setup program)",
                               "run C:\\Setup\\Optane\\SetupOptaneMemory.exe"},
                      ScanCase{"Completion", [](auto& fx, auto&) { fx.SetState("InstallStatus", 1); }, 0,
                               "Scan: the run would end with 0: Installation complete!", "reg set InstallFinish=1"},
                      ScanCase{"NotUefi", [](auto&, auto& p) { p.Gpt = false; }, 1,
                               "Scan: the run would end with 1: Unsupport OS non-UEFI mode!", "reg set EXERetCode=1"},
                      ScanCase{"OtherChipset",
                               [](auto&, auto& p) {
                                 p.KabyLake = false;
                                 p.ChipsetId = 0x9D48;
                               },
                               1, "Scan: the run would end with 1: Unsupport non-200 series model!", "chipset"}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(InstallRunTest, ScanSaysWhy) {
  EXPECT_EQ(Run("/SCAN"), 0);
  for (const char* line :
       {"Scan: processor: Kaby Lake yes\n", "Scan: system disk: 0, GPT yes\n",
        "Scan: SATA mode: 0 (AHCI), the gate lets the run go on\n", "Scan: AAFT modules: none; Optane support no\n"}) {
    EXPECT_THAT(Console.Output, HasSubstr(line));
  }
}

// A scan while a run is in progress changes nothing either, and says so.
TEST_F(InstallRunTest, ScanBesideARunInProgress) {
  AnotherRunInProgress();
  EXPECT_EQ(Run("/SCAN"), 1);
  EXPECT_THAT(Console.Output, HasSubstr("Scan: the run would end with 1: Kestrune is already running!\n"));
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

}  // namespace
}  // namespace kestrune
