#include "ProductCollaborators.h"

#include "hw/Readwrite.h"
#include "platform/Cpubase.h"

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

bool ProductCollaborators::IsKabyLake() {
  TCpuBase cpu;
  return cpu.IsKabyLake();
}

std::uint16_t ProductCollaborators::ReadChipsetDeviceId() { return ReadWriteInstance()->ReadPciConfig(0, 31, 2, 0); }

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
bool ProductCollaborators::DownloadFileSync(const std::string&, const std::string&) { return false; }
std::string ProductCollaborators::GetBiosFile(const std::string&) { return {}; }
void ProductCollaborators::ProcessPackage(const std::string&, const std::string&) {}
std::int32_t ProductCollaborators::RunProgram(const std::string&, const std::string&, bool) { return -1; }
void ProductCollaborators::ShowInstallProgress() {}

}  // namespace kestrune::app
