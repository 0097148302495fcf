// An in-memory Windows for the version seam: the version record, the
// native and the emulated system information, the product type, the WOW64
// answer and the system metrics, each settable by a test.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sys/SystemVersion.h"

namespace kestrune::sim {

class FakeSystemVersion : public sys::ISystemVersion {
 public:
  // 64-bit Windows 10 Pro, build 17134, as the 32-bit program sees it:
  // native x64, x86 through GetSystemInfo, running under WOW64.
  static FakeSystemVersion Windows10Pro64();

  sys::Bool GetVersionExA(sys::OsVersionInfoEx* info) override;
  void GetSystemInfo(sys::SystemInfo* info) override;
  int GetSystemMetrics(int index) override;
  bool GetNativeSystemInfo(sys::SystemInfo* info) override;
  std::optional<sys::Bool> GetProductInfo(sys::Dword osMajor, sys::Dword osMinor, sys::Dword spMajor,
                                          sys::Dword spMinor, sys::Dword* productType) override;
  std::optional<sys::Bool> IsWow64Process(sys::Bool* wow64Process) override;

  // Sets the version fields of Version; the service-pack text is cut to 127.
  void SetVersion(sys::Dword platform, sys::Dword major, sys::Dword minor, sys::Dword build,
                  std::uint8_t productType = sys::kVerNtWorkstation, std::uint16_t suiteMask = 0,
                  const std::string& servicePack = "");
  // Sets the native architecture, and the one GetSystemInfo reports: the
  // same on 32-bit Windows, x86 under WOW64.
  void SetArchitecture(std::uint16_t native, bool wow64);

  bool VersionQuerySucceeds = true;
  sys::OsVersionInfoEx Version;  // its size field is the caller's
  bool HasGetNativeSystemInfo = true;
  sys::SystemInfo Native;
  sys::SystemInfo Emulated;  // what GetSystemInfo reports
  bool HasGetProductInfo = true;
  sys::Dword ProductType = 0;
  bool HasIsWow64Process = true;
  sys::Bool Wow64 = 0;
  std::map<int, int> Metrics;  // others answer 0

  // What the fake was asked.
  int VersionQueries = 0;
  int Wow64Queries = 0;
  struct ProductInfoCall {
    sys::Dword Major, Minor, SpMajor, SpMinor;
  };
  std::vector<ProductInfoCall> ProductInfoCalls;
};

}  // namespace kestrune::sim
