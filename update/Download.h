// One HTTP resource into one local file, synchronously, through WinInet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrune {

// What one attempt met, for the run's log: the server's status code (0 when
// no answer came), the Content-Length it announced (0 when none was read)
// and the bytes that the file took.
struct DownloadAttempt {
  std::uint32_t HttpStatus = 0;
  std::int64_t Announced = 0;
  std::uint64_t Stored = 0;
  bool operator==(const DownloadAttempt&) const = default;
};

// Fetches url into fileName (both 8-bit text in the ANSI code page) in up to
// four attempts, one second apart. True when one attempt received exactly
// the announced Content-Length and the file took all of it. Each attempt is
// appended to attempts unless it is null.
bool DownloadFileSync(const std::string& url, const std::string& fileName,
                      std::vector<DownloadAttempt>* attempts = nullptr);

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
