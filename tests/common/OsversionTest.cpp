#include "common/Osversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/os/FakeSystemVersion.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

using sim::FakeSystemVersion;
using namespace sys;  // the system's constants

class OsVersionTest : public ::testing::Test {
 protected:
  FakeSystemVersion Os = FakeSystemVersion::Windows10Pro64();

 private:
  ScopedSeam<ISystemVersion> Seam{Os};
};

// One system: the version record, the native architecture, the product
// type and SM_SERVERR2; what the probe makes of it.
struct SystemCase {
  const char* name;
  Dword platform;
  Dword major;
  Dword minor;
  Dword build;
  std::uint8_t productType;
  std::uint16_t suite;
  const char* servicePack;
  std::uint16_t architecture;
  Dword edition;  // GetProductInfo's product type
  int serverR2;
  std::uint32_t flags;
  const char* description;
};

constexpr std::uint8_t kWs = kVerNtWorkstation;
constexpr std::uint8_t kSrv = kVerNtServer;
constexpr std::uint16_t kX86 = kProcessorArchitectureIntel;
constexpr std::uint16_t kX64 = kProcessorArchitectureAmd64;
constexpr std::uint16_t kIa64 = kProcessorArchitectureIa64;
constexpr Dword k9x = kVerPlatformWin32Windows;
constexpr Dword kNt = kVerPlatformWin32Nt;

