// The PCI configuration space of a simulated board: 4 KiB for each function
// the board lists, its configuration bytes first and zeros after them; a
// function the board does not list does not answer.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim/board/Board.h"

namespace kestrune::sim {

class PciSpace {
 public:
  static constexpr std::uint32_t kFunctionSize = 4096;

  // The board's functions (CheckBoard has found them on a bus, once each).
  explicit PciSpace(const std::vector<BoardPciFunction>& functions);

  // Copies length bytes from offset: length, or 0 when the function does
  // not answer or the range leaves its space.
  std::uint32_t Read(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t offset,
                     std::uint8_t* out, std::uint32_t length) const;
  // A register of 1, 2 or 4 bytes; all ones where nothing answers, as on a
  // real bus.
  std::uint32_t ReadRegister(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t reg,
                             std::uint32_t bytes) const;

 private:
  std::map<std::uint32_t, std::vector<std::uint8_t>> functions_;  // bus << 16 | device << 8 | function
};

}  // namespace kestrune::sim
