#include "sim/board/BoardMachine.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "hw/DriverContract.h"
#include "hw/LittleEndian.h"
#include "sim/board/DriverDispatch.h"
#include "sys/WinTypes.h"

namespace kestrune::sim {

namespace {

using sys::kErrorFileNotFound;
using sys::kErrorInsufficientBuffer;
using sys::kErrorInvalidFunction;
using sys::kErrorNoAccess;
using sys::kErrorNotReady;

constexpr std::uint32_t kPoolSize = 0x04000000;  // 64 MiB
constexpr std::uint32_t kPageSize = 0x1000;
constexpr std::uint32_t kPciSpaceSize = 4096;
// The longest name the variable service takes, its NUL included.
constexpr std::uint32_t kMaxNameCharacters = VELDRV_SMI_MAX_NAME_BYTES / 2;
constexpr std::uint32_t kFileDeviceDisk = 7;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::uint32_t PciKey(std::uint8_t bus, std::uint8_t device, std::uint8_t function) {
  return (static_cast<std::uint32_t>(bus) << 16) | (static_cast<std::uint32_t>(device) << 8) | function;
}

void FixChecksum(Bytes& table, std::size_t length, std::size_t checksumOffset) {
  table[checksumOffset] = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    sum = static_cast<std::uint8_t>(sum + table[i]);
  }
  table[checksumOffset] = static_cast<std::uint8_t>(0x100 - sum);
}

std::string Signature(const Bytes& table) { return std::string(table.begin(), table.begin() + 4); }

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The placed form: every table at its own address, as it stands.
bool PlaceAcpi(const BoardAcpi& acpi, PhysicalMemory& memory, std::string& error) {
  if (!acpi.Tables.empty()) {
    error = "acpi tables are either laid out from a base or placed at their addresses, not both";
    return false;
  }
  PhysicalMemory placed;
  for (std::size_t i = 0; i < acpi.Placed.size(); ++i) {
    const BoardMemoryRegion& table = acpi.Placed[i];
    if (table.Data.empty() || table.Address + table.Data.size() < table.Address) {
      error = "acpi table " + std::to_string(i) + " is empty or runs past the end of the address space";
      return false;
    }
    if (placed.Overlaps(table.Address, table.Data.size())) {
      error = "acpi table " + std::to_string(i) + " at " + Hex(table.Address) + " overlaps another table";
      return false;
    }
    placed.Place(table.Address, table.Data.data(), table.Data.size());
    memory.Place(table.Address, table.Data.data(), table.Data.size());
  }
  return true;
}

}  // namespace

// Where the board's firmware hands the system its root pointer: the laid-out
// form's rsdp, the placed form's root pointer table; none without one.
static std::optional<std::uint64_t> RootPointerOf(const BoardAcpi& acpi) {
  if (acpi.Placed.empty()) {
    return acpi.Rsdp;
  }
  for (const BoardMemoryRegion& table : acpi.Placed) {
    if (table.Data.size() >= 8 && std::memcmp(table.Data.data(), "RSD PTR ", 8) == 0) {
      return table.Address;
    }
  }
  return std::nullopt;
}