const SystemCase kSystems[] = {
    // Win32s and table A, the 9x family: no word size below major version 5.
    {"Win32s", kVerPlatformWin32s, 3, 10, 1, 0, 0, "", kX86, 0, 0, 0x000, "Microsoft Windows  (build 1)"},
    {"95 OSR2 B", k9x, 4, 0, 1111, 0, 0, "B", kX86, 0, 0, 0x010, "Microsoft Windows 95 OSR2  B (build 1111)"},
    {"95 OSR2 C", k9x, 4, 0, 1212, 0, 0, "C", kX86, 0, 0, 0x010, "Microsoft Windows 95 OSR2  C (build 1212)"},
    {"95", k9x, 4, 0, 950, 0, 0, "", kX86, 0, 0, 0x010, "Microsoft Windows 95  (build 950)"},
    {"95 other letter", k9x, 4, 0, 950, 0, 0, "A", kX86, 0, 0, 0x010, "Microsoft Windows 95  A (build 950)"},
    {"98 SE", k9x, 4, 10, 2222, 0, 0, "A", kX86, 0, 0, 0x010, "Microsoft Windows 98 SE  A (build 2222)"},
    {"98", k9x, 4, 10, 1998, 0, 0, "", kX86, 0, 0, 0x010, "Microsoft Windows 98  (build 1998)"},
    {"Me", k9x, 4, 90, 3000, 0, 0, "", kX86, 0, 0, 0x010, "Microsoft Windows Me  (build 3000)"},
    {"9x other minor", k9x, 4, 3, 7, 0, 0, "", kX86, 0, 0, 0x010, "Microsoft  (build 7)"},
    {"9x platform, major 5", k9x, 5, 0, 7, 0, 0, "", kX86, 0, 0, 0x000, "Microsoft  (build 7), 32-bit"},
    {"NT 4.0", kNt, 4, 0, 1381, 0, 0, "", kX86, 0, 0, 0x000, "Microsoft  (build 1381)"},
    // Table B, NT 5.
    {"2000 Pro", kNt, 5, 0, 2195, kWs, 0, "", kX86, 0, 0, 0x020,
     "Microsoft Windows 2000 Professional (build 2195), 32-bit"},
    {"2000 Datacenter", kNt, 5, 0, 2195, kSrv, kVerSuiteDatacenter | kVerSuiteEnterprise, "", kX86, 0, 0, 0x020,
     "Microsoft Windows 2000 Datacenter Server (build 2195), 32-bit"},
    {"2000 Advanced", kNt, 5, 0, 2195, kSrv, kVerSuiteEnterprise, "", kX86, 0, 0, 0x020,
     "Microsoft Windows 2000 Advanced Server (build 2195), 32-bit"},
    {"2000 Server", kNt, 5, 0, 2195, kSrv, 0, "", kX86, 0, 0, 0x020,
     "Microsoft Windows 2000 Server (build 2195), 32-bit"},
    {"XP Home", kNt, 5, 1, 2600, kWs, kVerSuitePersonal, "Service Pack 3", kX86, 0, 0, 0x020,
     "Microsoft Windows XP Home Edition Service Pack 3 (build 2600), 32-bit"},
    {"XP Pro", kNt, 5, 1, 2600, kWs, 0, "", kX86, 0, 0, 0x020,
     "Microsoft Windows XP Professional (build 2600), 32-bit"},
    {"2003 R2", kNt, 5, 2, 3790, kSrv, kVerSuiteStorageServer, "", kX86, 0, 1, 0x020,
     "Microsoft Windows Server 2003 R2, Standard Edition (build 3790), 32-bit"},
    {"Storage Server 2003", kNt, 5, 2, 3790, kSrv, kVerSuiteStorageServer | kVerSuiteWhServer, "", kX86, 0, 0, 0x020,
     "Microsoft Windows Storage Server 2003Standard Edition (build 3790), 32-bit"},
    {"Home Server", kNt, 5, 2, 3790, kSrv, kVerSuiteWhServer, "", kX86, 0, 0, 0x020,
     "Microsoft Windows Home ServerStandard Edition (build 3790), 32-bit"},
    {"XP x64", kNt, 5, 2, 3790, kWs, 0, "", kX64, 0, 0, 0x021,
     "Microsoft Windows XP Professional x64 Edition (build 3790), 64-bit"},
    {"5.2 workstation x86", kNt, 5, 2, 3790, kWs, 0, "", kX86, 0, 0, 0x020,
     "Microsoft Windows Server 2003,  (build 3790), 32-bit"},
    {"2003 Itanium Datacenter", kNt, 5, 2, 3790, kSrv, kVerSuiteDatacenter | kVerSuiteEnterprise, "", kIa64, 0, 0,
     0x022, "Microsoft Windows Server 2003, Datacenter Edition for Itanium-based Systems (build 3790), 64-bit"},
    {"2003 Itanium Enterprise", kNt, 5, 2, 3790, kSrv, kVerSuiteEnterprise, "", kIa64, 0, 0, 0x022,
     "Microsoft Windows Server 2003, Enterprise Edition for Itanium-based Systems (build 3790), 64-bit"},
    {"2003 Itanium", kNt, 5, 2, 3790, kSrv, 0, "", kIa64, 0, 0, 0x022,
     "Microsoft Windows Server 2003,  (build 3790), 64-bit"},
    {"2003 x64 Datacenter", kNt, 5, 2, 3790, kSrv, kVerSuiteDatacenter | kVerSuiteEnterprise, "", kX64, 0, 0, 0x021,
     "Microsoft Windows Server 2003, Datacenter x64 Edition (build 3790), 64-bit"},
    {"2003 x64 Enterprise", kNt, 5, 2, 3790, kSrv, kVerSuiteEnterprise, "", kX64, 0, 0, 0x021,
     "Microsoft Windows Server 2003, Enterprise x64 Edition (build 3790), 64-bit"},
    {"2003 x64 Standard", kNt, 5, 2, 3790, kSrv, 0, "", kX64, 0, 0, 0x021,
     "Microsoft Windows Server 2003, Standard x64 Edition (build 3790), 64-bit"},
    {"2003 Compute Cluster", kNt, 5, 2, 3790, kSrv, kVerSuiteComputeServer | kVerSuiteDatacenter, "", kX86, 0, 0, 0x020,
     "Microsoft Windows Server 2003, Compute Cluster Edition (build 3790), 32-bit"},
    {"2003 Datacenter", kNt, 5, 2, 3790, kSrv, kVerSuiteDatacenter | kVerSuiteEnterprise | kVerSuiteBlade, "", kX86, 0,
     0, 0x020, "Microsoft Windows Server 2003, Datacenter Edition (build 3790), 32-bit"},
    {"2003 Enterprise", kNt, 5, 2, 3790, kSrv, kVerSuiteEnterprise | kVerSuiteBlade, "", kX86, 0, 0, 0x020,
     "Microsoft Windows Server 2003, Enterprise Edition (build 3790), 32-bit"},
    {"2003 Web", kNt, 5, 2, 3790, kSrv, kVerSuiteBlade, "", kX86, 0, 0, 0x020,
     "Microsoft Windows Server 2003, Web Edition (build 3790), 32-bit"},
    {"2003 Standard", kNt, 5, 2, 3790, kSrv, 0, "Service Pack 2", kX86, 0, 0, 0x020,
     "Microsoft Windows Server 2003, Standard Edition Service Pack 2 (build 3790), 32-bit"},
    {"NT 5.3", kNt, 5, 3, 1, kWs, 0, "", kX64, 0, 0, 0x021, "Microsoft  (build 1), 64-bit"},
    // Table C, NT 6, each with its edition.
    {"Vista", kNt, 6, 0, 6002, kWs, 0, "Service Pack 2", kX86, 3, 0, 0x040,
     "Microsoft Windows Vista Home Premium Edition Service Pack 2 (build 6002), 32-bit"},
    {"Server 2008", kNt, 6, 0, 6001, kSrv, 0, "", kX64, 8, 0, 0x041,
     "Microsoft Windows Server 2008 Datacenter Edition (build 6001), 64-bit"},
    {"7", kNt, 6, 1, 7601, kWs, 0, "", kX64, 1, 0, 0x0C1, "Microsoft Windows 7 Ultimate Edition (build 7601), 64-bit"},
    {"Server 2008 R2", kNt, 6, 1, 7601, kSrv, 0, "", kIa64, 15, 0, 0x0C2,
     "Microsoft Windows Server 2008 R2 Enterprise Edition for Itanium-based Systems (build 7601), 64-bit"},
    {"8", kNt, 6, 2, 9200, kSrv, 0, "", kX86, 4, 0, 0x1C0,
     "Microsoft Windows 8 Enterprise Edition (build 9200), 32-bit"},
    {"8.1", kNt, 6, 3, 9600, kWs, 0, "", kX64, 48, 0, 0x2C1, "Microsoft Windows 8.1 Professional (build 9600), 64-bit"},
    {"6.4", kNt, 6, 4, 9841, kWs, 0, "", kX64, 48, 0, 0x001, "Microsoft Professional (build 9841), 64-bit"},
    // Table D, NT 10.
    {"10 Pro", kNt, 10, 0, 17134, kWs, 0, "", kX64, 48, 0, 0x4C1,
     "Microsoft Windows 10 Professional (build 17134), 64-bit"},
    {"10 Home", kNt, 10, 0, 17134, kWs, 0, "", kX64, 101, 0, 0x4C1, "Microsoft Windows 10  (build 17134), 64-bit"},
    {"10 32-bit", kNt, 10, 0, 19045, kWs, 0, "", kX86, 48, 0, 0x4C0,
     "Microsoft Windows 10 Professional (build 19045), 32-bit"},
    {"Server 2016", kNt, 10, 0, 14393, kSrv, 0, "", kX64, 7, 0, 0x4C1,
     "Microsoft Standard Edition (build 14393), 64-bit"},
    {"10.1", kNt, 10, 1, 1, kWs, 0, "", kX64, 48, 0, 0x001, "Microsoft Professional (build 1), 64-bit"},
    {"10 on ARM64", kNt, 10, 0, 22000, kWs, 0, "", kProcessorArchitectureArm64, 48, 0, 0x4C0,
     "Microsoft Windows 10 Professional (build 22000)"},
    {"NT 11", kNt, 11, 0, 1, kWs, 0, "", kX64, 48, 0, 0x001, "Microsoft  (build 1), 64-bit"},
};

