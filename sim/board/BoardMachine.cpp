#include "sim/board/BoardMachine.h"

#include <algorithm>

#include "common/DriverContract.h"
#include "sim/board/AcpiLayout.h"
#include "sim/board/BoardCheck.h"
#include "sim/board/CpuidLeaves.h"
#include "sim/board/DriverDispatch.h"
#include "sys/WinTypes.h"

namespace kestrune::sim {

namespace {

using sys::kErrorFileNotFound;
using sys::kErrorInvalidFunction;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

}  // namespace

std::unique_ptr<BoardMachine> BoardMachine::Create(const Board& board, sys::IFiles& inner, std::string& error) {
  std::unique_ptr<BoardMachine> machine(new BoardMachine(board, inner));
  if (!machine->Build(error)) {
    return nullptr;
  }
  return machine;
}

BoardMachine::BoardMachine(const Board& board, sys::IFiles& inner)
    : board_(board),
      inner_(inner),
      pci_(board_.Pci),
      ports_(pci_),
      smi_(board_.Smi ? &*board_.Smi : nullptr, memory_),
      storage_(board_.Disks),
      buffers_(memory_) {}

bool BoardMachine::Build(std::string& error) {
  if (!CheckBoard(board_, error) || !PlaceBoard(error)) {
    return false;
  }
  // What the operating system finds at boot, from the root pointer the
  // firmware hands it (a board's acpi section records one) or the one in
  // the BIOS area.
  firmwareTables_ = FirmwareTables::Find(memory_, board_.Acpi ? AcpiRootPointer(*board_.Acpi) : std::nullopt);
  // Contiguous buffers come from RAM that no board region uses.
  if (!buffers_.Reserve(error)) {
    return false;
  }
  VELDRV_MACHINE primitives = Primitives(this);
  VelDrvInitDevice(&driver_, &primitives);
  return true;
}

// The board's regions, ACPI tables and SMBIOS in its memory.
bool BoardMachine::PlaceBoard(std::string& error) {
  for (const BoardMemoryRegion& region : board_.Memory) {
    if (memory_.Overlaps(region.Address, region.Data.size())) {
      error = "memory region at " + AddressText(region.Address) + " overlaps another region";
      return false;
    }
    memory_.Place(region.Address, region.Data.data(), region.Data.size());
  }
  if (board_.Acpi && !LayOutAcpi(*board_.Acpi, memory_, error)) {
    return false;
  }
  if (board_.Smbios) {
    for (const std::optional<BoardMemoryRegion>* part : {&board_.Smbios->EntryPoint, &board_.Smbios->Table}) {
      if (*part) {
        memory_.Place((*part)->Address, (*part)->Data.data(), (*part)->Data.size());
      }
    }
  }
  return true;
}

std::vector<std::string> BoardMachine::DiskDevicePaths() const {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < board_.Disks.List.size(); ++i) {
    paths.push_back("\\\\?\\simdisk#board#" + std::to_string(i) + "#" + kDiskInterfaceClass);
  }
  return paths;
}

std::optional<BoardMachine::OpenDevice> BoardMachine::Classify(const std::string& path) const {
  const std::string lower = Lower(path);
  if (lower == Lower(std::string("\\\\.\\") + kDriverName)) {
    return OpenDevice{DeviceKind::Driver, 0, nullptr};
  }
  if (lower == Lower(kSystemVolumePath)) {
    return OpenDevice{DeviceKind::Volume, 0, nullptr};
  }
  const std::vector<std::string> paths = DiskDevicePaths();
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (lower == Lower(paths[i]) || lower == "\\\\.\\physicaldrive" + std::to_string(board_.Disks.List[i].Number)) {
      return OpenDevice{DeviceKind::Disk, i, nullptr};
    }
  }
  return std::nullopt;
}

bool BoardMachine::Fail(sys::Dword error) {
  lastError_ = error;
  return false;
}

bool BoardMachine::Succeed() {
  lastError_ = 0;
  return true;
}