bool LayOutAcpi(const BoardAcpi& acpi, PhysicalMemory& memory, std::string& error) {
  if (!acpi.Placed.empty()) {
    return PlaceAcpi(acpi, memory, error);
  }
  struct Placed {
    Bytes Data;
    std::uint64_t Address = 0;
  };
  std::vector<Placed> tables;
  int facs = -1;
  int dsdt = -1;
  std::vector<std::size_t> fadts;
  std::uint64_t next = acpi.Base;
  for (std::size_t i = 0; i < acpi.Tables.size(); ++i) {
    const Bytes& raw = acpi.Tables[i];
    if (raw.size() < 8) {
      error = "acpi table " + std::to_string(i) + " is shorter than 8 bytes";
      return false;
    }
    const std::string signature = Signature(raw);
    const bool isFacs = signature == "FACS";
    const std::uint32_t length = Le32(raw.data() + 4);
    const std::uint32_t minimum = isFacs ? 64 : 36;
    if (length < minimum || length > raw.size()) {
      error = "acpi table " + std::to_string(i) + " (" + signature + ") has length " + std::to_string(length) +
              " but " + std::to_string(raw.size()) + " bytes";
      return false;
    }
    if (signature == "FACP") {
      fadts.push_back(i);
    }
    int* slot = isFacs ? &facs : signature == "DSDT" ? &dsdt : nullptr;
    if (slot != nullptr) {
      if (*slot >= 0) {
        error = "acpi lists more than one " + signature;
        return false;
      }
      *slot = static_cast<int>(i);
    }
    next = AlignUp(next, isFacs ? 64 : 16);
    tables.push_back({Bytes(raw.begin(), raw.begin() + length), next});
    next += length;
  }
  const std::uint64_t rsdtAddress = AlignUp(next, 16);
  std::vector<std::uint32_t> listed;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (static_cast<int>(i) != facs && static_cast<int>(i) != dsdt) {
      listed.push_back(static_cast<std::uint32_t>(tables[i].Address));
    }
  }
  const std::uint32_t rsdtLength = 36 + 4 * static_cast<std::uint32_t>(listed.size());
  if (rsdtAddress + rsdtLength > 0x100000000ull || acpi.Rsdp + 20 > 0x100000000ull) {
    error = "acpi tables must lie below 4 GiB";
    return false;
  }
  if (acpi.Rsdp + 20 > acpi.Base && acpi.Rsdp < rsdtAddress + rsdtLength) {
    error = "acpi rsdp " + Hex(acpi.Rsdp) + " lies inside the tables laid out from " + Hex(acpi.Base);
    return false;
  }

  for (std::size_t index : fadts) {
    Bytes& f = tables[index].Data;
    const std::uint32_t facsAddress = facs >= 0 ? static_cast<std::uint32_t>(tables[facs].Address) : 0;
    const std::uint32_t dsdtAddress = dsdt >= 0 ? static_cast<std::uint32_t>(tables[dsdt].Address) : 0;
    if (f.size() >= 44) {
      PutLe32(f.data() + 36, facsAddress);
      PutLe32(f.data() + 40, dsdtAddress);
    }
    // ACPI 2.0 and later: the 64-bit fields must agree with the 32-bit ones.
    if (f.size() >= 140) {
      PutLe64(f.data() + 132, 0);
    }
    if (f.size() >= 148) {
      PutLe64(f.data() + 140, dsdtAddress);
    }
  }

  Bytes rsdt(rsdtLength, 0);
  std::memcpy(rsdt.data(), "RSDT", 4);
  PutLe32(rsdt.data() + 4, rsdtLength);
  rsdt[8] = 1;
  const int oemSource = !fadts.empty() ? static_cast<int>(fadts.front()) : (tables.empty() ? -1 : 0);
  if (oemSource >= 0 && tables[oemSource].Data.size() >= 36 && oemSource != facs) {
    std::memcpy(rsdt.data() + 10, tables[oemSource].Data.data() + 10, 26);
  }
  for (std::size_t i = 0; i < listed.size(); ++i) {
    PutLe32(rsdt.data() + 36 + 4 * i, listed[i]);
  }
  FixChecksum(rsdt, rsdt.size(), 9);

  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (static_cast<int>(i) != facs) {
      FixChecksum(tables[i].Data, tables[i].Data.size(), 9);
    }
    memory.Place(tables[i].Address, tables[i].Data.data(), tables[i].Data.size());
  }
  memory.Place(rsdtAddress, rsdt.data(), rsdt.size());

  Bytes rsdp(20, 0);
  std::memcpy(rsdp.data(), "RSD PTR ", 8);
  std::memcpy(rsdp.data() + 9, rsdt.data() + 10, 6);
  rsdp[15] = 0;
  PutLe32(rsdp.data() + 16, static_cast<std::uint32_t>(rsdtAddress));
  FixChecksum(rsdp, rsdp.size(), 8);
  memory.Place(acpi.Rsdp, rsdp.data(), rsdp.size());
  return true;
}

std::unique_ptr<BoardMachine> BoardMachine::Create(const Board& board, sys::IFiles& inner, std::string& error) {
  std::unique_ptr<BoardMachine> machine(new BoardMachine(board, inner));
  if (!machine->Build(error)) {
    return nullptr;
  }
  return machine;
}

BoardMachine::BoardMachine(const Board& board, sys::IFiles& inner) : board_(board), inner_(inner) {}

