#include "tests/support/MemoryImage.h"

#include <cstring>

#include "hw/LittleEndian.h"
#include "hw/Readwrite.h"

namespace kestrune::test {

std::uint8_t* MemoryImage::ByteAt(std::uint64_t address, bool create) {
  const std::uint64_t base = address & ~(kPageSize - 1);
  auto page = Pages.find(base);
  if (page == Pages.end()) {
    if (!create) {
      return nullptr;
    }
    page = Pages.emplace(base, Page{}).first;
  }
  return page->second.data() + (address - base);
}

void MemoryImage::Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    *ByteAt(address + i, true) = bytes[i];
  }
}

void MemoryImage::Write(std::uint64_t address, const std::string& text) {
  Write(address, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void MemoryImage::WriteDword(std::uint64_t address, std::uint32_t value) {
  std::vector<std::uint8_t> bytes(4);
  PutLe32(bytes.data(), value);
  Write(address, bytes);
}

void MemoryImage::Map(std::uint64_t address, std::uint64_t length) {
  for (std::uint64_t page = address & ~(kPageSize - 1); page < address + length; page += kPageSize) {
    ByteAt(page, true);
  }
}

bool MemoryImage::ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address) {
  ++Reads;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint64_t done = 0;
  while (done < length) {
    const std::uint64_t at = address + done;
    const std::uint8_t* src = ByteAt(at, false);
    if (src == nullptr) {
      return false;
    }
    const std::uint64_t count = std::min<std::uint64_t>(length - done, kPageSize - (at & (kPageSize - 1)));
    std::memcpy(out + done, src, count);
    done += count;
  }
  return true;
}

std::uint64_t MemoryImage::SearchPhysicalMemory(std::uint32_t length, std::uint32_t step, std::uint32_t patternLength,
                                                const void* pattern, std::uint32_t skip, std::uint64_t start) {
  if (step == 0) {
    step = 1;
  }
  const auto* wanted = static_cast<const std::uint8_t*>(pattern);
  std::uint64_t cachedBase = ~0ull;
  const std::uint8_t* cachedPage = nullptr;
  for (std::uint64_t offset = 0; patternLength > 0 && offset + patternLength <= length; offset += step) {
    // The first byte from the page in hand; the rest only when it matches.
    const std::uint64_t at = start + offset;
    const std::uint64_t base = at & ~(kPageSize - 1);
    if (base != cachedBase) {
      cachedBase = base;
      auto page = Pages.find(base);
      cachedPage = page == Pages.end() ? nullptr : page->second.data();
    }
    if (cachedPage == nullptr || cachedPage[at - base] != wanted[0]) {
      continue;  // unmapped memory never matches
    }
    bool match = true;
    for (std::uint32_t i = 1; i < patternLength && match; ++i) {
      const std::uint8_t* byte = ByteAt(at + i, false);
      match = byte != nullptr && *byte == wanted[i];
    }
    if (match) {
      if (skip == 0) {
        return at;
      }
      --skip;
    }
  }
  return kSearchNotFound;
}

void MemoryImage::AddPciFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t vendor,
                                 std::uint16_t deviceId, std::uint8_t headerType, std::uint16_t subsystemVendor) {
  PciSpace& space = Pci[{bus, device, function}];
  space.fill(0);
  space[0x00] = static_cast<std::uint8_t>(vendor);
  space[0x01] = static_cast<std::uint8_t>(vendor >> 8);
  space[0x02] = static_cast<std::uint8_t>(deviceId);
  space[0x03] = static_cast<std::uint8_t>(deviceId >> 8);
  space[0x0E] = headerType;
  space[0x2C] = static_cast<std::uint8_t>(subsystemVendor);
  space[0x2D] = static_cast<std::uint8_t>(subsystemVendor >> 8);
}

std::uint32_t MemoryImage::ReadPci(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function,
                                   unsigned width) {
  ++PciReads;
  const std::uint32_t ones = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
  auto space = Pci.find({bus, device, function});
  if (space == Pci.end() || reg + width > space->second.size()) {
    return ones;
  }
  std::uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    value |= static_cast<std::uint32_t>(space->second[reg + i]) << (8 * i);
  }
  return value;
}

std::uint8_t MemoryImage::ReadPciConfigByte(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                            std::uint8_t function) {
  return static_cast<std::uint8_t>(ReadPci(bus, device, reg, function, 1));
}

std::uint16_t MemoryImage::ReadPciConfig(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                         std::uint8_t function) {
  return static_cast<std::uint16_t>(ReadPci(bus, device, reg, function, 2));
}

std::uint32_t MemoryImage::ReadPciConfigDword(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                              std::uint8_t function) {
  return ReadPci(bus, device, reg, function, 4);
}

}  // namespace kestrune::test
