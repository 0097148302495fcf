// The install run's decisions, as pure functions of what the run found.
// InstallRun acts on them in the order the user and the calling installer
// observe; these answer only "what".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "install/RunCollaborators.h"
#include "install/RunFindings.h"

namespace kestrune {

// Exit codes (also stored in EXERetCode).
inline constexpr std::int32_t kExitCompleted = 0;
inline constexpr std::int32_t kExitFailed = 1;
inline constexpr std::int32_t kExitDeclined = 2;
inline constexpr std::int32_t kExitRestartPending = -1;

}  // namespace kestrune

namespace kestrune::run {

inline constexpr const char* kBiosQuestion =
    "System will update Bios to support Intel Optane Memory, please note all current setting will be "
    "removed!\nDo you want to contiune?";
inline constexpr const char* kNetworkQuestion =
    "No network connection! Please confirm network connection!\nDo you want to contiune?";
inline constexpr const char* kUninstallQuestion =
    "The Intel RST driver in this computer is not updated, system will uninstall current version for newer "
    "driver, please note all current setting will be removed!\nDo you want to contiune?";
inline constexpr const char* kMsiExec = "C:\\Windows\\System32\\MsiExec.exe";

// Substring tests on the upper-cased command line, program path included.
RunOptions ParseOptions(const std::string& upperCommandLine);
// The switch texts, each found anywhere in the upper-cased command line.
inline constexpr const char* kSwitches[] = {"/NR", "/NA", "/SP", "/LOG", "/SCAN"};
// "/LOG" and "/SCAN" found as the other switches are, and the path after the
// first "/LOG=" (in any case) of the command line as given: up to the next
// blank, or between quotes when one follows the "="; empty when there is
// none.
SupportOptions ParseSupportOptions(const std::string& commandLine);

// What a run does next, given what it has found so far.
enum class Next {
  // Find something out. None of these changes what the next run does.
  FindProcessor,
  FindChipset,
  FindOs64Bit,
  FindWindows10,
  FindBootMode,  // the board's identity, the system disk and its partition style
  FindInstallStatus,
  FindInstallState,  // BiosUpdate, InstallFinish, OptanePath and the setup path
  FindSataMode,
  FindModules,
  FindIrstProductCode,
  // The start's bookkeeping: a scan skips these and goes on as if done.
  RemoveRestartEntry,
  ResetBiosUpdate,
  StoreOptanePath,
  // The steps of a road: a scan stops before the first.
  AskBiosQuestion,
  AwaitNetwork,
  FetchCatalogue,
  FetchPackage,
  RenewPackageFolder,
  UnpackPackage,
  FindFlashTool,
  CheckFlashToolSigner,
  CheckPowerSource,
  SuspendEncryption,
  RunFlashTool,
  AskUninstallQuestion,
  RunUninstaller,
  CheckSetupSigner,
  RunSetup,
  // The run ends (Decision::End says how).
  End,
};

enum class Road { None, Bios, Uninstall, Install };

// Every way a run ends.
enum class Ending {
  None,
  AnotherRunInProgress,
  ProcessorNotKabyLake,
  ChipsetNot200Series,
  NotWindows10x64,
  NotUefi,
  Completed,
  SataNotAhci,
  BiosDeclined,
  NetworkDeclined,
  CatalogueNotFetched,
  PackageNotFetched,
  PackageFolderNotRenewed,
  PackageNotUnpacked,
  PackageFolderNotListed,
  NoFlashTool,
  FlashToolNotTrusted,
  OnBattery,
  EncryptionNotSuspended,
  FlashToolNotStarted,
  FlashToolRan,
  UninstallDeclined,
  UninstallerFailed,
  UninstallerRan,
  SetupNotTrusted,
  SetupNotStarted,
  SetupFailed,
  SetupRan,
};

// How the ending's text reaches the user.
enum class Shown {
  Nothing,
  Box,          // a message box, unless "/SP"
  Question,     // the question that was answered No: shown already
  ConsoleLine,  // a line on standard output, in every mode
};

struct Decision {
  Next Step = Next::End;
  Road Taken = Road::None;  // once the road is known
  Ending End = Ending::None;
  std::string Message;
  Shown How = Shown::Nothing;
  std::int32_t ExitCode = 0;
  bool WritesExitCode = true;  // EXERetCode
  // Why: one line per finding that chose the road or the ending.
  std::vector<std::string> Reasons;
};

// The whole decision of a run: the next thing to find out or do, the road,
// and the ending with its message and exit code. Pure: the same findings
// give the same decision.
Decision Decide(const Findings& found);

inline constexpr std::uint16_t kIntel200SeriesChipsets[] = {0xA2C4, 0xA2C5, 0xA2C6, 0xA2C7, 0xA2C8};
bool Is200SeriesChipset(std::uint16_t deviceId);

// The second character of the BIOS version's text before its first "." as
// a decimal digit; none when there is no such character or it is no digit.
std::optional<int> BiosMajorDigit(const std::string& biosVersion);
// The firmware lists "OPTANE" version 1, or the BIOS major digit is 2 or more.
bool IsOptaneReady(const std::vector<ModuleVersion>& modules, const std::string& biosVersion);

struct SetupPathChoice {
  std::string SetupPath;
  std::optional<std::string> StoreOptanePath;  // the value to write, if any
};
// candidate is the current directory's setup path, stored the remembered one.
SetupPathChoice ChooseSetupPath(const std::string& candidate, const std::string& stored);

// The SATA gate stops a run whose SATA mode is not AHCI (0), unless a BIOS
// flash is pending (BiosUpdate as read now is not 0) or an installation was
// completed before.
bool SataGateStops(std::uint8_t sataMode, std::int32_t biosUpdateNow, std::int32_t installFinished);

// "AB/CD/E" gives "AB_CD_E.xml". The model name comes from the board: the
// result is a name from outside like the package's (IsPlainFileName).
std::string CatalogueFileName(const std::string& modelName);

// A package path from the catalogue must stay a path on the package server
// once the server's base is put in front of it: it begins with "/" (so
// neither "@host" nor ":port" can change the address) and holds no control
// character that could end the request line.
bool IsServerPath(const std::string& path);

// A file name from outside, the package's from the catalogue or the
// catalogue's made from the model name, must name a file in the current
// directory and nothing else: IsSafeFileName (common/Utils.h), which
// refuses among others "", "..", "\\", ":", control characters and device
// names such as NUL or COM1.
bool IsPlainFileName(const std::string& name);

// The answer of an installer child (MsiExec, Intel's setup program) that
// counts as success: 0, or 1641 and 3010 (a restart started or needed). -1,
// a program that could not be started or waited for, is a failure.
bool IsInstallerSuccess(std::int32_t exitCode);

// A flash does not start on battery: a battery that runs out mid-flash
// leaves a board that does not boot. Only a line reported offline (0)
// stops it; online (1) and unknown (255, a desktop that cannot tell) do not.
bool IsOnBattery(std::uint8_t acLineStatus);

}  // namespace kestrune::run
