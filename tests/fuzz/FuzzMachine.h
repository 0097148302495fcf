// The machine the fuzz targets run the firmware readers on: the input laid
// over the BIOS area from 0xE0000 (the rest of the area zero), so that the
// readers' searches find what the input holds and the addresses inside it
// lead back into it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/MemoryImage.h"

namespace kestrune::fuzz {

inline constexpr std::uint64_t kBiosArea = 0xE0000;
inline constexpr std::uint64_t kBiosAreaLength = 0x20000;

inline void LayOver(test::MemoryImage& image, const std::uint8_t* data, std::size_t size) {
  image.Map(kBiosArea, kBiosAreaLength);
  image.Write(kBiosArea, data, std::min<std::size_t>(size, kBiosAreaLength));
}

}  // namespace kestrune::fuzz
