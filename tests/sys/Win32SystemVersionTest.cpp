// The version adapter against the real system (wine64 with a Windows 10
// prefix; the test program's manifest declares Windows 10). The program is
// a 64-bit stand-in for the 32-bit product and must be answered as the
// product would be on the same system.
#include "sys/win32/Win32SystemVersion.h"

#include <gtest/gtest.h>

#include <string>

#include "common/Osversion.h"
#include "sys/Seam.h"
#include "update/Osversionver.h"

namespace kestrune {
namespace {

class Win32SystemVersionTest : public ::testing::Test {
 protected:
  sys::win32::Win32SystemVersion System;

 private:
  sys::ScopedSeam<sys::ISystemVersion> Seam{System};
};

TEST_F(Win32SystemVersionTest, TheVersionQueryReportsWindows10) {
  sys::OsVersionInfoEx info;
  info.OsVersionInfoSize = sizeof(info);
  ASSERT_NE(System.GetVersionExA(&info), 0);
  EXPECT_EQ(info.PlatformId, sys::kVerPlatformWin32Nt);
  EXPECT_EQ(info.MajorVersion, 10u);
  EXPECT_EQ(info.MinorVersion, 0u);
  EXPECT_EQ(info.ProductType, sys::kVerNtWorkstation);
  EXPECT_GT(info.BuildNumber, 10000u);
}

TEST_F(Win32SystemVersionTest, AWrongRecordSizeFails) {
  sys::OsVersionInfoEx info;
  info.OsVersionInfoSize = 100;
  EXPECT_EQ(System.GetVersionExA(&info), 0);
}

TEST_F(Win32SystemVersionTest, AnswersAsThe32BitProgramUnderWow64) {
  sys::SystemInfo native;
  ASSERT_TRUE(System.GetNativeSystemInfo(&native));
  EXPECT_EQ(native.ProcessorArchitecture, sys::kProcessorArchitectureAmd64);
  sys::SystemInfo emulated;
  emulated.ProcessorArchitecture = 0xFFFF;
  System.GetSystemInfo(&emulated);
  EXPECT_EQ(emulated.ProcessorArchitecture, sys::kProcessorArchitectureIntel);
  EXPECT_GT(emulated.PageSize, 0u);
  sys::Bool wow64 = 0;
  const std::optional<sys::Bool> ok = System.IsWow64Process(&wow64);
  ASSERT_TRUE(ok.has_value());
  EXPECT_NE(*ok, 0);
  EXPECT_NE(wow64, 0);
  EXPECT_TRUE(IsWow64());
}

TEST_F(Win32SystemVersionTest, GetProductInfoIsFound) {
  sys::Dword productType = 0xFFFFFFFF;
  const std::optional<sys::Bool> ok = System.GetProductInfo(10, 0, 0, 0, &productType);
  ASSERT_TRUE(ok.has_value());
  EXPECT_NE(*ok, 0);
  EXPECT_NE(productType, 0xFFFFFFFFu);
}

TEST_F(Win32SystemVersionTest, TheProbeReportsWindows10WithTheX64Bit) {
  const TOsVersion os;
  EXPECT_EQ(os.GetFlags(0xFFFF), 0x4C1u);
  EXPECT_TRUE(os.IsWindows10());
  EXPECT_TRUE(os.Is64Bit());
  EXPECT_FALSE(os.IsItanium());
  EXPECT_FALSE(os.Is32BitWindows());
  const std::string description = os.GetDescription();
  EXPECT_EQ(description.rfind("Microsoft Windows 10 ", 0), 0u) << description;
  EXPECT_NE(description.find(" (build " + std::to_string(os.GetVersionInfo().BuildNumber) + "), 64-bit"),
            std::string::npos)
      << description;
}

TEST_F(Win32SystemVersionTest, TheOperatingSystemTagsAreThoseOf64BitWindows10) {
  const TOsVersionVer os;
  EXPECT_EQ(os.VersionTag, "WNT_10.0A");
  EXPECT_EQ(os.ProductName, "Windows 10 64");
  EXPECT_EQ(os.PlatformCode, 6);
  EXPECT_TRUE(os.Wow64);
}

}  // namespace
}  // namespace kestrune
