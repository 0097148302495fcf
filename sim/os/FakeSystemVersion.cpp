#include "sim/os/FakeSystemVersion.h"

#include <algorithm>
#include <cstring>

namespace kestrune::sim {

namespace {

// The basic OSVERSIONINFOA ends before the service-pack numbers.
constexpr sys::Dword kBasicRecordSize = 148;

}  // namespace

FakeSystemVersion FakeSystemVersion::Windows10Pro64() {
  FakeSystemVersion os;
  os.SetVersion(sys::kVerPlatformWin32Nt, 10, 0, 17134);
  os.ProductType = 48;
  os.SetArchitecture(sys::kProcessorArchitectureAmd64, true);
  return os;
}

void FakeSystemVersion::SetVersion(sys::Dword platform, sys::Dword major, sys::Dword minor, sys::Dword build,
                                   std::uint8_t productType, std::uint16_t suiteMask, const std::string& servicePack) {
  Version = {};
  Version.PlatformId = platform;
  Version.MajorVersion = major;
  Version.MinorVersion = minor;
  Version.BuildNumber = build;
  Version.ProductType = productType;
  Version.SuiteMask = suiteMask;
  const std::size_t length = std::min(servicePack.size(), sizeof(Version.CsdVersion) - 1);
  std::memcpy(Version.CsdVersion, servicePack.data(), length);
}

void FakeSystemVersion::SetArchitecture(std::uint16_t native, bool wow64) {
  Native.ProcessorArchitecture = native;
  Emulated.ProcessorArchitecture = wow64 ? sys::kProcessorArchitectureIntel : native;
  Wow64 = wow64 ? 1 : 0;
}

sys::Bool FakeSystemVersion::GetVersionExA(sys::OsVersionInfoEx* info) {
  ++VersionQueries;
  const sys::Dword size = info->OsVersionInfoSize;
  if (!VersionQuerySucceeds || (size != sizeof(sys::OsVersionInfoEx) && size != kBasicRecordSize)) {
    return 0;
  }
  std::memcpy(reinterpret_cast<char*>(info) + sizeof(size), reinterpret_cast<const char*>(&Version) + sizeof(size),
              size - sizeof(size));
  return 1;
}

void FakeSystemVersion::GetSystemInfo(sys::SystemInfo* info) { *info = Emulated; }

int FakeSystemVersion::GetSystemMetrics(int index) {
  auto it = Metrics.find(index);
  return it == Metrics.end() ? 0 : it->second;
}

bool FakeSystemVersion::GetNativeSystemInfo(sys::SystemInfo* info) {
  if (!HasGetNativeSystemInfo) {
    return false;
  }
  *info = Native;
  return true;
}

std::optional<sys::Bool> FakeSystemVersion::GetProductInfo(sys::Dword osMajor, sys::Dword osMinor, sys::Dword spMajor,
                                                           sys::Dword spMinor, sys::Dword* productType) {
  if (!HasGetProductInfo) {
    return std::nullopt;
  }
  ProductInfoCalls.push_back({osMajor, osMinor, spMajor, spMinor});
  *productType = ProductType;
  return 1;
}

std::optional<sys::Bool> FakeSystemVersion::IsWow64Process(sys::Bool* wow64Process) {
  ++Wow64Queries;
  if (!HasIsWow64Process) {
    return std::nullopt;
  }
  *wow64Process = Wow64;
  return 1;
}

}  // namespace kestrune::sim
