#include "hw/Loaddriver.h"

#include <algorithm>
#include <vector>

#include "sys/Dialogs.h"
#include "sys/Errors.h"
#include "sys/FileSystem.h"
#include "sys/Seam.h"
#include "sys/ServiceControl.h"
#include "sys/SystemFolders.h"

namespace kestrune {

namespace {

TLoadDriver* instance = nullptr;

sys::IFiles& Files() { return sys::Use<sys::IFiles>(); }
sys::IServiceControl& Scm() { return sys::Use<sys::IServiceControl>(); }

TRwDrvData FromSpan(std::span<const std::uint8_t> image) {
  return {image.empty() ? nullptr : image.data(), static_cast<std::uint32_t>(image.size())};
}

}  // namespace

TRwDrvData ChooseDriverImage(const OsPlatform& os, const DriverImages& images) {
  if (os.Flags <= kOsWindows9x) {
    return FromSpan(images.Windows9x);
  }
  if (os.Is32BitWindows) {
    return FromSpan(images.X86);
  }
  if (os.IsItanium) {
    return FromSpan(images.Ia64);
  }
  if (os.Is64Bit) {
    return FromSpan(images.X64);
  }
  return {};
}

std::string TLoadDriver::DriverFilePath(const OsPlatform& os, const std::string& name) {
  sys::ISystemFolders& folders = sys::Use<sys::ISystemFolders>();
  if (os.Flags == kOsWindows9x) {
    return folders.GetSystemDirectoryA() + "\\" + name + ".vxd";
  }
  // A 32-bit program on 64-bit Windows puts the file below SysWOW64, and
  // registers the service with that same path.
  const std::string directory =
      os.Is32BitWindows ? folders.GetSystemDirectoryA() : folders.GetWindowsDirectoryA() + "\\SysWOW64";
  return directory + "\\Drivers\\" + name + ".sys";
}

std::string TLoadDriver::DevicePath(const OsPlatform& os, const std::string& name) {
  if (os.Flags == kOsWindows9x) {
    return "\\\\.\\" + DriverFilePath(os, name);
  }
  return "\\\\.\\" + name;
}

TLoadDriver::TLoadDriver(bool alwaysWrite, bool stopOnRelease, bool deleteOnRelease)
    : TLoadDriver(alwaysWrite, stopOnRelease, deleteOnRelease, ProcessOsPlatform(), CarriedDriverImages()) {}

TLoadDriver::TLoadDriver(bool alwaysWrite, bool stopOnRelease, bool deleteOnRelease, const OsPlatform& os,
                         const DriverImages& images, const std::string& name)
    : AlwaysWrite(alwaysWrite), StopOnRelease(stopOnRelease), DeleteOnRelease(deleteOnRelease), Os(os), Name(name) {
  DrvData = ChooseDriverImage(Os, images);
  DeviceHandle = Load(Name, DrvData.Image, DrvData.ImageSize);
}

TLoadDriver::~TLoadDriver() {
  Unload(Name);
  DrvData = {};
}

bool TLoadDriver::DriverFileIsImage(const std::string& path, const std::uint8_t* image, std::uint32_t size) {
  sys::UniqueFileHandle file(
      Files().CreateFileA(path, sys::kGenericRead, sys::kFileShareRead, sys::kOpenExisting, sys::kFileAttributeNormal));
  std::uint64_t length = 0;
  if (!file.Valid() || !Files().GetFileSizeEx(file.Get(), &length) || length != size) {
    return false;
  }
  std::vector<std::uint8_t> content(size);
  for (sys::Dword done = 0; done < size;) {
    sys::Dword read = 0;
    if (!Files().ReadFile(file.Get(), content.data() + done, size - done, &read) || read == 0) {
      return false;
    }
    done += read;
  }
  return std::equal(content.begin(), content.end(), image);
}

bool TLoadDriver::WriteDriverFile(const std::string& path, const std::uint8_t* image, std::uint32_t size) {
  const auto create = [&path] {
    return Files().CreateFileA(path, sys::kGenericRead | sys::kGenericWrite, sys::kFileShareRead | sys::kFileShareWrite,
                               sys::kCreateAlways, sys::kFileAttributeNormal);
  };
  sys::UniqueFileHandle file(create());
  if (!file.Valid() && Files().GetLastError() == static_cast<sys::Dword>(sys::kErrorPathNotFound)) {
    // A system without the driver folder (a fresh one may lack it).
    sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
    const std::string folder = path.substr(0, path.rfind('\\'));
    if (fileSystem.CreateDirectoryA(folder) ||
        fileSystem.GetLastError() == static_cast<sys::Dword>(sys::kErrorAlreadyExists)) {
      file.Reset(create());
    }
  }
  if (!file.Valid()) {
    return false;
  }
  sys::Dword written = 0;
  return Files().WriteFile(file.Get(), image, size, &written) && written == size;
}

sys::FileHandle TLoadDriver::OpenDevice(const std::string& path) {
  return Files().CreateFileA(path, sys::kGenericRead | sys::kGenericWrite, sys::kFileShareRead | sys::kFileShareWrite,
                             sys::kOpenExisting, sys::kFileAttributeNormal);
}

sys::FileHandle TLoadDriver::StartServiceAndOpen(const std::string& name, const std::string& file,
                                                 const std::string& device, bool deviceOpened) {
  sys::UniqueScHandle manager(Scm().OpenSCManagerA(sys::kScManagerAllAccess));
  sys::UniqueScHandle service;
  if (!deviceOpened) {
    service.Reset(Scm().CreateServiceA(manager.Get(), name, name, sys::kServiceAllAccess, sys::kServiceKernelDriver,
                                       sys::kServiceDemandStart, sys::kServiceErrorNormal, file));
    if (!service.Valid() && Scm().GetLastError() == static_cast<sys::Dword>(sys::kErrorServiceExists)) {
      service.Reset(Scm().OpenServiceA(manager.Get(), name, sys::kServiceAllAccess));
    }
  } else {
    service.Reset(Scm().OpenServiceA(manager.Get(), name, sys::kServiceAllAccess));
  }
  if (!service.Valid()) {
    return sys::kInvalidHandleValue;
  }
  // A service that already runs is fine: the result is not examined.
  Scm().StartServiceA(service.Get());
  service.Reset();
  manager.Reset();
  return OpenDevice(device);
}

sys::FileHandle TLoadDriver::Load(const std::string& name, const std::uint8_t* image, std::uint32_t size) {
  // Windows NT 4.0 or a version the probe does not recognise.
  if (Os.Flags < kOsWindows9x) {
    return sys::kInvalidHandleValue;
  }
  const std::string file = DriverFilePath(Os, name);
  const std::string device = DevicePath(Os, name);
  const bool haveImage = image != nullptr && size != 0;
  // Without AlwaysWrite, a file that is not exactly the image is replaced.
  const bool compare = haveImage && !AlwaysWrite;

  if (AlwaysWrite && haveImage && !WriteDriverFile(file, image, size)) {
    return sys::kInvalidHandleValue;
  }
  sys::FileHandle result = sys::kInvalidHandleValue;
  if (Os.Flags == kOsWindows9x) {
    if (compare && !DriverFileIsImage(file, image, size) && !WriteDriverFile(file, image, size)) {
      return sys::kInvalidHandleValue;
    }
    // Opening the VxD's path loads it dynamically.
    result = Files().CreateFileA(device, 0, 0, 0, sys::kFileFlagDeleteOnClose);
  } else {
    // A driver whose device opens runs already: its file stays.
    sys::UniqueFileHandle first(OpenDevice(device));
    const bool running = first.Valid();
    first.Reset();
    if (compare && !running && !DriverFileIsImage(file, image, size) && !WriteDriverFile(file, image, size)) {
      return sys::kInvalidHandleValue;
    }
    result = StartServiceAndOpen(name, file, device, running);
  }
  if (result == sys::kInvalidHandleValue) {
    sys::Use<sys::IDialogs>().MessageBoxA(kDriverLoadFailedText, kDriverLoadFailedCaption,
                                          sys::kMbOk | sys::kMbIconError);
  }
  return result;
}

void TLoadDriver::Unload(const std::string& name) {
  if (DeviceHandle == sys::kInvalidHandleValue) {
    return;
  }
  Files().CloseHandle(DeviceHandle);
  DeviceHandle = sys::kInvalidHandleValue;
  if (Os.Flags <= kOsWindows9x) {
    return;
  }
  if (StopOnRelease) {
    sys::UniqueScHandle manager(Scm().OpenSCManagerA(sys::kScManagerAllAccess));
    sys::UniqueScHandle service(Scm().OpenServiceA(manager.Get(), name, sys::kServiceAllAccess));
    if (service.Valid()) {
      Scm().ControlService(service.Get(), sys::kServiceControlStop);
    }
  }
  if (DeleteOnRelease) {
    sys::UniqueScHandle manager(Scm().OpenSCManagerA(sys::kScManagerAllAccess));
    sys::UniqueScHandle service(Scm().OpenServiceA(manager.Get(), name, sys::kServiceAllAccess));
    if (service.Valid()) {
      Scm().DeleteService(service.Get());
    }
  }
}

TLoadDriver* LoadDriverInstance(bool alwaysWrite, bool stopOnRelease, bool deleteOnRelease) {
  if (instance == nullptr) {
    instance = new TLoadDriver(alwaysWrite, stopOnRelease, deleteOnRelease);
  }
  return instance;
}

void ReleaseLoadDriverInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace kestrune
