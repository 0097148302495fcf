#include "ProductCollaborators.h"

#include "update/Compress.h"
#include "update/Download.h"
#include "update/Velliveupdatexml.h"

namespace kestrune::app {

// Facilities that are not wired yet answer as the unavailable facility
// does: a driver that cannot be opened (all-ones reads, no board, no
// tables), no network, no server, no program started.

namespace {

class UnavailableVariableReader : public IFirmwareVariableReader {
 public:
  bool GetVariable(const std::u16string&, const std::array<std::uint8_t, 16>&, std::uint8_t*, std::uint64_t*,
                   std::uint32_t*) override {
    return false;
  }
};

}  // namespace

bool ProductCollaborators::IsKabyLake() { return false; }
std::uint16_t ProductCollaborators::ReadChipsetDeviceId() { return 0xFFFF; }
bool ProductCollaborators::Is64Bit() { return false; }
bool ProductCollaborators::IsWindows10() { return false; }
BoardIdentity ProductCollaborators::ReadBoardIdentity() { return {}; }
std::int32_t ProductCollaborators::GetSystemDiskNumber() { return -1; }
bool ProductCollaborators::IsGptDisk(std::int32_t) { return false; }
bool ProductCollaborators::RegisterRestartEntry(const std::string&) { return false; }
bool ProductCollaborators::UnregisterRestartEntry(const std::string&) { return false; }
void ProductCollaborators::AcquireAcpiTables() {}
void ProductCollaborators::ReleaseAcpiTables() {}
std::unique_ptr<IFirmwareVariableReader> ProductCollaborators::CreateVariableReader() {
  return std::make_unique<UnavailableVariableReader>();
}
std::vector<ModuleVersion> ProductCollaborators::ReadModuleVersions() { return {}; }
void ProductCollaborators::ReleaseAaftTable() {}
bool ProductCollaborators::IsNetworkConnected() { return false; }
bool ProductCollaborators::DownloadFileSync(const std::string& url, const std::string& fileName) {
  return kestrune::DownloadFileSync(url, fileName);
}
std::string ProductCollaborators::GetBiosFile(const std::string& cataloguePath) {
  return LoadLiveUpdate(cataloguePath).GetBiosFile();
}
void ProductCollaborators::ProcessPackage(const std::string& sourceFile, const std::string& destDir) {
  std::int32_t result = 0;
  kestrune::ProcessPackage({sourceFile, destDir, &result, kPreparePackage});
}
std::int32_t ProductCollaborators::RunProgram(const std::string&, const std::string&, bool) { return -1; }
void ProductCollaborators::ShowInstallProgress() {}

}  // namespace kestrune::app
