#include "platform/Bootmode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "sim/os/FakeEnvironmentVariables.h"
#include "sim/os/FakeSetupDi.h"
#include "sys/Files.h"
#include "sys/Seam.h"
#include "sys/Storage.h"

namespace kestrune {
namespace {

// Volumes and disks that answer the storage requests as the system's
// drivers do.
class FakeStorage : public sys::IFiles {
 public:
  struct Device {
    std::vector<sys::Dword> ExtentDisks;  // a volume (no partitions): the disks it lies on
    sys::Dword Number = 0;                // a disk: its device number
    sys::Dword Style = sys::kPartitionStyleMbr;
    sys::Dword Partitions = 4;
    bool OpenFails = false;
    bool NoMedium = false;
    bool NumberFails = false;
  };
  std::map<std::string, Device> Devices;

  struct Open {
    std::string Path;
    sys::Dword Access, Share, Disposition, Flags;
  };
  std::vector<Open> Opens;
  std::set<sys::FileHandle> OpenHandles;
  bool LayoutBuffersWereZero = true;

  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flags) override {
    Opens.push_back({path, access, share, disposition, flags});
    const auto it = Devices.find(path);
    if (it == Devices.end() || it->second.OpenFails) {
      LastError = sys::kErrorFileNotFound;
      return sys::kInvalidHandleValue;
    }
    const sys::FileHandle handle = NextHandle++;
    Handles[handle] = &it->second;
    OpenHandles.insert(handle);
    return handle;
  }
  sys::FileHandle CreateFileW(const std::u16string&, sys::Dword, sys::Dword, sys::Dword, sys::Dword) override {
    LastError = sys::kErrorFileNotFound;
    return sys::kInvalidHandleValue;
  }
  bool ReadFile(sys::FileHandle, void*, sys::Dword, sys::Dword*) override { return Fail(sys::kErrorAccessDenied); }
  bool WriteFile(sys::FileHandle, const void*, sys::Dword, sys::Dword*) override {
    return Fail(sys::kErrorAccessDenied);
  }
  bool GetFileSizeEx(sys::FileHandle, std::uint64_t*) override { return Fail(sys::kErrorInvalidFunction); }
  bool SetFileTime(sys::FileHandle, const sys::FileTime*, const sys::FileTime*, const sys::FileTime*) override {
    return Fail(sys::kErrorAccessDenied);
  }
  bool CloseHandle(sys::FileHandle handle) override {
    return OpenHandles.erase(handle) != 0 || Fail(sys::kErrorInvalidHandle);
  }
  sys::Dword GetLastError() override { return LastError; }

  bool DeviceIoControl(sys::FileHandle handle, sys::Dword code, const void*, sys::Dword, void* out, sys::Dword outSize,
                       sys::Dword* returned) override {
    if (OpenHandles.count(handle) == 0) {
      return Fail(sys::kErrorInvalidHandle);
    }
    const Device& device = *Handles[handle];
    const bool volume = device.Partitions == 0;
    switch (code) {
      case sys::kIoctlVolumeGetVolumeDiskExtents: {
        if (!volume) {
          return Fail(sys::kErrorInvalidFunction);
        }
        sys::VolumeDiskExtents extents;
        extents.NumberOfDiskExtents = static_cast<sys::Dword>(device.ExtentDisks.size());
        if (outSize < sizeof extents || device.ExtentDisks.size() > 1) {
          return Fail(sys::kErrorMoreData);
        }
        if (!device.ExtentDisks.empty()) {
          extents.Extents[0].DiskNumber = device.ExtentDisks[0];
          extents.Extents[0].ExtentLength = 1 << 30;
        }
        return Answer(&extents, sizeof extents, out, returned);
      }
      case sys::kIoctlStorageGetDeviceNumber: {
        if (device.NumberFails) {
          return Fail(sys::kErrorInvalidFunction);
        }
        const sys::StorageDeviceNumber number{sys::kFileDeviceDisk, device.Number, volume ? 1u : 0u};
        if (outSize < sizeof number) {
          return Fail(sys::kErrorInsufficientBuffer);
        }
        return Answer(&number, sizeof number, out, returned);
      }
      case sys::kIoctlDiskGetDriveLayoutEx: {
        if (volume) {
          return Fail(sys::kErrorInvalidFunction);
        }
        const auto* bytes = static_cast<const std::uint8_t*>(out);
        LayoutBuffersWereZero =
            LayoutBuffersWereZero && std::all_of(bytes, bytes + outSize, [](auto b) { return b == 0; });
        if (device.NoMedium) {
          return Fail(sys::kErrorNotReady);
        }
        const sys::Dword size = sys::kDriveLayoutHeaderSize + device.Partitions * sys::kPartitionInformationSize;
        if (outSize < size) {
          return Fail(sys::kErrorInsufficientBuffer);
        }
        const sys::Dword header[2] = {device.Style, device.Partitions};
        std::memcpy(out, header, sizeof header);
        *returned = size;
        return true;
      }
      default:
        return Fail(sys::kErrorInvalidFunction);
    }
  }

