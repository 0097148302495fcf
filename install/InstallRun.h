// One start of the program: one step of an installation that spans several
// restarts of the machine. The run gathers its findings, asks run::Decide
// what they mean, and acts on the answer, one step at a time, in the order
// the user and the calling installer observe.
#pragma once

#include <cstdint>
#include <string>

#include "install/Advreg.h"
#include "install/RunCollaborators.h"
#include "install/RunDecisions.h"
#include "install/RunLock.h"
#include "install/RunLog.h"
#include "sys/Files.h"

namespace kestrune {

// Scheme and host of the maker's two servers, without a trailing slash.
struct ServerBases {
  std::string WebBase;
  std::string PackageBase;
};

class InstallRun {
 public:
  InstallRun(RunCollaborators& collaborators, ServerBases servers);
  // The whole run; answers the process exit code.
  std::int32_t Run();

 private:
  // Finds out or does what the decision names, and records what it found.
  void Take(run::Next step);
  void FindProcessor();
  void FindBootMode();
  void FindInstallState();
  void FindSataMode();
  void FindModules();
  void FindIrstProductCode();
  void AwaitNetwork();
  void FetchCatalogue();
  void FetchPackage();
  void RenewPackageFolder();
  void FindFlashTool();
  void RunFlashTool();
  void RunUninstaller();
  void RunSetup();

  // The ending's own effects, its message and EXERetCode.
  std::int32_t Finish(const run::Decision& decision);
  // "/SCAN": what the run would do; nothing is changed.
  std::int32_t Report(const run::Decision& decision);
  // The findings, the road and the ending, as they become known.
  void LogDecision(const run::Decision& decision);

  // Holds the program open against writes, deletion and renaming from its
  // signature check until it has started, so that the file started is the
  // file checked. False when another process holds it open in a way that
  // would let it be changed: such a program counts as untrusted. A missing
  // program is not held (its start fails as it would).
  bool HoldProgram(const std::string& path);
  void ReleaseProgram();

  std::string FlashToolPath() const;
  std::string SetupPath() const;
  bool Download(const std::string& url, const std::string& fileName);
  std::int32_t RunChild(const std::string& path, const std::string& arguments, bool wait,
                        const std::function<void()>& onStarted);

  void Print(const std::string& text);
  void Message(const std::string& text);
  bool Ask(const std::string& question);     // false only for No
  std::int32_t ReadState(const char* name);  // a scan creates no key
  void WriteState(const char* name, std::int32_t value);
  void WriteState(const char* name, const std::string& value);
  std::int32_t EndWith(std::int32_t code);
  void RegisterRestartUnlessNoAutoRun();
  void UnregisterRestartUnlessNoAutoRun();

  RunCollaborators& Collaborators;
  ServerBases Servers;
  TAdvReg Registry;
  RunLock Lock;  // held until the run object goes
  RunLog Log;
  run::Findings Found;
  sys::UniqueFileHandle HeldProgram;
  std::size_t ReasonsLogged = 0;
  run::Road RoadLogged = run::Road::None;
};

}  // namespace kestrune
