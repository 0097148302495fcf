#include "hw/Readwrite.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "hw/Loaddriver.h"
#include "hw/OsPlatform.h"
#include "hw/Rwconfig.h"
#include "sys/PortIo.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

TReadWrite* instance = nullptr;

sys::IFiles& Files() { return sys::Use<sys::IFiles>(); }

std::uint64_t AddressOf(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

}  // namespace

TReadWrite::TReadWrite() : TReadWrite(FreshOsFlags(), LoadDriverInstance(false, false, false)->GetDeviceHandle()) {}

TReadWrite::TReadWrite(std::uint32_t osFlags, sys::FileHandle deviceHandle)
    : OsFlags(osFlags), DeviceHandle(deviceHandle), Config(RwConfigInstance()), Settings(&Config->GetRwCfg()) {
  // A fresh record reads as "no device" until the first request answers.
  PciRequest.Value = 0xFFFFFFFFu;
}

TReadWrite::~TReadWrite() {
  ReleaseRwConfigInstance();
  ReleaseLoadDriverInstance();
}

TRwConfig& TReadWrite::GetConfig() { return *Config; }

bool TReadWrite::MemoryRequest(std::uint32_t code, const void* buffer, std::uint32_t length, std::uint64_t address) {
  if (DeviceHandle == sys::kInvalidHandleValue) {
    return false;
  }
  DRV_MEMORY_REQUEST request{address, length, kMemoryUnitByte, AddressOf(buffer)};
  sys::Dword returned = 0;
  return Files().DeviceIoControl(DeviceHandle, code, &request, sizeof request, &request, sizeof request, &returned);
}

bool TReadWrite::CopyPhysical9x(void* buffer, std::uint32_t length, std::uint64_t address, bool write) {
  if (length == 0) {
    return true;
  }
  if (DeviceHandle == sys::kInvalidHandleValue) {
    return false;
  }
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::uint64_t window = address & ~std::uint64_t{0xFF};
  std::uint32_t offset = static_cast<std::uint32_t>(address & 0xFF);
  std::uint32_t remaining = length;
  while (remaining > 0) {
    DRV_MAP_REQUEST map{static_cast<std::uint32_t>(window)};
    DRV_MAP_REQUEST linear{0};
    sys::Dword returned = 0;
    if (!Files().DeviceIoControl(DeviceHandle, kIoctlMapPhysicalMemory, &map, sizeof map, &linear, sizeof linear,
                                 &returned) ||
        linear.Address == 0) {
      return false;
    }
    const std::uint32_t count = std::min(kMapWindowSize - offset, remaining);
    auto* mapped = reinterpret_cast<volatile std::uint8_t*>(static_cast<std::uintptr_t>(linear.Address));
    for (std::uint32_t i = 0; i < count; ++i) {
      if (write) {
        mapped[offset + i] = bytes[i];
      } else {
        bytes[i] = mapped[offset + i];
      }
    }
    Files().DeviceIoControl(DeviceHandle, kIoctlUnmapPhysicalMemory, &linear, sizeof linear, nullptr, 0, &returned);
    bytes += count;
    remaining -= count;
    window += kMapWindowSize;
    offset = 0;
  }
  return true;
}

bool TReadWrite::ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address) {
  if (IsWindows9x()) {
    return CopyPhysical9x(buffer, length, address, false);
  }
  return MemoryRequest(kIoctlReadPhysicalMemory, buffer, length, address);
}

bool TReadWrite::WritePhysicalMemory(const void* buffer, std::uint32_t length, std::uint64_t address) {
  if (IsWindows9x()) {
    return CopyPhysical9x(const_cast<void*>(buffer), length, address, true);
  }
  return MemoryRequest(kIoctlWritePhysicalMemory, buffer, length, address);
}

std::uint64_t TReadWrite::SearchPhysicalMemory(std::uint32_t length, std::uint32_t step, std::uint32_t patternLength,
                                               const void* pattern, std::uint32_t skip, std::uint64_t start) {
  // An empty pattern finds nothing, and a pattern longer than a chunk could
  // never be compared.
  if (patternLength == 0 || patternLength > kSearchChunkSize || pattern == nullptr) {
    return kSearchNotFound;
  }
  if (step == 0) {
    step = 1;
  }
  std::vector<std::uint8_t> chunkBuffer(kSearchChunkSize);
  const std::uint8_t first = *static_cast<const std::uint8_t*>(pattern);
  std::uint64_t position = start;
  // Signed, so that a step larger than what remains ends the loop.
  std::int64_t remaining = length;
  while (remaining >= static_cast<std::int64_t>(patternLength)) {
    const std::uint32_t chunk = remaining < kSearchChunkSize ? static_cast<std::uint32_t>(remaining) : kSearchChunkSize;
    // A chunk that cannot be read holds no physical data: its offsets are
    // passed over without comparing.
    const bool readable = ReadPhysicalMemory(chunkBuffer.data(), chunk, position);
    // The positions tried in this chunk: 0, step, 2 * step, ... up to the
    // last one that still holds the whole pattern.
    const std::uint32_t positions = (chunk - patternLength) / step + 1;
    for (std::uint32_t i = 0; readable && i <= chunk - patternLength; i += step) {
      if (step == 1) {
        // The next position that holds the pattern's first byte.
        const void* next = std::memchr(chunkBuffer.data() + i, first, chunk - patternLength + 1 - i);
        if (next == nullptr) {
          break;
        }
        i = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(next) - chunkBuffer.data());
      } else if (chunkBuffer[i] != first) {
        continue;
      }
      if (std::memcmp(chunkBuffer.data() + i, pattern, patternLength) == 0) {
        if (skip == 0) {
          return position + i;
        }
        --skip;
      }
    }
    position += std::uint64_t{positions} * step;
    remaining -= static_cast<std::int64_t>(positions) * step;
  }
  return kSearchNotFound;
}

