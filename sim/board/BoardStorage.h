// The board's storage on the seams the boot-mode probe asks besides the
// file seam: the disk device-interface enumeration lists the board's disks
// in the board's order, and "SystemDrive" names the system volume the
// board answers for (\\.\C:). The disks themselves answer on the file seam
// (BoardMachine).
#pragma once

#include "sim/board/BoardMachine.h"
#include "sim/os/FakeEnvironmentVariables.h"
#include "sim/os/FakeSetupDi.h"
#include "sys/Seam.h"

namespace kestrune::sim {

class BoardStorage {
 public:
  explicit BoardStorage(const BoardMachine& machine);

  FakeSetupDi& Interfaces() { return interfaces_; }
  FakeEnvironmentVariables& Environment() { return environment_; }

 private:
  FakeSetupDi interfaces_;
  FakeEnvironmentVariables environment_;
  sys::ScopedSeam<sys::ISetupDi> interfacesSeam_;
  sys::ScopedSeam<sys::IEnvironmentVariables> environmentSeam_;
};

}  // namespace kestrune::sim
