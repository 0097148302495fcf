#include "tools/MachineCapture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "common/LittleEndian.h"
#include "hw/Acpibase.h"
#include "hw/Readwrite.h"
#include "hw/Rwconfig.h"
#include "hw/Variable.h"
#include "platform/Bootmode.h"
#include "platform/Cpubase.h"
#include "platform/Smbiosbase.h"
#include "sys/Files.h"
#include "sys/FirmwareTable.h"
#include "sys/Seam.h"
#include "sys/SetupDi.h"
#include "sys/Storage.h"

namespace kestrune::tools {

namespace {

constexpr std::uint64_t kBiosArea = 0xE0000;
constexpr std::uint32_t kBiosAreaLength = 0x20000;
constexpr std::uint32_t kChunk = 4096;
constexpr std::uint32_t kMaxTable = 0x01000000;                // what the discovery decodes at most
constexpr sys::Dword kFirmwareTableProviderAcpi = 0x41435049;  // 'ACPI'
constexpr std::uint32_t kNoFunction = 0xFFFFFFFF;

constexpr const char16_t* kPlatformConfigName = u"VelnorPlatformConfig";
constexpr EfiGuid kPlatformConfigGuid = {0x43, 0xD6, 0x87, 0xEC, 0xA4, 0xEB, 0xB5, 0x4B,
                                         0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9};

// Reads in chunks of at most 4 KiB, as the program does.
bool ReadMemory(std::uint64_t address, std::uint32_t length, sim::Bytes& out) {
  out.assign(length, 0);
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t count = std::min(kChunk, length - done);
    if (!ReadWriteInstance()->ReadPhysicalMemory(out.data() + done, count, address + done)) {
      return false;
    }
    done += count;
  }
  return true;
}

void CaptureCpu(sim::Board& board) {
  // The brand as the brand leaves hold it: TCpuBase keeps it trimmed.
  TCpuBase cpu;
  board.Cpu.Vendor = cpu.GetVendorText();
  board.Cpu.Signature = cpu.GetSignature();
  std::string brand;
  for (std::uint32_t leaf = 0x80000002u; leaf <= 0x80000004u; ++leaf) {
    sys::CpuidRegisters registers;
    registers.Eax = leaf;
    ReadWriteInstance()->Cpuid(registers);
    for (std::uint32_t word : {registers.Eax, registers.Ebx, registers.Ecx, registers.Edx}) {
      for (int i = 0; i < 4; ++i) {
        brand.push_back(static_cast<char>(word >> (8 * i)));
      }
    }
  }
  brand.erase(std::find(brand.begin(), brand.end(), '\0'), brand.end());
  board.Cpu.Brand = brand;
  while (!board.Cpu.Vendor.empty() && board.Cpu.Vendor.back() == '\0') {
    board.Cpu.Vendor.pop_back();
  }
}

// Every present function's 256 configuration bytes, walked as the board
// identity's PCI walk walks the buses.
void CapturePci(sim::Board& board) {
  TReadWrite& rw = *ReadWriteInstance();
  for (int bus = 0; bus < 256; ++bus) {
    for (std::uint8_t device = 0; device < 32; ++device) {
      const auto b = static_cast<std::uint8_t>(bus);
      if (rw.ReadPciConfigDword(b, device, 0x00, 0) == kNoFunction) {
        continue;
      }
      const std::uint8_t functions = (rw.ReadPciConfigByte(b, device, 0x0E, 0) & 0x80) != 0 ? 8 : 1;
      for (std::uint8_t function = 0; function < functions; ++function) {
        if (function != 0 && rw.ReadPciConfigDword(b, device, 0x00, function) == kNoFunction) {
          continue;
        }
        sim::BoardPciFunction captured{b, device, function, sim::Bytes(256)};
        for (std::uint16_t reg = 0; reg < 256; reg += 4) {
          const std::uint32_t value = rw.ReadPciConfigDword(b, device, reg, function);
          for (int i = 0; i < 4; ++i) {
            captured.Config[reg + i] = static_cast<std::uint8_t>(value >> (8 * i));
          }
        }
        board.Pci.push_back(std::move(captured));
      }
    }
  }
}

void CaptureBiosArea(sim::Board& board, std::vector<std::string>& missing) {
  // Each chunk that reads joins the region before it.
  std::uint32_t unread = 0;
  for (std::uint32_t offset = 0; offset < kBiosAreaLength; offset += kChunk) {
    sim::Bytes chunk;
    if (!ReadMemory(kBiosArea + offset, kChunk, chunk)) {
      ++unread;
      continue;
    }
    if (!board.Memory.empty() && board.Memory.back().Address + board.Memory.back().Data.size() == kBiosArea + offset) {
      board.Memory.back().Data.insert(board.Memory.back().Data.end(), chunk.begin(), chunk.end());
    } else {
      board.Memory.push_back({kBiosArea + offset, std::move(chunk)});
    }
  }
  if (unread != 0) {
    missing.push_back("bios area: " + std::to_string(unread) + " of its " + std::to_string(kBiosAreaLength / kChunk) +
                      " 4 KiB pages from " + HexAddress(kBiosArea) + " could not be read");
  }
}

class AcpiCapture {
 public:
  explicit AcpiCapture(std::vector<std::string>& missing) : missing_(missing) {}

