#include "sim/board/FirmwareTables.h"

#include <algorithm>
#include <cstring>

#include "common/DriverContract.h"
#include "common/LittleEndian.h"

namespace kestrune::sim {

namespace {

constexpr std::uint64_t kBiosArea = 0xE0000;
constexpr std::uint64_t kBiosAreaEnd = 0x100000;
constexpr std::uint32_t kHeaderLength = 36;
constexpr std::uint32_t kMaxTableLength = 0x01000000;  // 16 MiB
constexpr std::size_t kMaxTables = 1024;

// A root pointer at address: the signature and the checksum of its first 20
// bytes.
bool IsRootPointer(const PhysicalMemory& memory, std::uint64_t address) {
  std::uint8_t bytes[20];
  memory.Read(address, bytes, sizeof bytes);
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) {
    sum = static_cast<std::uint8_t>(sum + b);
  }
  return std::memcmp(bytes, "RSD PTR ", 8) == 0 && sum == 0;
}

std::optional<std::uint64_t> SearchBiosArea(const PhysicalMemory& memory) {
  for (std::uint64_t at = kBiosArea; at + 20 <= kBiosAreaEnd; at += 16) {
    if (IsRootPointer(memory, at)) {
      return at;
    }
  }
  return std::nullopt;
}

std::vector<std::uint8_t> TableAt(const PhysicalMemory& memory, std::uint64_t address) {
  if (address == 0) {
    return {};
  }
  std::uint8_t header[kHeaderLength];
  memory.Read(address, header, sizeof header);
  const std::uint32_t length = Le32(header + 4);
  if (length < kHeaderLength || length > kMaxTableLength || address + length < address) {
    return {};
  }
  std::vector<std::uint8_t> table(length);
  memory.Read(address, table.data(), length);
  return table;
}

}  // namespace

FirmwareTables FirmwareTables::Find(const PhysicalMemory& memory, std::optional<std::uint64_t> rootPointer) {
  FirmwareTables found;
  if (!rootPointer || !IsRootPointer(memory, *rootPointer)) {
    rootPointer = SearchBiosArea(memory);
  }
  if (!rootPointer) {
    return found;
  }
  std::uint8_t pointer[32];
  memory.Read(*rootPointer, pointer, sizeof pointer);
  std::vector<std::uint8_t> root;
  std::size_t width = 8;
  if (pointer[15] >= 2) {
    root = TableAt(memory, Le64(pointer + 24));
  }
  if (root.empty() || std::memcmp(root.data(), "XSDT", 4) != 0) {
    root = TableAt(memory, Le32(pointer + 16));
    width = 4;
    if (root.empty() || std::memcmp(root.data(), "RSDT", 4) != 0) {
      return found;
    }
  }
  found.tables_.emplace_back(Le32(root.data()), root);
  // A corrupt root table may claim 16 MiB: no more entries than the list holds.
  const std::size_t entries = std::min((root.size() - kHeaderLength) / width, kMaxTables);
  for (std::size_t i = 0, at = kHeaderLength; i < entries; ++i, at += width) {
    found.Add(memory, width == 8 ? Le64(root.data() + at) : Le32(root.data() + at));
  }
  // The FADT names the FACS and the DSDT (their 64-bit fields first).
  if (const std::vector<std::uint8_t>* fadt = found.Table(kFadtSignature)) {
    const std::vector<std::uint8_t> copy = *fadt;
    const std::uint64_t facs = copy.size() >= 140 && Le64(copy.data() + 132) != 0
                                   ? Le64(copy.data() + 132)
                                   : (copy.size() >= 40 ? Le32(copy.data() + 36) : 0);
    const std::uint64_t dsdt = copy.size() >= 148 && Le64(copy.data() + 140) != 0
                                   ? Le64(copy.data() + 140)
                                   : (copy.size() >= 44 ? Le32(copy.data() + 40) : 0);
    found.Add(memory, facs);
    found.Add(memory, dsdt);
  }
  return found;
}

void FirmwareTables::Add(const PhysicalMemory& memory, std::uint64_t address) {
  if (tables_.size() >= kMaxTables) {
    return;
  }
  std::vector<std::uint8_t> table = TableAt(memory, address);
  // The FACS has a length but no checksum: it is a table all the same.
  if (!table.empty()) {
    tables_.emplace_back(Le32(table.data()), std::move(table));
  }
}

const std::vector<std::uint8_t>* FirmwareTables::Table(std::uint32_t signature) const {
  auto it = std::find_if(tables_.begin(), tables_.end(), [signature](const auto& t) { return t.first == signature; });
  return it == tables_.end() ? nullptr : &it->second;
}

}  // namespace kestrune::sim
