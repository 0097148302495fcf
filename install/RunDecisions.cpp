#include "install/RunDecisions.h"

#include <algorithm>

#include "common/Utils.h"

namespace kestrune::run {

RunOptions ParseOptions(const std::string& upperCommandLine) {
  RunOptions options;
  options.NoReboot = upperCommandLine.find("/NR") != std::string::npos;
  options.NoAutoRun = upperCommandLine.find("/NA") != std::string::npos;
  options.Silent = upperCommandLine.find("/SP") != std::string::npos;
  return options;
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
