#include "update/Osversionver.h"

#include <gtest/gtest.h>

#include "sim/os/FakeSystemVersion.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

using sim::FakeSystemVersion;
using namespace sys;  // the system's constants

class OsVersionVerTest : public ::testing::Test {
 protected:
  FakeSystemVersion Os = FakeSystemVersion::Windows10Pro64();

 private:
  ScopedSeam<ISystemVersion> Seam{Os};
};

constexpr std::uint8_t kWs = kVerNtWorkstation;
constexpr std::uint8_t kSrv = kVerNtServer;
constexpr std::uint16_t kX86 = kProcessorArchitectureIntel;
constexpr std::uint16_t kX64 = kProcessorArchitectureAmd64;
constexpr std::uint16_t kIa64 = kProcessorArchitectureIa64;
constexpr Dword kNt = kVerPlatformWin32Nt;
constexpr bool kWow = true;
constexpr bool k32 = false;

struct ReleaseCase {
  const char* name;
  Dword platform;
  Dword major;
  Dword minor;
  std::uint8_t productType;
  std::uint16_t architecture;  // native
  bool wow64;
  int serverR2;
  Dword edition;  // GetProductInfo's product type
  const char* tag;
  const char* productName;
  std::int32_t platformCode;
};

const ReleaseCase kReleases[] = {
    // NT 10.
    {"10 64", kNt, 10, 0, kWs, kX64, kWow, 0, 48, "WNT_10.0A", "Windows 10 64", 6},
    {"10 32", kNt, 10, 0, kWs, kX86, k32, 0, 48, "WNT_10.0", "Windows 10", 4},
    {"Server 2016 64", kNt, 10, 0, kSrv, kX64, kWow, 0, 7, "WNT_10.0", "", 6},
    {"Server 2016 32", kNt, 10, 0, kSrv, kX86, k32, 0, 7, "WNT_10.0", "", 4},
    {"10.1", kNt, 10, 1, kWs, kX64, kWow, 0, 48, "WNT_10.1", "", 6},
    {"10 Itanium", kNt, 10, 0, kWs, kIa64, kWow, 0, 48, "WNT_10.0A", "Windows 10 64", 5},
    // NT 6.
    {"8.1 64", kNt, 6, 3, kWs, kX64, kWow, 0, 48, "WNT_6.3A", "Windows 8.1 64", 6},
    {"8.1 32", kNt, 6, 3, kWs, kX86, k32, 0, 48, "WNT_6.3", "Windows 8.1", 4},
    {"2012 R2 64", kNt, 6, 3, kSrv, kX64, kWow, 0, 7, "WNT_6.3SA", "Windows Server 2012 R2 64", 6},
    {"2012 R2 32", kNt, 6, 3, kSrv, kX86, k32, 0, 7, "WNT_6.3S", "Windows Server 2012 R2", 4},
    {"8 64", kNt, 6, 2, kWs, kX64, kWow, 0, 4, "WNT_6.2A", "Windows 8 64", 6},
    {"2012 64", kNt, 6, 2, kSrv, kX64, kWow, 0, 7, "WNT_6.2SA", "Windows Server 2012 64", 6},
    {"7 64", kNt, 6, 1, kWs, kX64, kWow, 0, 1, "WNT_6.1A", "Windows 7 64", 6},
    {"7 32", kNt, 6, 1, kWs, kX86, k32, 0, 1, "WNT_6.1", "Windows 7", 4},
    {"2008 R2 64", kNt, 6, 1, kSrv, kX64, kWow, 0, 8, "WNT_6.1SA", "Windows Server 2008 R2 64", 6},
    {"2008 R2 Itanium", kNt, 6, 1, kSrv, kIa64, kWow, 0, 15, "WNT_6.1SA", "Windows Server 2008 R2 64", 5},
    {"Vista 64", kNt, 6, 0, kWs, kX64, kWow, 0, 3, "WNT_6.0A", "Windows Vista64", 6},
    {"Vista 32", kNt, 6, 0, kWs, kX86, k32, 0, 3, "WNT_6.0", "Windows Vista", 4},
    {"2008 64", kNt, 6, 0, kSrv, kX64, kWow, 0, 8, "WNT_6.0SA", "Windows Server 2008 64", 6},
    {"2008 32", kNt, 6, 0, kSrv, kX86, k32, 0, 8, "WNT_6.0S", "Windows Server 2008", 4},
    {"6.4", kNt, 6, 4, kWs, kX64, kWow, 0, 48, "WNT_6.4", "", 6},
    // NT 5.
    {"XP x64", kNt, 5, 2, kWs, kX64, kWow, 0, 0, "WNT_5.2A", "Windows XP64", 3},
    {"XP x64 without WOW64", kNt, 5, 2, kWs, kX64, k32, 0, 0, "WNT_5.2A", "Windows XP64", 1},
    {"2003 32", kNt, 5, 2, kSrv, kX86, k32, 0, 0, "WNT_5.2S", "Windows Server 2003", 1},
    {"2003 x64", kNt, 5, 2, kSrv, kX64, kWow, 0, 0, "WNT_5.2SA", "Windows Server 2003 64", 3},
    {"2003 Itanium", kNt, 5, 2, kSrv, kIa64, kWow, 0, 0, "WNT_5.2SA", "Windows Server 2003 64", 2},
    {"2003 R2 32", kNt, 5, 2, kSrv, kX86, k32, 1, 0, "WNT_5.2SR2", "Windows Server 2003 R2", 1},
    {"2003 R2 x64", kNt, 5, 2, kSrv, kX64, kWow, 1, 0, "WNT_5.2SR2A", "Windows Server 2003 R2 64", 3},
    {"5.2 workstation x86", kNt, 5, 2, kWs, kX86, k32, 0, 0, "WNT_5.2S", "Windows Server 2003", 1},
    {"XP 32", kNt, 5, 1, kWs, kX86, k32, 0, 0, "WNT_5.1", "Windows XP", 1},
    {"XP under WOW64", kNt, 5, 1, kWs, kX64, kWow, 0, 0, "WNT_5.1", "Windows XP", 3},
    {"2000", kNt, 5, 0, kSrv, kX86, k32, 0, 0, "WNT_5.0", "Windows 2000", 1},
    {"2000 under WOW64", kNt, 5, 0, kSrv, kIa64, kWow, 0, 0, "WNT_5.0", "Windows 2000", 2},
    {"5.3", kNt, 5, 3, kWs, kX64, kWow, 0, 0, "WNT_5.3", "", 3},
    // Other NT versions: no Itanium distinction.
    {"NT 4.0", kNt, 4, 0, kWs, kX86, k32, 0, 0, "WNT_4.0", "Unknown", 4},
    {"NT 4.0 Itanium", kNt, 4, 0, kWs, kIa64, kWow, 0, 0, "WNT_4.0", "Unknown", 6},
    {"NT 11", kNt, 11, 0, kWs, kX64, kWow, 0, 48, "WNT_11.0", "Unknown", 6},
    // The product types that rename the release.
    {"Home Server 2011", kNt, 6, 1, kSrv, kX64, kWow, 0, 34, "WNT_6.1HS2011A", "Windows Home Server 2011 64", 6},
    {"Home Server 2011 32", kNt, 6, 1, kSrv, kX86, k32, 0, 34, "WNT_6.1HS2011", "Windows Home Server 2011", 4},
    {"Storage Server 2008 R2", kNt, 6, 1, kSrv, kX64, kWow, 0, 19, "WNT_6.1SS2008A",
     "Windows Storage Server 2008 R2 64", 6},
    {"Storage Server on NT 11", kNt, 11, 0, kSrv, kX86, k32, 0, 19, "WNT_11.0SS2008", "Windows Storage Server 2008 R2",
     4},
    {"product 34 on NT 5", kNt, 5, 2, kSrv, kX86, k32, 0, 34, "WNT_5.2S", "Windows Server 2003", 1},
    // Other platforms.
    {"Me", kVerPlatformWin32Windows, 4, 90, 0, kX86, k32, 0, 0, "WIN_4.90", "Windows ME", 0},
    {"98 SE", kVerPlatformWin32Windows, 4, 10, 0, kX86, k32, 0, 0, "WIN_4.10", "Windows 98", 0},
    {"98 (4.11)", kVerPlatformWin32Windows, 4, 11, 0, kX86, k32, 0, 0, "WIN_4.11", "Windows 98", 0},
    {"95 (4.3)", kVerPlatformWin32Windows, 4, 3, 0, kX86, k32, 0, 0, "WIN_4.3", "Windows 95", 0},
    {"95", kVerPlatformWin32Windows, 4, 0, 0, kX86, k32, 0, 0, "WIN_4.0", "Windows 95", 0},
    {"4.1", kVerPlatformWin32Windows, 4, 1, 0, kX86, k32, 0, 0, "WIN_4.1", "", 0},
    {"Win32s", kVerPlatformWin32s, 3, 10, 0, kX86, k32, 0, 0, "WIN_3.10", "", 0},
};

