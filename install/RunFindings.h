// What one run has found out, in the order it finds it out. A finding the
// run has not made yet is empty: run::Decide then names it as the next
// thing to find. The first part is read from the machine and the install
// state; the second is what the steps of a road answered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "install/RunCollaborators.h"
#include "platform/VolumeEncryption.h"

namespace kestrune::run {

struct RunOptions {
  bool NoReboot = false;   // "/NR"
  bool NoAutoRun = false;  // "/NA"
  bool Silent = false;     // "/SP"
  bool operator==(const RunOptions&) const = default;
};

// The switches for the people who support and deploy the program.
struct SupportOptions {
  bool Log = false;     // "/LOG" or "/LOG=path"
  bool Scan = false;    // "/SCAN"
  std::string LogPath;  // the path after "/LOG=", as given; empty for the default
  bool operator==(const SupportOptions&) const = default;
};

// A file the run asked the maker's servers for.
struct Fetch {
  std::string Url;
  bool Stored = false;  // a plain file name, and stored whole
};

// A child program the run started, or tried to.
struct ChildOutcome {
  bool Started = false;
  std::int32_t ExitCode = 0;  // the answer that counts: see RunProgram
};

struct BiosRoadFindings {
  std::optional<bool> Agreed;            // the BIOS question
  std::optional<bool> NetworkAgreed;     // up, or the network question answered Yes until it was
  std::optional<Fetch> Catalogue;        //
  std::optional<Fetch> Package;          //
  std::string PackagePath;               // where the package was stored
  std::string RomPath;                   // the package folder
  std::optional<bool> RomRenewed;        // moved aside and created anew
  std::optional<bool> Unpacked;          //
  std::optional<int> ListingError;       // 0: the folder was listed
  std::optional<std::string> FlashTool;  // the tool's name in the folder; "" when none
  std::optional<bool> ToolTrusted;       //
  std::optional<std::uint8_t> AcLineStatus;
  std::optional<EncryptionSuspension> Encryption;
  std::optional<ChildOutcome> Flash;
};

struct DriverRoadFindings {
  std::optional<bool> UninstallAgreed;  // the uninstall question
  std::optional<ChildOutcome> Uninstaller;
  std::optional<ChildOutcome> Setup;
};

struct Findings {
  RunOptions Options;
  SupportOptions Support;
  bool RunLockTaken = true;  // no other run is in progress

  // The platform gates.
  std::optional<bool> KabyLake;
  std::optional<std::uint16_t> ChipsetId;  // read only for a processor that is no Kaby Lake
  std::optional<bool> Os64Bit;
  std::optional<bool> Windows10;
  std::optional<BoardIdentity> Board;
  std::optional<std::int32_t> SystemDisk;
  std::optional<bool> Gpt;

  // The restart entry of an earlier run is gone (the run's start).
  bool RestartEntryRemoved = false;

  // The install state, as found at the start (a missing value reads as 0).
  std::optional<std::int32_t> InstallStatus;
  std::optional<std::int32_t> BiosUpdate;
  std::optional<std::int32_t> InstallFinish;
  std::optional<std::string> OptanePath;
  std::string SetupCandidate;     // Intel's setup program in the current directory
  bool BiosUpdateReset = false;   // a BiosUpdate of 1 was set back to 0
  bool OptanePathStored = false;  // the setup path is remembered
  std::optional<std::uint8_t> SataMode;
  std::optional<std::int32_t> BiosUpdateAtSataGate;  // as read again at the SATA gate
  std::optional<std::vector<ModuleVersion>> Modules;
  std::optional<std::string> IrstProductCode;  // "" when none is registered

  BiosRoadFindings BiosRoad;
  DriverRoadFindings DriverRoad;
};

}  // namespace kestrune::run
