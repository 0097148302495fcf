#include "install/InstallRun.h"

#include <array>
#include <cstdio>
#include <optional>
#include <vector>

#include "common/Utils.h"
#include "install/PackageFolder.h"
#include "install/UnattendedDialogs.h"
#include "platform/BoardIdentity.h"
#include "sys/Console.h"
#include "sys/Dialogs.h"
#include "sys/DirectoryListing.h"
#include "sys/ProcessEnvironment.h"
#include "sys/Registry.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

const std::string kEquals(42, '=');
constexpr const char* kCaption = "Kestrune";
constexpr const char* kSetupRelative = "\\Optane\\SetupOptaneMemory.exe";
constexpr const char* kCatalogueRequest = "/support/LiveUpdate.asp?Model=";
constexpr const char* kIrstKey = "Software\\Intel\\IRST";

// "VelnorPlatformConfig", vendor {EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}.
constexpr const char16_t* kPlatformConfigName = u"VelnorPlatformConfig";
constexpr std::array<std::uint8_t, 16> kPlatformConfigGuid = {0x43, 0xD6, 0x87, 0xEC, 0xA4, 0xEB, 0xB5, 0x4B,
                                                              0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9};
constexpr std::uint64_t kMaxVariableSize = 8192;

// Persistent values under kInstallStateKey.
constexpr const char* kInstallStatus = "InstallStatus";
constexpr const char* kBiosUpdate = "BiosUpdate";
constexpr const char* kInstallFinish = "InstallFinish";
constexpr const char* kExeRetCode = "EXERetCode";
constexpr const char* kOptanePath = "OptanePath";

const char* RoadName(run::Road road) {
  switch (road) {
    case run::Road::Bios:
      return "the BIOS road (download and flash a BIOS with Optane support)";
    case run::Road::Uninstall:
      return "the uninstall road (remove Intel RST)";
    case run::Road::Install:
      return "the install road (start Intel's setup program)";
    default:
      return "none";
  }
}

// A step that a scan does not take: it changes the machine, the install
// state or the restart entry, or asks the user.
bool IsRoadStep(run::Next step) { return step >= run::Next::AskBiosQuestion && step < run::Next::End; }

// The install state's key: a read through TAdvReg creates it, which a scan
// must not.
bool InstallStateKeyExists() {
  sys::RegKeyHandle key;
  return sys::Use<sys::IRegistry>().RegOpenKeyExA(sys::kHkeyCurrentUser, kInstallStateKey, sys::kKeyRead, key.Put()) ==
         0;
}

}  // namespace

InstallRun::InstallRun(RunCollaborators& collaborators, ServerBases servers)
    : Collaborators(collaborators), Servers(std::move(servers)) {}

std::int32_t InstallRun::Run() {
  const std::string commandLine = sys::Use<sys::IProcessEnvironment>().GetCommandLineA();
  Found.Options = run::ParseOptions(UpperCase(commandLine));
  Found.Support = run::ParseSupportOptions(commandLine);
  if (Found.Support.Log) {
    Log.Open(Found.Support.LogPath);
    Log.Write("Kestrune started: " + commandLine);
  }

  Print(kEquals + "\n");
  Print("  Velnor Kestrune Utility v" + GetFileVersionText(GetExePath()) + "\n");
  Print(kEquals + "\n");

  UnattendedDialogs noDialogs;
  std::optional<sys::ScopedSeam<sys::IDialogs>> unattended;
  if (Found.Options.Silent || Found.Support.Scan) {
    unattended.emplace(noDialogs);
  }

  // A second start while a run is in progress ends before it looks at
  // anything: the run in progress owns the machine, the install state and
  // EXERetCode.
  Found.RunLockTaken = Lock.Acquire();
  for (;;) {
    const run::Decision decision = run::Decide(Found);
    LogDecision(decision);
    if (Found.Support.Scan && (decision.Step == run::Next::End || IsRoadStep(decision.Step))) {
      return Report(decision);
    }
    if (decision.Step == run::Next::End) {
      return Finish(decision);
    }
    Take(decision.Step);
  }
}

