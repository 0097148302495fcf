// The hardware access driver images the program carries, one block of
// read-only data each. A slot without an image is empty (no bytes).
#pragma once

#include <cstdint>
#include <span>

namespace kestrune {

struct DriverImages {
  std::span<const std::uint8_t> X86;
  std::span<const std::uint8_t> Ia64;
  std::span<const std::uint8_t> X64;
  std::span<const std::uint8_t> Windows9x;
};

// The images built into the program.
const DriverImages& CarriedDriverImages();

}  // namespace kestrune