sys::FileHandle BoardMachine::CreateFileA(const std::string& path, sys::Dword access, sys::Dword share,
                                          sys::Dword disposition, sys::Dword flagsAndAttributes) {
  const std::optional<OpenDevice> device = Classify(path);
  if (!device) {
    lastError_.reset();
    return inner_.CreateFileA(path, access, share, disposition, flagsAndAttributes);
  }
  if (device->Kind == DeviceKind::Driver && (!driverLoaded_ || board_.Faults.Driver)) {
    Fail(kErrorFileNotFound);
    return sys::kInvalidHandleValue;
  }
  const sys::FileHandle handle = nextHandle_;
  nextHandle_ += 4;
  OpenDevice open = *device;
  open.Access = access;
  if (open.Kind == DeviceKind::Driver) {
    open.Driver = std::make_shared<VELDRV_HANDLE>();
    VelDrvOpenHandle(open.Driver.get());
  }
  handles_.emplace(handle, std::move(open));
  Succeed();
  return handle;
}

sys::FileHandle BoardMachine::CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share,
                                          sys::Dword disposition, sys::Dword flagsAndAttributes) {
  std::string narrow;
  bool ascii = true;
  for (char16_t c : path) {
    ascii = ascii && c < 0x80;
    narrow.push_back(static_cast<char>(c));
  }
  if (ascii && Classify(narrow)) {
    return CreateFileA(narrow, access, share, disposition, flagsAndAttributes);
  }
  lastError_.reset();
  return inner_.CreateFileW(path, access, share, disposition, flagsAndAttributes);
}

bool BoardMachine::ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) {
  if (handles_.count(file) == 0) {
    lastError_.reset();
    return inner_.ReadFile(file, buffer, size, read);
  }
  *read = 0;
  return Fail(kErrorInvalidFunction);
}

bool BoardMachine::WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) {
  if (handles_.count(file) == 0) {
    lastError_.reset();
    return inner_.WriteFile(file, data, size, written);
  }
  *written = 0;
  return Fail(kErrorInvalidFunction);
}

bool BoardMachine::GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) {
  if (handles_.count(file) == 0) {
    lastError_.reset();
    return inner_.GetFileSizeEx(file, size);
  }
  return Fail(kErrorInvalidFunction);
}

bool BoardMachine::SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                               const sys::FileTime* lastWrite) {
  if (handles_.count(file) == 0) {
    lastError_.reset();
    return inner_.SetFileTime(file, creation, lastAccess, lastWrite);
  }
  return Fail(kErrorInvalidFunction);
}

bool BoardMachine::CloseHandle(sys::FileHandle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    lastError_.reset();
    return inner_.CloseHandle(handle);
  }
  if (it->second.Driver) {
    VelDrvCloseHandle(&driver_, it->second.Driver.get());
  }
  handles_.erase(it);
  return Succeed();
}

sys::Dword BoardMachine::GetLastError() { return lastError_ ? *lastError_ : inner_.GetLastError(); }

bool BoardMachine::DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize,
                                   void* out, sys::Dword outSize, sys::Dword* returned) {
  auto it = handles_.find(device);
  if (it == handles_.end()) {
    lastError_.reset();
    return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
  }
  sys::Dword ignored = 0;
  if (returned == nullptr) {
    returned = &ignored;
  }
  *returned = 0;
  switch (it->second.Kind) {
    case DeviceKind::Driver:
      return DriverRequest(it->second, code, in, inSize, out, outSize, returned);
    case DeviceKind::Volume: {
      const sys::Dword error = storage_.Volume(code, out, outSize, returned);
      return error == 0 ? Succeed() : Fail(error);
    }
    case DeviceKind::Disk: {
      const sys::Dword error = storage_.Disk(it->second.DiskIndex, code, out, outSize, returned);
      return error == 0 ? Succeed() : Fail(error);
    }
  }
  return Fail(kErrorInvalidFunction);
}

void BoardMachine::LoadDriver() {
  if (!driverLoaded_) {
    // A fresh start of the driver: it learns the firmware again.
    VELDRV_MACHINE primitives = Primitives(this);
    VelDrvInitDevice(&driver_, &primitives);
  }
  driverLoaded_ = true;
}

std::vector<VELDRV_RANGE> BoardMachine::RamRanges() const {
  std::vector<VELDRV_RANGE> ranges;
  for (const BoardRamRange& range : board_.SystemRam) {
    ranges.push_back({range.Address, range.Length});
  }
  ranges.push_back({buffers_.PoolBase(), ContiguousBuffers::kPoolSize});
  return ranges;
}