void InstallRun::Take(run::Next step) {
  using run::Next;
  const bool scan = Found.Support.Scan;
  run::BiosRoadFindings& bios = Found.BiosRoad;
  switch (step) {
    case Next::FindProcessor:
      FindProcessor();
      break;
    case Next::FindChipset:
      Found.ChipsetId = Collaborators.ReadChipsetDeviceId();
      break;
    case Next::FindOs64Bit:
      Found.Os64Bit = Collaborators.Is64Bit();
      break;
    case Next::FindWindows10:
      Found.Windows10 = Collaborators.IsWindows10();
      break;
    case Next::FindBootMode:
      FindBootMode();
      break;
    case Next::RemoveRestartEntry:
      // In every run that gets here, "/NA" or not.
      if (!scan) {
        Collaborators.UnregisterRestartEntry(GetExeBaseName());
      }
      Found.RestartEntryRemoved = true;
      break;
    case Next::FindInstallStatus:
      Found.InstallStatus = ReadState(kInstallStatus);
      break;
    case Next::FindInstallState:
      FindInstallState();
      break;
    case Next::ResetBiosUpdate:
      if (!scan) {
        WriteState(kBiosUpdate, 0);
      }
      Found.BiosUpdateReset = true;
      break;
    case Next::StoreOptanePath:
      if (!scan) {
        WriteState(kOptanePath, *run::ChooseSetupPath(Found.SetupCandidate, *Found.OptanePath).StoreOptanePath);
      }
      Found.OptanePathStored = true;
      break;
    case Next::FindSataMode:
      FindSataMode();
      break;
    case Next::FindModules:
      FindModules();
      break;
    case Next::FindIrstProductCode:
      FindIrstProductCode();
      break;
    case Next::AskBiosQuestion:
      bios.Agreed = Ask(run::kBiosQuestion);
      break;
    case Next::AwaitNetwork:
      AwaitNetwork();
      break;
    case Next::FetchCatalogue:
      FetchCatalogue();
      break;
    case Next::FetchPackage:
      FetchPackage();
      break;
    case Next::RenewPackageFolder:
      RenewPackageFolder();
      break;
    case Next::UnpackPackage:
      // The tool that runs must come from this run's package: a package
      // that did not arrive whole starts nothing.
      bios.Unpacked = Collaborators.ProcessPackage(bios.PackagePath, bios.RomPath);
      break;
    case Next::FindFlashTool:
      FindFlashTool();
      break;
    case Next::CheckFlashToolSigner:
      // A tool that is not signed by the maker is not started at all.
      bios.ToolTrusted = HoldProgram(FlashToolPath()) && Collaborators.IsTrustedFlashTool(FlashToolPath());
      break;
    case Next::CheckPowerSource:
      bios.AcLineStatus = Collaborators.ReadAcLineStatus();
      break;
    case Next::SuspendEncryption:
      // Last, as it changes the machine: a protected system volume would
      // stop the next start at the recovery screen.
      bios.Encryption = Collaborators.SuspendDriveEncryption();
      break;
    case Next::RunFlashTool:
      RunFlashTool();
      break;
    case Next::AskUninstallQuestion:
      Found.DriverRoad.UninstallAgreed = Ask(run::kUninstallQuestion);
      break;
    case Next::RunUninstaller:
      RunUninstaller();
      break;
    case Next::CheckSetupSigner:
      Found.DriverRoad.SetupTrusted = HoldProgram(SetupPath()) && Collaborators.IsTrustedSetupProgram(SetupPath());
      break;
    case Next::RunSetup:
      RunSetup();
      break;
    case Next::End:
      break;
  }
}

