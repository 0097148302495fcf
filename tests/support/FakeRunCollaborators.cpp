#include "tests/support/FakeRunCollaborators.h"

#include <algorithm>
#include <cstring>

#include "sys/Dialogs.h"
#include "sys/FileSystem.h"
#include "sys/Files.h"
#include "sys/Seam.h"

namespace kestrune::test {

namespace {

// Answers like the firmware: success, or the needed size when too small.
class ScriptedVariableReader : public IFirmwareVariableReader {
 public:
  ScriptedVariableReader(FakeRunCollaborators& owner, sim::EventLog& log) : Owner(owner), Log(log) {}

  bool GetVariable(const std::u16string& name, const std::array<std::uint8_t, 16>&, std::uint8_t* data,
                   std::uint64_t* size, std::uint32_t*) override {
    Owner.VariableSizesAsked.push_back(*size);
    Log.Add("variable " + std::string(name.begin(), name.end()) + " size " + std::to_string(*size));
    if (!Owner.VariableReadable) {
      return false;
    }
    const std::uint64_t needed = Owner.Variable.size();
    if (*size < needed) {
      *size = needed;
      return false;
    }
    std::memcpy(data, Owner.Variable.data(), Owner.Variable.size());
    *size = needed;
    return true;
  }

 private:
  FakeRunCollaborators& Owner;
  sim::EventLog& Log;
};

}  // namespace

bool FakeRunCollaborators::IsKabyLake() {
  Log.Add("cpu");
  if (!DriverLoads) {
    sys::Use<sys::IDialogs>().MessageBoxA("Driver cannot be loaded", "Error", sys::kMbOk | sys::kMbIconError);
    return false;
  }
  return KabyLake;
}

// A read for the log: no event of its own, as CPUID changes nothing.
std::uint32_t FakeRunCollaborators::ReadProcessorSignature() { return ProcessorSignature; }

std::uint16_t FakeRunCollaborators::ReadChipsetDeviceId() {
  Log.Add("chipset");
  return ChipsetId;
}

bool FakeRunCollaborators::Is64Bit() { return Os64Bit; }

bool FakeRunCollaborators::IsWindows10() { return Windows10; }

BoardIdentity FakeRunCollaborators::ReadBoardIdentity() {
  Log.Add("board");
  return Board;
}

std::int32_t FakeRunCollaborators::GetSystemDiskNumber() { return SystemDisk; }

bool FakeRunCollaborators::IsGptDisk(std::int32_t diskNumber) {
  Log.Add("gpt " + std::to_string(diskNumber));
  return Gpt;
}

bool FakeRunCollaborators::RegisterRestartEntry(const std::string& name) {
  Log.Add("register " + name);
  return true;
}

bool FakeRunCollaborators::UnregisterRestartEntry(const std::string& name) {
  Log.Add("unregister " + name);
  return true;
}

void FakeRunCollaborators::RemoveRestartCopy() { Log.Add("remove restart copy"); }

void FakeRunCollaborators::AcquireAcpiTables() { Log.Add("acpi"); }

void FakeRunCollaborators::ReleaseAcpiTables() { Log.Add("release acpi"); }

std::unique_ptr<IFirmwareVariableReader> FakeRunCollaborators::CreateVariableReader() {
  return std::make_unique<ScriptedVariableReader>(*this, Log);
}

std::vector<ModuleVersion> FakeRunCollaborators::ReadModuleVersions() {
  Log.Add("aaft");
  return Modules;
}

void FakeRunCollaborators::ReleaseAaftTable() { Log.Add("release aaft"); }

bool FakeRunCollaborators::IsNetworkConnected() {
  Log.Add("network");
  if (NetworkAnswers.empty()) {
    return true;
  }
  const bool answer = NetworkAnswers.front();
  NetworkAnswers.pop_front();
  return answer;
}

bool FakeRunCollaborators::DownloadFileSync(const std::string& url, const std::string& fileName,
                                            std::vector<DownloadAttempt>& attempts) {
  Log.Add("download " + url + " -> " + fileName);
  auto it = DownloadResults.find(url);
  const bool stored = it == DownloadResults.end() || it->second;
  if (stored) {
    attempts.push_back({200, static_cast<std::int64_t>(DownloadBytes), DownloadBytes});
  } else {
    attempts.insert(attempts.end(), 4, DownloadAttempt{404, 0, 0});
  }
  return stored;
}

std::string FakeRunCollaborators::GetBiosFile(const std::string& cataloguePath) {
  Log.Add("catalogue " + cataloguePath);
  return BiosFile;
}

bool FakeRunCollaborators::ProcessPackage(const std::string& sourceFile, const std::string& destDir) {
  Log.Add("package " + sourceFile + " -> " + destDir);
  if (!PackageUnpacks) {
    return false;
  }
  for (const std::string& member : PackageMembers) {
    const std::string path = destDir + "\\" + member;
    if (member.ends_with('\\')) {
      sys::Use<sys::IFileSystem>().CreateDirectoryA(path);
    } else {
      sys::UniqueFileHandle file(sys::Use<sys::IFiles>().CreateFileA(path, sys::kGenericWrite, 0, sys::kCreateAlways,
                                                                     sys::kFileAttributeNormal));
    }
  }
  return true;
}

bool FakeRunCollaborators::IsTrustedFlashTool(const std::string& path) {
  Log.Add("verify " + path);
  if (OnProgram) {
    OnProgram(path);
  }
  return FlashToolTrusted;
}

bool FakeRunCollaborators::IsTrustedSetupProgram(const std::string& path) {
  Log.Add("verify setup " + path);
  if (OnProgram) {
    OnProgram(path);
  }
  return SetupProgramTrusted;
}

std::uint8_t FakeRunCollaborators::ReadAcLineStatus() {
  Log.Add("power");
  return AcLineStatus;
}

EncryptionSuspension FakeRunCollaborators::SuspendDriveEncryption() {
  Log.Add("bitlocker");
  return Encryption;
}

std::int32_t FakeRunCollaborators::RunProgram(const std::string& path, const std::string& arguments, bool wait,
                                              const std::function<void()>& onStarted) {
  Log.Add("run " + path + " " + arguments + (wait ? " (wait)" : " (no wait)") +
          (ProgramsStart ? "" : " (cannot start)"));
  if (!ProgramsStart) {
    return -1;
  }
  if (OnProgram) {
    OnProgram(path);
  }
  if (onStarted) {
    onStarted();
  }
  return wait ? ResultOf(path) : 0;
}

std::int32_t FakeRunCollaborators::RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                                             const std::function<void()>& onStarted) {
  if (RunProgram(path, arguments, false, onStarted) != 0) {
    return -1;
  }
  Log.Add("progress");
  return ResultOf(path);
}

std::int32_t FakeRunCollaborators::ResultOf(const std::string& path) const {
  const auto result = ProgramResults.find(path);
  return result == ProgramResults.end() ? ProgramResult : result->second;
}

}  // namespace kestrune::test
