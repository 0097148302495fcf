#include "hw/Loaddriver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/os/FakeFiles.h"
#include "sim/os/FakeServiceControl.h"
#include "sim/os/FakeSystemFolders.h"
#include "sys/Seam.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

const std::vector<std::uint8_t> kX86 = {'x', '8', '6'};
const std::vector<std::uint8_t> kIa64 = {'i', 'a', '6', '4'};
const std::vector<std::uint8_t> kX64 = {'x', '6', '4', '!', '!'};
const std::vector<std::uint8_t> kVxd = {'v', 'x', 'd', '.', '.', '.'};
const DriverImages kImages{kX86, kIa64, kX64, kVxd};

constexpr OsPlatform kWindows10x64{0x4C1, false, false, true};  // a 32-bit program under WOW64
constexpr OsPlatform kWindows10x86{0x4C0, true, false, false};
constexpr OsPlatform kWindows9x{0x10, true, false, false};

const std::string kWow64File = "C:\\Windows\\SysWOW64\\Drivers\\VelDrv101.sys";
const std::string kDevice = "\\\\.\\VelDrv101";

class LoaddriverTest : public test::FakeOsFixture {
 protected:
  LoaddriverTest() {
    // The kernel: starting the driver's service makes its device appear,
    // when the driver file is there.
    Scm.OnStart = [this](const std::string& name) {
      if (name != "VelDrv101" || !Files.Exists(Scm.Find(name)->BinaryPath)) {
        return false;
      }
      Files.Put(kDevice, {});
      return true;
    };
  }
  ~LoaddriverTest() override { ReleaseLoadDriverInstance(); }

  std::unique_ptr<TLoadDriver> Load(const OsPlatform& os, bool alwaysWrite = false, bool stop = false,
                                    bool remove = false, const DriverImages& images = kImages) {
    return std::make_unique<TLoadDriver>(alwaysWrite, stop, remove, os, images);
  }
  void ExpectMessage() {
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, kDriverLoadFailedText);
    EXPECT_EQ(Dialogs.Boxes[0].Type, sys::kMbOk | sys::kMbIconError);
  }
  void RunningService(const std::string& path = kWow64File) {
    Scm.Add({"VelDrv101", "VelDrv101", path, sys::kServiceKernelDriver, sys::kServiceDemandStart,
             sys::kServiceErrorNormal, true});
    Files.Put(path, {'o', 'l', 'd'});
    Files.Put(kDevice, {});
  }

  sim::FakeFiles Files;
  sim::FakeServiceControl Scm;
  sim::FakeSystemFolders Folders;

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Files};
  sys::ScopedSeam<sys::IServiceControl> ScmSeam{Scm};
  sys::ScopedSeam<sys::ISystemFolders> FoldersSeam{Folders};
};

TEST(DriverImageChoice, TheFirstRowThatAppliesPicksTheImage) {
  struct Case {
    OsPlatform Os;
    const std::vector<std::uint8_t>* Expected;
  };
  const Case cases[] = {
      {{0x10, true, false, false}, &kVxd},   // Windows 9x
      {{0x00, false, false, true}, &kVxd},   // unknown system: at most 0x10
      {{0x20, true, false, false}, &kX86},   // 32-bit XP
      {{0x4C0, true, false, true}, &kX86},   // 32-bit Windows wins over the x64 bit
      {{0x21, false, true, false}, &kIa64},  // Itanium, 32-bit program under WOW64
      {{0x4C1, false, false, true}, &kX64},  // 64-bit Windows 10
      {{0x4C0, false, false, false}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Os.Flags);
    const TRwDrvData data = ChooseDriverImage(c.Os, kImages);
    if (c.Expected == nullptr) {
      EXPECT_EQ(data.Image, nullptr);
      EXPECT_EQ(data.ImageSize, 0u);
    } else {
      EXPECT_EQ(data.Image, c.Expected->data());
      EXPECT_EQ(data.ImageSize, c.Expected->size());
    }
  }
  // An empty slot gives an empty record.
  EXPECT_EQ(ChooseDriverImage(kWindows10x64, DriverImages{}).Image, nullptr);
}

