#include "sim/board/CpuidLeaves.h"

#include <cstddef>
#include <string>

namespace kestrune::sim {

namespace {

// Four characters of text from offset as a register holds them; 0 past the end.
std::uint32_t TextWord(const std::string& source, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t at = offset + i;
    const auto byte = at < source.size() ? static_cast<std::uint8_t>(source[at]) : std::uint8_t{0};
    value |= static_cast<std::uint32_t>(byte) << (8 * i);
  }
  return value;
}

}  // namespace

void AnswerCpuid(const BoardCpu& cpu, sys::CpuidRegisters& registers) {
  const std::uint32_t leaf = registers.Eax;
  registers = {};
  const std::string& vendor = cpu.Vendor;
  const std::string& brand = cpu.Brand;
  if (leaf == 0) {
    registers = {0x16, TextWord(vendor, 0), TextWord(vendor, 8), TextWord(vendor, 4)};
  } else if (leaf == 1) {
    registers.Eax = cpu.Signature;
  } else if (leaf == 0x80000000u) {
    registers.Eax = 0x80000008u;
  } else if (leaf >= 0x80000002u && leaf <= 0x80000004u) {
    const std::size_t base = 16 * (leaf - 0x80000002u);
    registers = {TextWord(brand, base), TextWord(brand, base + 4), TextWord(brand, base + 8),
                 TextWord(brand, base + 12)};
  }
}

}  // namespace kestrune::sim
