// PCI configuration mechanism 1 on a simulated board, for Windows 9x code
// that reads PCI through the I/O ports: the address register at 0xCF8 and
// the data window at 0xCFC-0xCFF. Other ports, and the window while the
// address register's enable bit is clear, read all ones.
#pragma once

#include <cstdint>

#include "sim/board/PciSpace.h"

namespace kestrune::sim {

class PciConfigPorts {
 public:
  // space must outlive the ports.
  explicit PciConfigPorts(const PciSpace& space) : space_(space) {}

  void WriteDword(std::uint16_t port, std::uint32_t value);
  std::uint8_t ReadByte(std::uint16_t port) const;
  std::uint16_t ReadWord(std::uint16_t port) const;
  std::uint32_t ReadDword(std::uint16_t port) const;

 private:
  const PciSpace& space_;
  std::uint32_t configAddress_ = 0;
};

}  // namespace kestrune::sim