bool BoardMachine::DriverRequest(const OpenDevice& open, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                                 sys::Dword outSize, sys::Dword* returned) {
  ++driverRequests_;
  const sys::Dword error = CallDriver(driver_, *open.Driver, open.Access, code, in, inSize, out, outSize, returned);
  return error == 0 ? Succeed() : Fail(error);
}

VELDRV_MACHINE BoardMachine::Primitives(BoardMachine* machine) {
  VELDRV_MACHINE m{};
  m.Context = machine;
  m.RamRanges = [](void* context, VELDRV_RANGE* ranges, std::uint32_t capacity) {
    const std::vector<VELDRV_RANGE> all = static_cast<BoardMachine*>(context)->RamRanges();
    std::copy_n(all.begin(), std::min<std::size_t>(all.size(), capacity), ranges);
    return static_cast<std::uint32_t>(all.size());
  };
  m.MapDevice = [](void* context, std::uint64_t address, std::uint32_t length) {
    return static_cast<BoardMachine*>(context)->MapDevice(address, length);
  };
  m.UnmapDevice = [](void* context, const volatile std::uint8_t* mapped, std::uint32_t) {
    static_cast<BoardMachine*>(context)->UnmapDevice(mapped);
  };
  m.ReadPciConfig = [](void* context, std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                       std::uint16_t offset, std::uint8_t* out, std::uint32_t length) {
    return static_cast<BoardMachine*>(context)->pci_.Read(bus, device, function, offset, out, length);
  };
  m.AllocContiguous = [](void* context, std::uint32_t size, std::uint8_t** kernel, std::uint64_t* physical) {
    auto* board = static_cast<BoardMachine*>(context);
    return !board->board_.Faults.Alloc && board->buffers_.Allocate(size, kernel, physical) ? 1 : 0;
  };
  m.FreeContiguous = [](void* context, std::uint8_t* kernel, std::uint32_t size) {
    static_cast<BoardMachine*>(context)->buffers_.Free(kernel, size);
  };
  m.AcpiTable = [](void* context, std::uint32_t signature, std::uint8_t* buffer, std::uint32_t capacity) {
    return static_cast<BoardMachine*>(context)->AcpiTable(signature, buffer, capacity);
  };
  m.Smi = [](void* context, DRV_SMI_REGISTERS* registers) {
    return static_cast<BoardMachine*>(context)->Smi(*registers) ? 1 : 0;
  };
  UseSimulatedKernel(m);
  return m;
}

const volatile std::uint8_t* BoardMachine::MapDevice(std::uint64_t address, std::uint32_t length) {
  if (board_.Faults.Read) {
    return nullptr;
  }
  // A copy of the range stands for the mapping: the driver only reads it.
  std::vector<std::uint8_t> window(std::max<std::uint32_t>(length, 1));
  memory_.Read(address, window.data(), length);
  const volatile std::uint8_t* mapped = window.data();
  mappings_.emplace(mapped, std::move(window));
  return mapped;
}

void BoardMachine::UnmapDevice(const volatile std::uint8_t* mapped) { mappings_.erase(mapped); }

std::uint32_t BoardMachine::AcpiTable(std::uint32_t signature, std::uint8_t* buffer, std::uint32_t capacity) const {
  const std::vector<std::uint8_t>* table = firmwareTables_.Table(signature);
  if (table == nullptr) {
    return 0;
  }
  const auto length = static_cast<std::uint32_t>(table->size());
  std::copy_n(table->begin(), std::min(length, capacity), buffer);
  return length;
}

bool BoardMachine::Smi(DRV_SMI_REGISTERS& registers) {
  if (board_.Faults.Smi) {
    return false;
  }
  smi_.Raise(registers);
  return true;
}

void BoardMachine::Cpuid(sys::CpuidRegisters& registers) { AnswerCpuid(board_.Cpu, registers); }

void BoardMachine::WritePortDword(std::uint16_t port, std::uint32_t value) { ports_.WriteDword(port, value); }

std::uint8_t BoardMachine::ReadPortByte(std::uint16_t port) { return ports_.ReadByte(port); }

std::uint16_t BoardMachine::ReadPortWord(std::uint16_t port) { return ports_.ReadWord(port); }

std::uint32_t BoardMachine::ReadPortDword(std::uint16_t port) { return ports_.ReadDword(port); }

}  // namespace kestrune::sim