TEST_F(LoaddriverTest, FirstRunWritesTheImageBelowSysWow64CreatesAndStartsTheService) {
  auto loader = Load(kWindows10x64);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(Files.Content(kWow64File), kX64);
  const auto* service = Scm.Find("VelDrv101");
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->DisplayName, "VelDrv101");
  EXPECT_EQ(service->BinaryPath, kWow64File);
  EXPECT_EQ(service->Type, sys::kServiceKernelDriver);
  EXPECT_EQ(service->StartType, sys::kServiceDemandStart);
  EXPECT_EQ(service->ErrorControl, sys::kServiceErrorNormal);
  EXPECT_TRUE(service->Running);
  EXPECT_EQ(Files.Calls, (std::vector<std::string>{"open " + kWow64File, "create " + kWow64File, "open " + kDevice,
                                                   "open " + kDevice}));
  EXPECT_EQ(Scm.Calls, (std::vector<std::string>{"OpenSCManager", "CreateService VelDrv101 " + kWow64File,
                                                 "StartService VelDrv101"}));
  EXPECT_TRUE(Dialogs.Boxes.empty());
  // Only the device handle stays open, and nothing of the manager.
  EXPECT_EQ(Files.OpenHandles(), 1u);
  EXPECT_EQ(Scm.OpenHandles(), 0u);
}

