#include "tests/support/MemoryImage.h"

#include <algorithm>
#include <cstring>

#include "common/LittleEndian.h"
#include "sim/board/DriverDispatch.h"
#include "sys/Errors.h"

namespace kestrune::test {

namespace {

// The image's one open of the driver's device.
constexpr sys::FileHandle kDeviceHandle = 0x4D490000;
// The flags word of Windows 10 x64.
constexpr std::uint32_t kWindows10x64 = 0x4C1;

}  // namespace

MemoryImage::MemoryImage() : Previous(sys::Seam<sys::IFiles>::Exchange(this)) {
  const VELDRV_MACHINE primitives = Primitives(this);
  VelDrvInitDevice(&Device, &primitives);
  VelDrvOpenHandle(&Handle);
  Access = std::make_unique<TReadWrite>(kWindows10x64, kDeviceHandle);
}

MemoryImage::~MemoryImage() {
  Access.reset();
  VelDrvCloseHandle(&Device, &Handle);
  sys::Seam<sys::IFiles>::Exchange(Previous);
}

std::uint8_t* MemoryImage::ByteAt(std::uint64_t address, bool create) {
  const std::uint64_t base = address & ~(kPageSize - 1);
  auto page = Pages.find(base);
  if (page == Pages.end()) {
    if (!create) {
      return nullptr;
    }
    page = Pages.emplace(base, Page{}).first;
  }
  return page->second.data() + (address - base);
}

void MemoryImage::Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes) {
  Write(address, bytes.data(), bytes.size());
}

void MemoryImage::Write(std::uint64_t address, const std::uint8_t* bytes, std::size_t size) {
  // A page at a time.
  for (std::size_t done = 0; done < size;) {
    const std::uint64_t at = address + done;
    const std::size_t count = std::min<std::size_t>(size - done, kPageSize - (at & (kPageSize - 1)));
    std::memcpy(ByteAt(at, true), bytes + done, count);
    done += count;
  }
}

void MemoryImage::Write(std::uint64_t address, const std::string& text) {
  Write(address, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void MemoryImage::WriteDword(std::uint64_t address, std::uint32_t value) {
  std::vector<std::uint8_t> bytes(4);
  PutLe32(bytes.data(), value);
  Write(address, bytes);
}

void MemoryImage::Map(std::uint64_t address, std::uint64_t length) {
  for (std::uint64_t page = address & ~(kPageSize - 1); page < address + length; page += kPageSize) {
    ByteAt(page, true);
  }
}

void MemoryImage::AddPciFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t vendor,
                                 std::uint16_t deviceId, std::uint8_t headerType, std::uint16_t subsystemVendor) {
  PciSpace& space = Pci[{bus, device, function}];
  space.fill(0);
  PutLe16(&space[0x00], vendor);
  PutLe16(&space[0x02], deviceId);
  space[0x0E] = headerType;
  PutLe16(&space[0x2C], subsystemVendor);
}

VELDRV_MACHINE MemoryImage::Primitives(MemoryImage* image) {
  VELDRV_MACHINE m{};
  m.Context = image;
  // The operating system reports no RAM: every page is device memory.
  m.RamRanges = [](void*, VELDRV_RANGE*, std::uint32_t) { return std::uint32_t{0}; };
  m.MapDevice = [](void* context, std::uint64_t address, std::uint32_t length) {
    return static_cast<MemoryImage*>(context)->MapDevice(address, length);
  };
  // A mapping of a page's own bytes has no copy to release.
  m.UnmapDevice = [](void* context, const volatile std::uint8_t* mapped, std::uint32_t) {
    static_cast<MemoryImage*>(context)->Mappings.erase(mapped);
  };
  m.ReadPciConfig = [](void* context, std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                       std::uint16_t offset, std::uint8_t* out, std::uint32_t length) {
    return static_cast<MemoryImage*>(context)->ReadPciBytes(bus, device, function, offset, out, length);
  };
  // No contiguous memory, no firmware tables and no SMI handler.
  m.AllocContiguous = [](void*, std::uint32_t, std::uint8_t**, std::uint64_t*) { return 0; };
  m.FreeContiguous = [](void*, std::uint8_t*, std::uint32_t) {};
  m.AcpiTable = [](void*, std::uint32_t, std::uint8_t*, std::uint32_t) { return std::uint32_t{0}; };
  m.Smi = [](void*, DRV_SMI_REGISTERS*) { return 0; };
  sim::UseSimulatedKernel(m);
  return m;
}

const volatile std::uint8_t* MemoryImage::MapDevice(std::uint64_t address, std::uint32_t length) {
  // A range inside one page is mapped as that page's own bytes.
  if ((address & (kPageSize - 1)) + length <= kPageSize) {
    return ByteAt(address, false);
  }
  // A copy of a longer range stands for the mapping; a page that is not
  // there makes the whole mapping fail (looked for before the copy is made:
  // a corrupt table may claim 16 MiB).
  for (std::uint64_t page = address & ~(kPageSize - 1); page < address + length; page += kPageSize) {
    if (ByteAt(page, false) == nullptr) {
      return nullptr;
    }
  }
  std::vector<std::uint8_t> window(std::max<std::uint32_t>(length, 1));
  std::uint64_t done = 0;
  while (done < length) {
    const std::uint64_t at = address + done;
    const std::uint8_t* source = ByteAt(at, false);
    if (source == nullptr) {
      return nullptr;
    }
    const std::uint64_t count = std::min<std::uint64_t>(length - done, kPageSize - (at & (kPageSize - 1)));
    std::memcpy(window.data() + done, source, count);
    done += count;
  }
  const volatile std::uint8_t* mapped = window.data();
  Mappings.emplace(mapped, std::move(window));
  return mapped;
}

std::uint32_t MemoryImage::ReadPciBytes(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                        std::uint16_t offset, std::uint8_t* out, std::uint32_t length) {
  ++PciReads;
  auto space = Pci.find({bus, device, function});
  if (space == Pci.end() || offset + length > space->second.size()) {
    return 0;
  }
  std::copy_n(space->second.begin() + offset, length, out);
  return length;
}

sys::FileHandle MemoryImage::CreateFileA(const std::string& path, sys::Dword access, sys::Dword share,
                                         sys::Dword disposition, sys::Dword flagsAndAttributes) {
  if (Previous == nullptr) {
    Refuse(sys::kErrorFileNotFound);
    return sys::kInvalidHandleValue;
  }
  return Pass().CreateFileA(path, access, share, disposition, flagsAndAttributes);
}

sys::FileHandle MemoryImage::CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share,
                                         sys::Dword disposition, sys::Dword flagsAndAttributes) {
  if (Previous == nullptr) {
    Refuse(sys::kErrorFileNotFound);
    return sys::kInvalidHandleValue;
  }
  return Pass().CreateFileW(path, access, share, disposition, flagsAndAttributes);
}

