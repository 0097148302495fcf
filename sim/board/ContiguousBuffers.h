// The physically contiguous buffers the driver allocates on a simulated
// board: 64 MiB below 4 GiB that no board region uses, handed out first fit
// in address order, page by page, each attached to the board's memory while
// it lives. Fresh memory holds whatever it held: the driver must clear it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/board/PhysicalMemory.h"

namespace kestrune::sim {

class ContiguousBuffers {
 public:
  static constexpr std::uint32_t kPoolSize = 0x04000000;  // 64 MiB

  // memory must outlive the buffers.
  explicit ContiguousBuffers(PhysicalMemory& memory) : memory_(memory) {}

  // Finds the pool in memory as the board placed it; false with the fault
  // named in error when no free 64 MiB lie below 4 GiB.
  bool Reserve(std::string& error);
  std::uint32_t PoolBase() const { return poolBase_; }

  // false when the pool has no room for size bytes.
  bool Allocate(std::uint32_t size, std::uint8_t** kernel, std::uint64_t* physical);
  void Free(std::uint8_t* kernel, std::uint32_t size);

  std::size_t Count() const { return buffers_.size(); }
  // The bytes the last released buffer held when it went (as many as were
  // asked for).
  const std::vector<std::uint8_t>& LastReleased() const { return lastReleased_; }

 private:
  struct Buffer {
    std::uint32_t Address;
    std::uint32_t Size;
    std::unique_ptr<std::uint8_t[]> Storage;
  };

  PhysicalMemory& memory_;
  std::uint32_t poolBase_ = 0;
  std::vector<Buffer> buffers_;
  std::vector<std::uint8_t> lastReleased_;
};

}  // namespace kestrune::sim