bool BoardMachine::Build(std::string& error) {
  if (board_.Cpu.Vendor.size() > 12) {
    error = "cpu vendor is longer than 12 characters";
    return false;
  }
  if (board_.Cpu.Brand.size() > 48) {
    error = "cpu brand is longer than 48 characters";
    return false;
  }
  for (const BoardMemoryRegion& region : board_.Memory) {
    if (region.Address + region.Data.size() < region.Address) {
      error = "memory region at " + Hex(region.Address) + " runs past the end of the address space";
      return false;
    }
    if (memory_.Overlaps(region.Address, region.Data.size())) {
      error = "memory region at " + Hex(region.Address) + " overlaps another region";
      return false;
    }
    memory_.Place(region.Address, region.Data.data(), region.Data.size());
  }
  if (board_.Acpi && !LayOutAcpi(*board_.Acpi, memory_, error)) {
    return false;
  }
  if (board_.Smbios) {
    for (const std::optional<BoardMemoryRegion>* part : {&board_.Smbios->EntryPoint, &board_.Smbios->Table}) {
      if (*part && (*part)->Address + (*part)->Data.size() < (*part)->Address) {
        error = "smbios region at " + Hex((*part)->Address) + " runs past the end of the address space";
        return false;
      }
      if (*part) {
        memory_.Place((*part)->Address, (*part)->Data.data(), (*part)->Data.size());
      }
    }
  }
  for (const BoardPciFunction& function : board_.Pci) {
    if (function.Device > 31 || function.Function > 7) {
      error = "pci function " + std::to_string(function.Bus) + ":" + std::to_string(function.Device) + "." +
              std::to_string(function.Function) + " does not exist on a PCI bus";
      return false;
    }
    if (function.Config.size() > 256) {
      error = "pci config of more than 256 bytes";
      return false;
    }
    std::vector<std::uint8_t> space(kPciSpaceSize, 0);
    std::copy(function.Config.begin(), function.Config.end(), space.begin());
    if (!pciSpace_.emplace(PciKey(function.Bus, function.Device, function.Function), std::move(space)).second) {
      error = "pci function " + std::to_string(function.Bus) + ":" + std::to_string(function.Device) + "." +
              std::to_string(function.Function) + " is listed twice";
      return false;
    }
  }
  std::set<std::uint32_t> numbers;
  for (const BoardDisk& disk : board_.Disks.List) {
    if (!numbers.insert(disk.Number).second) {
      error = "disk " + std::to_string(disk.Number) + " is listed twice";
      return false;
    }
  }
  if (board_.Smi) {
    for (const BoardVariable& variable : board_.Smi->Variables) {
      if (variable.Name.empty()) {
        error = "smi variable without a name";
        return false;
      }
    }
  }
  // What the operating system finds at boot, from the root pointer the
  // firmware hands it (a board's acpi section records one) or the one in
  // the BIOS area.
  firmwareTables_ = FirmwareTables::Find(memory_, board_.Acpi ? RootPointerOf(*board_.Acpi) : std::nullopt);
  // Contiguous buffers come from RAM that no board region uses.
  for (std::uint64_t base = 0x10000000; base + kPoolSize <= 0x100000000ull; base += kPoolSize) {
    if (!memory_.Overlaps(base, kPoolSize)) {
      poolBase_ = static_cast<std::uint32_t>(base);
      VELDRV_MACHINE primitives = Primitives(this);
      VelDrvInitDevice(&driver_, &primitives);
      return true;
    }
  }
  error = "no free 64 MiB below 4 GiB for contiguous buffers";
  return false;
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
    case DeviceKind::Volume:
      return VolumeRequest(code, out, outSize, returned);
    case DeviceKind::Disk:
      return DiskRequest(board_.Disks.List[it->second.DiskIndex], code, out, outSize, returned);
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
  ranges.push_back({poolBase_, kPoolSize});
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
    return static_cast<BoardMachine*>(context)->ReadPciBytes(bus, device, function, offset, out, length);
  };
  m.AllocContiguous = [](void* context, std::uint32_t size, std::uint8_t** kernel, std::uint64_t* physical) {
    return static_cast<BoardMachine*>(context)->AllocContiguous(size, kernel, physical) ? 1 : 0;
  };
  m.FreeContiguous = [](void* context, std::uint8_t* kernel, std::uint32_t size) {
    static_cast<BoardMachine*>(context)->FreeContiguous(kernel, size);
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

std::uint32_t BoardMachine::ReadPciBytes(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                         std::uint16_t offset, std::uint8_t* out, std::uint32_t length) const {
  auto it = pciSpace_.find(PciKey(bus, device, function));
  if (it == pciSpace_.end() || offset + length > kPciSpaceSize) {
    return 0;
  }
  std::copy_n(it->second.begin() + offset, length, out);
  return length;
}

bool BoardMachine::AllocContiguous(std::uint32_t size, std::uint8_t** kernel, std::uint64_t* physical) {
  if (board_.Faults.Alloc) {
    return false;
  }
  const std::uint32_t pages = static_cast<std::uint32_t>(AlignUp(size, kPageSize));
  // First fit, in address order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> live;
  for (const Buffer& buffer : buffers_) {
    live.emplace_back(buffer.Address, buffer.Size);
  }
  std::sort(live.begin(), live.end());
  std::uint64_t candidate = poolBase_;
  for (const auto& [address, length] : live) {
    if (candidate + pages <= address) {
      break;
    }
    candidate = std::max<std::uint64_t>(candidate, static_cast<std::uint64_t>(address) + length);
  }
  if (candidate + pages > static_cast<std::uint64_t>(poolBase_) + kPoolSize) {
    return false;
  }
  // Fresh memory holds whatever it held: the driver must clear it.
  Buffer buffer{static_cast<std::uint32_t>(candidate), pages, std::make_unique<std::uint8_t[]>(pages)};
  std::fill_n(buffer.Storage.get(), pages, std::uint8_t{0xA5});
  memory_.Attach(buffer.Address, buffer.Storage.get(), pages);
  *kernel = buffer.Storage.get();
  *physical = buffer.Address;
  buffers_.push_back(std::move(buffer));
  return true;
}

void BoardMachine::FreeContiguous(std::uint8_t* kernel, std::uint32_t size) {
  auto it = std::find_if(buffers_.begin(), buffers_.end(),
                         [kernel](const Buffer& buffer) { return buffer.Storage.get() == kernel; });
  if (it != buffers_.end()) {
    lastReleased_.assign(it->Storage.get(), it->Storage.get() + std::min(size, it->Size));
    memory_.Detach(it->Address);
    buffers_.erase(it);
  }
}

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
  RaiseSmi(registers);
  return true;
}