  // A table at its address, once; false when it cannot be read.
  bool Take(std::uint64_t address, std::uint32_t length) {
    if (address == 0 || length == 0 || !seen_.insert(address).second) {
      return false;
    }
    sim::Bytes bytes;
    if (length > kMaxTable || !ReadMemory(address, length, bytes)) {
      missing_.push_back("acpi table at " + HexAddress(address) + ": could not be read");
      return false;
    }
    acpi_.Placed.push_back({address, std::move(bytes)});
    return true;
  }

  // A table whose length its header gives.
  void TakeByHeader(std::uint64_t address) {
    sim::Bytes header;
    if (address == 0 || seen_.count(address) != 0 || !ReadMemory(address, 8, header)) {
      return;
    }
    Take(address, Le32(header.data() + 4));
  }

  // The XSDT of a root pointer of revision 2 or later, and what it lists:
  // the discovery does not walk it, the machine has it.
  void TakeXsdt(const sim::Bytes& rsdp) {
    if (rsdp.size() < 36 || rsdp[15] < 2) {
      return;
    }
    const std::uint64_t xsdt = Le64(rsdp.data() + 24);
    TakeByHeader(xsdt);
    const sim::Bytes* table = Find(xsdt);
    if (table == nullptr || table->size() < 36 || std::memcmp(table->data(), "XSDT", 4) != 0) {
      return;
    }
    const sim::Bytes copy = *table;
    for (std::size_t at = 36; at + 8 <= copy.size(); at += 8) {
      TakeByHeader(Le64(copy.data() + at));
    }
  }

  // Tables the system's firmware-table interface has that the walk did not
  // reach: kept, without an address.
  void TakeFromSystem() {
    sys::IFirmwareTable& system = sys::Use<sys::IFirmwareTable>();
    if (!system.HasGetSystemFirmwareTable()) {
      return;
    }
    for (const char* signature : {"FACP", "APIC", "MCFG", "HPET", "SSDT", "ECDT", "DMAR", "BGRT", "FPDT", "AAFT"}) {
      const sys::Dword id = Le32(reinterpret_cast<const std::uint8_t*>(signature));
      const sys::Dword size = system.GetSystemFirmwareTable(kFirmwareTableProviderAcpi, id, nullptr, 0);
      if (size < 36 || size > kMaxTable) {
        continue;
      }
      sim::Bytes table(size);
      if (system.GetSystemFirmwareTable(kFirmwareTableProviderAcpi, id, table.data(), size) != size) {
        continue;
      }
      const bool known = std::any_of(acpi_.Placed.begin(), acpi_.Placed.end(),
                                     [&](const sim::BoardMemoryRegion& placed) { return placed.Data == table; });
      if (!known) {
        acpi_.Unplaced.push_back(std::move(table));
      }
    }
  }

  const sim::Bytes* Find(std::uint64_t address) const {
    for (const sim::BoardMemoryRegion& table : acpi_.Placed) {
      if (table.Address == address) {
        return &table.Data;
      }
    }
    return nullptr;
  }

