// The driver's request core over raw request streams: each record is a
// handle, a code, the caller's word size and access, the input and output
// lengths and the input bytes. A model machine answers the core's
// primitives and checks, at every call, what the core may ask of it: no
// mapping of RAM or of low memory outside the BIOS area, no read answered
// outside what the firmware publishes, no SMI but the
// program's variable read to the firmware's port with every block in the
// requesting handle's own buffers and apart from one another, no caller
// memory touched under the core's lock, no caller address a 32-bit caller
// cannot own, no release of a buffer that is not live or not cleared. After
// every request: the information length is exact, a refused request changed
// nothing in its buffer, a handle without read and write access reached no
// primitive, a memory request touched no buffer of another handle, the
// lock is free, no byte around the request or around a contiguous buffer
// was written; at the end, closing the handles releases every buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "common/DriverContract.h"
#include "driver/RequestCore.h"

namespace {

struct Model;
Model* model = nullptr;

// The caller's memory, as the core sees its address: a 32-bit caller's
// below 4 GiB, a 64-bit caller's above; the same bytes at both.
constexpr std::uint64_t kCallerBase = 0x7FFE0000;
constexpr std::uint64_t kCallerBase64 = 0x00007FF7A0000000ull;
constexpr std::uint32_t kCallerSize = 0x10000;
constexpr std::uint64_t k4GiB = 0x100000000ull;
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
  int Owner;  // the handle whose request allocated it
};

// The registry's copy of the root table names a first table here: the
// program's search window is [kWindow, kWindow + 128 KiB).
constexpr std::uint32_t kFirstTable = 0x7FF12345;
constexpr std::uint64_t kWindow = 0x7FF02300;

// What the model's firmware publishes: its memory holds no root pointer and
// no SMBIOS entry point, so the BIOS area and, with the registry's copy,
// the search window.
bool Published(std::uint64_t address, std::uint64_t length, bool window) {
  const auto inside = [&](std::uint64_t start, std::uint64_t size) {
    return address >= start && address + length <= start + size;
  };
  return inside(VELDRV_BIOS_AREA_START, VELDRV_BIOS_AREA_END - VELDRV_BIOS_AREA_START) ||
         (window && inside(kWindow, 0x20000));
}

struct Model {
  bool HasFadt = true;
  bool HasRootTableCopy = false;
  std::vector<std::uint8_t> Caller = std::vector<std::uint8_t>(kCallerSize, 0);
  std::map<std::uint8_t*, Allocation> Buffers;  // kernel address -> allocation
  std::vector<std::uint8_t> Window;
  std::uint64_t NextPhysical = kPoolBase;
  int Smis = 0;
  // The request under way: its handle, the caller's word size, whether its
  // handle was opened for reading and writing.
  int Requester = 0;
  bool CallerIs32Bit = true;
  bool MayReadAndWrite = true;
  bool Mapped = false;  // the request mapped device memory
  int Locked = 0;       // the core holds its lock
  int Calls = 0;        // primitives the request called, the lock aside