 private:
  bool Fail(sys::Long error) {
    LastError = static_cast<sys::Dword>(error);
    return false;
  }
  static bool Answer(const void* record, std::size_t size, void* out, sys::Dword* returned) {
    std::memcpy(out, record, size);
    *returned = static_cast<sys::Dword>(size);
    return true;
  }

  sys::Dword LastError = 0;
  sys::FileHandle NextHandle = 0x40;
  std::map<sys::FileHandle, Device*> Handles;
};

enum Fault : unsigned { kNone = 0, kOpenFails = 1, kNoMedium = 2, kNumberFails = 4 };

FakeStorage::Device Volume(std::vector<sys::Dword> disks, unsigned faults = kNone) {
  FakeStorage::Device volume;
  volume.ExtentDisks = std::move(disks);
  volume.Partitions = 0;
  volume.OpenFails = (faults & kOpenFails) != 0;
  volume.NumberFails = (faults & kNumberFails) != 0;
  return volume;
}

FakeStorage::Device DiskDevice(sys::Dword number, sys::Dword style = sys::kPartitionStyleMbr, unsigned faults = kNone,
                               sys::Dword partitions = 4) {
  FakeStorage::Device disk;
  disk.Number = number;
  disk.Style = style;
  disk.Partitions = partitions;
  disk.OpenFails = (faults & kOpenFails) != 0;
  disk.NoMedium = (faults & kNoMedium) != 0;
  disk.NumberFails = (faults & kNumberFails) != 0;
  return disk;
}

constexpr sys::Dword kGpt = sys::kPartitionStyleGpt;

class BootmodeTest : public ::testing::Test {
 protected:
  // Each opened device must be asked for with read and write access and
  // shared reading and writing, and must be closed again.
  void ExpectOpensAsTheSystemRequires() {
    for (const FakeStorage::Open& open : Storage.Opens) {
      SCOPED_TRACE(open.Path);
      EXPECT_EQ(open.Access, sys::kGenericRead | sys::kGenericWrite);
      EXPECT_EQ(open.Share, sys::kFileShareRead | sys::kFileShareWrite);
      EXPECT_EQ(open.Disposition, sys::kOpenExisting);
      EXPECT_EQ(open.Flags, 0u);
    }
    EXPECT_TRUE(Storage.OpenHandles.empty());
  }

  FakeStorage Storage;
  sim::FakeEnvironmentVariables Environment;
  sim::FakeSetupDi Interfaces;