bool MemoryImage::ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) {
  if (file == kDeviceHandle || Previous == nullptr) {
    *read = 0;
    return Refuse(file == kDeviceHandle ? sys::kErrorInvalidFunction : sys::kErrorInvalidHandle);
  }
  return Pass().ReadFile(file, buffer, size, read);
}

bool MemoryImage::WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) {
  if (file == kDeviceHandle || Previous == nullptr) {
    *written = 0;
    return Refuse(file == kDeviceHandle ? sys::kErrorInvalidFunction : sys::kErrorInvalidHandle);
  }
  return Pass().WriteFile(file, data, size, written);
}

bool MemoryImage::GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) {
  if (file == kDeviceHandle || Previous == nullptr) {
    return Refuse(file == kDeviceHandle ? sys::kErrorInvalidFunction : sys::kErrorInvalidHandle);
  }
  return Pass().GetFileSizeEx(file, size);
}

bool MemoryImage::DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                                  sys::Dword outSize, sys::Dword* returned) {
  if (device != kDeviceHandle) {
    return Previous == nullptr ? Refuse(sys::kErrorInvalidHandle)
                               : Pass().DeviceIoControl(device, code, in, inSize, out, outSize, returned);
  }
  sys::Dword ignored = 0;
  OwnError = sim::CallDriver(Device, Handle, sys::kGenericRead | sys::kGenericWrite, code, in, inSize, out, outSize,
                             returned ? returned : &ignored);
  return *OwnError == 0;
}

bool MemoryImage::SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                              const sys::FileTime* lastWrite) {
  if (file == kDeviceHandle || Previous == nullptr) {
    return Refuse(file == kDeviceHandle ? sys::kErrorInvalidFunction : sys::kErrorInvalidHandle);
  }
  return Pass().SetFileTime(file, creation, lastAccess, lastWrite);
}

bool MemoryImage::CloseHandle(sys::FileHandle handle) {
  // The device stays open for the image's life.
  if (handle == kDeviceHandle || Previous == nullptr) {
    return Refuse(sys::kErrorInvalidHandle);
  }
  return Pass().CloseHandle(handle);
}

sys::Dword MemoryImage::GetLastError() {
  return OwnError || Previous == nullptr ? OwnError.value_or(0) : Previous->GetLastError();
}

bool MemoryImage::Refuse(sys::Dword error) {
  OwnError = error;
  return false;
}

sys::IFiles& MemoryImage::Pass() {
  OwnError.reset();
  return *Previous;
}

}  // namespace kestrune::test