void InstallRun::FindProcessor() {
  Found.KabyLake = Collaborators.IsKabyLake();
  if (Log.IsOpen()) {
    Log.Write("found: processor signature " + HexText(Collaborators.ReadProcessorSignature()));
  }
}

void InstallRun::FindBootMode() {
  BoardIdentity board = Collaborators.ReadBoardIdentity();
  Found.SystemDisk = Collaborators.GetSystemDiskNumber();
  Found.Gpt = Collaborators.IsGptDisk(*Found.SystemDisk);
  BoardBiosVersion = board.BiosVersion;
  BoardModelName = board.ModelName;
  Found.Board = std::move(board);
}

void InstallRun::FindInstallState() {
  Found.BiosUpdate = ReadState(kBiosUpdate);
  Found.InstallFinish = ReadState(kInstallFinish);
  const bool scanWithoutState = Found.Support.Scan && !InstallStateKeyExists();
  Found.OptanePath = scanWithoutState ? std::string() : Registry.ReadString(kInstallStateKey, kOptanePath);
  Found.SetupCandidate = GetCurrentDir() + kSetupRelative;
}

void InstallRun::FindSataMode() {
  Collaborators.AcquireAcpiTables();
  std::unique_ptr<IFirmwareVariableReader> variable = Collaborators.CreateVariableReader();
  // The variable is asked for with 4 bytes. When it is larger, the failed
  // read reports the size it needs and the second read asks for that much,
  // so the buffer grows with it (up to the firmware's limit).
  std::vector<std::uint8_t> data(4, 0);
  std::uint64_t size = data.size();
  std::uint32_t attributes = 0;
  const bool read = variable->GetVariable(kPlatformConfigName, kPlatformConfigGuid, data.data(), &size, &attributes);
  Print("SataMode=" + std::to_string(data[0]) + "\n");
  if (!read) {
    if (size > data.size() && size <= kMaxVariableSize) {
      data.resize(static_cast<std::size_t>(size), 0);
    } else if (size > data.size()) {
      size = data.size();
    }
    variable->GetVariable(kPlatformConfigName, kPlatformConfigGuid, data.data(), &size, &attributes);
  }
  Found.SataMode = data[0];
  // A scan left a BiosUpdate of 1 where it was; the run would have reset it.
  Found.BiosUpdateAtSataGate = Found.Support.Scan && Found.BiosUpdateReset ? 0 : ReadState(kBiosUpdate);
}

void InstallRun::FindModules() {
  Found.Modules = Collaborators.ReadModuleVersions();
  Collaborators.ReleaseAaftTable();
  Collaborators.ReleaseAcpiTables();
}

