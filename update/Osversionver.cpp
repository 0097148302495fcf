#include "update/Osversionver.h"

#include <iterator>

#include "common/Osversion.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

sys::ISystemVersion& System() { return sys::Use<sys::ISystemVersion>(); }

// Product types that rename the release.
constexpr sys::Dword kProductHomeServer2011 = 34;
constexpr sys::Dword kProductStorageServer2008R2 = 19;

std::string VersionNumbers(const sys::OsVersionInfoEx& info) {
  return std::to_string(info.MajorVersion) + "." + std::to_string(info.MinorVersion);
}

}  // namespace

TOsVersionVer::TOsVersionVer() { Probe(); }

void TOsVersionVer::Probe() {
  SystemInfo = {};
  if (!System().GetNativeSystemInfo(&SystemInfo)) {
    System().GetSystemInfo(&SystemInfo);
  }
  Wow64 = false;
  VersionInfo = {};
  VersionInfo.OsVersionInfoSize = sizeof(VersionInfo);
  if (!System().GetVersionExA(&VersionInfo)) {
    PlatformCode = 0;
    VersionTag = "Unknown";
    ProductName.clear();
    return;
  }
  Wow64 = IsWow64();
  if (VersionInfo.PlatformId != sys::kVerPlatformWin32Nt) {
    NameOtherPlatform();
    return;
  }

  VersionTag = "WNT_" + VersionNumbers(VersionInfo);
  NameNtRelease();

  if (VersionInfo.MajorVersion >= 6) {
    sys::Dword productType = 0;
    const std::optional<sys::Bool> ok =
        System().GetProductInfo(VersionInfo.MajorVersion, VersionInfo.MinorVersion, 0, 0, &productType);
    if (ok.has_value() && *ok != 0 &&
        (productType == kProductHomeServer2011 || productType == kProductStorageServer2008R2)) {
      const bool homeServer = productType == kProductHomeServer2011;
      ProductName = homeServer ? "Windows Home Server 2011" : "Windows Storage Server 2008 R2";
      VersionTag = "WNT_" + VersionNumbers(VersionInfo) + (homeServer ? "HS2011" : "SS2008");
      if (Wow64) {
        ProductName += " 64";
        VersionTag += "A";
      }
    }
  }

  ServicePack = VersionInfo.ServicePackMajor;
  MediaCenter = System().GetSystemMetrics(sys::kSmMediaCenter) != 0;
  if (MediaCenter) {
    ProductName += " MCE";
  }
}

// The release table: a name, a letter for the tag and, under WOW64, a
// 64-bit suffix of the name and "A" for the tag.
void TOsVersionVer::NameNtRelease() {
  const sys::Dword major = VersionInfo.MajorVersion;
  const sys::Dword minor = VersionInfo.MinorVersion;
  const bool workstation = VersionInfo.ProductType == sys::kVerNtWorkstation;
  const bool itanium = SystemInfo.ProcessorArchitecture == sys::kProcessorArchitectureIa64;

  if (major != 5 && major != 6 && major != 10) {
    ProductName = "Unknown";
    PlatformCode = Wow64 ? 6 : 4;
    return;
  }

  std::string name;
  std::string letter;
  const char* suffix = nullptr;  // none: neither a suffix nor "A"
  if (major == 10) {
    if (minor == 0 && workstation) {
      name = "Windows 10";
      suffix = " 64";
    }
  } else if (major == 6) {
    static const struct {
      const char* Workstation;
      const char* Server;
    } kReleases[] = {
        {"Windows Vista", "Windows Server 2008"},
        {"Windows 7", "Windows Server 2008 R2"},
        {"Windows 8", "Windows Server 2012"},
        {"Windows 8.1", "Windows Server 2012 R2"},
    };
    if (minor < std::size(kReleases)) {
      name = workstation ? kReleases[minor].Workstation : kReleases[minor].Server;
      letter = workstation ? "" : "S";
      suffix = (workstation && minor == 0) ? "64" : " 64";
    }
  } else if (minor == 2) {
    if (workstation && SystemInfo.ProcessorArchitecture == sys::kProcessorArchitectureAmd64) {
      name = "Windows XP64";
      letter = "A";
    } else if (System().GetSystemMetrics(sys::kSmServerR2) != 0) {
      name = "Windows Server 2003 R2";
      letter = "SR2";
      suffix = " 64";
    } else {
      name = "Windows Server 2003";
      letter = "S";
      suffix = " 64";
    }
  } else if (minor == 1) {
    name = "Windows XP";
  } else if (minor == 0) {
    name = "Windows 2000";
  }

  ProductName = name;
  VersionTag += letter;
  if (Wow64 && suffix != nullptr) {
    ProductName += suffix;
    VersionTag += "A";
  }
  PlatformCode = major == 5 ? 1 : 4;
  if (Wow64) {
    PlatformCode += itanium ? 1 : 2;
  }
}

void TOsVersionVer::NameOtherPlatform() {
  PlatformCode = 0;
  VersionTag = "WIN_" + VersionNumbers(VersionInfo);
  ProductName.clear();
  if (VersionInfo.MajorVersion != 4) {
    return;
  }
  switch (VersionInfo.MinorVersion) {
    case 90:
      ProductName = "Windows ME";
      break;
    case 10:
    case 11:
      ProductName = "Windows 98";
      break;
    case 0:
    case 3:
      ProductName = "Windows 95";
      break;
    default:
      break;
  }
}

}  // namespace kestrune
