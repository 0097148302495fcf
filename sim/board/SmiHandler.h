// The firmware's SMI handler on a simulated board: a byte written to the
// board's SMI command port with the registers of the driver's SMI request
// loaded. The command byte's one service offers one function, reading a
// firmware variable (the variable service of common/DriverContract.h), over the
// board's variables; the handler reads and writes its blocks in the
// board's memory and leaves its status in the register block and in EAX.
#pragma once

#include <cstdint>
#include <string>

#include "driver/VelDrvContract.h"
#include "sim/board/Board.h"
#include "sim/board/PhysicalMemory.h"

namespace kestrune::sim {

class SmiHandler {
 public:
  // smi: the board's handler, or nullptr for a board without one (no port
  // raises an SMI then). Both must outlive the handler.
  SmiHandler(const BoardSmi* smi, PhysicalMemory& memory) : smi_(smi), memory_(memory) {}

  // What the machine does when a byte is written to an I/O port with these
  // registers loaded: the handler runs for the board's SMI command port
  // and leaves the registers as it returns.
  void Raise(DRV_SMI_REGISTERS& registers);
  // Software SMIs raised on the board's port.
  int Count() const { return count_; }

 private:
  void GetVariable(const DRV_SMI_REGISTERS& registers);
  // The NUL-terminated name at address, read up to the longest name the
  // service takes: false when no NUL ends it there.
  bool ReadName(std::uint32_t address, std::u16string& name) const;
  const BoardVariable* Find(const std::u16string& name, const std::uint8_t* vendorGuid) const;

  const BoardSmi* smi_;
  PhysicalMemory& memory_;
  int count_ = 0;
};

}  // namespace kestrune::sim
