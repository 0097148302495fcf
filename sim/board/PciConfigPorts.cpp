#include "sim/board/PciConfigPorts.h"

namespace kestrune::sim {

namespace {

struct ConfigTarget {
  bool Enabled;
  std::uint8_t Bus;
  std::uint8_t Device;
  std::uint8_t Function;
  std::uint16_t Register;
};

ConfigTarget Decode(std::uint32_t address, std::uint16_t port) {
  return {(address & 0x80000000u) != 0, static_cast<std::uint8_t>(address >> 16),
          static_cast<std::uint8_t>((address >> 11) & 0x1F), static_cast<std::uint8_t>((address >> 8) & 0x7),
          static_cast<std::uint16_t>((((address >> 24) & 0xF) << 8) | (address & 0xFC) | (port & 3))};
}

}  // namespace

void PciConfigPorts::WriteDword(std::uint16_t port, std::uint32_t value) {
  if (port == 0xCF8) {
    configAddress_ = value;
  }
}

std::uint8_t PciConfigPorts::ReadByte(std::uint16_t port) const {
  const ConfigTarget t = Decode(configAddress_, port);
  if (port < 0xCFC || port > 0xCFF || !t.Enabled) {
    return 0xFF;
  }
  return static_cast<std::uint8_t>(space_.ReadRegister(t.Bus, t.Device, t.Function, t.Register, 1));
}

std::uint16_t PciConfigPorts::ReadWord(std::uint16_t port) const {
  const ConfigTarget t = Decode(configAddress_, port);
  if (port < 0xCFC || port > 0xCFE || !t.Enabled) {
    return 0xFFFF;
  }
  return static_cast<std::uint16_t>(space_.ReadRegister(t.Bus, t.Device, t.Function, t.Register, 2));
}

std::uint32_t PciConfigPorts::ReadDword(std::uint16_t port) const {
  const ConfigTarget t = Decode(configAddress_, port);
  if (port != 0xCFC || !t.Enabled) {
    return 0xFFFFFFFFu;
  }
  return space_.ReadRegister(t.Bus, t.Device, t.Function, t.Register, 4);
}

}  // namespace kestrune::sim
