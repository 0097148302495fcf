// The product's binding of the install run to the real objects.
#pragma once

#include "install/RunCollaborators.h"
#include "install/SignerList.h"

namespace kestrune::app {

class ProductCollaborators : public RunCollaborators {
 public:
  // flashSigners: the signers the build names for the BIOS flash tool.
  explicit ProductCollaborators(SignerList flashSigners = {}) : FlashSigners(std::move(flashSigners)) {}

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
  std::uint8_t ReadAcLineStatus() override;
  EncryptionSuspension SuspendDriveEncryption() override;
  std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait,
                          const std::function<void()>& onStarted) override;
  std::int32_t RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                         const std::function<void()>& onStarted) override;

 private:
  SignerList FlashSigners;
};

}  // namespace kestrune::app
