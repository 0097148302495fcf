#include "hw/Loaddriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "sim/os/FakeFileSystem.h"
#include "sim/os/FakeServiceControl.h"
#include "sim/os/FakeSystemFolders.h"
#include "sys/Errors.h"
#include "sys/Seam.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kX86 = {'x', '8', '6'};
const Bytes kIa64 = {'i', 'a', '6', '4'};
const Bytes kX64 = {'x', '6', '4', '!', '!'};
const Bytes kVxd = {'v', 'x', 'd', '.', '.', '.'};
const DriverImages kImages{kX86, kIa64, kX64, kVxd};

constexpr OsPlatform kWindows10x64{0x4C1, false, false, true};  // a 32-bit program under WOW64
constexpr OsPlatform kWindows10x86{0x4C0, true, false, false};
constexpr OsPlatform kWindows9x{0x10, true, false, false};

const std::string kWow64File = "C:\\Windows\\SysWOW64\\Drivers\\VelDrv101.sys";
const std::string kSystem32File = "C:\\Windows\\system32\\Drivers\\VelDrv101.sys";
const std::string kDevice = "\\\\.\\VelDrv101";

std::u16string Wide(const std::string& text) { return sim::FakeFileSystem::Widen(text); }
std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class LoaddriverTest : public test::FakeOsFixture {
 protected:
  LoaddriverTest() {
    // Windows 10 has both driver folders.
    Disk.AddFolder(u"C:\\Windows\\SysWOW64\\Drivers");
    Disk.AddFolder(u"C:\\Windows\\system32\\Drivers");
    Kernel(Scm, Disk);
  }

  // The kernel: starting the driver's service loads the file at its image
  // path only when it is the system's own image, and then holds that file
  // (it can be read, not written) and makes the device appear.
  void Kernel(sim::FakeServiceControl& scm, sim::FakeFileSystem& disk) {
    scm.OnStart = [this, &scm, &disk](const std::string& name) {
      const sim::FakeServiceControl::Service* service = scm.Find(name);
      const sim::FakeFileSystem::File* file = disk.FindFile(Wide(service->BinaryPath));
      if (name != "VelDrv101" || file == nullptr || file->Data != Text(KernelLoads)) {
        scm.StartError = file == nullptr ? sys::kErrorFileNotFound : sys::kErrorInvalidImageHash;
        return false;
      }
      disk.HoldOpen(Wide(service->BinaryPath), sys::kGenericRead, sys::kFileShareRead);
      disk.AddDevice(Wide(kDevice));
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
  // What the driver file holds now; nullopt when there is none.
  std::optional<Bytes> DriverFile(const std::string& path = kWow64File) const {
    const sim::FakeFileSystem::File* file = Disk.FindFile(Wide(path));
    return file == nullptr ? std::nullopt : std::optional<Bytes>(Bytes(file->Data.begin(), file->Data.end()));
  }
  bool Logged(const std::string& event) const {
    return std::find(Log.All().begin(), Log.All().end(), event) != Log.All().end();
  }
  // A driver of an earlier release runs: its service, its file, its device.
  void RunningService(const std::string& path = kWow64File) {
    Scm.Add({"VelDrv101", "VelDrv101", path, sys::kServiceKernelDriver, sys::kServiceDemandStart,
             sys::kServiceErrorNormal, true});
    Disk.AddFile(Wide(path), "old");
    Disk.HoldOpen(Wide(path), sys::kGenericRead, sys::kFileShareRead);
    Disk.AddDevice(Wide(kDevice));
  }

  // The image the system's kernel loads: the x64 one on 64-bit Windows.
  Bytes KernelLoads = kX64;
  sim::FakeFileSystem Disk{&Log};
  sim::FakeServiceControl Scm{&Log};
  sim::FakeSystemFolders Folders;

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Disk};
  sys::ScopedSeam<sys::IFileSystem> FileSystemSeam{Disk};
  sys::ScopedSeam<sys::IServiceControl> ScmSeam{Scm};
  sys::ScopedSeam<sys::ISystemFolders> FoldersSeam{Folders};
};

TEST(DriverImageChoice, TheFirstRowThatAppliesPicksTheImage) {
  struct Case {
    OsPlatform Os;
    const Bytes* Expected;
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
  EXPECT_EQ(DriverFile(), kX64);
  const auto* service = Scm.Find("VelDrv101");
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->DisplayName, "VelDrv101");
  EXPECT_EQ(service->BinaryPath, kWow64File);
  EXPECT_EQ(service->Type, sys::kServiceKernelDriver);
  EXPECT_EQ(service->StartType, sys::kServiceDemandStart);
  EXPECT_EQ(service->ErrorControl, sys::kServiceErrorNormal);
  EXPECT_TRUE(service->Running);
  // The file is written before the service is created.
  EXPECT_EQ(Log.All(), (std::vector<std::string>{"create " + kWow64File, "scm OpenSCManager",
                                                 "scm CreateService VelDrv101 " + kWow64File,
                                                 "scm StartService VelDrv101", "open " + kDevice}));
  EXPECT_TRUE(Dialogs.Boxes.empty());
  // Only the device handle stays open, and nothing of the manager.
  EXPECT_EQ(Disk.OpenHandles(), 1u);
  EXPECT_EQ(Scm.OpenHandles(), 0u);
}

// The driver does not run: whatever file is at the driver path, the service
// starts on exactly the carried image (the kernel loads nothing else).
TEST_F(LoaddriverTest, BeforeTheServiceStartsTheDriverFileIsMadeExactlyTheImage) {
  struct Case {
    const char* Name;
    std::optional<Bytes> File;  // at the driver path before the run
    bool Written;
  };
  const Case cases[] = {
      {"no file", std::nullopt, true},
      {"exactly the image", kX64, false},
      {"an earlier release's driver, of the same size", Bytes{'x', '6', '4', '-', '1'}, true},
      {"an earlier release's driver, larger", Bytes{'x', '6', '4', '!', '!', '!', '!'}, true},
      {"truncated", Bytes{'x', '6', '4'}, true},
      {"empty", Bytes{}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    sim::FakeFileSystem disk{&Log};
    disk.AddFolder(u"C:\\Windows\\SysWOW64\\Drivers");
    sys::ScopedSeam<sys::IFiles> files(disk);
    sys::ScopedSeam<sys::IFileSystem> fileSystem(disk);
    sim::FakeServiceControl scm{&Log};
    sys::ScopedSeam<sys::IServiceControl> services(scm);
    // A second run: the service is registered, not running.
    scm.Add({"VelDrv101", "VelDrv101", kWow64File, sys::kServiceKernelDriver, sys::kServiceDemandStart,
             sys::kServiceErrorNormal, false});
    Kernel(scm, disk);
    if (c.File) {
      disk.AddFile(Wide(kWow64File), Text(*c.File));
    }
    Log.Clear();
    auto loader = Load(kWindows10x64);
    EXPECT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
    const sim::FakeFileSystem::File* file = disk.FindFile(Wide(kWow64File));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Data, Text(kX64));
    EXPECT_EQ(Logged("create " + kWow64File), c.Written);
    // Written, when at all, before the service is created and started.
    std::vector<std::string> expected = {"scm OpenSCManager", "scm CreateService VelDrv101 " + kWow64File,
                                         "scm OpenService VelDrv101", "scm StartService VelDrv101"};
    if (c.Written) {
      expected.insert(expected.begin(), "create " + kWow64File);
    }
    std::vector<std::string> seen;
    std::copy_if(Log.All().begin(), Log.All().end(), std::back_inserter(seen),
                 [](const std::string& event) { return !event.starts_with("open "); });
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(Dialogs.Boxes.empty());
    EXPECT_EQ(disk.OpenHandles(), 1u);
    loader.reset();
  }
}

TEST_F(LoaddriverTest, AnExactFileThatCannotBeWrittenIsUsedAsItIs) {
  Disk.AddFile(Wide(kWow64File), Text(kX64));
  // Another process holds the file: it reads, it does not share writing.
  Disk.HoldOpen(Wide(kWow64File), sys::kGenericRead, sys::kFileShareRead);
  auto loader = Load(kWindows10x64);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_FALSE(Logged("create " + kWow64File));
  EXPECT_TRUE(Scm.Find("VelDrv101")->Running);
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(LoaddriverTest, ARunningDriverKeepsItsFileAndItsDeviceIsOpenedASecondTime) {
  // An earlier release's driver runs: its file is not read, not replaced.
  RunningService();
  auto loader = Load(kWindows10x64);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(DriverFile(), (Bytes{'o', 'l', 'd'}));
  // Starting a running service fails without effect.
  EXPECT_EQ(Log.All(), (std::vector<std::string>{"open " + kDevice, "scm OpenSCManager", "scm OpenService VelDrv101",
                                                 "scm StartService VelDrv101", "open " + kDevice}));
  EXPECT_EQ(Disk.OpenHandles(), 1u);
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(LoaddriverTest, AMissingDriverFolderIsCreatedThenTheFileWritten) {
  for (const bool alwaysWrite : {false, true}) {
    SCOPED_TRACE(alwaysWrite);
    sim::FakeFileSystem disk{&Log};
    // A fresh system: the Windows folders, no "Drivers" below SysWOW64.
    disk.AddFolder(u"C:\\Windows\\SysWOW64");
    sys::ScopedSeam<sys::IFiles> files(disk);
    sys::ScopedSeam<sys::IFileSystem> fileSystem(disk);
    Kernel(Scm, disk);
    Log.Clear();
    auto loader = Load(kWindows10x64, alwaysWrite, true, true);
    ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
    EXPECT_TRUE(disk.FolderExists(u"C:\\Windows\\SysWOW64\\Drivers"));
    const sim::FakeFileSystem::File* file = disk.FindFile(Wide(kWow64File));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Data, Text(kX64));
    ASSERT_GE(Log.All().size(), 3u);
    EXPECT_EQ(Log.All()[0], "mkdir C:\\Windows\\SysWOW64\\Drivers");
    EXPECT_EQ(Log.All()[1], "create " + kWow64File);
    EXPECT_EQ(Log.All()[2], "scm OpenSCManager");
    loader.reset();
  }
}

TEST_F(LoaddriverTest, ADeviceThatOpensWhileItsServiceCannotBeOpenedFails) {
  Disk.AddDevice(Wide(kDevice));
  Disk.AddFile(Wide(kWow64File), "old");
  auto loader = Load(kWindows10x64);
  EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  ExpectMessage();
  EXPECT_EQ(Disk.OpenHandles(), 0u);
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

// A driver file that is not the image and cannot be made the image: the
// load fails before the service is touched, without the message.
TEST_F(LoaddriverTest, AFileThatCannotBeMadeTheImageFailsWithoutMessageOrService) {
  struct Case {
    const char* Name;
    bool AlwaysWrite;
    void (*Prepare)(sim::FakeFileSystem& disk);
  };
  const auto heldReadable = [](sim::FakeFileSystem& disk) {
    disk.AddFile(Wide(kWow64File), "old");
    disk.HoldOpen(Wide(kWow64File), sys::kGenericRead, sys::kFileShareRead);
  };
  const auto heldUnshared = [](sim::FakeFileSystem& disk) {
    disk.AddFile(Wide(kWow64File), Text(kX64));
    disk.HoldOpen(Wide(kWow64File), sys::kGenericRead | sys::kGenericWrite, 0);
  };
  const auto diskFull = [](sim::FakeFileSystem& disk) {
    disk.AddFile(Wide(kWow64File), "old");
    disk.FreeSpace = kX64.size() - 4;  // one byte short once the old file's three are given back
  };
  const auto noParent = [](sim::FakeFileSystem& disk) { disk.AddFolder(u"C:\\Windows"); };
  const Case cases[] = {
      {"a stale file another process holds, sharing only reading", false, heldReadable},
      {"a file another process holds, sharing nothing (not even read)", false, heldUnshared},
      {"a stale file, the disk full", false, diskFull},
      {"no driver folder, and none can be made (no SysWOW64)", false, noParent},
      {"always write: a file another process holds", true, heldReadable},
      {"always write: the disk full", true, diskFull},
      {"always write: no driver folder, and none can be made", true, noParent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    sim::FakeFileSystem disk;
    c.Prepare(disk);
    sys::ScopedSeam<sys::IFiles> files(disk);
    sys::ScopedSeam<sys::IFileSystem> fileSystem(disk);
    Scm.Calls.clear();
    Dialogs.Boxes.clear();
    auto loader = Load(kWindows10x64, c.AlwaysWrite);
    EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
    EXPECT_TRUE(Scm.Calls.empty());
    EXPECT_TRUE(Dialogs.Boxes.empty());
    EXPECT_EQ(disk.OpenHandles(), 0u);
  }
}

TEST_F(LoaddriverTest, NtFourAndUnknownSystemsFailAtOnceWithoutMessage) {
  for (std::uint32_t flags : {0x0u, 0x1u, 0xFu}) {
    SCOPED_TRACE(flags);
    auto loader = Load({flags, true, false, false});
    EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  }
  EXPECT_TRUE(Log.All().empty());
  EXPECT_TRUE(Scm.Calls.empty());
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(LoaddriverTest, WithoutAFittingImageNothingIsWrittenAndTheMessageShows) {
  struct Case {
    const char* Name;
    std::optional<std::string> File;
  };
  for (const Case& c : {Case{"no file: the service points at a missing file", std::nullopt},
                        Case{"a file: it stays as it is", std::string("old")}}) {
    SCOPED_TRACE(c.Name);
    sim::FakeFileSystem disk{&Log};
    disk.AddFolder(u"C:\\Windows\\SysWOW64\\Drivers");
    if (c.File) {
      disk.AddFile(Wide(kWow64File), *c.File);
    }
    sys::ScopedSeam<sys::IFiles> files(disk);
    sys::ScopedSeam<sys::IFileSystem> fileSystem(disk);
    sim::FakeServiceControl scm;
    Kernel(scm, disk);
    sys::ScopedSeam<sys::IServiceControl> services(scm);
    Dialogs.Boxes.clear();
    Log.Clear();
    auto loader = Load(kWindows10x64, false, false, false, DriverImages{});
    EXPECT_EQ(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
    const sim::FakeFileSystem::File* file = disk.FindFile(Wide(kWow64File));
    EXPECT_EQ(file == nullptr, !c.File);
    if (file != nullptr) {
      EXPECT_EQ(file->Data, *c.File);
    }
    EXPECT_FALSE(Logged("create " + kWow64File));
    ASSERT_NE(scm.Find("VelDrv101"), nullptr);
    EXPECT_EQ(scm.Find("VelDrv101")->BinaryPath, kWow64File);
    EXPECT_FALSE(scm.Find("VelDrv101")->Running);
    ExpectMessage();
  }
}

TEST_F(LoaddriverTest, ThirtyTwoBitWindowsUsesTheSystemDirectoryAndTheX86Image) {
  KernelLoads = kX86;
  Disk.AddFile(Wide(kSystem32File), "old");
  auto loader = Load(kWindows10x86);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(DriverFile(kSystem32File), kX86);
  EXPECT_EQ(Scm.Find("VelDrv101")->BinaryPath, kSystem32File);
}

TEST_F(LoaddriverTest, AlwaysWriteWritesTheImageOverAnyFile) {
  for (const std::string& before : {std::string("old"), Text(kX64)}) {
    SCOPED_TRACE(before);
    sim::FakeFileSystem disk{&Log};
    disk.AddFile(Wide(kWow64File), before);
    sys::ScopedSeam<sys::IFiles> files(disk);
    sys::ScopedSeam<sys::IFileSystem> fileSystem(disk);
    Kernel(Scm, disk);
    Log.Clear();
    auto loader = Load(kWindows10x64, true, true, true);
    ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
    EXPECT_EQ(disk.FindFile(Wide(kWow64File))->Data, Text(kX64));
    EXPECT_TRUE(Logged("create " + kWow64File));
    loader.reset();
  }
}

TEST_F(LoaddriverTest, Windows9xReplacesAStaleVxdAndOpensItsPathWithoutTheServiceManager) {
  Folders.SystemDirectory = "C:\\WINDOWS\\SYSTEM";
  const std::string vxd = "C:\\WINDOWS\\SYSTEM\\VelDrv101.vxd";
  Disk.AddFile(Wide(vxd), "old");
  Disk.AddDevice(Wide("\\\\.\\" + vxd));
  auto loader = Load(kWindows9x);
  ASSERT_NE(loader->GetDeviceHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(DriverFile(vxd), kVxd);
  EXPECT_EQ(Log.All().back(), "open \\\\.\\" + vxd);
  EXPECT_TRUE(Scm.Calls.empty());
  loader.reset();
  // Unloading only closes the handle.
  EXPECT_TRUE(Scm.Calls.empty());
  EXPECT_EQ(Disk.OpenHandles(), 0u);
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
    EXPECT_EQ(Disk.OpenHandles(), 0u);
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
  EXPECT_EQ(Disk.OpenHandles(), 0u);
}

}  // namespace
}  // namespace kestrune
