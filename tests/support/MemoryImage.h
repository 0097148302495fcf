// A machine made of bytes for the firmware readers' tests and fuzz targets:
// sparse physical memory in 4 KiB pages and PCI configuration spaces, under
// the hardware access driver's own request core and reached through a
// TReadWrite, as the readers reach the real machine. Memory that no page
// covers cannot be read, a function without a configuration space reads as
// all ones, and the driver's rules hold: below 1 MiB only the BIOS area can
// be read.
//
// While it lives, the image is the file seam: it answers the requests on
// its own device handle and passes every other call to the implementation
// it replaced. Its TReadWrite releases the process-wide settings and
// driver loader when it goes, as every TReadWrite does.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "driver/RequestCore.h"
#include "hw/Readwrite.h"
#include "sys/Files.h"

namespace kestrune::test {

class MemoryImage : private sys::IFiles {
 public:
  static constexpr std::uint64_t kPageSize = 4096;

  MemoryImage();
  ~MemoryImage() override;
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;

  // What the readers take.
  TReadWrite& Machine() { return *Access; }

  // Writes bytes at address, creating zero-filled pages as needed.
  void Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes);
  void Write(std::uint64_t address, const std::uint8_t* bytes, std::size_t size);
  void Write(std::uint64_t address, const std::string& text);
  void WriteDword(std::uint64_t address, std::uint32_t value);
  // Makes the range readable (zero-filled where new).
  void Map(std::uint64_t address, std::uint64_t length);
  // A PCI function with the given config-space bytes (the rest zero).
  void AddPciFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t vendor,
                      std::uint16_t deviceId, std::uint8_t headerType, std::uint16_t subsystemVendor);

  int PciReads = 0;  // configuration reads that reached the image, of any width

 private:
  using Page = std::array<std::uint8_t, kPageSize>;
  using PciSpace = std::array<std::uint8_t, 4096>;
  std::uint8_t* ByteAt(std::uint64_t address, bool create);
  static VELDRV_MACHINE Primitives(MemoryImage* image);
  const volatile std::uint8_t* MapDevice(std::uint64_t address, std::uint32_t length);
  std::uint32_t ReadPciBytes(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t offset,
                             std::uint8_t* out, std::uint32_t length);

  // sys::IFiles
  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  sys::FileHandle CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  bool ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) override;
  bool WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) override;
  bool GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) override;
  bool DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                       sys::Dword outSize, sys::Dword* returned) override;
  bool SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                   const sys::FileTime* lastWrite) override;
  bool CloseHandle(sys::FileHandle handle) override;
  sys::Dword GetLastError() override;
  bool Refuse(sys::Dword error);
  // The implementation this image replaced, for a call not on its device.
  sys::IFiles& Pass();

  std::map<std::uint64_t, Page> Pages;
  std::map<std::tuple<int, int, int>, PciSpace> Pci;
  std::map<const volatile std::uint8_t*, std::vector<std::uint8_t>> Mappings;
  VELDRV_DEVICE Device{};
  VELDRV_HANDLE Handle{};
  // The error of the last call the image answered itself; none while the
  // last call went to the implementation it replaced.
  std::optional<sys::Dword> OwnError;
  sys::IFiles* Previous = nullptr;
  std::unique_ptr<TReadWrite> Access;
};

}  // namespace kestrune::test
