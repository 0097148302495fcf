// The Win32 adapters under Wine: the loader writes, installs, starts and
// opens the project's own test driver, which answers one request.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "hw/DriverContract.h"
#include "hw/Loaddriver.h"
#include "hw/Readwrite.h"
#include "sys/Seam.h"
#include "sys/ServiceControl.h"
#include "sys/win32/Adapters.h"

namespace kestrune {
namespace {

std::vector<std::uint8_t> ReadDriverImage() {
  std::ifstream file(KESTRUNE_TEST_DRIVER, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class DriverLoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sys::win32::InstallAdapters();
    // Windows has this folder; a fresh Wine prefix lacks it.
    std::error_code ignored;
    std::filesystem::create_directories("C:\\windows\\syswow64\\drivers", ignored);
    RemoveStaleService();
  }
  // The loader never replaces a driver file it finds: the test driver's
  // file goes, so that later programs in this prefix write their own.
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove("C:\\windows\\syswow64\\drivers\\VelDrv101.sys", ignored);
  }

  // Other programs of the suite may have registered the driver's service
  // without an image it could start; the test begins without it.
  static void RemoveStaleService() {
    sys::IServiceControl& scm = sys::Use<sys::IServiceControl>();
    const sys::ScHandle manager = scm.OpenSCManagerA(sys::kScManagerAllAccess);
    if (manager == 0) {
      return;
    }
    if (const sys::ScHandle service = scm.OpenServiceA(manager, "VelDrv101", sys::kServiceAllAccess); service != 0) {
      scm.ControlService(service, sys::kServiceControlStop);
      scm.DeleteService(service);
      scm.CloseServiceHandle(service);
    }
    scm.CloseServiceHandle(manager);
  }
};

TEST_F(DriverLoadTest, TheLoaderInstallsStartsAndOpensTheDriverWhichAnswersARequest) {
  const std::vector<std::uint8_t> image = ReadDriverImage();
  ASSERT_FALSE(image.empty()) << KESTRUNE_TEST_DRIVER;
  // The loader picks the x64 slot on 64-bit Windows 10 whatever the word
  // size of the program. Wine starts a driver in a host of the word size of
  // the process that created its service, so the test driver in that slot is
  // built for the test program's own word size: the i686 build stands in for
  // the x64 image in the 32-bit run.
  DriverImages images;
  images.X64 = image;
  // A 32-bit program on 64-bit Windows 10; write always, stop and delete on
  // release, so that the test leaves the prefix as it found it.
  const OsPlatform windows10x64{0x4C1, false, false, true};
  {
    TLoadDriver loader(true, true, true, windows10x64, images);
    ASSERT_NE(loader.GetDeviceHandle(), sys::kInvalidHandleValue);

    DRV_PCI_REQUEST request{1, 2, 3, 0, 0x45, 0, 0};
    sys::Dword returned = 0;
    ASSERT_TRUE(sys::Use<sys::IFiles>().DeviceIoControl(loader.GetDeviceHandle(), kIoctlReadPciConfigDword, &request,
                                                        sizeof request, &request, sizeof request, &returned));
    EXPECT_EQ(returned, sizeof request);
    EXPECT_EQ(request.Value, 0xC0010235u);

    // The same through the access object, with its request record.
    TReadWrite rw(windows10x64.Flags, loader.GetDeviceHandle());
    EXPECT_EQ(rw.ReadPciConfigDword(0, 31, 2, 0), 0xC0001F02u);
    // A request the test driver refuses reads all ones.
    EXPECT_EQ(rw.ReadPciConfig(0, 31, 2, 0), 0xFFFF);
  }
  // The file went where a 32-bit program on 64-bit Windows puts it.
  EXPECT_TRUE(std::filesystem::exists("C:\\windows\\syswow64\\drivers\\VelDrv101.sys"));
  // Stopped and deleted on release.
  sys::IServiceControl& scm = sys::Use<sys::IServiceControl>();
  sys::UniqueScHandle manager(scm.OpenSCManagerA(sys::kScManagerAllAccess));
  ASSERT_TRUE(manager.Valid());
  sys::UniqueScHandle service(scm.OpenServiceA(manager.Get(), kDriverName, sys::kServiceAllAccess));
  EXPECT_FALSE(service.Valid());
}

}  // namespace
}  // namespace kestrune
