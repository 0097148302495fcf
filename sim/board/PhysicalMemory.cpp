#include "sim/board/PhysicalMemory.h"

#include <algorithm>
#include <cstring>

#include "common/LittleEndian.h"

namespace kestrune::sim {

void PhysicalMemory::Merge(std::uint64_t address, std::uint64_t length, const std::uint8_t* data) {
  if (length == 0) {
    return;
  }
  std::uint64_t first = address;
  std::uint64_t end = address + length;
  // Every region that overlaps or touches the new range joins it.
  auto it = regions_.upper_bound(address);
  if (it != regions_.begin()) {
    --it;
  }
  std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> joined;
  while (it != regions_.end() && it->first <= end) {
    const std::uint64_t regionEnd = it->first + it->second.size();
    if (regionEnd >= address) {
      first = std::min(first, it->first);
      end = std::max(end, regionEnd);
      joined.emplace_back(it->first, std::move(it->second));
      it = regions_.erase(it);
    } else {
      ++it;
    }
  }
  std::vector<std::uint8_t> merged(end - first, 0xFF);
  if (data == nullptr) {
    std::fill_n(merged.begin() + static_cast<std::ptrdiff_t>(address - first), length, 0);
  }
  for (const auto& [start, bytes] : joined) {
    std::copy(bytes.begin(), bytes.end(), merged.begin() + static_cast<std::ptrdiff_t>(start - first));
  }
  if (data != nullptr) {
    std::memcpy(merged.data() + (address - first), data, length);
  }
  regions_.emplace(first, std::move(merged));
}

void PhysicalMemory::Place(std::uint64_t address, const std::uint8_t* data, std::uint64_t length) {
  Merge(address, length, data);
}

void PhysicalMemory::Ensure(std::uint64_t address, std::uint64_t length) { Merge(address, length, nullptr); }

bool PhysicalMemory::Overlaps(std::uint64_t address, std::uint64_t length) const {
  const std::uint64_t end = address + length;
  for (const auto& [start, bytes] : regions_) {
    if (start < end && address < start + bytes.size()) {
      return true;
    }
  }
  for (const auto& [start, attached] : attached_) {
    if (start < end && address < start + attached.Length) {
      return true;
    }
  }
  return false;
}

void PhysicalMemory::Attach(std::uint64_t address, std::uint8_t* storage, std::uint64_t length) {
  attached_[address] = {storage, length};
}

void PhysicalMemory::Detach(std::uint64_t address) { attached_.erase(address); }

void PhysicalMemory::Read(std::uint64_t address, std::uint8_t* out, std::uint64_t length) const {
  std::memset(out, 0xFF, length);
  const std::uint64_t end = address + length;
  auto it = regions_.upper_bound(address);
  if (it != regions_.begin()) {
    --it;
  }
  for (; it != regions_.end() && it->first < end; ++it) {
    const std::uint64_t regionEnd = it->first + it->second.size();
    const std::uint64_t from = std::max(address, it->first);
    const std::uint64_t to = std::min(end, regionEnd);
    if (from < to) {
      std::memcpy(out + (from - address), it->second.data() + (from - it->first), to - from);
    }
  }
  for (const auto& [start, attached] : attached_) {
    const std::uint64_t from = std::max(address, start);
    const std::uint64_t to = std::min(end, start + attached.Length);
    if (from < to) {
      std::memcpy(out + (from - address), attached.Storage + (from - start), to - from);
    }
  }
}

void PhysicalMemory::Write(std::uint64_t address, const std::uint8_t* data, std::uint64_t length) {
  const std::uint64_t end = address + length;
  auto it = regions_.upper_bound(address);
  if (it != regions_.begin()) {
    --it;
  }
  for (; it != regions_.end() && it->first < end; ++it) {
    const std::uint64_t regionEnd = it->first + it->second.size();
    const std::uint64_t from = std::max(address, it->first);
    const std::uint64_t to = std::min(end, regionEnd);
    if (from < to) {
      std::memcpy(it->second.data() + (from - it->first), data + (from - address), to - from);
    }
  }
  for (const auto& [start, attached] : attached_) {
    const std::uint64_t from = std::max(address, start);
    const std::uint64_t to = std::min(end, start + attached.Length);
    if (from < to) {
      std::memcpy(attached.Storage + (from - start), data + (from - address), to - from);
    }
  }
}

std::uint32_t PhysicalMemory::ReadDword(std::uint64_t address) const {
  std::uint8_t bytes[4];
  Read(address, bytes, 4);
  return Le32(bytes);
}

void PhysicalMemory::WriteDword(std::uint64_t address, std::uint32_t value) {
  std::uint8_t bytes[4];
  PutLe32(bytes, value);
  Write(address, bytes, 4);
}

std::vector<PhysicalMemory::Region> PhysicalMemory::Regions() const {
  std::vector<Region> result;
  for (const auto& [start, bytes] : regions_) {
    result.push_back({start, bytes.size()});
  }
  return result;
}

}  // namespace kestrune::sim