TEST_F(OsVersionTest, EverySystemOfTheTables) {
  for (const SystemCase& c : kSystems) {
    SCOPED_TRACE(c.name);
    Os.SetVersion(c.platform, c.major, c.minor, c.build, c.productType, c.suite, c.servicePack);
    Os.SetArchitecture(c.architecture, false);
    Os.ProductType = c.edition;
    Os.Metrics = {{kSmServerR2, c.serverR2}};
    const TOsVersion os;
    EXPECT_EQ(os.GetFlags(0xFFFF), c.flags);
    EXPECT_STREQ(os.GetDescription(), c.description);
    EXPECT_EQ(os.Is64Bit(), (c.flags & 1) != 0);
    EXPECT_EQ(os.IsItanium(), (c.flags & 2) != 0);
    EXPECT_EQ(os.IsWindows10(), (c.flags & 0xFFF0) == 0x4C0);
  }
}

TEST_F(OsVersionTest, EveryEditionOfTheProductTypeTable) {
  const struct {
    Dword productType;
    const char* edition;
  } editions[] = {
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
      {0, ""},
      {5, ""},
      {16, ""},
      {0x1C, ""},
      {0xABCDABCD, ""},
  };
  Os.SetVersion(kNt, 6, 1, 7601);
  for (const auto& e : editions) {
    SCOPED_TRACE(e.productType);
    Os.ProductType = e.productType;
    const TOsVersion os;
    EXPECT_EQ(std::string(os.GetDescription()),
              std::string("Microsoft Windows 7 ") + e.edition + " (build 7601), 64-bit");
  }
}

TEST_F(OsVersionTest, AsksForTheEditionOfItsOwnVersionWithoutServicePack) {
  Os.SetVersion(kNt, 10, 0, 17134, kWs, 0, "Service Pack 1");
  Os.Version.ServicePackMajor = 1;
  Os.Version.ServicePackMinor = 2;
  const TOsVersion os;
  ASSERT_EQ(Os.ProductInfoCalls.size(), 1u);
  EXPECT_EQ(Os.ProductInfoCalls[0].Major, 10u);
  EXPECT_EQ(Os.ProductInfoCalls[0].Minor, 0u);
  EXPECT_EQ(Os.ProductInfoCalls[0].SpMajor, 0u);
  EXPECT_EQ(Os.ProductInfoCalls[0].SpMinor, 0u);
}

