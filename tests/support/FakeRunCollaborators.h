// A scripted stand-in for everything the install run asks of the rest of
// the program. It answers from its public fields and records each call in
// the shared event log.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "install/RunCollaborators.h"
#include "sim/os/EventLog.h"

namespace kestrune::test {

class FakeRunCollaborators : public RunCollaborators {
 public:
  explicit FakeRunCollaborators(sim::EventLog& log) : Log(log) {}

  struct VariableRead {
    bool Succeeds = true;
    std::vector<std::uint8_t> Data;  // the variable's bytes
  };

  // Answers.
  bool KabyLake = true;
  std::uint32_t ProcessorSignature = 0x000906E9;  // a Kaby Lake desktop processor
  // false: the driver cannot be loaded; the processor gate's loader shows
  // its own box (through the dialogs seam) and the processor reads as none.
  bool DriverLoads = true;
  std::uint16_t ChipsetId = 0xA2C5;
  bool Os64Bit = true;
  bool Windows10 = true;
  BoardIdentity Board{"Z270 GAMING", "P1.40"};
  std::int32_t SystemDisk = 0;
  bool Gpt = true;
  std::vector<std::uint8_t> Variable{0};  // the platform configuration variable
  bool VariableReadable = true;
  std::vector<ModuleVersion> Modules;
  std::deque<bool> NetworkAnswers;              // then true
  std::map<std::string, bool> DownloadResults;  // by URL; others succeed
  // A download that succeeds stores this many bytes in its one attempt; one
  // that fails meets 404 in each of its four.
  std::uint64_t DownloadBytes = 4096;
  std::string BiosFile = "/bios/ROM/Z270.zip";
  // ProcessPackage: the package's members as they land in the folder
  // (through the file seams; a name ending in "\\" is a folder), or false.
  std::vector<std::string> PackageMembers{"Z270.bin", "Flash.exe"};
  bool PackageUnpacks = true;
  std::int32_t ProgramResult = 0;                      // a waited-for program's answer
  std::map<std::string, std::int32_t> ProgramResults;  // by path, before ProgramResult
  bool ProgramsStart = true;                           // false: every start fails
  bool FlashToolTrusted = true;
  bool SetupProgramTrusted = true;
  // Called with the program's path when its signature is checked and when
  // it starts (before onStarted): what another process could do then.
  std::function<void(const std::string& path)> OnProgram;
  std::uint8_t AcLineStatus = 1;  // online
  EncryptionSuspension Encryption = EncryptionSuspension::NotProtected;

  // Seen.
  std::vector<std::uint64_t> VariableSizesAsked;

  bool IsKabyLake() override;
  std::uint32_t ReadProcessorSignature() override;
  std::uint16_t ReadChipsetDeviceId() override;
  bool Is64Bit() override;
  bool IsWindows10() override;
  BoardIdentity ReadBoardIdentity() override;
  std::int32_t GetSystemDiskNumber() override;
  bool IsGptDisk(std::int32_t diskNumber) override;
  bool RegisterRestartEntry(const std::string& name) override;
  bool UnregisterRestartEntry(const std::string& name) override;
  void RemoveRestartCopy() override;
  void AcquireAcpiTables() override;
  void ReleaseAcpiTables() override;
  std::unique_ptr<IFirmwareVariableReader> CreateVariableReader() override;
  std::vector<ModuleVersion> ReadModuleVersions() override;
  void ReleaseAaftTable() override;
  bool IsNetworkConnected() override;
  bool DownloadFileSync(const std::string& url, const std::string& fileName,
                        std::vector<DownloadAttempt>& attempts) override;
  std::string GetBiosFile(const std::string& cataloguePath) override;
  bool ProcessPackage(const std::string& sourceFile, const std::string& destDir) override;
  bool IsTrustedFlashTool(const std::string& path) override;
  bool IsTrustedSetupProgram(const std::string& path) override;
  std::uint8_t ReadAcLineStatus() override;
  EncryptionSuspension SuspendDriveEncryption() override;
  std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait,
                          const std::function<void()>& onStarted) override;
  std::int32_t RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                         const std::function<void()>& onStarted) override;

 private:
  std::int32_t ResultOf(const std::string& path) const;

  sim::EventLog& Log;
};

}  // namespace kestrune::test
