// The driver's request core over raw request streams: each record is a
// handle, a code, the input and output lengths and the input bytes. A model
// machine answers the core's primitives and checks, at every call, what the
// core may ask of it: no mapping of RAM or of low memory outside the BIOS
// area, no SMI but to the firmware's port with the variable service's
// command byte and blocks in the handle's buffers, no release of a buffer
// that is not live. After every request: the information length is exact,
// a refused request changed nothing in its buffer, no byte around the
// request or around a contiguous buffer was written; at the end, closing
// the handles releases every buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "driver/RequestCore.h"
#include "hw/DriverContract.h"

namespace {

constexpr std::uint64_t kCallerBase = 0x7FFE0000;  // the caller's buffer, as the core sees its address
constexpr std::uint32_t kCallerSize = 0x10000;
constexpr std::uint64_t kPoolBase = 0x20000000;  // contiguous buffers come from RAM here
constexpr std::uint64_t kPoolSize = 0x01000000;
constexpr std::uint16_t kSmiPort = 0xB2;
constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xA5;

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

const VELDRV_RANGE kRam[] = {{0x0, 0xA0000}, {0x100000, 0x7F00000}, {kPoolBase, kPoolSize}};

bool OverlapsRam(std::uint64_t address, std::uint64_t length) {
  for (const VELDRV_RANGE& range : kRam) {
    if (address < range.Address + range.Length && range.Address < address + length) {
      return true;
    }
  }
  return false;
}

struct Allocation {
  std::vector<std::uint8_t> Storage;  // guard, bytes, guard
  std::uint64_t Physical;
  std::uint32_t Size;
};

struct Model {
  bool HasFadt = true;
  std::vector<std::uint8_t> Caller = std::vector<std::uint8_t>(kCallerSize, 0);
  std::map<std::uint8_t*, Allocation> Buffers;  // kernel address -> allocation
  std::vector<std::uint8_t> Window;
  std::uint64_t NextPhysical = kPoolBase;
  int Smis = 0;

