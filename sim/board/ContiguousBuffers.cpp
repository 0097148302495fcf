#include "sim/board/ContiguousBuffers.h"

#include <algorithm>
#include <utility>

namespace kestrune::sim {

namespace {

constexpr std::uint32_t kPageSize = 0x1000;

}  // namespace

bool ContiguousBuffers::Reserve(std::string& error) {
  for (std::uint64_t base = 0x10000000; base + kPoolSize <= 0x100000000ull; base += kPoolSize) {
    if (!memory_.Overlaps(base, kPoolSize)) {
      poolBase_ = static_cast<std::uint32_t>(base);
      return true;
    }
  }
  error = "no free 64 MiB below 4 GiB for contiguous buffers";
  return false;
}

bool ContiguousBuffers::Allocate(std::uint32_t size, std::uint8_t** kernel, std::uint64_t* physical) {
  const auto pages = static_cast<std::uint32_t>((std::uint64_t{size} + kPageSize - 1) / kPageSize * kPageSize);
  // First fit, in address order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> live;
  for (const Buffer& buffer : buffers_) {
    live.emplace_back(buffer.Address, buffer.Size);
  }
  std::sort(live.begin(), live.end());
  std::uint64_t candidate = poolBase_;
  for (const auto& [address, length] : live) {
    if (candidate + pages <= address) {
      break;
    }
    candidate = std::max<std::uint64_t>(candidate, static_cast<std::uint64_t>(address) + length);
  }
  if (candidate + pages > static_cast<std::uint64_t>(poolBase_) + kPoolSize) {
    return false;
  }
  Buffer buffer{static_cast<std::uint32_t>(candidate), pages, std::make_unique<std::uint8_t[]>(pages)};
  std::fill_n(buffer.Storage.get(), pages, std::uint8_t{0xA5});
  memory_.Attach(buffer.Address, buffer.Storage.get(), pages);
  *kernel = buffer.Storage.get();
  *physical = buffer.Address;
  buffers_.push_back(std::move(buffer));
  return true;
}

void ContiguousBuffers::Free(std::uint8_t* kernel, std::uint32_t size) {
  auto it = std::find_if(buffers_.begin(), buffers_.end(),
                         [kernel](const Buffer& buffer) { return buffer.Storage.get() == kernel; });
  if (it != buffers_.end()) {
    lastReleased_.assign(it->Storage.get(), it->Storage.get() + std::min(size, it->Size));
    memory_.Detach(it->Address);
    buffers_.erase(it);
  }
}

}  // namespace kestrune::sim
