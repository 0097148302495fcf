// A simulated board on the machine seam. It decorates a file seam: the
// devices of the board (the hardware access driver, the system volume and
// the disks) are answered here; every other path and handle passes through
// to the underlying implementation, so a simulated program can still write
// real files. The driver's requests are answered by the driver's own
// request core (driver/RequestCore.h), over the board's memory, PCI space,
// SMI handler and RAM ranges as its machine primitives. The board also
// answers CPUID and, for Windows 9x code, the PCI configuration ports.
//
// The machine keeps its state in memory only: every process starts from the
// board as described, with the driver not yet loaded. Its parts live in
// files of their own: the board's checks (BoardCheck), the ACPI layout
// (AcpiLayout), the PCI space and its ports (PciSpace, PciConfigPorts), the
// contiguous buffers (ContiguousBuffers), the SMI handler (SmiHandler), the
// storage answers (StorageRequests) and CPUID (CpuidLeaves).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/RequestCore.h"
#include "sim/board/Board.h"
#include "sim/board/ContiguousBuffers.h"
#include "sim/board/FirmwareTables.h"
#include "sim/board/PciConfigPorts.h"
#include "sim/board/PciSpace.h"
#include "sim/board/PhysicalMemory.h"
#include "sim/board/SmiHandler.h"
#include "sim/board/StorageRequests.h"
#include "sys/Cpuid.h"
#include "sys/Files.h"
#include "sys/PortIo.h"
#include "sys/Storage.h"

namespace kestrune::sim {

class BoardMachine : public sys::IFiles, public sys::ICpuid, public sys::IPortIo {
 public:
  // nullptr with the reason in error when the board cannot be laid out
  // (overlapping memory, malformed ACPI tables, no room for buffers).
  static std::unique_ptr<BoardMachine> Create(const Board& board, sys::IFiles& inner, std::string& error);

  // The kernel loads the board's driver when its service starts; the
  // device opens from then on, unless the board's driver fault is set.
  void LoadDriver();
  void UnloadDriver() { driverLoaded_ = false; }
  bool DriverLoaded() const { return driverLoaded_; }

  // The device path of every listed disk, in the board's order: what the
  // disk device-interface enumeration lists.
  std::vector<std::string> DiskDevicePaths() const;

  const Board& GetBoard() const { return board_; }
  PhysicalMemory& Memory() { return memory_; }
  // The range contiguous buffers come from, and the buffers now allocated.
  std::uint32_t BufferPoolBase() const { return buffers_.PoolBase(); }
  std::size_t AllocatedBuffers() const { return buffers_.Count(); }
  std::size_t OpenDeviceHandles() const { return handles_.size(); }
  // Software SMIs the handler has run, for tests.
  int SmiCount() const { return smi_.Count(); }
  // What the machine does when a byte is written to an I/O port with these
  // registers loaded (the driver's SMI): the firmware's handler runs for
  // the board's SMI command port and leaves the registers as it returns.
  void RaiseSmi(DRV_SMI_REGISTERS& registers) { smi_.Raise(registers); }
  // The bytes the last released contiguous buffer held when it went (as
  // many as were asked for).
  const std::vector<std::uint8_t>& LastReleasedBuffer() const { return buffers_.LastReleased(); }
  // Requests sent to the driver's device, answered or refused.
  std::uint64_t DriverRequests() const { return driverRequests_; }
  // What the operating system reports as RAM: the board's system_ram and
  // the range contiguous buffers come from.
  std::vector<VELDRV_RANGE> RamRanges() const;

  // sys::IFiles
  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  sys::FileHandle CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  // The board's devices have no contents to read or size to report (the
  // driver serves no read requests; the disks hold no sectors).
  bool ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) override;
  bool WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) override;
  bool GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) override;
  bool DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                       sys::Dword outSize, sys::Dword* returned) override;
  bool SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                   const sys::FileTime* lastWrite) override;
  bool CloseHandle(sys::FileHandle handle) override;
  sys::Dword GetLastError() override;

  // sys::ICpuid
  void Cpuid(sys::CpuidRegisters& registers) override;

  // sys::IPortIo: configuration mechanism 1 at 0xCF8/0xCFC; other ports
  // read all ones.
  void WritePortDword(std::uint16_t port, std::uint32_t value) override;
  std::uint8_t ReadPortByte(std::uint16_t port) override;
  std::uint16_t ReadPortWord(std::uint16_t port) override;
  std::uint32_t ReadPortDword(std::uint16_t port) override;

 private:
  enum class DeviceKind { Driver, Volume, Disk };
  struct OpenDevice {
    DeviceKind Kind;
    std::size_t DiskIndex = 0;
    // The driver's record of this open (driver handles only).
    std::shared_ptr<VELDRV_HANDLE> Driver;
    // The access the open asked for.
    sys::Dword Access = 0;
  };
  BoardMachine(const Board& board, sys::IFiles& inner);
  bool Build(std::string& error);
  std::optional<OpenDevice> Classify(const std::string& path) const;
  bool Fail(sys::Dword error);
  bool Succeed();

  bool PlaceBoard(std::string& error);
  bool DriverRequest(const OpenDevice& open, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                     sys::Dword outSize, sys::Dword* returned);

  // The request core's machine primitives (context: the machine).
  static VELDRV_MACHINE Primitives(BoardMachine* machine);
  const volatile std::uint8_t* MapDevice(std::uint64_t address, std::uint32_t length);
  void UnmapDevice(const volatile std::uint8_t* mapped);
  std::uint32_t AcpiTable(std::uint32_t signature, std::uint8_t* buffer, std::uint32_t capacity) const;
  bool Smi(DRV_SMI_REGISTERS& registers);

  Board board_;
  sys::IFiles& inner_;
  PhysicalMemory memory_;
  PciSpace pci_;
  PciConfigPorts ports_;
  SmiHandler smi_;
  StorageRequests storage_;
  ContiguousBuffers buffers_;
  std::map<sys::FileHandle, OpenDevice> handles_;
  sys::FileHandle nextHandle_ = 0x4B530000;
  std::optional<sys::Dword> lastError_;
  bool driverLoaded_ = false;
  VELDRV_DEVICE driver_{};
  std::map<const volatile std::uint8_t*, std::vector<std::uint8_t>> mappings_;
  FirmwareTables firmwareTables_;
  std::uint64_t driverRequests_ = 0;
};

}  // namespace kestrune::sim