  const Allocation* Holding(std::uint64_t physical, std::uint64_t length) const {
    for (const auto& [kernel, allocation] : Buffers) {
      if (physical >= allocation.Physical && physical + length <= allocation.Physical + allocation.Size) {
        return &allocation;
      }
    }
    return nullptr;
  }
  bool GuardsIntact() const {
    for (const auto& [kernel, allocation] : Buffers) {
      const std::vector<std::uint8_t>& s = allocation.Storage;
      if (!std::all_of(s.begin(), s.begin() + kGuard, [](std::uint8_t b) { return b == kGuardByte; }) ||
          !std::all_of(s.end() - kGuard, s.end(), [](std::uint8_t b) { return b == kGuardByte; })) {
        return false;
      }
    }
    return true;
  }
};

Model* model = nullptr;

VELDRV_MACHINE Primitives() {
  VELDRV_MACHINE m{};
  m.Context = nullptr;
  m.Lock = [](void*) {};
  m.Unlock = [](void*) {};
  m.RamRanges = [](void*, VELDRV_RANGE* ranges, std::uint32_t capacity) {
    const std::uint32_t count = sizeof kRam / sizeof kRam[0];
    std::copy_n(kRam, std::min(count, capacity), ranges);
    return count;
  };
  m.MapDevice = [](void*, std::uint64_t address, std::uint32_t length) -> const volatile std::uint8_t* {
    Require(length != 0 && length <= VELDRV_MAX_TRANSFER);
    Require(address >= VELDRV_BIOS_AREA_START && !OverlapsRam(address, length));
    model->Window.assign(length, static_cast<std::uint8_t>(address));
    return model->Window.data();
  };
  m.UnmapDevice = [](void*, const volatile std::uint8_t* mapped, std::uint32_t length) {
    Require(mapped == model->Window.data() && length == model->Window.size());
  };
  m.ReadPciConfig = [](void*, std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t offset,
                       std::uint8_t* out, std::uint32_t length) -> std::uint32_t {
    Require(device <= 31 && function <= 7 && offset + length <= 4096 && (length == 1 || length == 2 || length == 4));
    if (bus != 0 || device != 31 || function != 0) {
      return 0;
    }
    std::memset(out, 0x5C, length);
    return length;
  };
  m.AllocContiguous = [](void*, std::uint32_t size, std::uint8_t** kernel, std::uint64_t* physical) {
    Require(size != 0 && size <= VELDRV_MAX_BUFFER_SIZE);
    if (model->NextPhysical + size > kPoolBase + kPoolSize) {
      return 0;
    }
    Allocation allocation{std::vector<std::uint8_t>(size + 2 * kGuard, kGuardByte), model->NextPhysical, size};
    model->NextPhysical += (size + 0xFFF) & ~0xFFFull;
    std::uint8_t* address = allocation.Storage.data() + kGuard;
    model->Buffers.emplace(address, std::move(allocation));
    *kernel = address;
    *physical = model->Buffers.at(address).Physical;
    return 1;
  };
  m.FreeContiguous = [](void*, std::uint8_t* kernel, std::uint32_t size) {
    auto it = model->Buffers.find(kernel);
    Require(it != model->Buffers.end() && it->second.Size == size);
    model->Buffers.erase(it);
  };
  m.AcpiTable = [](void*, std::uint32_t signature, std::uint8_t* buffer, std::uint32_t capacity) -> std::uint32_t {
    if (!model->HasFadt || signature != 0x50434146u) {
      return 0;
    }
    std::uint8_t fadt[244] = {'F', 'A', 'C', 'P', 244};
    fadt[48] = static_cast<std::uint8_t>(kSmiPort);
    std::memcpy(buffer, fadt, std::min<std::uint32_t>(capacity, sizeof fadt));
    return sizeof fadt;
  };
  m.Smi = [](void*, DRV_SMI_REGISTERS* registers) {
    Require(registers->Edx == kSmiPort && (registers->Eax & 0xFF) == VELDRV_SMI_COMMAND_BYTE);
    Require(model->Holding(registers->Ebx, sizeof(SMI_VARIABLE_BLOCK)) != nullptr);
    Require(model->Holding(registers->Esi, sizeof(SMI_REGISTER_BLOCK)) != nullptr);
    ++model->Smis;
    registers->Eax = 0x000001EF;
    return 1;
  };
  m.CopyToCaller = [](void*, std::uint64_t address, const std::uint8_t* source, std::uint32_t length) {
    if (address < kCallerBase || address + length > kCallerBase + kCallerSize) {
      return 0;
    }
    std::memcpy(model->Caller.data() + (address - kCallerBase), source, length);
    return 1;
  };
  m.CopyFromCaller = [](void*, std::uint8_t* destination, std::uint64_t address, std::uint32_t length) {
    if (address < kCallerBase || address + length > kCallerBase + kCallerSize) {
      return 0;
    }
    std::memcpy(destination, model->Caller.data() + (address - kCallerBase), length);
    return 1;
  };
  return m;
}

const std::uint32_t kCodes[] = {kestrune::kIoctlReadPhysicalMemory, kestrune::kIoctlWritePhysicalMemory,
                                kestrune::kIoctlReadPciConfigByte,  kestrune::kIoctlReadPciConfigWord,
                                kestrune::kIoctlReadPciConfigDword, kestrune::kIoctlPhysicalBuffer,
                                kestrune::kIoctlSoftwareSmi,        kestrune::kIoctlMapPhysicalMemory};

std::uint32_t AnsweredLength(std::uint32_t code, std::uint32_t outLength) {
  switch (code) {
    case kestrune::kIoctlReadPhysicalMemory:
    case kestrune::kIoctlWritePhysicalMemory:
    case kestrune::kIoctlSoftwareSmi:
      return 24;
    case kestrune::kIoctlReadPciConfigByte:
    case kestrune::kIoctlReadPciConfigWord:
    case kestrune::kIoctlReadPciConfigDword:
      return 12;
    case kestrune::kIoctlPhysicalBuffer:
      return outLength == 0 ? 0 : 16;
    default:
      return 0xFFFFFFFF;  // never answered
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Model state;
  model = &state;
  std::size_t at = 0;
  if (size > 0) {
    state.HasFadt = (data[at++] & 1) != 0;
  }
  const VELDRV_MACHINE machine = Primitives();
  VELDRV_DEVICE device;
  VelDrvInitDevice(&device, &machine);
  VELDRV_HANDLE handles[2];
  VelDrvOpenHandle(&handles[0]);
  VelDrvOpenHandle(&handles[1]);

  // Records: handle and code selector, input length, output length, input.
  // A selector of 0xE0 to 0xEF instead fills the caller's memory: offset in
  // 64-byte units, length, bytes (what the caller writes before a request).
  while (at + 3 <= size) {
    const std::uint8_t selector = data[at];
    if ((selector & 0xF0) == 0xE0) {
      const std::size_t offset = std::size_t{data[at + 1]} * 64;
      const std::size_t count = std::min<std::size_t>(data[at + 2], size - at - 3);
      std::copy_n(data + at + 3, count, state.Caller.begin() + static_cast<std::ptrdiff_t>(offset));
      at += 3 + count;
      continue;
    }
    const std::uint32_t inLength = data[at + 1] % 40;
    const std::uint32_t outLength = data[at + 2] % 40;
    at += 3;
    std::uint32_t code = kCodes[(selector >> 1) % (sizeof kCodes / sizeof kCodes[0])];
    if ((selector & 0xF0) == 0xF0 && at + 4 <= size) {
      std::memcpy(&code, data + at, 4);
      at += 4;
    }
    VELDRV_HANDLE& handle = handles[selector & 1];
    const std::uint32_t length = std::max(inLength, outLength);
    std::vector<std::uint8_t> buffer(length + kGuard, kGuardByte);
    for (std::uint32_t i = 0; i < inLength && at < size; ++i) {
      buffer[i] = data[at++];
    }
    const std::vector<std::uint8_t> before = buffer;
    const VELDRV_REQUEST request{code, buffer.data(), inLength, outLength, 1};
    std::uint32_t information = 0xDEADBEEF;
    const std::uint32_t status = VelDrvDeviceControl(&device, &handle, &request, &information);
    if (status == VELDRV_STATUS_SUCCESS) {
      Require(information == AnsweredLength(code, outLength));
      Require(information <= outLength);
    } else {
      Require(information == 0);
      Require(buffer == before);
    }
    Require(std::equal(buffer.begin() + length, buffer.end(), before.begin() + length));
    Require(state.GuardsIntact());
    Require(state.Buffers.size() <= 2 * VELDRV_MAX_BUFFERS);
  }
  VelDrvCloseHandle(&device, &handles[0]);
  VelDrvCloseHandle(&device, &handles[1]);
  Require(state.Buffers.empty());
  model = nullptr;
  return 0;
}