void BoardMachine::RaiseSmi(DRV_SMI_REGISTERS& registers) {
  // Only the board's SMI command port raises an SMI, and its handler knows
  // one command byte.
  if (board_.Smi && static_cast<std::uint16_t>(registers.Edx) == board_.Smi->Port) {
    ++smiCount_;
    if (static_cast<std::uint8_t>(registers.Eax) == kSmiCommandByte) {
      RunSmiHandler(registers);
      registers.Eax = memory_.ReadDword(registers.Esi);
    }
  }
}

std::uint32_t BoardMachine::PciConfigRead(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                          std::uint16_t reg, std::uint32_t bytes) const {
  std::uint8_t raw[4] = {};
  if (ReadPciBytes(bus, device, function, reg, raw, bytes) != bytes) {
    return bytes == 4 ? 0xFFFFFFFFu : ((1u << (8 * bytes)) - 1);
  }
  return Le32(raw);
}

void BoardMachine::RunSmiHandler(const DRV_SMI_REGISTERS& registers) {
  const std::uint32_t registerBlock = registers.Esi;
  SMI_REGISTER_BLOCK request;
  memory_.Read(registerBlock, reinterpret_cast<std::uint8_t*>(&request), sizeof request);
  const std::uint32_t variableBlock = request.VariableBlockAddress;
  std::uint8_t status = kSmiStatusSuccess;
  if (registers.Eax != kSmiGetVariable || request.Eax != kSmiGetVariable) {
    // The command byte's one service offers one function: reading a variable.
    status = kSmiStatusUnsupported;
  } else if (variableBlock != registers.Ebx || std::any_of(std::begin(request.Unused), std::end(request.Unused),
                                                           [](std::uint32_t w) { return w != 0; })) {
    status = kSmiStatusInvalidParameter;
  } else {
    SMI_VARIABLE_BLOCK block;
    memory_.Read(variableBlock, reinterpret_cast<std::uint8_t*>(&block), sizeof block);
    std::u16string name;
    bool terminated = false;
    for (std::uint32_t i = 0; i < kMaxNameCharacters; ++i) {
      std::uint8_t pair[2];
      memory_.Read(static_cast<std::uint64_t>(block.NameAddress) + 2 * i, pair, 2);
      const char16_t c = Le16(pair);
      if (c == 0) {
        terminated = true;
        break;
      }
      name.push_back(c);
    }
    const BoardVariable* found = nullptr;
    if (terminated) {
      for (const BoardVariable& variable : board_.Smi->Variables) {
        if (variable.Name == name &&
            std::equal(variable.VendorGuid.begin(), variable.VendorGuid.end(), block.VendorGuid)) {
          found = &variable;
          break;
        }
      }
    }
    if (!terminated || block.DataSize > VELDRV_SMI_MAX_DATA_SIZE) {
      status = kSmiStatusInvalidParameter;
    } else if (found == nullptr) {
      status = kSmiStatusNotFound;
    } else if (block.DataSize < found->Data.size()) {
      block.DataSize = static_cast<std::uint32_t>(found->Data.size());
      status = kSmiStatusBufferTooSmall;
    } else {
      memory_.Write(block.DataAddress, found->Data.data(), found->Data.size());
      block.DataSize = static_cast<std::uint32_t>(found->Data.size());
      block.Attributes = found->Attributes;
    }
    if (status == kSmiStatusSuccess || status == kSmiStatusBufferTooSmall) {
      memory_.Write(variableBlock, reinterpret_cast<const std::uint8_t*>(&block), sizeof block);
    }
  }
  memory_.WriteDword(registerBlock, (request.Eax & ~0xFF00u) | (static_cast<std::uint32_t>(status) << 8));
}

