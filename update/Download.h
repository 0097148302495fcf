// One HTTP resource into one local file, synchronously, through WinInet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

// Fetches url into fileName (both 8-bit text in the ANSI code page) in up to
// four attempts, one second apart. True when one attempt received exactly
// the announced Content-Length and the file took all of it.
bool DownloadFileSync(const std::string& url, const std::string& fileName);

// Where an attempt gets its zero-filled body buffer. The heap serves it;
// tests install another allocator with sys::ScopedSeam to see the attempt
// fail when a buffer cannot be had.
class IBodyAllocator {
 public:
  virtual ~IBodyAllocator() = default;
  // Null when the memory cannot be had; released with std::free.
  virtual void* AllocateZeroed(std::size_t size) = 0;
};

}  // namespace kestrune
