// Which Windows runs, and on which processor: the version query, the system
// information records, the product type, the WOW64 test and the system
// metrics, as the functions of the same names offer them.
#pragma once

#include <cstdint>
#include <optional>

#include "sys/WinTypes.h"

namespace kestrune::sys {

using Bool = std::int32_t;

// OSVERSIONINFOEXA, field for field (156 bytes).
struct OsVersionInfoEx {
  Dword OsVersionInfoSize = 0;
  Dword MajorVersion = 0;
  Dword MinorVersion = 0;
  Dword BuildNumber = 0;
  Dword PlatformId = 0;
  char CsdVersion[128] = {};
  std::uint16_t ServicePackMajor = 0;
  std::uint16_t ServicePackMinor = 0;
  std::uint16_t SuiteMask = 0;
  std::uint8_t ProductType = 0;
  std::uint8_t Reserved = 0;
};
static_assert(sizeof(OsVersionInfoEx) == 156, "OSVERSIONINFOEXA is 156 bytes");

// SYSTEM_INFO; the addresses are as wide as the process's pointers.
struct SystemInfo {
  std::uint16_t ProcessorArchitecture = 0;
  std::uint16_t Reserved = 0;
  Dword PageSize = 0;
  std::uintptr_t MinimumApplicationAddress = 0;
  std::uintptr_t MaximumApplicationAddress = 0;
  std::uintptr_t ActiveProcessorMask = 0;
  Dword NumberOfProcessors = 0;
  Dword ProcessorType = 0;
  Dword AllocationGranularity = 0;
  std::uint16_t ProcessorLevel = 0;
  std::uint16_t ProcessorRevision = 0;
};

// Platform identifiers.
inline constexpr Dword kVerPlatformWin32s = 0;
inline constexpr Dword kVerPlatformWin32Windows = 1;
inline constexpr Dword kVerPlatformWin32Nt = 2;

// Product types.
inline constexpr std::uint8_t kVerNtWorkstation = 1;
inline constexpr std::uint8_t kVerNtDomainController = 2;
inline constexpr std::uint8_t kVerNtServer = 3;

// Suite mask bits.
inline constexpr std::uint16_t kVerSuiteEnterprise = 0x0002;
inline constexpr std::uint16_t kVerSuiteDatacenter = 0x0080;
inline constexpr std::uint16_t kVerSuitePersonal = 0x0200;
inline constexpr std::uint16_t kVerSuiteBlade = 0x0400;
inline constexpr std::uint16_t kVerSuiteStorageServer = 0x2000;
inline constexpr std::uint16_t kVerSuiteComputeServer = 0x4000;
inline constexpr std::uint16_t kVerSuiteWhServer = 0x8000;

// Processor architectures.
inline constexpr std::uint16_t kProcessorArchitectureIntel = 0;
inline constexpr std::uint16_t kProcessorArchitectureIa64 = 6;
inline constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;
inline constexpr std::uint16_t kProcessorArchitectureArm64 = 12;

// System metrics.
inline constexpr int kSmMediaCenter = 87;
inline constexpr int kSmServerR2 = 89;

class ISystemVersion {
 public:
  virtual ~ISystemVersion() = default;

  // Fills the record whose size field the caller set (156 for the extended
  // record, 148 for the basic one); FALSE for any other size.
  virtual Bool GetVersionExA(OsVersionInfoEx* info) = 0;
  virtual void GetSystemInfo(SystemInfo* info) = 0;
  virtual int GetSystemMetrics(int index) = 0;

  // Functions that older systems lack, looked up by name in kernel32 at run
  // time (GetModuleHandleA, GetProcAddress). When the running system does
  // not have the function they answer false or std::nullopt and touch
  // nothing; otherwise they call it and answer its own result.
  virtual bool GetNativeSystemInfo(SystemInfo* info) = 0;
  virtual std::optional<Bool> GetProductInfo(Dword osMajor, Dword osMinor, Dword spMajor, Dword spMinor,
                                             Dword* productType) = 0;
  // IsWow64Process for GetCurrentProcess().
  virtual std::optional<Bool> IsWow64Process(Bool* wow64Process) = 0;
};

}  // namespace kestrune::sys
