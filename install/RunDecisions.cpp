#include "install/RunDecisions.h"

#include <algorithm>

#include "common/Utils.h"

namespace kestrune::run {

namespace {

constexpr const char* kDownloadFail = "DownloadFileSync Fail!";
constexpr const char* kBiosFail = "Update BIOS Fail!";
constexpr const char* kUninstallFail = "Uninstall Driver Fail!";
constexpr const char* kInstallFail = "Install Driver Fail!";

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// One decision as it is built: the reasons gathered on the way.
class DecisionBuilder {
 public:
  void Reason(std::string line) { Reasons.push_back(std::move(line)); }
  void Take(Road road) { Taken = road; }
  Road RoadTaken() const { return Taken; }

  Decision Find(Next step) const {
    Decision decision;
    decision.Step = step;
    decision.Taken = Taken;
    decision.Reasons = Reasons;
    return decision;
  }

  Decision End(Ending ending, std::string message, Shown how, std::int32_t exitCode) const {
    Decision decision = Find(Next::End);
    decision.End = ending;
    decision.Message = std::move(message);
    decision.How = how;
    decision.ExitCode = exitCode;
    return decision;
  }

 private:
  Road Taken = Road::None;
  std::vector<std::string> Reasons;
};

std::string ModulesText(const std::vector<ModuleVersion>& modules) {
  std::string text;
  for (const ModuleVersion& module : modules) {
    text += (text.empty() ? "" : ", ") + module.Name + " " + std::to_string(module.Version);
  }
  return text.empty() ? "none" : text;
}

// The gates of the platform; none when all of them pass.
std::optional<Decision> DecideGates(const Findings& found, DecisionBuilder& decision) {
  if (!found.KabyLake) {
    return decision.Find(Next::FindProcessor);
  }
  decision.Reason("processor: Kaby Lake " + YesNo(*found.KabyLake));
  if (!*found.KabyLake) {
    if (!found.ChipsetId) {
      return decision.Find(Next::FindChipset);
    }
    const bool series200 = Is200SeriesChipset(*found.ChipsetId);
    decision.Reason("chipset: " + HexText(*found.ChipsetId) + ", 200 series " + YesNo(series200));
    return series200
               ? decision.End(Ending::ProcessorNotKabyLake, "Unsupport non-Kabylake CPU!", Shown::Box, kExitFailed)
               : decision.End(Ending::ChipsetNot200Series, "Unsupport non-200 series model!", Shown::Box, kExitFailed);
  }
  if (!found.Os64Bit) {
    return decision.Find(Next::FindOs64Bit);
  }
  if (*found.Os64Bit && !found.Windows10) {
    return decision.Find(Next::FindWindows10);
  }
  const bool windows10 = *found.Os64Bit && *found.Windows10;
  decision.Reason("system: 64-bit " + YesNo(*found.Os64Bit) + ", Windows 10 " +
                  (*found.Os64Bit ? YesNo(*found.Windows10) : "not asked"));
  if (!windows10) {
    return decision.End(Ending::NotWindows10x64, "Unsupport OS non-Windows 10 64bits!", Shown::Box, kExitFailed);
  }
  if (!found.Gpt || !found.Board || !found.SystemDisk) {
    return decision.Find(Next::FindBootMode);
  }
  decision.Reason("board: model \"" + found.Board->ModelName + "\", BIOS version \"" + found.Board->BiosVersion + "\"");
  decision.Reason("system disk: " + std::to_string(*found.SystemDisk) + ", GPT " + YesNo(*found.Gpt));
  if (!*found.Gpt) {
    return decision.End(Ending::NotUefi, "Unsupport OS non-UEFI mode!", Shown::Box, kExitFailed);
  }
  return std::nullopt;
}

// The install state, the SATA gate and the choice of the road; none once
// the road is known.
std::optional<Decision> DecideState(const Findings& found, DecisionBuilder& decision) {
  if (!found.RestartEntryRemoved) {
    return decision.Find(Next::RemoveRestartEntry);
  }
  if (!found.InstallStatus) {
    return decision.Find(Next::FindInstallStatus);
  }
  decision.Reason("InstallStatus: " + std::to_string(*found.InstallStatus));
  if (*found.InstallStatus == 1) {
    return decision.End(Ending::Completed, "Installation complete!", Shown::Box, kExitCompleted);
  }
  if (!found.BiosUpdate || !found.InstallFinish || !found.OptanePath) {
    return decision.Find(Next::FindInstallState);
  }
  decision.Reason("BiosUpdate: " + std::to_string(*found.BiosUpdate) + ", InstallFinish: " +
                  std::to_string(*found.InstallFinish) + ", OptanePath: \"" + *found.OptanePath + "\"");
  if (*found.BiosUpdate == 1 && !found.BiosUpdateReset) {
    return decision.Find(Next::ResetBiosUpdate);
  }
  if (ChooseSetupPath(found.SetupCandidate, *found.OptanePath).StoreOptanePath && !found.OptanePathStored) {
    return decision.Find(Next::StoreOptanePath);
  }
  if (!found.SataMode || !found.BiosUpdateAtSataGate) {
    return decision.Find(Next::FindSataMode);
  }
  const bool sataStops = SataGateStops(*found.SataMode, *found.BiosUpdateAtSataGate, *found.InstallFinish);
  decision.Reason("SATA mode: " + std::to_string(*found.SataMode) + (*found.SataMode == 0 ? " (AHCI)" : "") +
                  ", the gate " + (sataStops ? "stops the run" : "lets the run go on"));
  if (sataStops) {
    return decision.End(Ending::SataNotAhci, "Unsupport sata non-AHCI mode!", Shown::Box, kExitFailed);
  }
  if (!found.Modules) {
    return decision.Find(Next::FindModules);
  }
  const bool ready = IsOptaneReady(*found.Modules, found.Board->BiosVersion);
  decision.Reason("AAFT modules: " + ModulesText(*found.Modules) + "; Optane support " + YesNo(ready) +
                  (*found.BiosUpdate == 1 ? "; a BIOS flash came before this run" : ""));
  if (*found.BiosUpdate != 1 && !ready) {
    decision.Take(Road::Bios);
    return std::nullopt;
  }
  if (!found.IrstProductCode) {
    return decision.Find(Next::FindIrstProductCode);
  }
  decision.Reason("Intel RST product code: " + (found.IrstProductCode->empty() ? "none" : *found.IrstProductCode));
  decision.Take(found.IrstProductCode->empty() ? Road::Install : Road::Uninstall);
  return std::nullopt;
}

Decision DecideBiosRoad(const Findings& found, const DecisionBuilder& decision) {
  const BiosRoadFindings& road = found.BiosRoad;
  if (!road.Agreed) {
    return decision.Find(Next::AskBiosQuestion);
  }
  if (!*road.Agreed) {
    return decision.End(Ending::BiosDeclined, kBiosQuestion, Shown::Question, kExitDeclined);
  }
  if (!found.Options.Silent) {
    if (!road.NetworkAgreed) {
      return decision.Find(Next::AwaitNetwork);
    }
    if (!*road.NetworkAgreed) {
      return decision.End(Ending::NetworkDeclined, kNetworkQuestion, Shown::Question, kExitDeclined);
    }
  }
  if (!road.Catalogue) {
    return decision.Find(Next::FetchCatalogue);
  }
  if (!road.Catalogue->Stored) {
    return decision.End(Ending::CatalogueNotFetched, kDownloadFail + road.Catalogue->Url, Shown::Box, kExitFailed);
  }
  if (!road.Package) {
    return decision.Find(Next::FetchPackage);
  }
  if (!road.Package->Stored) {
    return decision.End(Ending::PackageNotFetched, kDownloadFail + road.Package->Url, Shown::Box, kExitFailed);
  }
  if (!road.RomRenewed) {
    return decision.Find(Next::RenewPackageFolder);
  }
  if (!*road.RomRenewed) {
    return decision.End(Ending::PackageFolderNotRenewed, kBiosFail + road.RomPath, Shown::Box, kExitFailed);
  }
  if (!road.Unpacked) {
    return decision.Find(Next::UnpackPackage);
  }
  if (!*road.Unpacked) {
    return decision.End(Ending::PackageNotUnpacked, kBiosFail + road.PackagePath, Shown::Box, kExitFailed);
  }
  if (!road.ListingError || (*road.ListingError == 0 && !road.FlashTool)) {
    return decision.Find(Next::FindFlashTool);
  }
  if (*road.ListingError != 0) {
    return decision.End(Ending::PackageFolderNotListed,
                        "Error(" + std::to_string(*road.ListingError) + ") opening " + road.RomPath, Shown::ConsoleLine,
                        kExitFailed);
  }
  const std::string toolPath = road.RomPath + "\\" + *road.FlashTool;
  if (road.FlashTool->empty()) {
    return decision.End(Ending::NoFlashTool, kBiosFail + toolPath, Shown::Box, kExitFailed);
  }
  if (!road.ToolTrusted) {
    return decision.Find(Next::CheckFlashToolSigner);
  }
  if (!*road.ToolTrusted) {
    return decision.End(Ending::FlashToolNotTrusted, kBiosFail + toolPath, Shown::Box, kExitFailed);
  }
  if (!road.AcLineStatus) {
    return decision.Find(Next::CheckPowerSource);
  }
  if (IsOnBattery(*road.AcLineStatus)) {
    return decision.End(Ending::OnBattery, "Please connect the AC power before updating the BIOS!", Shown::Box,
                        kExitFailed);
  }
  if (!road.Encryption) {
    return decision.Find(Next::SuspendEncryption);
  }
  if (*road.Encryption == EncryptionSuspension::NotSuspended) {
    return decision.End(Ending::EncryptionNotSuspended, "Please suspend BitLocker before updating the BIOS!",
                        Shown::Box, kExitFailed);
  }
  if (!road.Flash) {
    return decision.Find(Next::RunFlashTool);
  }
  // The tool's own answer is not looked at: once it has run, the flash is
  // what the next run finds.
  return road.Flash->Started ? decision.End(Ending::FlashToolRan, "", Shown::Nothing, kExitRestartPending)
                             : decision.End(Ending::FlashToolNotStarted, kBiosFail + toolPath, Shown::Box, kExitFailed);
}

Decision DecideUninstallRoad(const Findings& found, const DecisionBuilder& decision) {
  const DriverRoadFindings& road = found.DriverRoad;
  if (!road.UninstallAgreed) {
    return decision.Find(Next::AskUninstallQuestion);
  }
  if (!*road.UninstallAgreed) {
    return decision.End(Ending::UninstallDeclined, kUninstallQuestion, Shown::Question, kExitDeclined);
  }
  if (!road.Uninstaller) {
    return decision.Find(Next::RunUninstaller);
  }
  // MsiExec that could not start answers -1 too: a failure either way.
  if (!IsInstallerSuccess(road.Uninstaller->ExitCode)) {
    return decision.End(Ending::UninstallerFailed, std::string(kUninstallFail) + kMsiExec, Shown::Box, kExitFailed);
  }
  return decision.End(Ending::UninstallerRan, "", Shown::Nothing, kExitRestartPending);
}

Decision DecideInstallRoad(const Findings& found, const DecisionBuilder& decision) {
  const DriverRoadFindings& road = found.DriverRoad;
  const std::string setupPath = ChooseSetupPath(found.SetupCandidate, found.OptanePath.value_or("")).SetupPath;
  // Started with administrator rights from a folder others may write to:
  // only a program that a signer the build names has signed.
  if (!road.SetupTrusted) {
    return decision.Find(Next::CheckSetupSigner);
  }
  if (!*road.SetupTrusted) {
    return decision.End(Ending::SetupNotTrusted, kInstallFail + setupPath, Shown::Box, kExitFailed);
  }
  if (!road.Setup) {
    return decision.Find(Next::RunSetup);
  }
  if (!road.Setup->Started) {
    return decision.End(Ending::SetupNotStarted, kInstallFail + setupPath, Shown::Box, kExitFailed);
  }
  if (!IsInstallerSuccess(road.Setup->ExitCode)) {
    return decision.End(Ending::SetupFailed, kInstallFail + setupPath, Shown::Box, kExitFailed);
  }
  return decision.End(Ending::SetupRan, "", Shown::Nothing, kExitRestartPending);
}

}  // namespace

RunOptions ParseOptions(const std::string& upperCommandLine) {
  RunOptions options;
  options.NoReboot = upperCommandLine.find("/NR") != std::string::npos;
  options.NoAutoRun = upperCommandLine.find("/NA") != std::string::npos;
  options.Silent = upperCommandLine.find("/SP") != std::string::npos;
  return options;
}

SupportOptions ParseSupportOptions(const std::string& commandLine) {
  const std::string upper = UpperCase(commandLine);
  SupportOptions options;
  options.Log = upper.find("/LOG") != std::string::npos;
  options.Scan = upper.find("/SCAN") != std::string::npos;
  const std::size_t at = upper.find("/LOG=");
  if (at == std::string::npos) {
    return options;
  }
  const std::size_t start = at + 5;
  if (start < commandLine.size() && commandLine[start] == '"') {
    const std::size_t end = commandLine.find('"', start + 1);
    options.LogPath = commandLine.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  } else {
    const std::size_t end = commandLine.find_first_of(" \t", start);
    options.LogPath = commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  return options;
}

Decision Decide(const Findings& found) {
  DecisionBuilder decision;
  if (!found.RunLockTaken) {
    decision.Reason("another run of the program is in progress");
    Decision ended =
        decision.End(Ending::AnotherRunInProgress, "Kestrune is already running!", Shown::Box, kExitFailed);
    // The run in progress owns EXERetCode.
    ended.WritesExitCode = false;
    return ended;
  }
  if (std::optional<Decision> gate = DecideGates(found, decision)) {
    return *gate;
  }
  if (std::optional<Decision> state = DecideState(found, decision)) {
    return *state;
  }
  switch (decision.RoadTaken()) {
    case Road::Bios:
      return DecideBiosRoad(found, decision);
    case Road::Uninstall:
      return DecideUninstallRoad(found, decision);
    default:
      return DecideInstallRoad(found, decision);
  }
}

bool Is200SeriesChipset(std::uint16_t deviceId) {
  return std::find(std::begin(kIntel200SeriesChipsets), std::end(kIntel200SeriesChipsets), deviceId) !=
         std::end(kIntel200SeriesChipsets);
}

std::optional<int> BiosMajorDigit(const std::string& biosVersion) {
  const std::string head = TextBefore(biosVersion, ".", {});
  if (head.size() < 2 || head[1] < '0' || head[1] > '9') {
    return std::nullopt;
  }
  return head[1] - '0';
}

bool IsOptaneReady(const std::vector<ModuleVersion>& modules, const std::string& biosVersion) {
  const bool listed = std::any_of(modules.begin(), modules.end(), [](const ModuleVersion& module) {
    return module.Name == "OPTANE" && module.Version == 1;
  });
  if (listed) {
    return true;
  }
  const std::optional<int> digit = BiosMajorDigit(biosVersion);
  return digit.has_value() && *digit >= 2;
}

SetupPathChoice ChooseSetupPath(const std::string& candidate, const std::string& stored) {
  if (candidate.find("system") != std::string::npos) {
    return {stored, std::nullopt};
  }
  if (stored.empty()) {
    return {candidate, candidate};
  }
  return {stored, stored};
}

bool SataGateStops(std::uint8_t sataMode, std::int32_t biosUpdateNow, std::int32_t installFinished) {
  return sataMode != 0 && biosUpdateNow == 0 && installFinished != 1;
}

std::string CatalogueFileName(const std::string& modelName) {
  std::string fileModel = modelName;
  std::replace(fileModel.begin(), fileModel.end(), '/', '_');
  return fileModel + ".xml";
}

bool IsServerPath(const std::string& path) {
  return path.starts_with('/') && std::none_of(path.begin(), path.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return byte < 0x20 || byte == 0x7F;
         });
}

bool IsPlainFileName(const std::string& name) { return IsSafeFileName(name); }

bool IsInstallerSuccess(std::int32_t exitCode) {
  constexpr std::int32_t kRestartInitiated = 1641;
  constexpr std::int32_t kRestartRequired = 3010;
  return exitCode == 0 || exitCode == kRestartInitiated || exitCode == kRestartRequired;
}

bool IsOnBattery(std::uint8_t acLineStatus) {
  constexpr std::uint8_t kAcLineOffline = 0;
  return acLineStatus == kAcLineOffline;
}

}  // namespace kestrune::run