TEST_F(OsVersionVerTest, EveryRowOfTheReleaseTable) {
  for (const ReleaseCase& c : kReleases) {
    SCOPED_TRACE(c.name);
    Os.SetVersion(c.platform, c.major, c.minor, 1234, c.productType);
    Os.SetArchitecture(c.architecture, c.wow64);
    Os.ProductType = c.edition;
    Os.Metrics = {{kSmServerR2, c.serverR2}};
    const TOsVersionVer os;
    EXPECT_EQ(os.VersionTag, c.tag);
    EXPECT_EQ(os.ProductName, c.productName);
    EXPECT_EQ(os.PlatformCode, c.platformCode);
    EXPECT_EQ(os.Wow64, c.wow64);
    EXPECT_EQ(os.SystemInfo.ProcessorArchitecture, c.architecture);
    EXPECT_EQ(os.VersionInfo.MajorVersion, c.major);
  }
}

TEST_F(OsVersionVerTest, AsksForTheProductTypeFromVersion6On) {
  const struct {
    Dword major;
    Dword minor;
    bool asked;
  } cases[] = {{5, 2, false}, {6, 0, true}, {10, 0, true}, {11, 3, true}, {4, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.major);
    Os.ProductInfoCalls.clear();
    Os.SetVersion(kNt, c.major, c.minor, 1, kWs, 0, "Service Pack 1");
    Os.Version.ServicePackMajor = 1;
    Os.Version.ServicePackMinor = 1;
    const TOsVersionVer os;
    ASSERT_EQ(Os.ProductInfoCalls.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(Os.ProductInfoCalls[0].Major, c.major);
      EXPECT_EQ(Os.ProductInfoCalls[0].Minor, c.minor);
      EXPECT_EQ(Os.ProductInfoCalls[0].SpMajor, 0u);
      EXPECT_EQ(Os.ProductInfoCalls[0].SpMinor, 0u);
    }
  }
}

