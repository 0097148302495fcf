// The file a fuzz target hands its input to, for code that reads a path:
// one in memory where the host has such a folder (/dev/shm), since every
// input is written anew, and a file on disk would be flushed at each
// rewrite. The file goes when the fuzzer ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace kestrune::fuzz {

// The path for this process, made with the suffix of the first call (".zip",
// ".xml"): a fuzz target has one input file.
inline const char* ScratchPath(const char* suffix) {
  static char path[96];
  if (path[0] == '\0') {
    std::snprintf(path, sizeof path, "%s/kestrune-fuzz-%d%s", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp",
                  static_cast<int>(getpid()), suffix);
    std::atexit([] { std::remove(path); });
  }
  return path;
}

// Writes the input to the scratch file; false when it cannot.
inline bool WriteScratch(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace kestrune::fuzz