bool BoardMachine::DeviceNumber(std::uint32_t number, std::uint32_t partition, void* out, sys::Dword outSize,
                                sys::Dword* returned) {
  if (out == nullptr || outSize < 12) {
    return Fail(kErrorInsufficientBuffer);
  }
  auto* bytes = static_cast<std::uint8_t*>(out);
  PutLe32(bytes, kFileDeviceDisk);
  PutLe32(bytes + 4, number);
  PutLe32(bytes + 8, partition);
  *returned = 12;
  return Succeed();
}

bool BoardMachine::VolumeRequest(sys::Dword code, void* out, sys::Dword outSize, sys::Dword* returned) {
  const auto system = static_cast<std::uint32_t>(board_.Disks.System);
  if (code == sys::kIoctlVolumeGetVolumeDiskExtents) {
    // VOLUME_DISK_EXTENTS with one DISK_EXTENT.
    if (out == nullptr || outSize < 32) {
      return Fail(kErrorInsufficientBuffer);
    }
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memset(bytes, 0, 32);
    // A system volume on no disk the board knows (System -1) answers with
    // no extent, as Wine's volumes do.
    if (board_.Disks.System < 0) {
      *returned = 32;
      return Succeed();
    }
    PutLe32(bytes, 1);
    PutLe32(bytes + 8, system);
    PutLe64(bytes + 16, 0x00100000);
    PutLe64(bytes + 24, 0x0000001000000000ull);
    *returned = 32;
    return Succeed();
  }
  if (code == sys::kIoctlStorageGetDeviceNumber) {
    return DeviceNumber(system, 1, out, outSize, returned);
  }
  return Fail(kErrorInvalidFunction);
}

