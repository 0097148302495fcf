// The boot-mode probe through the real storage and SetupDi functions.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Bootmode.h"
#include "sys/Seam.h"
#include "sys/Storage.h"
#include "sys/win32/CrtEnvironmentVariables.h"
#include "sys/win32/Win32Files.h"
#include "sys/win32/Win32SetupDi.h"

namespace kestrune {
namespace {

std::string Hex(sys::Dword value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

// Passes every call to the real functions and notes what they answered.
class ObservedFiles : public sys::win32::Win32Files {
 public:
  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flags) override {
    const sys::FileHandle handle = Win32Files::CreateFileA(path, access, share, disposition, flags);
    Events.push_back("open " + path + (handle == sys::kInvalidHandleValue ? " failed" : ""));
    return handle;
  }
  bool DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                       sys::Dword outSize, sys::Dword* returned) override {
    const bool ok = Win32Files::DeviceIoControl(device, code, in, inSize, out, outSize, returned);
    Events.push_back("ioctl " + Hex(code) +
                     (ok ? " ok " + std::to_string(*returned) : " failed " + std::to_string(GetLastError())));
    return ok;
  }
  bool CloseHandle(sys::FileHandle handle) override {
    const bool ok = Win32Files::CloseHandle(handle);
    Events.push_back(ok ? "close" : "close failed");
    return ok;
  }
  std::vector<std::string> Events;
};

class ObservedSetupDi : public sys::win32::Win32SetupDi {
 public:
  sys::DevInfoSet SetupDiGetClassDevsA(const sys::DeviceClassGuid& classGuid, sys::Dword flags) override {
    const sys::DevInfoSet set = Win32SetupDi::SetupDiGetClassDevsA(classGuid, flags);
    Events.push_back(set == sys::kInvalidDevInfoSet ? "set failed" : "set");
    return set;
  }
  bool SetupDiEnumDeviceInterfaces(sys::DevInfoSet set, const sys::DeviceClassGuid& guid, sys::Dword index,
                                   sys::DeviceInterfaceData* data) override {
    const bool ok = Win32SetupDi::SetupDiEnumDeviceInterfaces(set, guid, index, data);
    Events.push_back("enum " + std::to_string(index) + (ok ? " ok" : " failed " + std::to_string(GetLastError())));
    return ok;
  }
  bool SetupDiDestroyDeviceInfoList(sys::DevInfoSet set) override {
    const bool ok = Win32SetupDi::SetupDiDestroyDeviceInfoList(set);
    Events.push_back(ok ? "destroy" : "destroy failed");
    return ok;
  }
  std::vector<std::string> Events;
};

class BootmodeWineTest : public ::testing::Test {
 protected:
  ObservedFiles Files;
  ObservedSetupDi SetupDi;
  sys::win32::CrtEnvironmentVariables Environment;

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Files};
  sys::ScopedSeam<sys::ISetupDi> SetupDiSeam{SetupDi};
  sys::ScopedSeam<sys::IEnvironmentVariables> EnvironmentSeam{Environment};
};

TEST_F(BootmodeWineTest, SystemVolumeWithoutExtentsNamesNoDisk) {
  // Wine opens the system volume and answers both requests, but with no
  // disk extent in the record.
  ASSERT_EQ(Environment.GetEnv("SystemDrive"), "C:");
  EXPECT_EQ(GetSystemDiskNumber(), -1);
  const std::vector<std::string> expected = {"open \\\\.\\C:", "ioctl 00560000 ok 32", "ioctl 002D1080 ok 12", "close"};
  EXPECT_EQ(Files.Events, expected);
}

TEST_F(BootmodeWineTest, NoDiskInterfacesMeansNoGptDisk) {
  // Wine lists no disk interfaces: the walk ends at the first index.
  EXPECT_FALSE(IsGptDisk(0));
  const std::vector<std::string> expected = {"set", "enum 0 failed 259", "destroy"};
  EXPECT_EQ(SetupDi.Events, expected);
  EXPECT_TRUE(Files.Events.empty());
}

TEST_F(BootmodeWineTest, InterfaceDetailGivesTheDevicePath) {
  // GUID_DEVINTERFACE_HID: Wine lists its own input devices there.
  const sys::DeviceClassGuid hid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  const sys::UniqueDevInfoSet set(SetupDi.SetupDiGetClassDevsA(hid, sys::kDigcfPresent | sys::kDigcfDeviceInterface));
  ASSERT_TRUE(set.Valid());
  sys::DeviceInterfaceData data;
  ASSERT_TRUE(SetupDi.SetupDiEnumDeviceInterfaces(set.Get(), hid, 0, &data));
  EXPECT_EQ(data.InterfaceClassGuid, hid);

  sys::Dword required = 0;
  EXPECT_FALSE(SetupDi.SetupDiGetDeviceInterfaceDetailA(set.Get(), data, nullptr, 0, &required));
  EXPECT_EQ(SetupDi.GetLastError(), static_cast<sys::Dword>(sys::kErrorInsufficientBuffer));

  std::string path;
  EXPECT_FALSE(SetupDi.SetupDiGetDeviceInterfaceDetailA(set.Get(), data, &path, required - 1, nullptr));
  EXPECT_EQ(SetupDi.GetLastError(), static_cast<sys::Dword>(sys::kErrorInsufficientBuffer));
  ASSERT_TRUE(SetupDi.SetupDiGetDeviceInterfaceDetailA(set.Get(), data, &path, required, nullptr));
  EXPECT_EQ(path.rfind("\\\\?\\hid#", 0), 0u) << path;
  EXPECT_NE(path.find("{4d1e55b2-f16f-11cf-88cb-001111000030}"), std::string::npos) << path;
  EXPECT_EQ(4 + path.size() + 1, required);  // the size field, the path and its terminator
}

}  // namespace
}  // namespace kestrune
