// The physical address space of a simulated board: regions of bytes, and
// all ones wherever nothing answers, as on a real bus.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace kestrune::sim {

class PhysicalMemory {
 public:
  // Puts bytes at address; bytes already there are replaced.
  void Place(std::uint64_t address, const std::uint8_t* data, std::uint64_t length);
  // Makes [address, address + length) present; bytes already there stay,
  // new ones read 0.
  void Ensure(std::uint64_t address, std::uint64_t length);
  bool Overlaps(std::uint64_t address, std::uint64_t length) const;
  // Unmapped bytes read 0xFF.
  void Read(std::uint64_t address, std::uint8_t* out, std::uint64_t length) const;
  // Writes to unmapped bytes go nowhere.
  void Write(std::uint64_t address, const std::uint8_t* data, std::uint64_t length);

  std::uint32_t ReadDword(std::uint64_t address) const;
  void WriteDword(std::uint64_t address, std::uint32_t value);

  struct Region {
    std::uint64_t Address;
    std::uint64_t Length;
  };
  std::vector<Region> Regions() const;

 private:
  void Merge(std::uint64_t address, std::uint64_t length, const std::uint8_t* data);
  std::map<std::uint64_t, std::vector<std::uint8_t>> regions_;  // start -> bytes, disjoint
};

}  // namespace kestrune::sim