TEST_F(OsVersionVerTest, AMediaCenterEditionAndTheServicePack) {
  Os.SetVersion(kNt, 6, 1, 7601, kWs, 0, "Service Pack 1");
  Os.Version.ServicePackMajor = 1;
  Os.Metrics = {{kSmMediaCenter, 1}};
  const TOsVersionVer os;
  EXPECT_EQ(os.ProductName, "Windows 7 64 MCE");
  EXPECT_TRUE(os.MediaCenter);
  EXPECT_EQ(os.VersionTag, "WNT_6.1A");
  EXPECT_EQ(os.ServicePack, 1);

  Os.Metrics.clear();
  const TOsVersionVer plain;
  EXPECT_EQ(plain.ProductName, "Windows 7 64");
  EXPECT_FALSE(plain.MediaCenter);
}

TEST_F(OsVersionVerTest, AFailedVersionQuery) {
  Os.VersionQuerySucceeds = false;  // on 64-bit Windows
  const TOsVersionVer os;
  EXPECT_EQ(os.VersionTag, "Unknown");
  EXPECT_EQ(os.ProductName, "");
  EXPECT_EQ(os.PlatformCode, 0);
  EXPECT_FALSE(os.Wow64);
  EXPECT_EQ(Os.Wow64Queries, 0);
}

TEST_F(OsVersionVerTest, WithoutGetNativeSystemInfoTheEmulatedRecordCounts) {
  Os.SetVersion(kNt, 6, 1, 7601, kSrv);
  Os.SetArchitecture(kIa64, true);
  Os.HasGetNativeSystemInfo = false;  // GetSystemInfo says x86 under WOW64
  const TOsVersionVer os;
  EXPECT_EQ(os.SystemInfo.ProcessorArchitecture, kX86);
  EXPECT_EQ(os.PlatformCode, 6);
}

TEST_F(OsVersionVerTest, WithoutIsWow64ProcessTheSystemCountsAs32Bit) {
  Os.HasIsWow64Process = false;
  const TOsVersionVer os;
  EXPECT_FALSE(os.Wow64);
  EXPECT_EQ(os.VersionTag, "WNT_10.0");
  EXPECT_EQ(os.ProductName, "Windows 10");
  EXPECT_EQ(os.PlatformCode, 4);
}

}  // namespace
}  // namespace kestrune
