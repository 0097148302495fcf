// One start of the program: one step of an installation that spans several
// restarts of the machine.
#pragma once

#include <cstdint>
#include <string>

#include "install/Advreg.h"
#include "install/RunCollaborators.h"
#include "install/RunDecisions.h"
#include "install/RunLock.h"

namespace kestrune {

// Scheme and host of the maker's two servers, without a trailing slash.
struct ServerBases {
  std::string WebBase;
  std::string PackageBase;
};

// Exit codes (also stored in EXERetCode).
inline constexpr std::int32_t kExitCompleted = 0;
inline constexpr std::int32_t kExitFailed = 1;
inline constexpr std::int32_t kExitDeclined = 2;
inline constexpr std::int32_t kExitRestartPending = -1;

class InstallRun {
 public:
  InstallRun(RunCollaborators& platform, ServerBases servers);
  // The whole run; answers the process exit code.
  std::int32_t Run();

 private:
  // The gates answer false when they end the run (their message shown).
  bool PassesProcessorGate();
  bool PassesOsGate();
  bool PassesBootModeGate();
  void ReadBookkeeping();
  bool PassesSataGate();
  bool ReadOptaneReady();
  // The roads answer the exit code.
  std::int32_t BiosRoad();
  std::int32_t DriverRoad();

  void Print(const std::string& text);
  void Message(const std::string& text);
  bool Ask(const std::string& question);  // false only for No
  std::int32_t EndWith(std::int32_t code);
  void RegisterRestartUnlessNoAutoRun();
  void UnregisterRestartUnlessNoAutoRun();
  // A child program that could not be started or that failed: what the
  // road recorded for it is taken back, the restart entry goes, the user is
  // told, and the run ends with 1.
  std::int32_t FlashToolNotStarted(const std::string& toolPath);
  std::int32_t SetupFailed(bool started);
  std::int32_t ChildProgramFailed(const std::string& message);

  RunCollaborators& Platform;
  ServerBases Servers;
  TAdvReg Registry;
  RunLock Lock;  // held until the run object goes
  run::RunOptions Options;
  bool BiosUpdated = false;
  std::int32_t InstallFinished = 0;
  std::string SetupPath;
};

}  // namespace kestrune