  sim::BoardAcpi& Result() { return acpi_; }

 private:
  std::vector<std::string>& missing_;
  std::set<std::uint64_t> seen_;
  sim::BoardAcpi acpi_;
};

void CaptureAcpi(sim::Board& board, std::vector<std::string>& missing) {
  AcpiCapture capture(missing);
  const TAcpiBase* discovery = AcpiBaseInstance();
  if (!discovery->Found) {
    missing.push_back("acpi: the discovery found no root pointer");
  }
  for (const auto& entry : discovery->Tables) {
    capture.Take(entry->Address, entry->Length);
  }
  if (!discovery->Tables.empty()) {
    if (const sim::Bytes* rsdp = capture.Find(discovery->Tables.front()->Address)) {
      capture.TakeXsdt(sim::Bytes(*rsdp));
    }
  }
  capture.TakeFromSystem();
  sim::BoardAcpi& acpi = capture.Result();
  if (!acpi.Placed.empty() || !acpi.Unplaced.empty()) {
    board.Acpi = std::move(acpi);
  }
  ReleaseAcpiBaseInstance();
}

void CaptureSmbios(sim::Board& board, std::vector<std::string>& missing) {
  sim::BoardSmbios smbios;
  for (const sim::BoardMemoryRegion& area : board.Memory) {
    if (!smbios.EntryPoint) {
      smbios.EntryPoint = FindSmbiosEntryPoint(area);
    }
  }
  std::uint64_t address = 0;
  std::uint32_t length = 0;
  if (smbios.EntryPoint && SmbiosTableOf(smbios.EntryPoint->Data, address, length) && length != 0) {
    sim::Bytes table;
    if (ReadMemory(address, length, table)) {
      smbios.Table = sim::BoardMemoryRegion{address, std::move(table)};
    } else {
      missing.push_back("smbios: the table at " + HexAddress(address) + " could not be read");
    }
  }
  sys::IFirmwareTable& system = sys::Use<sys::IFirmwareTable>();
  if (system.HasGetSystemFirmwareTable()) {
    const sys::Dword size = system.GetSystemFirmwareTable(sys::kFirmwareTableProviderRsmb, 0, nullptr, 0);
    sim::Bytes copy(size);
    if (size >= 8 && system.GetSystemFirmwareTable(sys::kFirmwareTableProviderRsmb, 0, copy.data(), size) == size) {
      smbios.FirmwareTable = std::move(copy);
    }
  }
  if (!smbios.EntryPoint && smbios.FirmwareTable.empty()) {
    missing.push_back("smbios: no entry point in the bios area and no firmware-table copy");
    return;
  }
  board.Smbios = std::move(smbios);
}

// The platform configuration variable through the SMI path, with the size
// the firmware asks for when 4 bytes are too few.
void CaptureVariable(sim::Board& board, std::vector<std::string>& missing) {
  const std::uint16_t port = ReadWriteInstance()->GetConfig().GetRwCfg().SmiCommandPort;
  board.Smi = sim::BoardSmi{port, {}};
  TVariable variable;
  std::vector<std::uint8_t> data(4, 0);
  std::uint64_t size = data.size();
  std::uint32_t attributes = 0;
  bool read = variable.GetVariable(kPlatformConfigName, kPlatformConfigGuid, nullptr, data.data(), &size, &attributes);
  if (!read && size > data.size() && size <= kMaxVariableDataSize) {
    data.assign(static_cast<std::size_t>(size), 0);
    read = variable.GetVariable(kPlatformConfigName, kPlatformConfigGuid, nullptr, data.data(), &size, &attributes);
  }
  if (!read) {
    missing.push_back("smi: the variable VelnorPlatformConfig could not be read");
    return;
  }
  data.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, data.size())));
  sim::BoardVariable captured;
  captured.Name = kPlatformConfigName;
  std::copy(kPlatformConfigGuid.begin(), kPlatformConfigGuid.end(), captured.VendorGuid.begin());
  captured.Attributes = attributes;
  captured.Data = std::move(data);
  board.Smi->Variables.push_back(std::move(captured));
}

