#include "sim/board/PciSpace.h"

#include <algorithm>

#include "common/DriverContract.h"
#include "common/LittleEndian.h"

namespace kestrune::sim {

namespace {

std::uint32_t Key(std::uint8_t bus, std::uint8_t device, std::uint8_t function) {
  return (static_cast<std::uint32_t>(bus) << 16) | (static_cast<std::uint32_t>(device) << 8) | function;
}

}  // namespace

PciSpace::PciSpace(const std::vector<BoardPciFunction>& functions) {
  for (const BoardPciFunction& function : functions) {
    std::vector<std::uint8_t> space(kFunctionSize, 0);
    std::copy(function.Config.begin(), function.Config.end(), space.begin());
    functions_.emplace(Key(function.Bus, function.Device, function.Function), std::move(space));
  }
}

std::uint32_t PciSpace::Read(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t offset,
                             std::uint8_t* out, std::uint32_t length) const {
  auto it = functions_.find(Key(bus, device, function));
  if (it == functions_.end() || offset + length > kFunctionSize) {
    return 0;
  }
  std::copy_n(it->second.begin() + offset, length, out);
  return length;
}

std::uint32_t PciSpace::ReadRegister(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t reg,
                                     std::uint32_t bytes) const {
  std::uint8_t raw[4] = {};
  if (Read(bus, device, function, reg, raw, bytes) != bytes) {
    return PciAllOnes(bytes);
  }
  return Le32(raw);
}

}  // namespace kestrune::sim