TEST_F(OsVersionTest, NoEditionWithoutGetProductInfo) {
  Os.HasGetProductInfo = false;
  const TOsVersion os;
  EXPECT_STREQ(os.GetDescription(), "Microsoft Windows 10  (build 17134), 64-bit");
  EXPECT_EQ(os.GetFlags(0xFFFF), 0x4C1u);
}

TEST_F(OsVersionTest, AFailedVersionQueryLeavesNothing) {
  Os.VersionQuerySucceeds = false;
  const TOsVersion os;
  EXPECT_STREQ(os.GetDescription(), "");
  EXPECT_EQ(os.GetFlags(0xFFFFFFFF), 0u);
  EXPECT_FALSE(os.Is64Bit());
  EXPECT_FALSE(os.IsItanium());
  EXPECT_FALSE(os.IsWindows10());
  EXPECT_TRUE(Os.ProductInfoCalls.empty());
  // The WOW64 test asks the system, not the flags word.
  Os.Wow64 = 1;
  EXPECT_FALSE(os.Is32BitWindows());
  Os.Wow64 = 0;
  EXPECT_TRUE(os.Is32BitWindows());
}

TEST_F(OsVersionTest, WithoutGetNativeSystemInfoTheEmulatedArchitectureCounts) {
  Os.HasGetNativeSystemInfo = false;  // under WOW64, GetSystemInfo says x86
  const TOsVersion os;
  EXPECT_EQ(os.GetFlags(0xFFFF), 0x4C0u);
  EXPECT_FALSE(os.Is64Bit());
  EXPECT_STREQ(os.GetDescription(), "Microsoft Windows 10 Professional (build 17134), 32-bit");
}

TEST_F(OsVersionTest, GetFlagsMasksTheWord) {
  const TOsVersion os;
  EXPECT_EQ(os.GetFlags(0xFFFF), 0x4C1u);
  EXPECT_EQ(os.GetFlags(0xFFF0), 0x4C0u);
  EXPECT_EQ(os.GetFlags(0x0001), 0x001u);
  EXPECT_EQ(os.GetFlags(0), 0u);
}

TEST_F(OsVersionTest, IsWow64FollowsTheSystemOnEveryCall) {
  Os.Wow64 = 1;
  EXPECT_TRUE(IsWow64());
  Os.Wow64 = 0;
  EXPECT_FALSE(IsWow64());
  Os.Wow64 = 1;
  Os.HasIsWow64Process = false;
  EXPECT_FALSE(IsWow64());
  const TOsVersion os;
  EXPECT_TRUE(os.Is32BitWindows());
}

TEST_F(OsVersionTest, AnUnterminatedServicePackTextIsReadWithinItsRecord) {
  std::memset(Os.Version.CsdVersion, 'S', sizeof(Os.Version.CsdVersion));
  const TOsVersion os;
  const std::string expected = "Microsoft Windows 10 Professional " + std::string(128, 'S') + " (build 17134), 64-bit";
  EXPECT_EQ(std::string(os.GetDescription()), expected);
}

TEST_F(OsVersionTest, TheLongestDescriptionOfTheTablesFits) {
  Os.SetVersion(kNt, 6, 1, 0x7FFFFFFF, kSrv);
  std::memset(Os.Version.CsdVersion, 'S', sizeof(Os.Version.CsdVersion));
  Os.SetArchitecture(kIa64, false);
  Os.ProductType = 15;
  const TOsVersion os;
  const std::string expected = "Microsoft Windows Server 2008 R2 Enterprise Edition for Itanium-based Systems " +
                               std::string(128, 'S') + " (build 2147483647), 64-bit";
  ASSERT_LT(expected.size(), 256u);
  EXPECT_EQ(std::string(os.GetDescription()), expected);
}

TEST(OsVersionTextTest, AppendingCutsAt255Characters) {
  char buffer[256] = {};
  AppendBounded(buffer, "Microsoft ");
  AppendBounded(buffer, std::string(240, 'x'));
  AppendBounded(buffer, " (build 17134)");
  AppendBounded(buffer, ", 64-bit");
  const std::string expected = "Microsoft " + std::string(240, 'x') + " (bui";
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(std::strlen(buffer), 255u);
  AppendBounded(buffer, "more");
  EXPECT_EQ(std::string(buffer), expected);
}

TEST_F(OsVersionTest, TheProcessWideInstanceIsProbedOnce) {
  TOsVersion& first = OsVersionInstance();
  const int queries = Os.VersionQueries;
  TOsVersion& second = OsVersionInstance();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(Os.VersionQueries, queries);
}

}  // namespace
}  // namespace kestrune
