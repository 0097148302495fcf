// Direct port I/O with the processor's IN and OUT instructions.
#pragma once

#include "sys/PortIo.h"

namespace kestrune::sys::win32 {

// IN and OUT instructions: only Windows 9x lets a program execute them.
class X86PortIo : public IPortIo {
 public:
  void WritePortDword(std::uint16_t port, std::uint32_t value) override;
  std::uint8_t ReadPortByte(std::uint16_t port) override;
  std::uint16_t ReadPortWord(std::uint16_t port) override;
  std::uint32_t ReadPortDword(std::uint16_t port) override;
};

}  // namespace kestrune::sys::win32
