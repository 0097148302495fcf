// Which Windows runs: identified once, when the object is constructed, and
// kept as one flags word and a readable description.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "sys/SystemVersion.h"

namespace kestrune {

// The flags word: the two architecture bits, then the generation code in
// bits 4 to 15. Callers compare the word as a number, so the codes rise
// with the generation and sit above the architecture bits.
inline constexpr std::uint32_t kOsFlagX64 = 0x0001;
inline constexpr std::uint32_t kOsFlagItanium = 0x0002;
inline constexpr std::uint32_t kOsGenerationMask = 0xFFF0;
inline constexpr std::uint32_t kOsWindows9x = 0x010;
inline constexpr std::uint32_t kOsWindows2000XP = 0x020;  // 2000, XP, Server 2003
inline constexpr std::uint32_t kOsWindowsVista = 0x040;
inline constexpr std::uint32_t kOsWindows7 = 0x0C0;
inline constexpr std::uint32_t kOsWindows8 = 0x1C0;
inline constexpr std::uint32_t kOsWindows81 = 0x2C0;
inline constexpr std::uint32_t kOsWindows10 = 0x4C0;

// Appends text to the NUL-terminated text in buffer and cuts what does not
// fit: the result holds at most N - 1 characters and stays terminated.
template <std::size_t N>
void AppendBounded(char (&buffer)[N], std::string_view text) {
  const auto used = static_cast<std::size_t>(std::find(buffer, buffer + N - 1, '\0') - buffer);
  const std::size_t count = std::min(text.size(), N - 1 - used);
  std::memcpy(buffer + used, text.data(), count);
  buffer[used + count] = '\0';
}

class TOsVersion {
 public:
  // Runs the probe. A failed version query leaves an empty description and
  // the flags word 0.
  TOsVersion();
  ~TOsVersion() = default;
  TOsVersion(const TOsVersion&) = delete;
  TOsVersion& operator=(const TOsVersion&) = delete;

  std::uint32_t GetFlags(std::uint32_t mask) const { return Flags & mask; }
  bool Is64Bit() const { return (Flags & kOsFlagX64) != 0; }
  bool IsItanium() const { return (Flags & kOsFlagItanium) != 0; }
  bool IsWindows10() const { return (Flags & kOsGenerationMask) == kOsWindows10; }
  // Asks the system on every call; does not depend on the flags word.
  bool Is32BitWindows() const;

  // "Microsoft Windows 10 Professional (build 17134), 64-bit"; at most 255
  // characters.
  const char* GetDescription() const { return Description; }
  const sys::OsVersionInfoEx& GetVersionInfo() const { return VersionInfo; }

 private:
  void Probe();
  void Append(std::string_view text);
  void AppendWindows9x();
  void AppendWindows2000XP(std::uint16_t nativeArchitecture);
  void AppendWindowsVistaTo81();
  void AppendWindows10();
  void AppendEdition();

  char Description[256] = {};
  std::uint32_t Flags = 0;
  sys::OsVersionInfoEx VersionInfo;
};

// The process-wide TOsVersion, created (and probed) by the first call; the
// program never destroys it.
TOsVersion& OsVersionInstance();
// Destroys it, so that the next call probes the system again: for tests
// that start a new system.
void ReleaseOsVersionInstance();

// True when the program runs under WOW64, that is, as a 32-bit program on
// 64-bit Windows; false when the system lacks IsWow64Process. Asks the
// system on every call.
bool IsWow64();

}  // namespace kestrune