bool BoardMachine::DiskRequest(const BoardDisk& disk, sys::Dword code, void* out, sys::Dword outSize,
                               sys::Dword* returned) {
  if (code == sys::kIoctlStorageGetDeviceNumber) {
    return DeviceNumber(disk.Number, 0, out, outSize, returned);
  }
  if (code != sys::kIoctlDiskGetDriveLayoutEx) {
    return Fail(kErrorInvalidFunction);
  }
  if (!disk.Medium) {
    return Fail(kErrorNotReady);
  }
  // DRIVE_LAYOUT_INFORMATION_EX: a 48-byte header, then 144 bytes a
  // PARTITION_INFORMATION_EX.
  const std::uint32_t count = disk.Style == PartitionStyle::Raw ? 0 : disk.Partitions;
  const std::uint64_t needed = 48 + 144ull * count;
  if (out == nullptr || outSize < needed) {
    return Fail(kErrorInsufficientBuffer);
  }
  auto* bytes = static_cast<std::uint8_t*>(out);
  std::memset(bytes, 0, needed);
  PutLe32(bytes, static_cast<std::uint32_t>(disk.Style));
  PutLe32(bytes + 4, count);
  if (disk.Style == PartitionStyle::Mbr) {
    PutLe32(bytes + 8, 0x4B455300u + disk.Number);  // disk signature
  } else if (disk.Style == PartitionStyle::Gpt) {
    for (int i = 0; i < 16; ++i) {
      bytes[8 + i] = static_cast<std::uint8_t>(0xA0 + i + disk.Number);  // disk GUID
    }
    PutLe64(bytes + 24, 0x4400);                 // first usable byte
    PutLe64(bytes + 32, 0x0000001000000000ull);  // usable length
    PutLe32(bytes + 40, 128);                    // partition entries
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t* entry = bytes + 48 + 144 * i;
    PutLe32(entry, static_cast<std::uint32_t>(disk.Style));
    PutLe64(entry + 8, 0x00100000ull * (i + 1));
    PutLe64(entry + 16, 0x00100000);
    PutLe32(entry + 24, i + 1);
    if (disk.Style == PartitionStyle::Mbr) {
      entry[32] = 0x07;  // NTFS
      entry[33] = i == 0 ? 1 : 0;
      entry[34] = 1;
    }
  }
  *returned = static_cast<sys::Dword>(needed);
  return Succeed();
}

void BoardMachine::Cpuid(sys::CpuidRegisters& registers) {
  const std::uint32_t leaf = registers.Eax;
  registers = {};
  auto text = [](const std::string& source, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const std::size_t at = offset + i;
      const auto byte = at < source.size() ? static_cast<std::uint8_t>(source[at]) : std::uint8_t{0};
      value |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    return value;
  };
  const std::string& vendor = board_.Cpu.Vendor;
  const std::string& brand = board_.Cpu.Brand;
  if (leaf == 0) {
    registers = {0x16, text(vendor, 0), text(vendor, 8), text(vendor, 4)};
  } else if (leaf == 1) {
    registers.Eax = board_.Cpu.Signature;
  } else if (leaf == 0x80000000u) {
    registers.Eax = 0x80000008u;
  } else if (leaf >= 0x80000002u && leaf <= 0x80000004u) {
    const std::size_t base = 16 * (leaf - 0x80000002u);
    registers = {text(brand, base), text(brand, base + 4), text(brand, base + 8), text(brand, base + 12)};
  }
}

void BoardMachine::WritePortDword(std::uint16_t port, std::uint32_t value) {
  if (port == 0xCF8) {
    configAddress_ = value;
  }
}

namespace {

struct ConfigTarget {
  bool Enabled;
  std::uint8_t Bus;
  std::uint8_t Device;
  std::uint8_t Function;
  std::uint16_t Register;
};

ConfigTarget Decode(std::uint32_t address, std::uint16_t port) {
  return {(address & 0x80000000u) != 0, static_cast<std::uint8_t>(address >> 16),
          static_cast<std::uint8_t>((address >> 11) & 0x1F), static_cast<std::uint8_t>((address >> 8) & 0x7),
          static_cast<std::uint16_t>((((address >> 24) & 0xF) << 8) | (address & 0xFC) | (port & 3))};
}

}  // namespace

std::uint8_t BoardMachine::ReadPortByte(std::uint16_t port) {
  const ConfigTarget t = Decode(configAddress_, port);
  if (port < 0xCFC || port > 0xCFF || !t.Enabled) {
    return 0xFF;
  }
  return static_cast<std::uint8_t>(PciConfigRead(t.Bus, t.Device, t.Function, t.Register, 1));
}

std::uint16_t BoardMachine::ReadPortWord(std::uint16_t port) {
  const ConfigTarget t = Decode(configAddress_, port);
  if (port < 0xCFC || port > 0xCFE || !t.Enabled) {
    return 0xFFFF;
  }
  return static_cast<std::uint16_t>(PciConfigRead(t.Bus, t.Device, t.Function, t.Register, 2));
}

std::uint32_t BoardMachine::ReadPortDword(std::uint16_t port) {
  const ConfigTarget t = Decode(configAddress_, port);
  if (port != 0xCFC || !t.Enabled) {
    return 0xFFFFFFFFu;
  }
  return PciConfigRead(t.Bus, t.Device, t.Function, t.Register, 4);
}

}  // namespace kestrune::sim
