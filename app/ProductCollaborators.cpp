#include "app/ProductCollaborators.h"

#include "common/Osversion.h"
#include "hw/Aaft.h"
#include "hw/Acpibase.h"
#include "hw/Readwrite.h"
#include "hw/Variable.h"
#include "install/Autorun.h"
#include "install/Childprocess.h"
#include "install/ProtectedCopy.h"
#include "platform/Bootmode.h"
#include "platform/Cpubase.h"
#include "platform/PowerSource.h"
#include "platform/Vel.h"
#include "platform/Velwmi.h"
#include "platform/VolumeEncryption.h"
#include "sys/Seam.h"
#include "sys/SystemFolders.h"
#include "update/Compress.h"
#include "update/Download.h"
#include "update/Velliveupdatexml.h"

namespace kestrune::app {

namespace {

// A TVariable for one step of the run; the run passes no status output.
class VariableReader : public IFirmwareVariableReader {
 public:
  bool GetVariable(const std::u16string& name, const std::array<std::uint8_t, 16>& guid, std::uint8_t* data,
                   std::uint64_t* size, std::uint32_t* attributes) override {
    return Variable.GetVariable(name, guid, nullptr, data, size, attributes);
  }

 private:
  TVariable Variable;
};

}  // namespace

bool ProductCollaborators::IsKabyLake() {
  TCpuBase cpu;
  return cpu.IsKabyLake();
}

std::uint32_t ProductCollaborators::ReadProcessorSignature() {
  sys::CpuidRegisters registers{1, 0, 0, 0};
  ReadWriteInstance()->Cpuid(registers);
  return registers.Eax;
}

std::uint16_t ProductCollaborators::ReadChipsetDeviceId() { return ReadWriteInstance()->ReadPciConfig(0, 31, 2, 0); }

bool ProductCollaborators::Is64Bit() { return OsVersionInstance().Is64Bit(); }
bool ProductCollaborators::IsWindows10() { return OsVersionInstance().IsWindows10(); }
BoardIdentity ProductCollaborators::ReadBoardIdentity() {
  const TVel vel;
  return {vel.ModelName, vel.BiosVersion};
}

std::int32_t ProductCollaborators::GetSystemDiskNumber() { return kestrune::GetSystemDiskNumber(); }
bool ProductCollaborators::IsGptDisk(std::int32_t diskNumber) { return kestrune::IsGptDisk(diskNumber); }
bool ProductCollaborators::RegisterRestartEntry(const std::string& name) { return AutoRunInstance().Register(name); }
bool ProductCollaborators::UnregisterRestartEntry(const std::string& name) {
  return AutoRunInstance().Unregister(name);
}
void ProductCollaborators::RemoveRestartCopy() { ProtectedCopy().Remove(); }
void ProductCollaborators::AcquireAcpiTables() { AcpiBaseInstance(); }
void ProductCollaborators::ReleaseAcpiTables() { ReleaseAcpiBaseInstance(); }

std::unique_ptr<IFirmwareVariableReader> ProductCollaborators::CreateVariableReader() {
  return std::make_unique<VariableReader>();
}

std::vector<ModuleVersion> ProductCollaborators::ReadModuleVersions() {
  std::vector<ModuleVersion> modules;
  for (const _VELNOR_MODULE_VERSION_ENTRY* entry : AaftInstance()->ModuleVersions) {
    modules.push_back({ModuleName(*entry), entry->Version});
  }
  return modules;
}

void ProductCollaborators::ReleaseAaftTable() { ReleaseAaftInstance(); }
bool ProductCollaborators::IsNetworkConnected() { return kestrune::IsNetworkConnected(); }
bool ProductCollaborators::DownloadFileSync(const std::string& url, const std::string& fileName,
                                            std::vector<DownloadAttempt>& attempts) {
  return kestrune::DownloadFileSync(url, fileName, &attempts);
}
std::string ProductCollaborators::GetBiosFile(const std::string& cataloguePath) {
  return LoadLiveUpdate(cataloguePath).GetBiosFile();
}
bool ProductCollaborators::ProcessPackage(const std::string& sourceFile, const std::string& destDir) {
  std::int32_t result = 0;
  kestrune::ProcessPackage({sourceFile, destDir, &result, kPreparePackage});
  return result == 1;
}
bool ProductCollaborators::IsTrustedFlashTool(const std::string& path) { return FlashSigners.Verify(path); }
bool ProductCollaborators::IsTrustedSetupProgram(const std::string& path) { return SetupSigners.Verify(path); }
std::uint8_t ProductCollaborators::ReadAcLineStatus() { return kestrune::ReadAcLineStatus(); }
EncryptionSuspension ProductCollaborators::SuspendDriveEncryption() {
  // The system volume is the Windows folder's drive.
  const std::string windows = sys::Use<sys::ISystemFolders>().GetWindowsDirectoryA();
  if (windows.size() < 2 || windows[1] != ':') {
    return EncryptionSuspension::NotSuspended;
  }
  return VolumeEncryption().SuspendForOneRestart({static_cast<char16_t>(windows[0]), u':'});
}
std::int32_t ProductCollaborators::RunProgram(const std::string& path, const std::string& arguments, bool wait,
                                              const std::function<void()>& onStarted) {
  return kestrune::RunProgram(path, arguments, wait, onStarted);
}
std::int32_t ProductCollaborators::RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                                             const std::function<void()>& onStarted) {
  return kestrune::RunProgramShowingProgress(path, arguments, onStarted);
}

}  // namespace kestrune::app
