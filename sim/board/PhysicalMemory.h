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

  // Memory kept elsewhere: the driver's contiguous buffers, which the
  // driver reaches through their own storage while firmware and tests reach
  // them here by physical address. The storage must outlive the attachment.
  void Attach(std::uint64_t address, std::uint8_t* storage, std::uint64_t length);
  void Detach(std::uint64_t address);

  struct Region {
    std::uint64_t Address;
    std::uint64_t Length;
  };
  std::vector<Region> Regions() const;

 private:
  void Merge(std::uint64_t address, std::uint64_t length, const std::uint8_t* data);
  struct Attached {
    std::uint8_t* Storage;
    std::uint64_t Length;
  };
  std::map<std::uint64_t, std::vector<std::uint8_t>> regions_;  // start -> bytes, disjoint
  std::map<std::uint64_t, Attached> attached_;                  // start -> storage, disjoint from regions_
};

}  // namespace kestrune::sim
