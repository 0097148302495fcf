// The install run's decisions, as pure functions of what the run found.
// InstallRun acts on them in the order the user and the calling installer
// observe; these answer only "what".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "install/RunCollaborators.h"

namespace kestrune::run {

struct RunOptions {
  bool NoReboot = false;   // "/NR"
  bool NoAutoRun = false;  // "/NA"
  bool Silent = false;     // "/SP"
  bool operator==(const RunOptions&) const = default;
};

// Substring tests on the upper-cased command line, program path included.
RunOptions ParseOptions(const std::string& upperCommandLine);

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
// directory and nothing else: IsSafeFileName (install/Utils.h), which
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