 private:
  sys::ScopedSeam<sys::IFiles> StorageSeam{Storage};
  sys::ScopedSeam<sys::IEnvironmentVariables> EnvironmentSeam{Environment};
  sys::ScopedSeam<sys::ISetupDi> InterfacesSeam{Interfaces};
};

TEST_F(BootmodeTest, SystemDiskNumberComesFromTheSystemDrivesOnlyExtent) {
  const struct {
    const char* name;
    std::optional<std::string> systemDrive;
    FakeStorage::Device volume;
    std::int32_t expected;
  } cases[] = {
      {"C: on disk 0", "C:", Volume({0}), 0},
      {"C: on disk 3", "C:", Volume({3}), 3},
      {"SystemDrive unset", std::nullopt, Volume({0}), -1},
      {"volume cannot be opened", "C:", Volume({0}, kOpenFails), -1},
      {"volume spans two disks", "C:", Volume({1, 2}), -1},
      {"volume has no extent", "C:", Volume({}), -1},
      {"device number request fails", "C:", Volume({2}, kNumberFails), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Storage.Devices = {{"\\\\.\\C:", c.volume}};
    Storage.Opens.clear();
    Environment.Variables.clear();
    if (c.systemDrive) {
      Environment.Variables["SystemDrive"] = *c.systemDrive;
    }
    EXPECT_EQ(GetSystemDiskNumber(), c.expected);
    EXPECT_EQ(Storage.Opens.size(), c.systemDrive ? 1u : 0u);
    ExpectOpensAsTheSystemRequires();
  }
}

TEST_F(BootmodeTest, VolumePathIsBuiltFromTheSystemDrive) {
  Environment.Variables["SystemDrive"] = "D:";
  Storage.Devices = {{"\\\\.\\D:", Volume({5})}};
  EXPECT_EQ(GetSystemDiskNumber(), 5);
  ASSERT_EQ(Storage.Opens.size(), 1u);
  EXPECT_EQ(Storage.Opens[0].Path, "\\\\.\\D:");
}

struct Disk {
  std::string path;
  FakeStorage::Device device;
};

struct GptCase {
  const char* name;
  std::vector<Disk> disks;  // in the order the system lists them
  std::int32_t systemDisk;
  bool expected;
  std::size_t opened;  // interfaces whose disk was opened
};

TEST_F(BootmodeTest, GptSystemDiskIsFoundInTheOrderTheDisksAreListed) {
  const FakeStorage::Device mbr0 = DiskDevice(0);
  const FakeStorage::Device gpt0 = DiskDevice(0, kGpt);
  const FakeStorage::Device gpt1 = DiskDevice(1, kGpt);
  const FakeStorage::Device mbr1 = DiskDevice(1);
  const GptCase cases[] = {
      {"GPT system disk listed first", {{"\\\\?\\disk0", gpt0}, {"\\\\?\\disk1", mbr1}}, 0, true, 1},
      {"GPT system disk listed second after an MBR disk", {{"\\\\?\\disk0", mbr0}, {"\\\\?\\disk1", gpt1}}, 1, true, 2},
      {"MBR system disk: every disk examined",
       {{"\\\\?\\disk0", mbr0}, {"\\\\?\\disk1", gpt1}, {"\\\\?\\disk2", DiskDevice(2)}},
       0,
       false,
       3},
      {"raw system disk", {{"\\\\?\\disk0", DiskDevice(0, sys::kPartitionStyleRaw)}}, 0, false, 1},
      {"reader without medium listed first is passed over",
       {{"\\\\?\\reader", DiskDevice(0, sys::kPartitionStyleMbr, kNoMedium)}, {"\\\\?\\disk1", gpt1}},
       1,
       true,
       2},
      {"system disk listed before a reader without medium",
       {{"\\\\?\\disk1", gpt1}, {"\\\\?\\reader", DiskDevice(2, sys::kPartitionStyleMbr, kNoMedium)}},
       1,
       true,
       1},
      {"26 partitions fit the layout buffer", {{"\\\\?\\disk0", DiskDevice(0, kGpt, kNone, 26)}}, 0, true, 1},
      {"27 partitions do not fit: that disk is passed over",
       {{"\\\\?\\disk0", DiskDevice(0, kGpt, kNone, 27)}, {"\\\\?\\disk1", gpt1}},
       1,
       true,
       2},
      {"failed device number skips only that disk",
       {{"\\\\?\\disk0", DiskDevice(1, kGpt, kNumberFails)}, {"\\\\?\\disk1", gpt1}},
       1,
       true,
       2},
      {"disk that cannot be opened is passed over",
       {{"\\\\?\\disk0", DiskDevice(0, sys::kPartitionStyleMbr, kOpenFails)}, {"\\\\?\\disk1", gpt1}},
       1,
       true,
       2},
      {"no disks", {}, 0, false, 0},
      {"-1 from a failed system disk probe", {{"\\\\?\\disk0", gpt0}, {"\\\\?\\disk1", gpt1}}, -1, false, 2},
      {"-1 against a disk that reports 0xFFFFFFFF", {{"\\\\?\\disk0", DiskDevice(0xFFFFFFFF, kGpt)}}, -1, false, 1},
  };
  for (const GptCase& c : cases) {
    SCOPED_TRACE(c.name);
    Storage.Devices.clear();
    Storage.Opens.clear();
    Interfaces.DevicePaths.clear();
    for (const Disk& disk : c.disks) {
      Storage.Devices[disk.path] = disk.device;
      Interfaces.DevicePaths.push_back(disk.path);
    }
    const int destroyedBefore = Interfaces.DestroyedSets;

    EXPECT_EQ(IsGptDisk(c.systemDisk), c.expected);
    ASSERT_EQ(Storage.Opens.size(), c.opened);
    for (std::size_t i = 0; i < c.opened; ++i) {
      EXPECT_EQ(Storage.Opens[i].Path, c.disks[i].path);
    }
    ExpectOpensAsTheSystemRequires();
    EXPECT_TRUE(Storage.LayoutBuffersWereZero);
    EXPECT_EQ(Interfaces.DestroyedSets, destroyedBefore + 1);
    EXPECT_TRUE(Interfaces.OpenSets.empty());
  }
  EXPECT_EQ(Interfaces.ClassDevsFlags.back(), sys::kDigcfPresent | sys::kDigcfDeviceInterface);
}

TEST_F(BootmodeTest, EnumerationFailuresEndTheWalk) {
  const FakeStorage::Device gpt1 = DiskDevice(1, kGpt);
  Storage.Devices = {{"\\\\?\\disk0", DiskDevice(0)}, {"\\\\?\\disk1", gpt1}};
  Interfaces.DevicePaths = {"\\\\?\\disk0", "\\\\?\\disk1"};

  Interfaces.FailSizeQueryAt = 1;
  EXPECT_FALSE(IsGptDisk(1)) << "size query failing with another error than a too small buffer";
  EXPECT_EQ(Storage.Opens.size(), 1u);

  Interfaces.FailSizeQueryAt.reset();
  Interfaces.FailDetailAt = 1;
  Storage.Opens.clear();
  EXPECT_FALSE(IsGptDisk(1)) << "detail record cannot be fetched";
  EXPECT_EQ(Storage.Opens.size(), 1u);

  Interfaces.FailDetailAt.reset();
  Interfaces.FailGetClassDevs = true;
  Storage.Opens.clear();
  EXPECT_FALSE(IsGptDisk(1)) << "no device information set";
  EXPECT_TRUE(Storage.Opens.empty());

  Interfaces.FailGetClassDevs = false;
  EXPECT_TRUE(IsGptDisk(1));
  EXPECT_TRUE(Interfaces.OpenSets.empty());
  ExpectOpensAsTheSystemRequires();
}

TEST_F(BootmodeTest, ProbeAsTheInstallRunCallsIt) {
  Environment.Variables["SystemDrive"] = "C:";
  Storage.Devices = {
      {"\\\\.\\C:", Volume({1})}, {"\\\\?\\disk0", DiskDevice(0)}, {"\\\\?\\disk1", DiskDevice(1, kGpt)}};
  Interfaces.DevicePaths = {"\\\\?\\disk0", "\\\\?\\disk1"};
  EXPECT_TRUE(IsGptDisk(GetSystemDiskNumber()));

  Environment.Variables.clear();
  EXPECT_FALSE(IsGptDisk(GetSystemDiskNumber()));
}

}  // namespace
}  // namespace kestrune