  // The allocation of the requesting handle that holds the whole range.
  const Allocation* Own(std::uint64_t physical, std::uint64_t length) const {
    for (const auto& [kernel, allocation] : Buffers) {
      if (allocation.Owner == Requester && physical >= allocation.Physical &&
          physical + length <= allocation.Physical + allocation.Size) {
        return &allocation;
      }
    }
    return nullptr;
  }
  const std::uint8_t* Bytes(const Allocation& allocation, std::uint64_t physical) const {
    return allocation.Storage.data() + kGuard + (physical - allocation.Physical);
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
  // The contents of every buffer of the other handle.
  std::vector<std::vector<std::uint8_t>> Others() const {
    std::vector<std::vector<std::uint8_t>> contents;
    for (const auto& [kernel, allocation] : Buffers) {
      if (allocation.Owner != Requester) {
        contents.push_back(allocation.Storage);
      }
    }
    return contents;
  }
};

bool Disjoint(std::uint64_t a, std::uint64_t aLength, std::uint64_t b, std::uint64_t bLength) {
  return a + aLength <= b || b + bLength <= a;
}

// The caller's memory behind an address the core hands a copy primitive,
// or nullptr when the address is none of the caller's.
std::uint8_t* CallerBytes(std::uint64_t address, std::uint32_t length) {
  // Never under the core's lock; and a 32-bit caller owns nothing at or
  // above 4 GiB: the core must not ask.
  Require(model->Locked == 0);
  Require(!model->CallerIs32Bit || address + length <= k4GiB);
  for (std::uint64_t base : {kCallerBase, kCallerBase64}) {
    if (address >= base && address + length <= base + kCallerSize) {
      return model->Caller.data() + (address - base);
    }
  }
  return nullptr;
}

VELDRV_MACHINE Primitives() {
  VELDRV_MACHINE m{};
  m.Context = nullptr;
  m.Lock = [](void*) { ++model->Locked; };
  m.Unlock = [](void*) {
    Require(model->Locked > 0);
    --model->Locked;
  };
  m.RamRanges = [](void*, VELDRV_RANGE* ranges, std::uint32_t capacity) {
    ++model->Calls;
    const std::uint32_t count = sizeof kRam / sizeof kRam[0];
    std::copy_n(kRam, std::min(count, capacity), ranges);
    return count;
  };
  m.MapDevice = [](void*, std::uint64_t address, std::uint32_t length) -> const volatile std::uint8_t* {
    ++model->Calls;
    Require(length != 0 && length <= VELDRV_MAX_TRANSFER);
    Require(address >= VELDRV_BIOS_AREA_START && !OverlapsRam(address, length));
    model->Mapped = true;
    model->Window.assign(length, static_cast<std::uint8_t>(address));
    return model->Window.data();
  };
  m.UnmapDevice = [](void*, const volatile std::uint8_t* mapped, std::uint32_t length) {
    ++model->Calls;
    Require(mapped == model->Window.data() && length == model->Window.size());
  };
  m.RootTableCopy = [](void*, std::uint8_t* buffer, std::uint32_t capacity) -> std::uint32_t {
    ++model->Calls;
    if (!model->HasRootTableCopy) {
      return 0;
    }
    std::uint8_t copy[44] = {'R', 'S', 'D', 'T', 44};
    std::memcpy(copy + 36, &kFirstTable, 4);
    std::memcpy(buffer, copy, std::min<std::uint32_t>(capacity, sizeof copy));
    return sizeof copy;
  };
  m.ReadPciConfig = [](void*, std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t offset,
                       std::uint8_t* out, std::uint32_t length) -> std::uint32_t {
    ++model->Calls;
    Require(device <= 31 && function <= 7 && offset + length <= 4096 && (length == 1 || length == 2 || length == 4));
    if (bus != 0 || device != 31 || function != 0) {
      return 0;
    }
    std::memset(out, 0x5C, length);
    return length;
  };
  m.AllocContiguous = [](void*, std::uint32_t size, std::uint8_t** kernel, std::uint64_t* physical) {
    ++model->Calls;
    Require(size != 0 && size <= VELDRV_MAX_BUFFER_SIZE);
    if (model->NextPhysical + size > kPoolBase + kPoolSize) {
      return 0;
    }
    Allocation allocation{std::vector<std::uint8_t>(size + 2 * kGuard, kGuardByte), model->NextPhysical, size,
                          model->Requester};
    model->NextPhysical += (size + 0xFFF) & ~0xFFFull;
    std::uint8_t* address = allocation.Storage.data() + kGuard;
    model->Buffers.emplace(address, std::move(allocation));
    *kernel = address;
    *physical = model->Buffers.at(address).Physical;
    return 1;
  };
  m.FreeContiguous = [](void*, std::uint8_t* kernel, std::uint32_t size) {
    ++model->Calls;
    auto it = model->Buffers.find(kernel);
    Require(it != model->Buffers.end() && it->second.Size == size);
    // Released cleared, whoever held it.
    Require(std::all_of(kernel, kernel + size, [](std::uint8_t b) { return b == 0; }));
    model->Buffers.erase(it);
  };
  m.AcpiTable = [](void*, std::uint32_t signature, std::uint8_t* buffer, std::uint32_t capacity) -> std::uint32_t {
    ++model->Calls;
    if (!model->HasFadt || signature != 0x50434146u) {
      return 0;
    }
    std::uint8_t fadt[244] = {'F', 'A', 'C', 'P', 244};
    fadt[48] = static_cast<std::uint8_t>(kSmiPort);
    std::memcpy(buffer, fadt, std::min<std::uint32_t>(capacity, sizeof fadt));
    return sizeof fadt;
  };
  m.Smi = [](void*, DRV_SMI_REGISTERS* registers) {
    ++model->Calls;
    // The program's variable read, in the requesting handle's buffers.
    Require(registers->Edx == kSmiPort && registers->Eax == VELDRV_SMI_GET_VARIABLE && registers->Ecx == 0 &&
            registers->Edi == 0);
    const Allocation* variable = model->Own(registers->Ebx, sizeof(SMI_VARIABLE_BLOCK));
    const Allocation* block = model->Own(registers->Esi, sizeof(SMI_REGISTER_BLOCK));
    Require(variable != nullptr && block != nullptr);
    const std::uint8_t* r = model->Bytes(*block, registers->Esi);
    std::uint32_t word[2];
    std::memcpy(word, r, sizeof word);
    Require(word[0] == VELDRV_SMI_GET_VARIABLE && word[1] == registers->Ebx);
    Require(std::all_of(r + 8, r + sizeof(SMI_REGISTER_BLOCK), [](std::uint8_t b) { return b == 0; }));
    SMI_VARIABLE_BLOCK v;
    std::memcpy(&v, model->Bytes(*variable, registers->Ebx), sizeof v);
    const std::uint64_t dataLength = v.DataSize == 0 ? 1 : v.DataSize;
    Require(v.DataSize <= VELDRV_SMI_MAX_DATA_SIZE && model->Own(v.DataAddress, dataLength) != nullptr);
    std::uint64_t nameLength = 0;
    for (std::uint64_t i = 0; nameLength == 0; i += 2) {
      Require(i + 2 <= VELDRV_SMI_MAX_NAME_BYTES);
      const Allocation* name = model->Own(v.NameAddress + i, 2);
      Require(name != nullptr);
      const std::uint8_t* c = model->Bytes(*name, v.NameAddress + i);
      if (c[0] == 0 && c[1] == 0) {
        nameLength = i + 2;
      }
    }
    const std::uint64_t parts[4][2] = {{registers->Esi, sizeof(SMI_REGISTER_BLOCK)},
                                       {registers->Ebx, sizeof(SMI_VARIABLE_BLOCK)},
                                       {v.NameAddress, nameLength},
                                       {v.DataAddress, dataLength}};
    for (int i = 0; i < 4; ++i) {
      for (int j = i + 1; j < 4; ++j) {
        Require(Disjoint(parts[i][0], parts[i][1], parts[j][0], parts[j][1]));
      }
    }
    ++model->Smis;
    registers->Eax = 0x000001EF;
    return 1;
  };
  m.CopyToCaller = [](void*, std::uint64_t address, const std::uint8_t* source, std::uint32_t length) {
    ++model->Calls;
    std::uint8_t* to = CallerBytes(address, length);
    if (to == nullptr) {
      return 0;
    }
    std::memcpy(to, source, length);
    return 1;
  };
  m.CopyFromCaller = [](void*, std::uint8_t* destination, std::uint64_t address, std::uint32_t length) {
    ++model->Calls;
    const std::uint8_t* from = CallerBytes(address, length);
    if (from == nullptr) {
      return 0;
    }
    std::memcpy(destination, from, length);
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
    state.HasFadt = (data[at] & 1) != 0;
    state.HasRootTableCopy = (data[at++] & 2) != 0;
  }
  const VELDRV_MACHINE machine = Primitives();
  VELDRV_DEVICE device;
  VelDrvInitDevice(&device, &machine);
  VELDRV_HANDLE handles[2];
  VelDrvOpenHandle(&handles[0]);
  VelDrvOpenHandle(&handles[1]);

  // Records: a selector, input length, output length, input. The
  // selector's bit 0 is the handle, bits 1 to 3 the code, bit 4 a 64-bit
  // caller, bit 5 a handle opened without read and write access; 0xF0 to
  // 0xFF take the code from the next four bytes. A selector
  // of 0xE0 to 0xEF instead fills the caller's memory: offset in 64-byte
  // units, length, bytes (what the caller writes before a request).
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
    state.Requester = selector & 1;
    state.MayReadAndWrite = (selector & 0xF0) == 0xF0 || (selector & 0x20) == 0;
    state.Calls = 0;
    state.CallerIs32Bit = (selector & 0xF0) == 0xF0 || (selector & 0x10) == 0;
    state.Mapped = false;
    VELDRV_HANDLE& handle = handles[state.Requester];
    const std::uint32_t length = std::max(inLength, outLength);
    std::vector<std::uint8_t> buffer(length + kGuard, kGuardByte);
    for (std::uint32_t i = 0; i < inLength && at < size; ++i) {
      buffer[i] = data[at++];
    }
    const std::vector<std::uint8_t> before = buffer;
    // What the other handle holds, where this request could change it.
    const bool writes = code == kestrune::kIoctlWritePhysicalMemory || code == kestrune::kIoctlPhysicalBuffer;
    const std::vector<std::vector<std::uint8_t>> others =
        writes ? state.Others() : std::vector<std::vector<std::uint8_t>>{};
    const VELDRV_REQUEST request{
        code, buffer.data(), inLength, outLength, state.CallerIs32Bit ? 1 : 0, state.MayReadAndWrite ? 1 : 0};
    std::uint32_t information = 0xDEADBEEF;
    const std::uint32_t status = VelDrvDeviceControl(&device, &handle, &request, &information);
    if (status == VELDRV_STATUS_SUCCESS) {
      Require(information == AnsweredLength(code, outLength));
      Require(information <= outLength);
      // A memory request that touched physical memory without mapping it
      // reached the requesting handle's own buffer.
      if ((code == kestrune::kIoctlReadPhysicalMemory || code == kestrune::kIoctlWritePhysicalMemory) &&
          !state.Mapped) {
        DRV_MEMORY_REQUEST memory;
        std::memcpy(&memory, buffer.data(), sizeof memory);
        Require(memory.Length == 0 || state.Own(memory.PhysicalAddress, memory.Length) != nullptr);
      }
      // A read that mapped memory read only what the firmware publishes.
      if (code == kestrune::kIoctlReadPhysicalMemory && state.Mapped) {
        DRV_MEMORY_REQUEST memory;
        std::memcpy(&memory, buffer.data(), sizeof memory);
        Require(Published(memory.PhysicalAddress, memory.Length, state.HasRootTableCopy));
      }
    } else {
      Require(information == 0);
      Require(buffer == before);
    }
    // A handle without read and write access reaches nothing.
    Require(state.MayReadAndWrite || (status == VELDRV_STATUS_ACCESS_DENIED && state.Calls == 0));
    Require(state.Locked == 0);
    Require(!writes || state.Others() == others);
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