void InstallRun::FindIrstProductCode() {
  std::array<std::uint8_t, 260> buffer{};
  if (ReadRegistryString(sys::kHkeyLocalMachine, kIrstKey, "ProductCode", buffer,
                         sys::kKeyAllAccess | sys::kKeyWow64_32Key) == 0) {
    buffer.fill(0);
    ReadRegistryString(sys::kHkeyLocalMachine, kIrstKey, "ProductCode", buffer,
                       sys::kKeyAllAccess | sys::kKeyWow64_64Key);
  }
  std::string code(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  code.resize(code.find('\0') == std::string::npos ? code.size() : code.find('\0'));
  Found.IrstProductCode = code;
}

void InstallRun::AwaitNetwork() {
  while (!Collaborators.IsNetworkConnected()) {
    if (!Ask(run::kNetworkQuestion)) {
      Found.BiosRoad.NetworkAgreed = false;
      return;
    }
  }
  Found.BiosRoad.NetworkAgreed = true;
}

void InstallRun::FetchCatalogue() {
  const std::string catalogueName = run::CatalogueFileName(Found.Board->ModelName);
  const std::string url = Servers.WebBase + kCatalogueRequest + Found.Board->ModelName;
  // A model name that would make the catalogue's file a device or put it
  // outside the current directory is refused like a failed download.
  const bool plain = run::IsPlainFileName(catalogueName);
  Found.BiosRoad.Catalogue = run::Fetch{url, plain && Download(url, catalogueName)};
}

void InstallRun::FetchPackage() {
  const std::string cataloguePath = GetCurrentDir() + "\\" + run::CatalogueFileName(Found.Board->ModelName);
  const std::string filePath = ReplaceFirst(Collaborators.GetBiosFile(cataloguePath), "ROM", "WIN");
  const std::string packageUrl = Servers.PackageBase + filePath;
  const std::string packageName = TextAfterLast(filePath, "/", {});
  // A path that would lead to another host or port, or a name that would
  // write outside the current directory, is refused like a failed download.
  const bool safe = run::IsServerPath(filePath) && run::IsPlainFileName(packageName);
  Found.BiosRoad.PackagePath = GetCurrentDir() + "\\" + packageName;
  Found.BiosRoad.Package = run::Fetch{packageUrl, safe && Download(packageUrl, packageName)};
}

void InstallRun::RenewPackageFolder() {
  // The tool that runs must come from this run's package: the folder
  // starts empty.
  PackageFolder rom(GetCurrentDir() + "\\ROM");
  Found.BiosRoad.RomPath = rom.GetPath();
  Found.BiosRoad.RomRenewed = rom.Renew();
  if (!rom.GetMovedTo().empty()) {
    Log.Write("moved aside: " + rom.GetPath() + " -> " + rom.GetMovedTo());
  }
}

void InstallRun::FindFlashTool() {
  run::BiosRoadFindings& bios = Found.BiosRoad;
  std::vector<std::string> names;
  bios.ListingError = sys::Use<sys::IDirectoryListing>().ListDirectory(bios.RomPath, &names);
  if (*bios.ListingError != 0) {
    return;
  }
  for (const std::string& name : names) {
    Log.Write("unpacked: " + bios.RomPath + "\\" + name);
  }
  bios.FlashTool = PackageFolder(bios.RomPath).FindFlashTool(names).value_or(std::string());
}

void InstallRun::RunFlashTool() {
  WriteState(kBiosUpdate, 1);
  RegisterRestartUnlessNoAutoRun();
  Print("Ready to Update BIOS\n");
  bool started = false;
  const std::int32_t result =
      RunChild(FlashToolPath(), Found.Options.NoReboot ? "/S /C /NR" : "/S /C", true, [this, &started] {
        started = true;
        ReleaseProgram();
      });
  ReleaseProgram();
  Found.BiosRoad.Flash = run::ChildOutcome{started, result};
}

void InstallRun::RunUninstaller() {
  RegisterRestartUnlessNoAutoRun();
  const std::string arguments =
      "/x " + *Found.IrstProductCode + (Found.Options.NoReboot ? " /quiet" : " /quiet /forcerestart");
  // MsiExec that could not start answers -1 too: a failure either way, and
  // no restart will come for the entry just registered.
  const std::int32_t result = RunChild(run::kMsiExec, arguments, true, {});
  Found.DriverRoad.Uninstaller = run::ChildOutcome{result != -1, result};
}

void InstallRun::RunSetup() {
  const std::string setupPath = SetupPath();
  WriteState(kInstallStatus, 1);
  RegisterRestartUnlessNoAutoRun();
  Print("Ready to Install Driver " + setupPath + "\n");
  // The remembered path is forgotten only once the program has started (and
  // before it is waited for, since it may restart the machine meanwhile).
  bool started = false;
  const auto forgetPath = [this, &started] {
    started = true;
    ReleaseProgram();
    WriteState(kOptanePath, "");
  };
  const std::string arguments = Found.Options.NoReboot ? "-s" : "-s -b";
  std::int32_t result = 0;
  if (Found.Options.Silent) {
    result = RunChild(setupPath, arguments, true, forgetPath);
  } else if (Found.Options.NoReboot) {
    result = RunChild(setupPath, arguments, false, forgetPath);
  } else {
    // Normally the restart that the setup program performs ends the process
    // under the progress line; a setup program that ends first is answered.
    Log.Write("start: " + setupPath + " " + arguments + " (under the progress line)");
    result = Collaborators.RunProgramShowingProgress(setupPath, arguments, forgetPath);
    Log.Write("exit code: " + std::to_string(result));
  }
  ReleaseProgram();
  Found.DriverRoad.Setup = run::ChildOutcome{started, result};
}

bool InstallRun::HoldProgram(const std::string& path) {
  sys::IFiles& files = sys::Use<sys::IFiles>();
  // Shared for reading only: the check and the start read it, nobody
  // writes, deletes or renames it meanwhile.
  HeldProgram.Reset(
      files.CreateFileA(path, sys::kGenericRead, sys::kFileShareRead, sys::kOpenExisting, sys::kFileAttributeNormal));
  if (HeldProgram.Valid()) {
    return true;
  }
  const sys::Dword error = files.GetLastError();
  Log.Write("program not held: " + path + ": error " + std::to_string(error));
  return error == static_cast<sys::Dword>(sys::kErrorFileNotFound) ||
         error == static_cast<sys::Dword>(sys::kErrorPathNotFound);
}

void InstallRun::ReleaseProgram() { HeldProgram.Reset(); }

std::int32_t InstallRun::Finish(const run::Decision& decision) {
  using run::Ending;
  switch (decision.End) {
    case Ending::Completed:
      WriteState(kInstallStatus, 0);
      WriteState(kInstallFinish, 1);
      // The copy that the restart entry started is no longer needed.
      Collaborators.RemoveRestartCopy();
      break;
    case Ending::FlashToolNotStarted:
      // The next run must not take this run for a flash that happened.
      WriteState(kBiosUpdate, 0);
      // No restart will come for the entry registered before the start.
      UnregisterRestartUnlessNoAutoRun();
      break;
    case Ending::SetupNotTrusted:
    case Ending::SetupNotStarted:
    case Ending::SetupFailed:
      // The next run must not report a completion that never happened.
      WriteState(kInstallStatus, 0);
      if (decision.End != Ending::SetupFailed) {
        // A remembered path that does not start, or holds a program nobody
        // the build names has signed, would fail every later run: the next
        // start from a folder that holds the setup program uses that one.
        WriteState(kOptanePath, "");
      }
      UnregisterRestartUnlessNoAutoRun();
      break;
    case Ending::UninstallerFailed:
      UnregisterRestartUnlessNoAutoRun();
      break;
    default:
      break;
  }
  if (decision.How == run::Shown::Box) {
    Message(decision.Message);
  } else if (decision.How == run::Shown::ConsoleLine) {
    Print(decision.Message + "\n");
    sys::Use<sys::IConsole>().Flush();
  }
  if (decision.End == Ending::SataNotAhci) {
    Collaborators.ReleaseAcpiTables();
  }
  return decision.WritesExitCode ? EndWith(decision.ExitCode) : decision.ExitCode;
}

std::int32_t InstallRun::Report(const run::Decision& decision) {
  for (const std::string& reason : decision.Reasons) {
    Print("Scan: " + reason + "\n");
  }
  if (decision.Step != run::Next::End) {
    Print(std::string("Scan: the run would take ") + RoadName(decision.Taken) + "\n");
    return kExitCompleted;
  }
  Print("Scan: the run would end with " + std::to_string(decision.ExitCode) + ": " + decision.Message + "\n");
  return decision.End == run::Ending::Completed ? kExitCompleted : kExitFailed;
}

void InstallRun::LogDecision(const run::Decision& decision) {
  for (; ReasonsLogged < decision.Reasons.size(); ++ReasonsLogged) {
    Log.Write("found: " + decision.Reasons[ReasonsLogged]);
  }
  if (decision.Taken != RoadLogged) {
    RoadLogged = decision.Taken;
    Log.Write(std::string("road: ") + RoadName(decision.Taken));
  }
  if (decision.Step == run::Next::End) {
    Log.Write("end: exit code " + std::to_string(decision.ExitCode) +
              (decision.Message.empty() ? std::string() : ": " + decision.Message));
  }
}

std::string InstallRun::FlashToolPath() const {
  return Found.BiosRoad.RomPath + "\\" + Found.BiosRoad.FlashTool.value_or(std::string());
}

std::string InstallRun::SetupPath() const {
  return run::ChooseSetupPath(Found.SetupCandidate, Found.OptanePath.value_or(std::string())).SetupPath;
}

bool InstallRun::Download(const std::string& url, const std::string& fileName) {
  std::vector<DownloadAttempt> attempts;
  const bool stored = Collaborators.DownloadFileSync(url, fileName, attempts);
  for (std::size_t i = 0; i < attempts.size(); ++i) {
    Log.Write("download attempt " + std::to_string(i + 1) + ": " + url + " -> " + fileName + ": HTTP " +
              std::to_string(attempts[i].HttpStatus) + ", " + std::to_string(attempts[i].Stored) + " of " +
              std::to_string(attempts[i].Announced) + " bytes stored");
  }
  Log.Write("download: " + url + " -> " + fileName + (stored ? ": stored" : ": failed"));
  return stored;
}

std::int32_t InstallRun::RunChild(const std::string& path, const std::string& arguments, bool wait,
                                  const std::function<void()>& onStarted) {
  Log.Write("start: " + path + " " + arguments + (wait ? "" : " (not waited for)"));
  const std::int32_t result = Collaborators.RunProgram(path, arguments, wait, onStarted);
  Log.Write("exit code: " + std::to_string(result));
  return result;
}

void InstallRun::Print(const std::string& text) {
  sys::Use<sys::IConsole>().Write(text);
  Log.Write(text);
}

void InstallRun::Message(const std::string& text) {
  Log.Write("message: " + text);
  if (!Found.Options.Silent) {
    sys::Use<sys::IDialogs>().MessageBoxA(text, kCaption, sys::kMbOk | sys::kMbIconInformation);
  }
}

bool InstallRun::Ask(const std::string& question) {
  const bool yes = Found.Options.Silent || sys::Use<sys::IDialogs>().MessageBoxA(
                                               question, kCaption, sys::kMbYesNo | sys::kMbIconQuestion) != sys::kIdNo;
  Log.Write("question: " + question + (yes ? " -> Yes" : " -> No"));
  return yes;
}

std::int32_t InstallRun::ReadState(const char* name) {
  if (Found.Support.Scan && !InstallStateKeyExists()) {
    return 0;
  }
  return Registry.ReadInteger(kInstallStateKey, name);
}

void InstallRun::WriteState(const char* name, std::int32_t value) {
  Registry.WriteInteger(kInstallStateKey, name, value);
  Log.Write(std::string("registry: ") + name + " := " + std::to_string(value));
}

void InstallRun::WriteState(const char* name, const std::string& value) {
  Registry.WriteString(kInstallStateKey, name, value);
  Log.Write(std::string("registry: ") + name + " := \"" + value + "\"");
}

std::int32_t InstallRun::EndWith(std::int32_t code) {
  WriteState(kExeRetCode, code);
  return code;
}

void InstallRun::RegisterRestartUnlessNoAutoRun() {
  if (!Found.Options.NoAutoRun) {
    Collaborators.RegisterRestartEntry(GetExeBaseName());
    Log.Write("restart entry registered: " + GetExeBaseName());
  }
}

void InstallRun::UnregisterRestartUnlessNoAutoRun() {
  if (!Found.Options.NoAutoRun) {
    Collaborators.UnregisterRestartEntry(GetExeBaseName());
  }
}

}  // namespace kestrune
