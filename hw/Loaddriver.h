// The driver loader: picks the driver image that fits the running Windows,
// makes sure the driver file is that image, registers and starts the kernel
// service and opens the device. The handle it obtains is the one channel to
// the hardware.
//
// The driver file. A driver that runs already (its device opens at once)
// keeps its file: Windows holds a loaded driver's image, and the first load
// after the next restart puts the program's own image there. Otherwise,
// before the service is created or started, the file at the driver path is
// compared with the carried image, its size and every byte. A file that is
// exactly the image is left as it is; any other file (an earlier release's
// driver, a truncated or empty file, one that cannot be read) is written
// again with the image, and a missing driver folder is created first (one
// level: the "Drivers" folder itself). When that write fails, the load
// fails with kInvalidHandleValue, without a message and without touching
// the service, as a failed first write does: the file left at the path is
// not known to be the image, and a service started on it would run
// whatever it is. With AlwaysWrite the image is written first, whatever is
// there, the running driver's file too. Without an image for the platform
// nothing is compared or written.
#pragma once

#include <cstdint>
#include <string>

#include "common/DriverContract.h"
#include "hw/DriverImages.h"
#include "hw/OsPlatform.h"
#include "sys/Files.h"

namespace kestrune {

// Names the chosen image; the bytes are the program's read-only data.
struct TRwDrvData {
  const std::uint8_t* Image = nullptr;
  std::uint32_t ImageSize = 0;
};

// The image for the platform, the first row that applies: flags at most
// 0x10 Windows 9x; 32-bit Windows x86; Itanium IA-64; 64-bit x64; else none.
TRwDrvData ChooseDriverImage(const OsPlatform& os, const DriverImages& images);

inline constexpr const char* kDriverLoadFailedText =
    "Driver cannot be loaded, re-install the program may fix the issue, if it happens again, report the problem "
    "with your system configuration as detail as possible.";
inline constexpr const char* kDriverLoadFailedCaption = "Error";

class TLoadDriver {
 public:
  // Asks OsVersionInstance() and uses the images the program carries.
  TLoadDriver(bool alwaysWrite, bool stopOnRelease, bool deleteOnRelease);
  // With the platform and the images given.
  TLoadDriver(bool alwaysWrite, bool stopOnRelease, bool deleteOnRelease, const OsPlatform& os,
              const DriverImages& images, const std::string& name = kDriverName);
  ~TLoadDriver();
  TLoadDriver(const TLoadDriver&) = delete;
  TLoadDriver& operator=(const TLoadDriver&) = delete;

  // kInvalidHandleValue when the driver could not be opened.
  sys::FileHandle GetDeviceHandle() const { return DeviceHandle; }
  const TRwDrvData& GetDriverData() const { return DrvData; }

  // Where the driver file goes and which device path opens it.
  static std::string DriverFilePath(const OsPlatform& os, const std::string& name);
  static std::string DevicePath(const OsPlatform& os, const std::string& name);

 private:
  sys::FileHandle Load(const std::string& name, const std::uint8_t* image, std::uint32_t size);
  // Whether the file at path holds exactly the image (false when it cannot
  // be read).
  bool DriverFileIsImage(const std::string& path, const std::uint8_t* image, std::uint32_t size);
  // Writes the image over whatever is at path, creating a missing driver
  // folder; true when every byte is written.
  bool WriteDriverFile(const std::string& path, const std::uint8_t* image, std::uint32_t size);
  sys::FileHandle OpenDevice(const std::string& path);
  sys::FileHandle StartServiceAndOpen(const std::string& name, const std::string& file, const std::string& device,
                                      bool deviceOpened);
  void Unload(const std::string& name);

  sys::FileHandle DeviceHandle = sys::kInvalidHandleValue;
  TRwDrvData DrvData;
  bool AlwaysWrite = false;
  bool StopOnRelease = false;
  bool DeleteOnRelease = false;
  OsPlatform Os;
  std::string Name;
};

// The process-wide loader; the first call constructs it with these flags,
// later calls ignore their arguments.
TLoadDriver* LoadDriverInstance(bool alwaysWrite, bool stopOnRelease, bool deleteOnRelease);
// Destroys the process-wide loader, if any, and forgets it.
void ReleaseLoadDriverInstance();

}  // namespace kestrune
