// A simulated machine for the length of a scope: the board on the file,
// CPUID and port seams, its disks on the device-interface and environment
// seams, and a Service Control Manager whose kernel loads the board's
// driver when the driver's service starts, as Windows does: only when the
// file at the service's image path holds the program's own driver image
// for the platform the system reports. Paths that are not the board's
// devices go to the file seam that was installed before. A board that
// carries the system's SMBIOS copy answers the firmware-table seam too.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sim/board/BoardMachine.h"
#include "sim/board/BoardStorage.h"
#include "sim/os/FakeFiles.h"
#include "sim/os/FakeFirmwareTable.h"
#include "sim/os/FakeServiceControl.h"
#include "sys/Seam.h"

namespace kestrune::sim {

class BoardSession {
 public:
  // How the kernel reads a driver file: its bytes, or nullopt when there is
  // no such file.
  using DriverFileReader = std::function<std::optional<Bytes>(const std::string& path)>;
  // The files of the host's own file system (a Windows program's paths).
  static std::optional<Bytes> ReadHostFile(const std::string& path);
  // The files of an in-memory file system.
  static DriverFileReader FilesIn(const FakeFiles& files);

  // nullptr with the reason in error when the board cannot be laid out.
  static std::unique_ptr<BoardSession> Create(const Board& board, sys::IFiles& inner, DriverFileReader reader,
                                              std::string& error);
  // Over the file seam installed now, with the host's files.
  static std::unique_ptr<BoardSession> Create(const Board& board, std::string& error);

  BoardMachine& Machine() { return *machine_; }
  FakeServiceControl& ServiceControl() { return scm_; }
  BoardStorage& Storage() { return storage_; }

 private:
  BoardSession(std::unique_ptr<BoardMachine> machine, DriverFileReader reader);
  // The kernel's answer to starting the driver's service: 0 when it loads.
  sys::Dword LoadDriverFrom(const std::string& imagePath);

  std::unique_ptr<BoardMachine> machine_;
  DriverFileReader reader_;
  FakeServiceControl scm_;
  sys::ScopedSeam<sys::IFiles> files_;
  sys::ScopedSeam<sys::ICpuid> cpuid_;
  sys::ScopedSeam<sys::IPortIo> ports_;
  sys::ScopedSeam<sys::IServiceControl> services_;
  BoardStorage storage_;
  FakeFirmwareTable firmwareTable_;
  std::optional<sys::ScopedSeam<sys::IFirmwareTable>> firmwareSeam_;
};

}  // namespace kestrune::sim
