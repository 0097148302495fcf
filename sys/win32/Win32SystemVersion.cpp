#include "sys/win32/Win32SystemVersion.h"

#include <windows.h>

#include <cstring>

namespace kestrune::sys::win32 {

// The word size.
//
// The product is a 32-bit program; on 64-bit Windows it runs under WOW64.
// Its tests also run as 64-bit programs (under wine64), and those must reach
// the decisions the 32-bit program reaches on the same system. So this
// adapter, the one place that knows the process's word size, answers every
// question that depends on it as the 32-bit program would be answered:
//
// - IsWow64Process: a 64-bit process exists only on 64-bit Windows, where
//   the 32-bit program runs under WOW64, so the answer is TRUE. From it
//   follow IsWow64() and Is32BitWindows(), the word size of the operating
//   system tags and the driver image and folder.
// - GetSystemInfo: under WOW64 it reports the x86 architecture to a 32-bit
//   program, whatever the processor; a 64-bit process would see its own.
//
// GetNativeSystemInfo, the version record and everything else are the same
// for both word sizes and pass through unchanged.
namespace {

constexpr bool kProcessIs64Bit = sizeof(void*) == 8;

// A kernel32 function that older systems lack, or null.
template <class Function>
Function LookUpKernel32(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel32, name)));
}

void CopySystemInfo(const SYSTEM_INFO& from, SystemInfo* to) {
  to->ProcessorArchitecture = from.wProcessorArchitecture;
  to->Reserved = from.wReserved;
  to->PageSize = from.dwPageSize;
  to->MinimumApplicationAddress = reinterpret_cast<std::uintptr_t>(from.lpMinimumApplicationAddress);
  to->MaximumApplicationAddress = reinterpret_cast<std::uintptr_t>(from.lpMaximumApplicationAddress);
  to->ActiveProcessorMask = static_cast<std::uintptr_t>(from.dwActiveProcessorMask);
  to->NumberOfProcessors = from.dwNumberOfProcessors;
  to->ProcessorType = from.dwProcessorType;
  to->AllocationGranularity = from.dwAllocationGranularity;
  to->ProcessorLevel = from.wProcessorLevel;
  to->ProcessorRevision = from.wProcessorRevision;
}

}  // namespace

static_assert(sizeof(OSVERSIONINFOEXA) == sizeof(OsVersionInfoEx));

Bool Win32SystemVersion::GetVersionExA(OsVersionInfoEx* info) {
  OSVERSIONINFOEXA record{};
  record.dwOSVersionInfoSize = info->OsVersionInfoSize;
  const BOOL ok = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record));
  info->MajorVersion = record.dwMajorVersion;
  info->MinorVersion = record.dwMinorVersion;
  info->BuildNumber = record.dwBuildNumber;
  info->PlatformId = record.dwPlatformId;
  std::memcpy(info->CsdVersion, record.szCSDVersion, sizeof(info->CsdVersion));
  if (record.dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
    info->ServicePackMajor = record.wServicePackMajor;
    info->ServicePackMinor = record.wServicePackMinor;
    info->SuiteMask = record.wSuiteMask;
    info->ProductType = record.wProductType;
    info->Reserved = record.wReserved;
  }
  return ok;
}

void Win32SystemVersion::GetSystemInfo(SystemInfo* info) {
  SYSTEM_INFO record{};
  ::GetSystemInfo(&record);
  CopySystemInfo(record, info);
  if (kProcessIs64Bit) {
    info->ProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  }
}

int Win32SystemVersion::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

bool Win32SystemVersion::GetNativeSystemInfo(SystemInfo* info) {
  using Function = void(WINAPI*)(LPSYSTEM_INFO);
  const auto function = LookUpKernel32<Function>("GetNativeSystemInfo");
  if (function == nullptr) {
    return false;
  }
  SYSTEM_INFO record{};
  function(&record);
  CopySystemInfo(record, info);
  return true;
}

std::optional<Bool> Win32SystemVersion::GetProductInfo(Dword osMajor, Dword osMinor, Dword spMajor, Dword spMinor,
                                                       Dword* productType) {
  using Function = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
  const auto function = LookUpKernel32<Function>("GetProductInfo");
  if (function == nullptr) {
    return std::nullopt;
  }
  DWORD type = *productType;
  const BOOL ok = function(osMajor, osMinor, spMajor, spMinor, &type);
  *productType = type;
  return ok;
}

std::optional<Bool> Win32SystemVersion::IsWow64Process(Bool* wow64Process) {
  using Function = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto function = LookUpKernel32<Function>("IsWow64Process");
  if (function == nullptr) {
    return std::nullopt;
  }
  BOOL wow64 = *wow64Process;
  const BOOL ok = function(::GetCurrentProcess(), &wow64);
  *wow64Process = (ok && kProcessIs64Bit) ? TRUE : wow64;
  return ok;
}

}  // namespace kestrune::sys::win32