std::uint32_t TReadWrite::ReadPci(std::uint32_t code, std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                  std::uint8_t function, std::uint32_t width) {
  const std::uint32_t ones = PciAllOnes(width / 8);
  if (IsWindows9x()) {
    return ReadPci9x(bus, device, reg, function, width);
  }
  if (OsFlags < kOsWindows9x) {
    // Windows NT 4.0 or an unknown system: no driver was loaded, and direct
    // port I/O would fault in user mode.
    return ones;
  }
  PciRequest.Bus = bus;
  PciRequest.Device = device;
  PciRequest.Function = function;
  PciRequest.Register = reg;
  if (DeviceHandle == sys::kInvalidHandleValue) {
    return ones;
  }
  sys::Dword returned = 0;
  if (!Files().DeviceIoControl(DeviceHandle, code, &PciRequest, sizeof PciRequest, &PciRequest, sizeof PciRequest,
                               &returned)) {
    // The record keeps its previous value: a failed read matches no device.
    return ones;
  }
  return PciRequest.Value & ones;
}

std::uint32_t TReadWrite::ReadPci9x(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function,
                                    std::uint32_t width) {
  // The parts are added, not combined bit by bit; register bits 8 to 11 go
  // to address bits 24 to 27.
  PciAddress = 0x80000000u + ((static_cast<std::uint32_t>(reg >> 8) & 0xF) << 24) +
               (static_cast<std::uint32_t>(bus) << 16) + (static_cast<std::uint32_t>(device) << 11) +
               (static_cast<std::uint32_t>(function) << 8) + (reg & 0xFCu);
  PciDataPort = static_cast<std::uint16_t>(0xCFC + (reg & 3));
  sys::IPortIo& ports = sys::Use<sys::IPortIo>();
  ports.WritePortDword(0xCF8, PciAddress);
  switch (width) {
    case 8:
      return ports.ReadPortByte(PciDataPort);
    case 16:
      return ports.ReadPortWord(PciDataPort);
    default:
      return ports.ReadPortDword(PciDataPort);
  }
}

std::uint8_t TReadWrite::ReadPciConfigByte(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                           std::uint8_t function) {
  return static_cast<std::uint8_t>(ReadPci(kIoctlReadPciConfigByte, bus, device, reg, function, 8));
}

std::uint16_t TReadWrite::ReadPciConfig(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                        std::uint8_t function) {
  return static_cast<std::uint16_t>(ReadPci(kIoctlReadPciConfigWord, bus, device, reg, function, 16));
}

std::uint32_t TReadWrite::ReadPciConfigDword(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                             std::uint8_t function) {
  return ReadPci(kIoctlReadPciConfigDword, bus, device, reg, function, 32);
}

std::uint32_t TReadWrite::AllocPhysicalBuffer(PhysicalBufferHandle& handle, std::uint32_t size) {
  if (OsFlags <= kOsWindows9x || DeviceHandle == sys::kInvalidHandleValue) {
    return kAllocationFailed;
  }
  DRV_PHYSICAL_BUFFER_REQUEST request{size, kPhysicalAddressRequested, {}};
  sys::Dword returned = 0;
  if (!Files().DeviceIoControl(DeviceHandle, kIoctlPhysicalBuffer, &request, sizeof request, &request, sizeof request,
                               &returned)) {
    return kAllocationFailed;
  }
  std::memcpy(handle.data(), request.Handle, handle.size());
  return request.PhysicalAddress;
}

void TReadWrite::FreePhysicalBuffer(const PhysicalBufferHandle& handle, std::uint32_t size) {
  if (OsFlags <= kOsWindows9x || DeviceHandle == sys::kInvalidHandleValue) {
    return;
  }
  DRV_PHYSICAL_BUFFER_REQUEST request{size, 0, {}};
  std::memcpy(request.Handle, handle.data(), handle.size());
  sys::Dword returned = 0;
  Files().DeviceIoControl(DeviceHandle, kIoctlPhysicalBuffer, &request, sizeof request, nullptr, 0, &returned);
}

bool TReadWrite::Cpuid(sys::CpuidRegisters& registers) {
  sys::Use<sys::ICpuid>().Cpuid(registers);
  return true;
}

bool TReadWrite::SoftwareSmi(DRV_SMI_REGISTERS& registers) {
  if (DeviceHandle == sys::kInvalidHandleValue) {
    return false;
  }
  DRV_SMI_REGISTERS image = registers;
  sys::Dword returned = 0;
  if (!Files().DeviceIoControl(DeviceHandle, kIoctlSoftwareSmi, &image, sizeof image, &image, sizeof image,
                               &returned)) {
    return false;
  }
  registers = image;
  return true;
}

TReadWrite* ReadWriteInstance() {
  if (instance == nullptr) {
    instance = new TReadWrite();
  }
  return instance;
}

void ReleaseReadWriteInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace kestrune