TEST_F(LoaddriverTest, SecondRunKeepsTheFileAndOpensTheExistingService) {
  RunningService();
  Scm.Add({"VelDrv101", "VelDrv101", kWow64File, 1, 3, 1, false});
  Files.OpenErrors[kDevice] = sys::kErrorFileNotFound;
  Scm.OnStart = [this](const std::string&) {
    Files.OpenErrors.clear();
    return true;
  };
  auto loader = Load(kWindows10x64);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  // A stale file from an earlier version is used unchanged.
  EXPECT_EQ(Files.Content(kWow64File), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(Scm.Calls, (std::vector<std::string>{"OpenSCManager", "CreateService VelDrv101 " + kWow64File,
                                                 "OpenService VelDrv101", "StartService VelDrv101"}));
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(LoaddriverTest, ADeviceThatOpensAtOnceIsOpenedASecondTime) {
  RunningService();
  auto loader = Load(kWindows10x64);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(Files.Calls, (std::vector<std::string>{"open " + kWow64File, "open " + kDevice, "open " + kDevice}));
  // Starting a running service fails without effect.
  EXPECT_EQ(Scm.Calls, (std::vector<std::string>{"OpenSCManager", "OpenService VelDrv101", "StartService VelDrv101"}));
  EXPECT_EQ(Files.OpenHandles(), 1u);
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(LoaddriverTest, ADeviceThatOpensWhileItsServiceCannotBeOpenedFails) {
  Files.Put(kDevice, {});
  Files.Put(kWow64File, {'o', 'l', 'd'});
  auto loader = Load(kWindows10x64);
  EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  ExpectMessage();
  EXPECT_EQ(Files.OpenHandles(), 0u);
  EXPECT_EQ(Scm.OpenHandles(), 0u);
}

TEST_F(LoaddriverTest, AServiceThatCanNeitherBeCreatedNorOpenedFailsWithTheMessage) {
  Scm.FailCreate = sys::kErrorAccessDenied;
  auto loader = Load(kWindows10x64);
  EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  ExpectMessage();
}

TEST_F(LoaddriverTest, AManagerThatCannotBeOpenedFailsWithTheMessage) {
  Scm.FailOpenManager = sys::kErrorAccessDenied;
  auto loader = Load(kWindows10x64);
  EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  ExpectMessage();
}

TEST_F(LoaddriverTest, AFileThatCannotBeWrittenFailsWithoutMessageOrService) {
  struct Case {
    const char* Name;
    bool AlwaysWrite;
    bool ShortWrite;
  };
  for (const Case c :
       {Case{"create refused", false, false}, Case{"short write", false, true},
        Case{"create refused, always write", true, false}, Case{"short write, always write", true, true}}) {
    SCOPED_TRACE(c.Name);
    sim::FakeFiles files;
    sys::ScopedSeam<sys::IFiles> seam(files);
    files.ShortWrites = c.ShortWrite;
    if (!c.ShortWrite) {
      files.CreateErrors[kWow64File] = sys::kErrorAccessDenied;
    }
    Scm.Calls.clear();
    Dialogs.Boxes.clear();
    auto loader = Load(kWindows10x64, c.AlwaysWrite);
    EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
    EXPECT_TRUE(Scm.Calls.empty());
    EXPECT_TRUE(Dialogs.Boxes.empty());
    EXPECT_EQ(files.OpenHandles(), 0u);
  }
}

TEST_F(LoaddriverTest, NtFourAndUnknownSystemsFailAtOnceWithoutMessage) {
  for (std::uint32_t flags : {0x0u, 0x1u, 0xFu}) {
    SCOPED_TRACE(flags);
    auto loader = Load({flags, true, false, false});
    EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  }
  EXPECT_TRUE(Files.Calls.empty());
  EXPECT_TRUE(Scm.Calls.empty());
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(LoaddriverTest, WithoutAFittingImageTheServicePointsAtAMissingFileAndTheMessageShows) {
  auto loader = Load(kWindows10x64, false, false, false, DriverImages{});
  EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_FALSE(Files.Exists(kWow64File));
  ASSERT_NE(Scm.Find("VelDrv101"), nullptr);
  EXPECT_EQ(Scm.Find("VelDrv101")->BinaryPath, kWow64File);
  EXPECT_FALSE(Scm.Find("VelDrv101")->Running);
  ExpectMessage();
}

TEST_F(LoaddriverTest, ThirtyTwoBitWindowsUsesTheSystemDirectoryAndTheX86Image) {
  auto loader = Load(kWindows10x86);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(Files.Content("C:\\Windows\\system32\\Drivers\\VelDrv101.sys"), kX86);
  EXPECT_EQ(Scm.Find("VelDrv101")->BinaryPath, "C:\\Windows\\system32\\Drivers\\VelDrv101.sys");
}

TEST_F(LoaddriverTest, AlwaysWriteReplacesAnExistingFile) {
  Files.Put(kWow64File, {'o', 'l', 'd'});
  auto loader = Load(kWindows10x64, true);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(Files.Content(kWow64File), kX64);
}

TEST_F(LoaddriverTest, Windows9xWritesTheVxdAndOpensItsPathWithoutTheServiceManager) {
  Folders.SystemDirectory = "C:\\WINDOWS\\SYSTEM";
  const std::string vxd = "C:\\WINDOWS\\SYSTEM\\VelDrv101.vxd";
  Files.Put("\\\\.\\" + vxd, {});
  auto loader = Load(kWindows9x);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(Files.Content(vxd), kVxd);
  EXPECT_EQ(Files.Calls.back(), "open \\\\.\\" + vxd);
  EXPECT_TRUE(Scm.Calls.empty());
  loader.reset();
  // Unloading only closes the handle.
  EXPECT_TRUE(Scm.Calls.empty());
  EXPECT_EQ(Files.OpenHandles(), 0u);
}

TEST_F(LoaddriverTest, UnloadStopsAndDeletesOnlyWhenAsked) {
  struct Case {
    bool Stop;
    bool Remove;
    std::vector<std::string> Expected;
  };
  const Case cases[] = {
      {false, false, {}},
      {true, false, {"OpenSCManager", "OpenService VelDrv101", "ControlService VelDrv101 1"}},
      {false, true, {"OpenSCManager", "OpenService VelDrv101", "DeleteService VelDrv101"}},
      {true,
       true,
       {"OpenSCManager", "OpenService VelDrv101", "ControlService VelDrv101 1", "OpenSCManager",
        "OpenService VelDrv101", "DeleteService VelDrv101"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Stop) + std::to_string(c.Remove));
    RunningService();
    auto loader = Load(kWindows10x64, false, c.Stop, c.Remove);
    ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
    Scm.Calls.clear();
    loader.reset();
    EXPECT_EQ(Scm.Calls, c.Expected);
    EXPECT_EQ(Files.OpenHandles(), 0u);
    EXPECT_EQ(Scm.OpenHandles(), 0u);
  }
}

TEST_F(LoaddriverTest, TheProcessWideLoaderKeepsItsFirstFlagsUntilReleased) {
  RunningService();
  TLoadDriver* first = LoadDriverInstance(false, false, false);
  EXPECT_EQ(LoadDriverInstance(true, true, true), first);
  ASSERT_NE(first->GetDeviceHandle(), sys::kInvalidHandleValue);
  Scm.Calls.clear();
  ReleaseLoadDriverInstance();
  // The first call's flags: nothing is stopped or deleted.
  EXPECT_TRUE(Scm.Calls.empty());
  EXPECT_EQ(Files.OpenHandles(), 0u);
}

}  // namespace
}  // namespace kestrune
