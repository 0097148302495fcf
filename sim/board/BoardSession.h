// A simulated machine for the length of a scope: the board on the file,
// CPUID and port seams, and a Service Control Manager whose kernel loads the
// board's driver when the driver's service starts. Paths that are not the
// board's devices go to the file seam that was installed before.
#pragma once

#include <memory>
#include <string>

#include "sim/board/BoardMachine.h"
#include "sim/os/FakeServiceControl.h"
#include "sys/Seam.h"

namespace kestrune::sim {

class BoardSession {
 public:
  // nullptr with the reason in error when the board cannot be laid out.
  static std::unique_ptr<BoardSession> Create(const Board& board, sys::IFiles& inner, std::string& error);
  // Over the file seam installed now.
  static std::unique_ptr<BoardSession> Create(const Board& board, std::string& error);

  BoardMachine& Machine() { return *machine_; }
  FakeServiceControl& ServiceControl() { return scm_; }

 private:
  explicit BoardSession(std::unique_ptr<BoardMachine> machine);

  std::unique_ptr<BoardMachine> machine_;
  FakeServiceControl scm_;
  sys::ScopedSeam<sys::IFiles> files_;
  sys::ScopedSeam<sys::ICpuid> cpuid_;
  sys::ScopedSeam<sys::IPortIo> ports_;
  sys::ScopedSeam<sys::IServiceControl> services_;
};

}  // namespace kestrune::sim
