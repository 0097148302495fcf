// What the install run asks of the rest of the program: the platform
// probes, the hardware objects, the restart entry, the update pipeline and
// the child programs. The product binds the real objects (app/), tests bind
// fakes, and the run itself never changes with either.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/VolumeEncryption.h"
#include "update/Download.h"

namespace kestrune {

// A module version record of the firmware's AAFT table.
struct ModuleVersion {
  std::string Name;
  std::uint32_t Version = 0;
};

// The board identity as a TVel reads it.
struct BoardIdentity {
  std::string ModelName;
  std::string BiosVersion;
};

// A firmware variable reader (a TVariable): lives for one step of the run.
class IFirmwareVariableReader {
 public:
  virtual ~IFirmwareVariableReader() = default;
  // GetVariable with no status output: true on success; *size is updated to
  // the variable's size on success and when the buffer is too small. Never
  // copies more than the *size passed in.
  virtual bool GetVariable(const std::u16string& name, const std::array<std::uint8_t, 16>& guid, std::uint8_t* data,
                           std::uint64_t* size, std::uint32_t* attributes) = 0;
};

class RunCollaborators {
 public:
  virtual ~RunCollaborators() = default;

  // Processor gate: a TCpuBase that lives for the question.
  virtual bool IsKabyLake() = 0;
  // CPUID leaf 1's EAX (family, model and stepping), for the run's log.
  virtual std::uint32_t ReadProcessorSignature() = 0;
  // ReadPciConfig(0, 31, 2, 0) on ReadWriteInstance().
  virtual std::uint16_t ReadChipsetDeviceId() = 0;

  // OsVersionInstance().
  virtual bool Is64Bit() = 0;
  virtual bool IsWindows10() = 0;

  // A TVel constructed and read; the run calls it before the boot-mode probe.
  virtual BoardIdentity ReadBoardIdentity() = 0;
  virtual std::int32_t GetSystemDiskNumber() = 0;
  virtual bool IsGptDisk(std::int32_t diskNumber) = 0;

  // AutoRunInstance(); the run ignores both results.
  virtual bool RegisterRestartEntry(const std::string& name) = 0;
  virtual bool UnregisterRestartEntry(const std::string& name) = 0;

  // AcpiBaseInstance() and ReleaseAcpiBaseInstance().
  virtual void AcquireAcpiTables() = 0;
  virtual void ReleaseAcpiTables() = 0;
  virtual std::unique_ptr<IFirmwareVariableReader> CreateVariableReader() = 0;
  // ModuleVersions of AaftInstance(), in table order; ReleaseAaftInstance().
  virtual std::vector<ModuleVersion> ReadModuleVersions() = 0;
  virtual void ReleaseAaftTable() = 0;

  virtual bool IsNetworkConnected() = 0;
  // DownloadFileSync; what each attempt met is appended to attempts.
  virtual bool DownloadFileSync(const std::string& url, const std::string& fileName,
                                std::vector<DownloadAttempt>& attempts) = 0;
  // LoadLiveUpdate(cataloguePath) and its GetBiosFile().
  virtual std::string GetBiosFile(const std::string& cataloguePath) = 0;
  // ProcessPackage with Mode 2: true when the package was copied or
  // unpacked into destDir (its result flag), false when it was missing,
  // refused or could not be unpacked.
  virtual bool ProcessPackage(const std::string& sourceFile, const std::string& destDir) = 0;

  // The flash tool may be started: its Authenticode signature holds and
  // its signer is one the build names (any tool, in a build that names
  // none).
  virtual bool IsTrustedFlashTool(const std::string& path) = 0;
  // GetSystemPowerStatus's AC line status: 0 offline (on battery), 1
  // online, 255 unknown (also when the system cannot tell).
  virtual std::uint8_t ReadAcLineStatus() = 0;
  // BitLocker on the system volume: suspended for the next restart when it
  // protects the volume (platform/VolumeEncryption.h).
  virtual EncryptionSuspension SuspendDriveEncryption() = 0;

  // Starts the program. onStarted is called once the child exists, before
  // any wait, and only then: a child that exits with -1 is told apart from
  // one that never started. wait: the child's exit code; otherwise 0. -1
  // when the program cannot be started.
  virtual std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait,
                                  const std::function<void()>& onStarted) = 0;
  // Starts the program without waiting and shows the install progress line
  // while it runs. Normally the restart that the program performs ends the
  // process first; a program that ends on its own ends the line, and its
  // exit code is the answer. -1 when it cannot be started (onStarted is then
  // not called) or waited for.
  virtual std::int32_t RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                                 const std::function<void()>& onStarted) = 0;
};

}  // namespace kestrune