// One disk as the boot-mode probe examines it; false ends the list there,
// as the end of the interfaces ends the probe's enumeration.
bool CaptureDisk(sys::DevInfoSet set, sys::Dword index, std::vector<sim::BoardDisk>& disks) {
  sys::ISetupDi& setupDi = sys::Use<sys::ISetupDi>();
  sys::IFiles& files = sys::Use<sys::IFiles>();
  sys::DeviceInterfaceData data;
  sys::Dword required = 0;
  std::string path;
  if (!setupDi.SetupDiEnumDeviceInterfaces(set, sys::kGuidDevinterfaceDisk, index, &data) ||
      (!setupDi.SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required) &&
       setupDi.GetLastError() != static_cast<sys::Dword>(sys::kErrorInsufficientBuffer)) ||
      !setupDi.SetupDiGetDeviceInterfaceDetailA(set, data, &path, required, nullptr)) {
    return false;
  }
  const sys::UniqueFileHandle disk(files.CreateFileA(
      path, sys::kGenericRead | sys::kGenericWrite, sys::kFileShareRead | sys::kFileShareWrite, sys::kOpenExisting, 0));
  if (!disk.Valid()) {
    return true;  // the probe passes over such a disk, and its number is unknown
  }
  sys::StorageDeviceNumber number;
  sys::Dword returned = 0;
  if (!files.DeviceIoControl(disk.Get(), sys::kIoctlStorageGetDeviceNumber, nullptr, 0, &number, sizeof number,
                             &returned)) {
    return true;  // the probe passes over such a disk
  }
  std::array<std::uint8_t, 3840> layout{};
  sim::BoardDisk captured;
  captured.Number = number.DeviceNumber;
  if (files.DeviceIoControl(disk.Get(), sys::kIoctlDiskGetDriveLayoutEx, nullptr, 0, layout.data(),
                            static_cast<sys::Dword>(layout.size()), &returned)) {
    captured.Style = static_cast<sim::PartitionStyle>(std::min<std::uint32_t>(Le32(layout.data()), 2));
    captured.Partitions = Le32(layout.data() + 4);
  } else if (files.GetLastError() == static_cast<sys::Dword>(sys::kErrorInsufficientBuffer)) {
    captured.Partitions = 27;  // more than the probe's buffer holds
  } else {
    captured.Medium = false;
  }
  disks.push_back(captured);
  return true;
}

void CaptureDisks(sim::Board& board, std::vector<std::string>& missing) {
  // -1 when the system volume cannot be asked or names no disk: the board's
  // volume then reports no extent.
  board.Disks.System = std::max(GetSystemDiskNumber(), -1);
  board.Disks.List.clear();
  const sys::UniqueDevInfoSet set(sys::Use<sys::ISetupDi>().SetupDiGetClassDevsA(
      sys::kGuidDevinterfaceDisk, sys::kDigcfPresent | sys::kDigcfDeviceInterface));
  if (!set.Valid()) {
    missing.push_back("disks: the disk interfaces could not be listed");
    return;
  }
  std::set<std::uint32_t> numbers;
  std::vector<sim::BoardDisk> disks;
  for (sys::Dword index = 0; CaptureDisk(set.Get(), index, disks); ++index) {
  }
  for (const sim::BoardDisk& disk : disks) {
    if (numbers.insert(disk.Number).second) {
      board.Disks.List.push_back(disk);
    }
  }
}

}  // namespace

sim::Board CaptureThroughHardware(const CaptureOptions& options, const std::string& host) {
  sim::Board board;
  board.Name = CaptureName(host);
  std::vector<std::string> missing;
  // The order of the install run: the processor first, which brings the driver up.
  CaptureCpu(board);
  if (ReadWriteInstance()->GetDeviceHandle() == sys::kInvalidHandleValue) {
    missing.push_back("driver: the device did not open; nothing behind it was read");
  }
  CapturePci(board);
  CaptureBiosArea(board, missing);
  CaptureSmbios(board, missing);
  CaptureDisks(board, missing);
  CaptureAcpi(board, missing);
  CaptureVariable(board, missing);
  if (options.BlankSerials) {
    BlankBoardSerials(board);
  }
  board.Capture = sim::BoardCapture{"windows", std::move(missing)};
  return board;
}

}  // namespace kestrune::tools
