#include "common/Osversion.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "sys/Seam.h"

namespace kestrune {

namespace {

sys::ISystemVersion& System() { return sys::Use<sys::ISystemVersion>(); }

// The service-pack text, which the record does not promise to terminate.
std::string_view ServicePackText(const sys::OsVersionInfoEx& info) {
  const char* end = std::find(std::begin(info.CsdVersion), std::end(info.CsdVersion), '\0');
  return {info.CsdVersion, static_cast<std::size_t>(end - info.CsdVersion)};
}

// The edition words, by the product type that GetProductInfo reports.
struct Edition {
  sys::Dword ProductType;
  const char* Text;
};
constexpr Edition kEditions[] = {
    {1, "Ultimate Edition"},
    {2, "Home Basic Edition"},
    {3, "Home Premium Edition"},
    {4, "Enterprise Edition"},
    {6, "Business Edition"},
    {7, "Standard Edition"},
    {8, "Datacenter Edition"},
    {9, "Small Business Server"},
    {10, "Enterprise Edition"},
    {11, "Starter Edition"},
    {12, "Datacenter Edition (core installation)"},
    {13, "Standard Edition (core installation)"},
    {14, "Enterprise Edition (core installation)"},
    {15, "Enterprise Edition for Itanium-based Systems"},
    {17, "Web Server Edition"},
    {18, "Cluster Server Edition"},
    {25, "Small Business Server Premium Edition"},
    {48, "Professional"},
};

const char* EditionText(sys::Dword productType) {
  for (const Edition& edition : kEditions) {
    if (edition.ProductType == productType) {
      return edition.Text;
    }
  }
  return "";
}

}  // namespace

TOsVersion::TOsVersion() { Probe(); }

bool TOsVersion::Is32BitWindows() const { return !IsWow64(); }

void TOsVersion::Append(std::string_view text) { AppendBounded(Description, text); }

void TOsVersion::Probe() {
  sys::SystemInfo systemInfo;
  VersionInfo = {};
  VersionInfo.OsVersionInfoSize = sizeof(VersionInfo);
  if (!System().GetVersionExA(&VersionInfo)) {
    return;
  }
  if (!System().GetNativeSystemInfo(&systemInfo)) {
    System().GetSystemInfo(&systemInfo);
  }
  const std::uint16_t architecture = systemInfo.ProcessorArchitecture;

  Append("Microsoft ");
  const sys::Dword major = VersionInfo.MajorVersion;
  switch (VersionInfo.PlatformId) {
    case sys::kVerPlatformWin32s:
      Append("Windows ");
      break;
    case sys::kVerPlatformWin32Windows:
      if (major == 4) {
        AppendWindows9x();
      }
      break;
    case sys::kVerPlatformWin32Nt:
      if (major == 5) {
        AppendWindows2000XP(architecture);
      } else if (major == 6) {
        AppendWindowsVistaTo81();
        AppendEdition();
      } else if (major == 10) {
        AppendWindows10();
        AppendEdition();
      }
      break;
    default:
      break;
  }

  const std::string_view servicePack = ServicePackText(VersionInfo);
  if (!servicePack.empty()) {
    Append(" ");
    Append(servicePack);
  }
  char build[80];
  std::snprintf(build, sizeof(build), " (build %d)", static_cast<int>(VersionInfo.BuildNumber));
  Append(build);

  if (major >= 5) {
    if (architecture == sys::kProcessorArchitectureAmd64) {
      Flags |= kOsFlagX64;
      Append(", 64-bit");
    } else if (architecture == sys::kProcessorArchitectureIa64) {
      Flags |= kOsFlagItanium;
      Append(", 64-bit");
    } else if (architecture == sys::kProcessorArchitectureIntel) {
      Append(", 32-bit");
    }
  }
}

void TOsVersion::AppendWindows9x() {
  Flags = kOsWindows9x;
  const char first = VersionInfo.CsdVersion[0];
  switch (VersionInfo.MinorVersion) {
    case 0:
      Append(first == 'B' || first == 'C' ? "Windows 95 OSR2 " : "Windows 95 ");
      break;
    case 10:
      Append(first == 'A' ? "Windows 98 SE " : "Windows 98 ");
      break;
    case 90:
      Append("Windows Me ");
      break;
    default:
      break;
  }
}

void TOsVersion::AppendWindows2000XP(std::uint16_t architecture) {
  Flags = kOsWindows2000XP;
  const bool workstation = VersionInfo.ProductType == sys::kVerNtWorkstation;
  const std::uint16_t suite = VersionInfo.SuiteMask;
  switch (VersionInfo.MinorVersion) {
    case 0:
      Append("Windows 2000 ");
      if (workstation) {
        Append("Professional");
      } else if (suite & sys::kVerSuiteDatacenter) {
        Append("Datacenter Server");
      } else if (suite & sys::kVerSuiteEnterprise) {
        Append("Advanced Server");
      } else {
        Append("Server");
      }
      break;
    case 1:
      Append("Windows XP ");
      Append(suite & sys::kVerSuitePersonal ? "Home Edition" : "Professional");
      break;
    case 2:
      if (System().GetSystemMetrics(sys::kSmServerR2) != 0) {
        Append("Windows Server 2003 R2, ");
      } else if (suite & sys::kVerSuiteStorageServer) {
        Append("Windows Storage Server 2003");
      } else if (suite & sys::kVerSuiteWhServer) {
        Append("Windows Home Server");
      } else if (workstation && architecture == sys::kProcessorArchitectureAmd64) {
        Flags |= kOsFlagX64;
        Append("Windows XP Professional x64 Edition");
      } else {
        Append("Windows Server 2003, ");
      }
      if (workstation) {
        break;
      }
      if (architecture == sys::kProcessorArchitectureIa64) {
        Flags |= kOsFlagItanium;
        if (suite & sys::kVerSuiteDatacenter) {
          Append("Datacenter Edition for Itanium-based Systems");
        } else if (suite & sys::kVerSuiteEnterprise) {
          Append("Enterprise Edition for Itanium-based Systems");
        }
      } else if (architecture == sys::kProcessorArchitectureAmd64) {
        Flags |= kOsFlagX64;
        if (suite & sys::kVerSuiteDatacenter) {
          Append("Datacenter x64 Edition");
        } else if (suite & sys::kVerSuiteEnterprise) {
          Append("Enterprise x64 Edition");
        } else {
          Append("Standard x64 Edition");
        }
      } else if (suite & sys::kVerSuiteComputeServer) {
        Append("Compute Cluster Edition");
      } else if (suite & sys::kVerSuiteDatacenter) {
        Append("Datacenter Edition");
      } else if (suite & sys::kVerSuiteEnterprise) {
        Append("Enterprise Edition");
      } else if (suite & sys::kVerSuiteBlade) {
        Append("Web Edition");
      } else {
        Append("Standard Edition");
      }
      break;
    default:
      break;
  }
}

void TOsVersion::AppendWindowsVistaTo81() {
  const bool workstation = VersionInfo.ProductType == sys::kVerNtWorkstation;
  switch (VersionInfo.MinorVersion) {
    case 0:
      Flags = kOsWindowsVista;
      Append(workstation ? "Windows Vista " : "Windows Server 2008 ");
      break;
    case 1:
      Flags = kOsWindows7;
      Append(workstation ? "Windows 7 " : "Windows Server 2008 R2 ");
      break;
    case 2:
      Flags = kOsWindows8;
      Append("Windows 8 ");
      break;
    case 3:
      Flags = kOsWindows81;
      Append("Windows 8.1 ");
      break;
    default:
      break;
  }
}

void TOsVersion::AppendWindows10() {
  if (VersionInfo.MinorVersion == 0) {
    Flags = kOsWindows10;
    if (VersionInfo.ProductType == sys::kVerNtWorkstation) {
      Append("Windows 10 ");
    }
  }
}

void TOsVersion::AppendEdition() {
  sys::Dword productType = 0;
  const std::optional<sys::Bool> ok =
      System().GetProductInfo(VersionInfo.MajorVersion, VersionInfo.MinorVersion, 0, 0, &productType);
  if (ok.has_value() && *ok != 0) {
    Append(EditionText(productType));
  }
}

namespace {
TOsVersion* osVersion = nullptr;
}  // namespace

TOsVersion& OsVersionInstance() {
  if (osVersion == nullptr) {
    osVersion = new TOsVersion();
  }
  return *osVersion;
}

void ReleaseOsVersionInstance() {
  delete osVersion;
  osVersion = nullptr;
}

bool IsWow64() {
  sys::Bool wow64 = 0;
  System().IsWow64Process(&wow64);  // its own result says nothing more
  return wow64 != 0;
}

}  // namespace kestrune
