// Direct I/O port access from user mode, as Windows 9x allows it. The
// hardware layer uses it only for PCI configuration mechanism 1 (ports
// 0xCF8 and 0xCFC) on Windows 9x; the Windows NT family goes through the
// driver instead.
#pragma once

#include <cstdint>

namespace kestrune::sys {

class IPortIo {
 public:
  virtual ~IPortIo() = default;
  virtual void WritePortDword(std::uint16_t port, std::uint32_t value) = 0;
  virtual std::uint8_t ReadPortByte(std::uint16_t port) = 0;
  virtual std::uint16_t ReadPortWord(std::uint16_t port) = 0;
  virtual std::uint32_t ReadPortDword(std::uint16_t port) = 0;
};

}  // namespace kestrune::sys
