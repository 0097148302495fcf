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
#include "sys/Seam.h"

namespace kestrune {

namespace {

const std::string kEquals(42, '=');
constexpr const char* kCaption = "Kestrune";
constexpr const char* kSetupRelative = "\\Optane\\SetupOptaneMemory.exe";
constexpr const char* kCatalogueRequest = "/support/LiveUpdate.asp?Model=";
constexpr const char* kIrstKey = "Software\\Intel\\IRST";
constexpr const char* kMsiExec = "C:\\Windows\\System32\\MsiExec.exe";

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

constexpr const char* kAlreadyRunning = "Kestrune is already running!";
constexpr const char* kBiosFail = "Update BIOS Fail!";
constexpr const char* kConnectAcPower = "Please connect the AC power before updating the BIOS!";
constexpr const char* kSuspendBitLocker = "Please suspend BitLocker before updating the BIOS!";
constexpr const char* kUninstallFail = "Uninstall Driver Fail!";
constexpr const char* kInstallFail = "Install Driver Fail!";

constexpr const char* kBiosQuestion =
    "System will update Bios to support Intel Optane Memory, please note all current setting will be "
    "removed!\nDo you want to contiune?";
constexpr const char* kNetworkQuestion =
    "No network connection! Please confirm network connection!\nDo you want to contiune?";
constexpr const char* kUninstallQuestion =
    "The Intel RST driver in this computer is not updated, system will uninstall current version for newer "
    "driver, please note all current setting will be removed!\nDo you want to contiune?";

}  // namespace

InstallRun::InstallRun(RunCollaborators& platform, ServerBases servers)
    : Platform(platform), Servers(std::move(servers)) {}

std::int32_t InstallRun::Run() {
  Print(kEquals + "\n");
  Print("  Velnor Kestrune Utility v" + GetFileVersionText(GetExePath()) + "\n");
  Print(kEquals + "\n");

  Options = run::ParseOptions(UpperCase(sys::Use<sys::IProcessEnvironment>().GetCommandLineA()));
  UnattendedDialogs noDialogs;
  std::optional<sys::ScopedSeam<sys::IDialogs>> unattended;
  if (Options.Silent) {
    unattended.emplace(noDialogs);
  }

  // A second start while a run is in progress ends before it looks at
  // anything: the run in progress owns the machine, the install state and
  // EXERetCode.
  if (!Lock.Acquire()) {
    Message(kAlreadyRunning);
    return kExitFailed;
  }

  if (!PassesProcessorGate() || !PassesOsGate() || !PassesBootModeGate()) {
    return EndWith(kExitFailed);
  }

  Platform.UnregisterRestartEntry(GetExeBaseName());

  if (Registry.ReadInteger(kInstallStateKey, kInstallStatus) == 1) {
    Registry.WriteInteger(kInstallStateKey, kInstallStatus, 0);
    Registry.WriteInteger(kInstallStateKey, kInstallFinish, 1);
    Message("Installation complete!");
    return EndWith(kExitCompleted);
  }

  ReadBookkeeping();
  if (!PassesSataGate()) {
    return EndWith(kExitFailed);
  }
  const bool optaneReady = ReadOptaneReady();
  return BiosUpdated || optaneReady ? DriverRoad() : BiosRoad();
}

bool InstallRun::PassesProcessorGate() {
  if (Platform.IsKabyLake()) {
    return true;
  }
  Message(run::Is200SeriesChipset(Platform.ReadChipsetDeviceId()) ? "Unsupport non-Kabylake CPU!"
                                                                  : "Unsupport non-200 series model!");
  return false;
}

bool InstallRun::PassesOsGate() {
  if (Platform.Is64Bit() && Platform.IsWindows10()) {
    return true;
  }
  Message("Unsupport OS non-Windows 10 64bits!");
  return false;
}

bool InstallRun::PassesBootModeGate() {
  BoardIdentity board = Platform.ReadBoardIdentity();
  const bool gpt = Platform.IsGptDisk(Platform.GetSystemDiskNumber());
  BoardBiosVersion = std::move(board.BiosVersion);
  BoardModelName = std::move(board.ModelName);
  if (!gpt) {
    Message("Unsupport OS non-UEFI mode!");
  }
  return gpt;
}

void InstallRun::ReadBookkeeping() {
  if (Registry.ReadInteger(kInstallStateKey, kBiosUpdate) == 1) {
    BiosUpdated = true;
    Registry.WriteInteger(kInstallStateKey, kBiosUpdate, 0);
  }
  InstallFinished = Registry.ReadInteger(kInstallStateKey, kInstallFinish);

  const std::string candidate = GetCurrentDir() + kSetupRelative;
  const run::SetupPathChoice choice =
      run::ChooseSetupPath(candidate, Registry.ReadString(kInstallStateKey, kOptanePath));
  SetupPath = choice.SetupPath;
  if (choice.StoreOptanePath) {
    Registry.WriteString(kInstallStateKey, kOptanePath, *choice.StoreOptanePath);
  }
}

bool InstallRun::PassesSataGate() {
  Platform.AcquireAcpiTables();
  std::unique_ptr<IFirmwareVariableReader> variable = Platform.CreateVariableReader();
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
  const std::uint8_t sataMode = data[0];
  if (run::SataGateStops(sataMode, Registry.ReadInteger(kInstallStateKey, kBiosUpdate), InstallFinished)) {
    Message("Unsupport sata non-AHCI mode!");
    Platform.ReleaseAcpiTables();
    return false;
  }
  return true;
}

bool InstallRun::ReadOptaneReady() {
  const std::vector<ModuleVersion> modules = Platform.ReadModuleVersions();
  Platform.ReleaseAaftTable();
  Platform.ReleaseAcpiTables();
  return run::IsOptaneReady(modules, BoardBiosVersion);
}

std::int32_t InstallRun::BiosRoad() {
  if (!Ask(kBiosQuestion)) {
    return EndWith(kExitDeclined);
  }
  if (!Options.Silent) {
    while (!Platform.IsNetworkConnected()) {
      if (!Ask(kNetworkQuestion)) {
        return EndWith(kExitDeclined);
      }
    }
  }

  const std::string catalogueName = run::CatalogueFileName(BoardModelName);
  const std::string cataloguePath = GetCurrentDir() + "\\" + catalogueName;
  const std::string url = Servers.WebBase + kCatalogueRequest + BoardModelName;
  // A model name that would make the catalogue's file a device or put it
  // outside the current directory is refused like a failed download.
  if (!run::IsPlainFileName(catalogueName) || !Platform.DownloadFileSync(url, catalogueName)) {
    Message("DownloadFileSync Fail!" + url);
    return EndWith(kExitFailed);
  }

  const std::string filePath = ReplaceFirst(Platform.GetBiosFile(cataloguePath), "ROM", "WIN");
  const std::string packageUrl = Servers.PackageBase + filePath;
  const std::string packageName = TextAfterLast(filePath, "/", {});
  // A path that would lead to another host or port, or a name that would
  // write outside the current directory, is refused like a failed download.
  if (!run::IsServerPath(filePath) || !run::IsPlainFileName(packageName) ||
      !Platform.DownloadFileSync(packageUrl, packageName)) {
    Message("DownloadFileSync Fail!" + packageUrl);
    return EndWith(kExitFailed);
  }

  // The tool that runs must come from this run's package: the folder starts
  // empty, and a package that did not arrive whole starts nothing.
  const std::string packagePath = GetCurrentDir() + "\\" + packageName;
  PackageFolder rom(GetCurrentDir() + "\\ROM");
  if (!rom.Renew()) {
    Message(kBiosFail + rom.GetPath());
    return EndWith(kExitFailed);
  }
  if (!Platform.ProcessPackage(packagePath, rom.GetPath())) {
    Message(kBiosFail + packagePath);
    return EndWith(kExitFailed);
  }

  std::vector<std::string> names;
  if (const int error = sys::Use<sys::IDirectoryListing>().ListDirectory(rom.GetPath(), &names); error != 0) {
    Print("Error(" + std::to_string(error) + ") opening " + rom.GetPath() + "\n");
    sys::Use<sys::IConsole>().Flush();
    return EndWith(kExitFailed);
  }
  const std::optional<std::string> tool = rom.FindFlashTool(names);
  const std::string toolPath = rom.GetPath() + "\\" + tool.value_or(std::string());
  if (!tool) {
    // Nothing has been recorded for a flash yet.
    Message(kBiosFail + toolPath);
    return EndWith(kExitFailed);
  }

  // The guards of the flash itself: nothing has been recorded for it yet.
  // A tool that is not signed by the maker is not started at all.
  if (!Platform.IsTrustedFlashTool(toolPath)) {
    Message(kBiosFail + toolPath);
    return EndWith(kExitFailed);
  }
  if (run::IsOnBattery(Platform.ReadAcLineStatus())) {
    Message(kConnectAcPower);
    return EndWith(kExitFailed);
  }
  // Last, as it changes the machine: a protected system volume would stop
  // the next start at the recovery screen.
  if (Platform.SuspendDriveEncryption() == EncryptionSuspension::NotSuspended) {
    Message(kSuspendBitLocker);
    return EndWith(kExitFailed);
  }

  Registry.WriteInteger(kInstallStateKey, kBiosUpdate, 1);
  RegisterRestartUnlessNoAutoRun();
  Print("Ready to Update BIOS\n");
  bool started = false;
  // The tool's own answer is not looked at: once it has run, the flash is
  // what the next run finds.
  Platform.RunProgram(toolPath, Options.NoReboot ? "/S /C /NR" : "/S /C", true, [&started] { started = true; });
  return started ? EndWith(kExitRestartPending) : FlashToolNotStarted(toolPath);
}

std::int32_t InstallRun::FlashToolNotStarted(const std::string& toolPath) {
  // The next run must not take this run for a flash that happened.
  Registry.WriteInteger(kInstallStateKey, kBiosUpdate, 0);
  return ChildProgramFailed(kBiosFail + toolPath);
}

std::int32_t InstallRun::DriverRoad() {
  std::array<std::uint8_t, 260> buffer{};
  if (ReadRegistryString(sys::kHkeyLocalMachine, kIrstKey, "ProductCode", buffer,
                         sys::kKeyAllAccess | sys::kKeyWow64_32Key) == 0) {
    buffer.fill(0);
    ReadRegistryString(sys::kHkeyLocalMachine, kIrstKey, "ProductCode", buffer,
                       sys::kKeyAllAccess | sys::kKeyWow64_64Key);
  }
  std::string code(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  code.resize(code.find('\0') == std::string::npos ? code.size() : code.find('\0'));

  if (!code.empty()) {
    if (!Ask(kUninstallQuestion)) {
      return EndWith(kExitDeclined);
    }
    RegisterRestartUnlessNoAutoRun();
    const std::int32_t result = Platform.RunProgram(
        kMsiExec, "/x " + code + (Options.NoReboot ? " /quiet" : " /quiet /forcerestart"), true, {});
    // MsiExec that could not start answers -1 too: a failure either way, and
    // no restart will come for the entry just registered.
    if (!run::IsInstallerSuccess(result)) {
      return ChildProgramFailed(kUninstallFail + std::string(kMsiExec));
    }
    return EndWith(kExitRestartPending);
  }

  Registry.WriteInteger(kInstallStateKey, kInstallStatus, 1);
  RegisterRestartUnlessNoAutoRun();
  Print("Ready to Install Driver " + SetupPath + "\n");
  // The remembered path is forgotten only once the program has started (and
  // before it is waited for, since it may restart the machine meanwhile).
  bool started = false;
  const auto forgetPath = [this, &started] {
    started = true;
    Registry.WriteString(kInstallStateKey, kOptanePath, "");
  };
  const std::string arguments = Options.NoReboot ? "-s" : "-s -b";
  std::int32_t result = 0;
  if (Options.Silent) {
    result = Platform.RunProgram(SetupPath, arguments, true, forgetPath);
  } else if (Options.NoReboot) {
    result = Platform.RunProgram(SetupPath, arguments, false, forgetPath);
  } else {
    // Normally the restart that the setup program performs ends the process
    // under the progress line; a setup program that ends first is answered.
    result = Platform.RunProgramShowingProgress(SetupPath, arguments, forgetPath);
  }
  if (!started || !run::IsInstallerSuccess(result)) {
    return SetupFailed(started);
  }
  return EndWith(kExitRestartPending);
}

std::int32_t InstallRun::SetupFailed(bool started) {
  // The next run must not report a completion that never happened.
  Registry.WriteInteger(kInstallStateKey, kInstallStatus, 0);
  if (!started) {
    // A remembered path that does not start (its folder gone with the kit
    // that brought it) would fail every later run: the next start from a
    // folder that holds the setup program uses that one.
    Registry.WriteString(kInstallStateKey, kOptanePath, "");
  }
  return ChildProgramFailed(kInstallFail + SetupPath);
}

std::int32_t InstallRun::ChildProgramFailed(const std::string& message) {
  // No restart will come for the entry registered before the start.
  UnregisterRestartUnlessNoAutoRun();
  Message(message);
  return EndWith(kExitFailed);
}

void InstallRun::Print(const std::string& text) { sys::Use<sys::IConsole>().Write(text); }

void InstallRun::Message(const std::string& text) {
  if (!Options.Silent) {
    sys::Use<sys::IDialogs>().MessageBoxA(text, kCaption, sys::kMbOk | sys::kMbIconInformation);
  }
}

bool InstallRun::Ask(const std::string& question) {
  if (Options.Silent) {
    return true;
  }
  return sys::Use<sys::IDialogs>().MessageBoxA(question, kCaption, sys::kMbYesNo | sys::kMbIconQuestion) != sys::kIdNo;
}

std::int32_t InstallRun::EndWith(std::int32_t code) {
  Registry.WriteInteger(kInstallStateKey, kExeRetCode, code);
  return code;
}

void InstallRun::RegisterRestartUnlessNoAutoRun() {
  if (!Options.NoAutoRun) {
    Platform.RegisterRestartEntry(GetExeBaseName());
  }
}

void InstallRun::UnregisterRestartUnlessNoAutoRun() {
  if (!Options.NoAutoRun) {
    Platform.UnregisterRestartEntry(GetExeBaseName());
  }
}

}  // namespace kestrune
