// The Win32 adapters under Wine: the loader writes, installs, starts and
// opens the project's own test driver, which answers one request; it makes
// a missing driver folder and replaces a driver file that is not its image.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/DriverContract.h"
#include "hw/Loaddriver.h"
#include "hw/Readwrite.h"
#include "sys/Seam.h"
#include "sys/ServiceControl.h"
#include "sys/win32/Adapters.h"

namespace kestrune {
namespace {

const char* const kDriverFolder = "C:\\windows\\syswow64\\drivers";
const char* const kDriverFile = "C:\\windows\\syswow64\\drivers\\VelDrv101.sys";

std::vector<std::uint8_t> ReadFileBytes(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> ReadDriverImage() { return ReadFileBytes(KESTRUNE_TEST_DRIVER); }

// Wine's driver host may hold a stopped driver's file for a while: a step
// on that file is tried again for up to 30 s.
template <class Step>
bool WhenReleased(Step step) {
  for (int attempt = 0; attempt < 120; ++attempt) {
    if (step()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  return false;
}

// A 32-bit program on 64-bit Windows 10.
const OsPlatform kWindows10x64{0x4C1, false, false, true};

// The loader picks the x64 slot on 64-bit Windows 10 whatever the word size
// of the program. Wine starts a driver in a host of the word size of the
// process that created its service, so the test driver in that slot is
// built for the test program's own word size: the i686 build stands in for
// the x64 image in the 32-bit run.
DriverImages TestDriverImages(const std::vector<std::uint8_t>& image) {
  DriverImages images;
  images.X64 = image;
  return images;
}

class DriverLoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sys::win32::InstallAdapters();
    RemoveStaleService();
  }
  // The test driver's file goes: the prefix is left as the suite found it.
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove(kDriverFile, ignored);
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
  const DriverImages images = TestDriverImages(image);
  // Write always, stop and delete on release, so that the test leaves the
  // prefix as it found it.
  {
    TLoadDriver loader(true, true, true, kWindows10x64, images);
    ASSERT_NE(loader.GetDeviceHandle(), sys::kInvalidHandleValue);

    DRV_PCI_REQUEST request{1, 2, 3, 0, 0x45, 0, 0};
    sys::Dword returned = 0;
    ASSERT_TRUE(sys::Use<sys::IFiles>().DeviceIoControl(loader.GetDeviceHandle(), kIoctlReadPciConfigDword, &request,
                                                        sizeof request, &request, sizeof request, &returned));
    EXPECT_EQ(returned, sizeof request);
    EXPECT_EQ(request.Value, 0xC0010235u);

    // The same through the access object, with its request record.
    TReadWrite rw(kWindows10x64.Flags, loader.GetDeviceHandle());
    EXPECT_EQ(rw.ReadPciConfigDword(0, 31, 2, 0), 0xC0001F02u);
    // A request the test driver refuses reads all ones.
    EXPECT_EQ(rw.ReadPciConfig(0, 31, 2, 0), 0xFFFF);
  }
  // The file went where a 32-bit program on 64-bit Windows puts it.
  EXPECT_TRUE(std::filesystem::exists(kDriverFile));
  // Stopped and deleted on release.
  sys::IServiceControl& scm = sys::Use<sys::IServiceControl>();
  sys::UniqueScHandle manager(scm.OpenSCManagerA(sys::kScManagerAllAccess));
  ASSERT_TRUE(manager.Valid());
  sys::UniqueScHandle service(scm.OpenServiceA(manager.Get(), kDriverName, sys::kServiceAllAccess));
  EXPECT_FALSE(service.Valid());
}

// Without AlwaysWrite, as the program loads its driver: a system without the
// driver folder gets it, and a file at the driver path that is not the image
// (an earlier release's driver) is replaced before the service starts.
TEST_F(DriverLoadTest, AMissingDriverFolderIsMadeAndAStaleDriverFileReplaced) {
  const std::vector<std::uint8_t> image = ReadDriverImage();
  ASSERT_FALSE(image.empty()) << KESTRUNE_TEST_DRIVER;
  const DriverImages images = TestDriverImages(image);
  // Answers a PCI read: the test driver runs.
  const auto answers = [](const TLoadDriver& loader) {
    DRV_PCI_REQUEST request{1, 2, 3, 0, 0x45, 0, 0};
    sys::Dword returned = 0;
    return sys::Use<sys::IFiles>().DeviceIoControl(loader.GetDeviceHandle(), kIoctlReadPciConfigDword, &request,
                                                   sizeof request, &request, sizeof request, &returned) &&
           request.Value == 0xC0010235u;
  };

  // A system without the driver folder.
  std::error_code error;
  ASSERT_TRUE(WhenReleased([&] {
    std::filesystem::remove_all(kDriverFolder, error);
    return !std::filesystem::exists(kDriverFolder);
  })) << error.message();
  {
    TLoadDriver loader(false, true, true, kWindows10x64, images);
    ASSERT_NE(loader.GetDeviceHandle(), sys::kInvalidHandleValue);
    EXPECT_TRUE(answers(loader));
  }
  EXPECT_TRUE(std::filesystem::is_directory(kDriverFolder));
  EXPECT_EQ(ReadFileBytes(kDriverFile), image);

  // An earlier release's driver: other bytes, shorter than the image.
  const std::string stale = "MZ an earlier release's driver";
  ASSERT_TRUE(WhenReleased([&] {
    std::ofstream file(kDriverFile, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(file << stale);
  }));
  ASSERT_EQ(ReadFileBytes(kDriverFile), std::vector<std::uint8_t>(stale.begin(), stale.end()));
  {
    TLoadDriver loader(false, true, true, kWindows10x64, images);
    ASSERT_NE(loader.GetDeviceHandle(), sys::kInvalidHandleValue);
    EXPECT_TRUE(answers(loader));
  }
  EXPECT_EQ(ReadFileBytes(kDriverFile), image);
}

}  // namespace
}  // namespace kestrune
