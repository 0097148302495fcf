// The driver the program carries, under Wine: the loader writes the carried
// image, creates and starts the kernel service and opens the device; the
// real driver answers the requests whose data travels in the request
// buffer and refuses malformed ones. A 64-bit test program loads the x64
// image, a 32-bit one the x86 image (Wine starts a service created by a
// 32-bit process in its 32-bit driver host).
//
// What Wine cannot show: its kernel has no contiguous memory, no PCI space
// and no firmware tables; MmGetPhysicalMemoryRanges is not implemented
// (calling it ends Wine's driver host, so no physical read is sent here);
// and it runs drivers in a process of their own, so a caller's buffer
// address means nothing there. Allocations and SMIs are refused here, for
// the reasons the driver gives on any machine that lacks those; what the
// memory and SMI requests do on a PC is shown by the request core's tests
// on simulated boards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/DriverContract.h"
#include "hw/DriverImages.h"
#include "hw/Loaddriver.h"
#include "hw/Readwrite.h"
#include "sys/Seam.h"
#include "sys/ServiceControl.h"
#include "sys/win32/Adapters.h"

namespace kestrune {
namespace {

// The platform whose image this test program's Wine driver host loads.
const OsPlatform kPlatform = sizeof(void*) == 8 ? OsPlatform{0x4C1, false, false, true}   // Windows 10 x64
                                                : OsPlatform{0x4C0, true, false, false};  // 32-bit Windows 10

sys::IFiles& Files() { return sys::Use<sys::IFiles>(); }

class DriverImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sys::win32::InstallAdapters();
    // Windows has these folders; a fresh Wine prefix lacks them.
    std::error_code ignored;
    std::filesystem::create_directories("C:\\windows\\syswow64\\drivers", ignored);
    std::filesystem::create_directories("C:\\windows\\system32\\drivers", ignored);
    RemoveService();
    RemoveDriverFile();
  }
  static void TearDownTestSuite() {
    RemoveService();
    RemoveDriverFile();
  }
  // The driver file goes before and after, so that the prefix is left as
  // the test found it. Wine's driver host may still hold it for a while
  // after the stop.
  static void RemoveDriverFile() {
    const std::string file = TLoadDriver::DriverFilePath(kPlatform, kDriverName);
    std::error_code error;
    for (int attempt = 0; attempt < 120; ++attempt) {
      if (!std::filesystem::exists(file, error) || std::filesystem::remove(file, error)) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    ADD_FAILURE() << "the driver file " << file << " could not be removed";
  }

  // Another program of the suite may have left the driver's service behind.
  static void RemoveService() {
    sys::IServiceControl& scm = sys::Use<sys::IServiceControl>();
    sys::UniqueScHandle manager(scm.OpenSCManagerA(sys::kScManagerAllAccess));
    if (!manager.Valid()) {
      return;
    }
    sys::UniqueScHandle service(scm.OpenServiceA(manager.Get(), kDriverName, sys::kServiceAllAccess));
    if (service.Valid()) {
      scm.ControlService(service.Get(), sys::kServiceControlStop);
      scm.DeleteService(service.Get());
    }
  }

  struct Answer {
    bool Ok;
    sys::Dword Error;
    sys::Dword Returned;
  };
  static Answer Send(sys::FileHandle device, std::uint32_t code, void* in, sys::Dword inSize, void* out,
                     sys::Dword outSize) {
    sys::Dword returned = 0xDEADBEEF;
    const bool ok = Files().DeviceIoControl(device, code, in, inSize, out, outSize, &returned);
    return {ok, ok ? 0 : Files().GetLastError(), returned};
  }
};

TEST_F(DriverImageTest, TheLoaderStartsTheCarriedDriverWhichAnswersAndRefuses) {
  const TRwDrvData image = ChooseDriverImage(kPlatform, CarriedDriverImages());
  ASSERT_NE(image.Image, nullptr);
  // Write always, stop and delete on release: the prefix stays as it was.
  TLoadDriver loader(true, true, true, kPlatform, CarriedDriverImages());
  const sys::FileHandle device = loader.GetDeviceHandle();
  ASSERT_NE(device, sys::kInvalidHandleValue);

  // A PCI read travels in the request buffer: the driver answers it, with
  // the record's other bytes as they came and all ones, as for a function
  // that does not exist, since Wine's HAL has no PCI space.
  DRV_PCI_REQUEST pci{0, 31, 0, 0x5A, 2, 0xA53C, 0x12345678};
  Answer a = Send(device, kIoctlReadPciConfigWord, &pci, sizeof pci, &pci, sizeof pci);
  ASSERT_TRUE(a.Ok) << a.Error;
  EXPECT_EQ(a.Returned, sizeof pci);
  EXPECT_EQ(pci.Value, 0xFFFFu);
  EXPECT_EQ(pci.Unused0, 0x5A);
  EXPECT_EQ(pci.Unused1, 0xA53C);
  EXPECT_EQ(pci.Device, 31);

  // Malformed requests: wrong lengths, and codes the driver does not know.
  std::uint8_t bytes[32] = {};
  EXPECT_EQ(Send(device, kIoctlReadPciConfigDword, bytes, 11, bytes, 12).Error, 87u);
  EXPECT_EQ(Send(device, kIoctlReadPciConfigDword, bytes, 12, bytes, 13).Error, 87u);
  EXPECT_EQ(Send(device, kIoctlReadPhysicalMemory, bytes, 24, bytes, 23).Error, 87u);
  EXPECT_EQ(Send(device, kIoctlSoftwareSmi, bytes, 25, bytes, 24).Error, 87u);
  EXPECT_EQ(Send(device, kIoctlPhysicalBuffer, bytes, 16, bytes, 8).Error, 87u);
  EXPECT_EQ(Send(device, kIoctlMapPhysicalMemory, bytes, 4, bytes, 4).Error, 1u);
  EXPECT_EQ(Send(device, 0x222844, bytes, 12, bytes, 12).Error, 1u);
  // Releasing a buffer this handle does not own.
  DRV_PHYSICAL_BUFFER_REQUEST release{256, 0, {1, 0, 0, 0, 0, 0, 0, 0}};
  EXPECT_EQ(Send(device, kIoctlPhysicalBuffer, &release, sizeof release, nullptr, 0).Error, 87u);

  // Writes reach only the handle's own buffers, and it has none.
  std::uint8_t source[16] = {};
  DRV_MEMORY_REQUEST memory{0xF0000, sizeof source, kMemoryUnitByte, reinterpret_cast<std::uintptr_t>(source)};
  EXPECT_EQ(Send(device, kIoctlWritePhysicalMemory, &memory, sizeof memory, &memory, sizeof memory).Error, 5u);
  // Wine has no contiguous memory.
  DRV_PHYSICAL_BUFFER_REQUEST allocate{256, kPhysicalAddressRequested, {}};
  EXPECT_FALSE(Send(device, kIoctlPhysicalBuffer, &allocate, sizeof allocate, &allocate, sizeof allocate).Ok);
  // Without buffers of its own (and, under Wine, without a FADT) no SMI.
  DRV_SMI_REGISTERS smi{kSmiGetVariable, 0, 0, 0xB2, 0, 0};
  EXPECT_EQ(Send(device, kIoctlSoftwareSmi, &smi, sizeof smi, &smi, sizeof smi).Error, 5u);

  // The access object's own PCI read, through the same driver.
  TReadWrite rw(kPlatform.Flags, device);
  EXPECT_EQ(rw.ReadPciConfig(0, 31, 2, 0), 0xFFFF);
}

TEST_F(DriverImageTest, TheDeviceOpensOnlyByItsOwnName) {
  TLoadDriver loader(true, true, true, kPlatform, CarriedDriverImages());
  ASSERT_NE(loader.GetDeviceHandle(), sys::kInvalidHandleValue);
  sys::UniqueFileHandle below(Files().CreateFileA("\\\\.\\VelDrv101\\below", sys::kGenericRead | sys::kGenericWrite, 0,
                                                  sys::kOpenExisting, sys::kFileAttributeNormal));
  EXPECT_FALSE(below.Valid());
}

}  // namespace
}  // namespace kestrune
