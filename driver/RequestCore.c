/* The request core of the hardware access driver; see RequestCore.h. It
 * uses no C runtime: the kernel build links it with the kernel only. */
#include "driver/RequestCore.h"

#define FADT_SMI_CMD_OFFSET 48u
#define FADT_CST_CNT_OFFSET 89u
#define FADT_CAPACITY 256u
#define DEVICE_CHUNK 256u
#define PCI_SPACE_SIZE 4096u
#define SMI_PORT_UNKNOWN 0u
#define SMI_PORT_KNOWN 1u

static void ZeroBytes(uint8_t* to, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    to[i] = 0;
  }
}

static uint32_t Get32(const uint8_t* at) {
  return (uint32_t)at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16) | ((uint32_t)at[3] << 24);
}

static uint64_t Get64(const uint8_t* at) { return (uint64_t)Get32(at) | ((uint64_t)Get32(at + 4) << 32); }

static void Put32(uint8_t* at, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) {
    at[i] = (uint8_t)(value >> (8 * i));
  }
}

static void Put64(uint8_t* at, uint64_t value) {
  Put32(at, (uint32_t)value);
  Put32(at + 4, (uint32_t)(value >> 32));
}

/* [address, address + length) lies inside [start, start + size). */
static int Inside(uint64_t address, uint64_t length, uint64_t start, uint64_t size) {
  return address >= start && address - start <= size && length <= size - (address - start);
}

static int Overlaps(uint64_t address, uint64_t length, uint64_t start, uint64_t size) {
  return length != 0 && size != 0 && address < start + size && start < address + length;
}

/* The handle's buffer that holds the whole range, or NULL. */
static VELDRV_BUFFER* OwnBuffer(VELDRV_HANDLE* handle, uint64_t address, uint64_t length) {
  for (uint32_t i = 0; i < VELDRV_MAX_BUFFERS; ++i) {
    VELDRV_BUFFER* buffer = &handle->Buffers[i];
    if (buffer->Id != 0 && Inside(address, length, buffer->Physical, buffer->Size)) {
      return buffer;
    }
  }
  return 0;
}

static uint8_t* KernelAddressOf(const VELDRV_BUFFER* buffer, uint64_t address) {
  return buffer->Kernel + (uint32_t)(address - buffer->Physical);
}

/* The caller's buffer must be a nonzero address whose range does not wrap
 * and, for a 32-bit caller, lies below 4 GiB. */
static int CallerRangeFits(const VELDRV_REQUEST* request, uint64_t address, uint32_t length) {
  if (address == 0 || address + length < address) {
    return 0;
  }
  if (request->CallerIs32Bit && address + length > 0x100000000ull) {
    return 0;
  }
  return sizeof(void*) >= 8 || address + length <= 0x100000000ull;
}

/* Memory the core may map: not RAM, and not below the BIOS area. */
static int OutsideRam(VELDRV_DEVICE* device, uint64_t address, uint32_t length) {
  if (address < VELDRV_BIOS_AREA_START) {
    return 0;
  }
  const uint32_t count = device->Machine.RamRanges(device->Machine.Context, device->Ram, VELDRV_MAX_RAM_RANGES);
  if (count > VELDRV_MAX_RAM_RANGES) {
    return 0;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (Overlaps(address, length, device->Ram[i].Address, device->Ram[i].Length)) {
      return 0;
    }
  }
  return 1;
}

/* ---- what the firmware publishes ----
 *
 * Physical reads outside a handle's buffers reach only what the firmware
 * publishes and the program reads, and the driver learns that from the
 * firmware itself, once, at the first such read: the BIOS area; every ACPI
 * root pointer a search of it finds (16-byte steps, the checksum of its
 * first 20 bytes), the RSDT and XSDT it names, the tables they list, the
 * FACS and DSDT each FADT names, and what those list in turn; every SMBIOS
 * entry point in it (the anchor "_SM_" and its checksum) and the table it
 * names. The program finds the root pointer by the same search; where the
 * firmware keeps it elsewhere (UEFI), the program searches 128 KiB below
 * and above the first table that the operating system's copy of the root
 * table lists, so that window and the root pointers in it count too. */

#define FIRMWARE_UNKNOWN 0u
#define FIRMWARE_KNOWN 1u
#define ACPI_HEADER_LENGTH 36u
#define ACPI_MAX_TABLE_LENGTH 0x01000000u
#define RSDP_READ_LENGTH 36u
#define RSDP_MAX_LENGTH 4096u
#define SMBIOS_ENTRY_POINT_LENGTH 31u
#define ROOT_WINDOW_BACK 0x10000u
#define ROOT_WINDOW_LENGTH 0x20000u
#define SCAN_PAGE 4096u
#define TABLE_BLOCK 256u /* root table entries read at once; kept small for the kernel stack */

/* Reads firmware bytes for the driver's own use: only memory that is not
 * RAM, at or above the BIOS area. */
static int ReadFirmware(VELDRV_DEVICE* device, uint64_t address, uint8_t* out, uint32_t length) {
  if (address + length < address || !OutsideRam(device, address, length)) {
    return 0;
  }
  const volatile uint8_t* mapped = device->Machine.MapDevice(device->Machine.Context, address, length);
  if (mapped == 0) {
    return 0;
  }
  for (uint32_t i = 0; i < length; ++i) {
    out[i] = mapped[i];
  }
  device->Machine.UnmapDevice(device->Machine.Context, mapped, length);
  return 1;
}

static uint8_t Sum(const uint8_t* bytes, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) {
    sum = (uint8_t)(sum + bytes[i]);
  }
  return sum;
}

static void Allow(VELDRV_DEVICE* device, uint64_t address, uint64_t length, uint8_t isTable) {
  if (length == 0 || address + length < address) {
    return;
  }
  for (uint32_t i = 0; i < device->FirmwareCount; ++i) {
    if (device->Firmware[i].Address == address && device->Firmware[i].Length >= length) {
      return;
    }
  }
  if (device->FirmwareCount < VELDRV_MAX_FIRMWARE_RANGES) {
    device->Firmware[device->FirmwareCount].Address = address;
    device->Firmware[device->FirmwareCount].Length = length;
    device->FirmwareIsTable[device->FirmwareCount] = isTable;
    ++device->FirmwareCount;
  }
}

/* An ACPI table: its header, and its whole length where the header gives
 * one a table can have (the program reads the 36-byte header of every
 * table it is led to, and the whole table where the length is usable). */
static void AllowTable(VELDRV_DEVICE* device, uint64_t address) {
  uint8_t header[ACPI_HEADER_LENGTH];
  if (address == 0 || !ReadFirmware(device, address, header, sizeof header)) {
    return;
  }
  const uint32_t length = Get32(header + 4);
  const uint32_t usable = length >= ACPI_HEADER_LENGTH && length <= ACPI_MAX_TABLE_LENGTH ? length : ACPI_HEADER_LENGTH;
  for (uint32_t i = 0; i < device->FirmwareCount; ++i) {
    if (device->FirmwareIsTable[i] && device->Firmware[i].Address == address) {
      return;
    }
  }
  Allow(device, address, usable, 1);
}

static void AllowRootPointer(VELDRV_DEVICE* device, uint64_t address) {
  uint8_t rsdp[RSDP_READ_LENGTH];
  if (!ReadFirmware(device, address, rsdp, sizeof rsdp) || Sum(rsdp, 20) != 0) {
    return;
  }
  const uint32_t length = rsdp[15] == 0 ? 20 : Get32(rsdp + 20);
  Allow(device, address,
        length < RSDP_READ_LENGTH  ? RSDP_READ_LENGTH
        : length > RSDP_MAX_LENGTH ? RSDP_MAX_LENGTH
                                   : length,
        0);
  AllowTable(device, Get32(rsdp + 16));
  if (rsdp[15] >= 2) {
    AllowTable(device, Get64(rsdp + 24));
  }
}

static int Matches(const volatile uint8_t* at, const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (at[i] != (uint8_t)text[i]) {
      return 0;
    }
  }
  return 1;
}

/* The root pointers in [start, start + length), and with smbios the SMBIOS
 * entry points too, a page at a time; candidates are taken a few at a time,
 * each after the page is unmapped again. */
#define SCAN_BATCH 8u

static void SearchFirmware(VELDRV_DEVICE* device, uint64_t start, uint32_t length, int smbios) {
  for (uint64_t page = start; page < start + length; page += SCAN_PAGE) {
    uint32_t at = 0;
    while (at + 8 <= SCAN_PAGE) {
      if (!OutsideRam(device, page, SCAN_PAGE)) {
        break;
      }
      const volatile uint8_t* mapped = device->Machine.MapDevice(device->Machine.Context, page, SCAN_PAGE);
      if (mapped == 0) {
        break;
      }
      uint64_t candidates[SCAN_BATCH];
      uint8_t isRoot[SCAN_BATCH];
      uint32_t count = 0;
      for (; at + 8 <= SCAN_PAGE && count < SCAN_BATCH; ++at) {
        const uint8_t first = mapped[at];
        if (first == 'R' && at % 16 == 0 && Matches(mapped + at, "RSD PTR ", 8)) {
          isRoot[count] = 1;
          candidates[count++] = page + at;
        } else if (first == '_' && smbios && Matches(mapped + at, "_SM_", 4)) {
          isRoot[count] = 0;
          candidates[count++] = page + at;
        }
      }
      device->Machine.UnmapDevice(device->Machine.Context, mapped, SCAN_PAGE);
      for (uint32_t i = 0; i < count; ++i) {
        uint8_t entry[SMBIOS_ENTRY_POINT_LENGTH];
        if (isRoot[i]) {
          AllowRootPointer(device, candidates[i]);
        } else if (ReadFirmware(device, candidates[i], entry, sizeof entry) && Sum(entry, sizeof entry) == 0) {
          Allow(device, Get32(entry + 0x18), (uint64_t)entry[0x16] | ((uint64_t)entry[0x17] << 8), 0);
        }
      }
    }
  }
}

/* What an ACPI table lists: the RSDT's 32-bit and the XSDT's 64-bit table
 * addresses, the FADT's FACS and DSDT (both widths). */
static void FollowTable(VELDRV_DEVICE* device, uint64_t address, uint64_t length) {
  uint8_t header[ACPI_HEADER_LENGTH];
  if (!ReadFirmware(device, address, header, sizeof header)) {
    return;
  }
  const uint32_t signature = Get32(header);
  if (signature == 0x54445352u || signature == 0x54445358u) { /* "RSDT", "XSDT" */
    /* The entries a block at a time, and no more of them than the program
     * lists: a corrupt table may claim up to 16 MiB, and a mapping for each
     * of its entries would stall the first read for minutes. The walk also
     * ends at the first block that cannot be read, or when the list is full. */
    const uint32_t width = signature == 0x54445352u ? 4 : 8;
    const uint64_t end = ACPI_HEADER_LENGTH + (uint64_t)VELDRV_MAX_LISTED_TABLES * width;
    if (length > end) {
      length = end;
    }
    uint8_t entries[TABLE_BLOCK];
    for (uint64_t at = ACPI_HEADER_LENGTH; at + width <= length && device->FirmwareCount < VELDRV_MAX_FIRMWARE_RANGES;
         at += TABLE_BLOCK) {
      const uint64_t left = length - at;
      const uint32_t have = left < TABLE_BLOCK ? (uint32_t)(left - left % width) : TABLE_BLOCK;
      if (!ReadFirmware(device, address + at, entries, have)) {
        break;
      }
      for (uint32_t i = 0; i + width <= have; i += width) {
        AllowTable(device, width == 4 ? Get32(entries + i) : Get64(entries + i));
      }
    }
  } else if (signature == VELDRV_FADT_SIGNATURE) {
    uint8_t fadt[148];
    const uint32_t have = length < sizeof fadt ? (uint32_t)length : sizeof fadt;
    if (have >= 44 && ReadFirmware(device, address, fadt, have)) {
      AllowTable(device, Get32(fadt + 36));
      AllowTable(device, Get32(fadt + 40));
      if (have >= 148) {
        AllowTable(device, Get64(fadt + 132));
        AllowTable(device, Get64(fadt + 140));
      }
    }
  }
}

static void LearnFirmware(VELDRV_DEVICE* device) {
  device->FirmwareState = FIRMWARE_KNOWN;
  device->FirmwareCount = 0;
  Allow(device, VELDRV_BIOS_AREA_START, VELDRV_BIOS_AREA_END - VELDRV_BIOS_AREA_START, 0);
  SearchFirmware(device, VELDRV_BIOS_AREA_START, VELDRV_BIOS_AREA_END - VELDRV_BIOS_AREA_START, 1);
  uint8_t copy[ACPI_HEADER_LENGTH + 4];
  if (device->Machine.RootTableCopy(device->Machine.Context, copy, sizeof copy) >= sizeof copy &&
      (Get32(copy) == 0x54445352u || Get32(copy) == 0x54445358u)) {
    const uint32_t first = Get32(copy + ACPI_HEADER_LENGTH);
    const uint32_t start = first < ROOT_WINDOW_BACK ? 0 : (first - ROOT_WINDOW_BACK) & ~0xFFu;
    Allow(device, start, ROOT_WINDOW_LENGTH, 0);
    SearchFirmware(device, start, ROOT_WINDOW_LENGTH, 0);
  }
  /* The list grows while it is walked: tables lead to tables. */
  for (uint32_t i = 0; i < device->FirmwareCount; ++i) {
    if (device->FirmwareIsTable[i]) {
      FollowTable(device, device->Firmware[i].Address, device->Firmware[i].Length);
    }
  }
}

/* Memory outside the handle's buffers may be read only where it is not RAM
 * and the firmware publishes it. */
static int DeviceMemoryReadable(VELDRV_DEVICE* device, uint64_t address, uint32_t length) {
  if (!OutsideRam(device, address, length)) {
    return 0;
  }
  if (device->FirmwareState != FIRMWARE_KNOWN) {
    LearnFirmware(device);
  }
  for (uint32_t i = 0; i < device->FirmwareCount; ++i) {
    if (Inside(address, length, device->Firmware[i].Address, device->Firmware[i].Length)) {
      return 1;
    }
  }
  return 0;
}

/* The width in bytes of a memory request's unit; any other unit than
 * words and double words copies bytes. */
static uint32_t UnitWidth(uint32_t unit) {
  if (unit == VELDRV_MEMORY_UNIT_WORD) {
    return 2;
  }
  return unit == VELDRV_MEMORY_UNIT_DWORD ? 4 : 1;
}

/* Copies between this handle's own buffer and the caller's, one bounce
 * chunk at a time: the caller's memory is touched outside the lock, the
 * buffer only under it, and found again for every chunk (another thread
 * may have released it meanwhile). */
static uint32_t CopyOwnBuffer(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const DRV_MEMORY_REQUEST* memory,
                              int write) {
  uint8_t bounce[DEVICE_CHUNK];
  for (uint32_t done = 0; done < memory->Length; done += DEVICE_CHUNK) {
    const uint32_t count = memory->Length - done < DEVICE_CHUNK ? memory->Length - done : DEVICE_CHUNK;
    const uint64_t at = memory->PhysicalAddress + done;
    if (write &&
        !device->Machine.CopyFromCaller(device->Machine.Context, bounce, memory->BufferAddress + done, count)) {
      return VELDRV_STATUS_INVALID_USER_BUFFER;
    }
    device->Machine.Lock(device->Machine.Context);
    VELDRV_BUFFER* own = OwnBuffer(handle, at, count);
    if (own != 0) {
      uint8_t* kernel = KernelAddressOf(own, at);
      for (uint32_t i = 0; i < count; ++i) {
        if (write) {
          kernel[i] = bounce[i];
        } else {
          bounce[i] = kernel[i];
        }
      }
    }
    device->Machine.Unlock(device->Machine.Context);
    if (own == 0) {
      return VELDRV_STATUS_ACCESS_DENIED;
    }
    if (!write && !device->Machine.CopyToCaller(device->Machine.Context, memory->BufferAddress + done, bounce, count)) {
      return VELDRV_STATUS_INVALID_USER_BUFFER;
    }
  }
  return VELDRV_STATUS_SUCCESS;
}

/* Reads device memory in the request's unit (bytes, words or double words;
 * any other unit copies bytes) into the caller's buffer, one bounce chunk
 * at a time. */
static uint32_t CopyDeviceToCaller(VELDRV_DEVICE* device, const volatile uint8_t* mapped,
                                   const DRV_MEMORY_REQUEST* memory) {
  uint8_t bounce[DEVICE_CHUNK];
  const uint32_t width = UnitWidth(memory->Unit);
  for (uint32_t done = 0; done < memory->Length; done += DEVICE_CHUNK) {
    const uint32_t count = memory->Length - done < DEVICE_CHUNK ? memory->Length - done : DEVICE_CHUNK;
    for (uint32_t i = 0; i < count; i += width) {
      if (width == 4) {
        Put32(bounce + i, *(const volatile uint32_t*)(const volatile void*)(mapped + done + i));
      } else if (width == 2) {
        const uint16_t value = *(const volatile uint16_t*)(const volatile void*)(mapped + done + i);
        bounce[i] = (uint8_t)value;
        bounce[i + 1] = (uint8_t)(value >> 8);
      } else {
        bounce[i] = mapped[done + i];
      }
    }
    if (!device->Machine.CopyToCaller(device->Machine.Context, memory->BufferAddress + done, bounce, count)) {
      return VELDRV_STATUS_INVALID_USER_BUFFER;
    }
  }
  return VELDRV_STATUS_SUCCESS;
}

/* Answered without the lock held: the policy is decided under it, the
 * copies run outside it (see CopyOwnBuffer). Device memory is mapped and
 * read outside it too; what may be read there depends on no handle. */
static uint32_t MemoryRequest(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const VELDRV_REQUEST* request, int write,
                              uint32_t* information) {
  if (request->InputLength != sizeof(DRV_MEMORY_REQUEST) || request->OutputLength != sizeof(DRV_MEMORY_REQUEST)) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  DRV_MEMORY_REQUEST memory;
  memory.PhysicalAddress = Get64(request->Buffer);
  memory.Length = Get32(request->Buffer + 8);
  memory.Unit = Get32(request->Buffer + 12);
  memory.BufferAddress = Get64(request->Buffer + 16);
  if (memory.Length > VELDRV_MAX_TRANSFER || memory.PhysicalAddress + memory.Length < memory.PhysicalAddress) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  if (memory.Length % UnitWidth(memory.Unit) != 0) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  if (memory.Length != 0) {
    if (!CallerRangeFits(request, memory.BufferAddress, memory.Length)) {
      return VELDRV_STATUS_INVALID_USER_BUFFER;
    }
    device->Machine.Lock(device->Machine.Context);
    const int own = OwnBuffer(handle, memory.PhysicalAddress, memory.Length) != 0;
    const int readable = !own && !write && DeviceMemoryReadable(device, memory.PhysicalAddress, memory.Length);
    device->Machine.Unlock(device->Machine.Context);
    uint32_t status = VELDRV_STATUS_ACCESS_DENIED;
    if (own) {
      status = CopyOwnBuffer(device, handle, &memory, write);
    } else if (readable) {
      const volatile uint8_t* mapped =
          device->Machine.MapDevice(device->Machine.Context, memory.PhysicalAddress, memory.Length);
      if (mapped == 0) {
        return VELDRV_STATUS_IO_DEVICE_ERROR;
      }
      status = CopyDeviceToCaller(device, mapped, &memory);
      device->Machine.UnmapDevice(device->Machine.Context, mapped, memory.Length);
    }
    if (status != VELDRV_STATUS_SUCCESS) {
      return status;
    }
  }
  /* The output is the request itself, unchanged. */
  *information = sizeof(DRV_MEMORY_REQUEST);
  return VELDRV_STATUS_SUCCESS;
}

static uint32_t PciRequest(VELDRV_DEVICE* device, const VELDRV_REQUEST* request, uint32_t width,
                           uint32_t* information) {
  if (request->InputLength != sizeof(DRV_PCI_REQUEST) || request->OutputLength != sizeof(DRV_PCI_REQUEST)) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  const uint8_t bus = request->Buffer[0];
  const uint8_t pciDevice = request->Buffer[1];
  const uint8_t function = request->Buffer[2];
  const uint16_t offset = (uint16_t)(request->Buffer[4] | (request->Buffer[5] << 8));
  if (pciDevice > 31 || function > 7 || (uint32_t)offset + width > PCI_SPACE_SIZE) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  uint8_t bytes[4] = {0, 0, 0, 0};
  const uint32_t read =
      device->Machine.ReadPciConfig(device->Machine.Context, bus, pciDevice, function, offset, bytes, width);
  uint32_t value = VELDRV_PCI_ALL_ONES(width);
  if (read == width) {
    value = Get32(bytes);
  }
  /* The other fields travel back as they came. */
  Put32(request->Buffer + 8, value);
  *information = sizeof(DRV_PCI_REQUEST);
  return VELDRV_STATUS_SUCCESS;
}

static uint32_t AllocateBuffer(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const VELDRV_REQUEST* request,
                               uint32_t* information) {
  const uint32_t size = Get32(request->Buffer);
  if (size == 0 || size > VELDRV_MAX_BUFFER_SIZE) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  VELDRV_BUFFER* slot = 0;
  for (uint32_t i = 0; i < VELDRV_MAX_BUFFERS && slot == 0; ++i) {
    if (handle->Buffers[i].Id == 0) {
      slot = &handle->Buffers[i];
    }
  }
  if (slot == 0) {
    return VELDRV_STATUS_QUOTA_EXCEEDED;
  }
  /* All handles together: however many are opened, they cannot exhaust the
   * memory below 4 GiB. */
  const uint32_t pages = (size + VELDRV_PAGE_SIZE - 1) / VELDRV_PAGE_SIZE;
  if (device->BufferPages + pages > VELDRV_MAX_DEVICE_PAGES) {
    return VELDRV_STATUS_INSUFFICIENT_RESOURCES;
  }
  uint8_t* kernel = 0;
  uint64_t physical = 0;
  if (!device->Machine.AllocContiguous(device->Machine.Context, size, &kernel, &physical) || kernel == 0) {
    return VELDRV_STATUS_INSUFFICIENT_RESOURCES;
  }
  if (physical == 0 || physical + size > 0x100000000ull) {
    device->Machine.FreeContiguous(device->Machine.Context, kernel, size);
    return VELDRV_STATUS_INSUFFICIENT_RESOURCES;
  }
  ZeroBytes(kernel, size);
  device->BufferPages += pages;
  slot->Id = ++device->LastBufferId;
  slot->Kernel = kernel;
  slot->Physical = physical;
  slot->Size = size;
  /* The handle is the buffer's number: no kernel address leaves the core. */
  Put32(request->Buffer + 4, (uint32_t)physical);
  Put64(request->Buffer + 8, slot->Id);
  *information = sizeof(DRV_PHYSICAL_BUFFER_REQUEST);
  return VELDRV_STATUS_SUCCESS;
}

/* The buffer goes back cleared: what the caller or the firmware left in it
 * reaches no later owner of the memory. */
static void ReleaseSlot(VELDRV_DEVICE* device, VELDRV_BUFFER* buffer) {
  ZeroBytes(buffer->Kernel, buffer->Size);
  device->Machine.FreeContiguous(device->Machine.Context, buffer->Kernel, buffer->Size);
  device->BufferPages -= (buffer->Size + VELDRV_PAGE_SIZE - 1) / VELDRV_PAGE_SIZE;
  buffer->Id = 0;
  buffer->Kernel = 0;
  buffer->Physical = 0;
  buffer->Size = 0;
}

static uint32_t ReleaseBuffer(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const VELDRV_REQUEST* request) {
  const uint32_t size = Get32(request->Buffer);
  const uint64_t id = Get64(request->Buffer + 8);
  for (uint32_t i = 0; i < VELDRV_MAX_BUFFERS; ++i) {
    VELDRV_BUFFER* buffer = &handle->Buffers[i];
    if (id != 0 && buffer->Id == id && buffer->Size == size) {
      ReleaseSlot(device, buffer);
      return VELDRV_STATUS_SUCCESS;
    }
  }
  return VELDRV_STATUS_INVALID_PARAMETER;
}

static uint32_t BufferRequest(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const VELDRV_REQUEST* request,
                              uint32_t* information) {
  if (request->InputLength != sizeof(DRV_PHYSICAL_BUFFER_REQUEST)) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  if (request->OutputLength == sizeof(DRV_PHYSICAL_BUFFER_REQUEST)) {
    return AllocateBuffer(device, handle, request, information);
  }
  if (request->OutputLength == 0) {
    return ReleaseBuffer(device, handle, request);
  }
  return VELDRV_STATUS_INVALID_PARAMETER;
}

/* The FADT's other command bytes, each written to the same port: ACPI
 * enable and disable, S4BIOS, P-state control (offsets 52 to 55) and C-state
 * control (89, ACPI 2.0 and later). */
static const uint32_t kFadtCommandBytes[] = {52u, 53u, 54u, 55u, FADT_CST_CNT_OFFSET};

/* The firmware's SMI command port, from its own FADT. A firmware whose
 * other commands share the variable service's command byte gets no SMI:
 * the byte the driver writes would also ask for one of them. */
static int SmiCommandPort(VELDRV_DEVICE* device, uint16_t* port) {
  if (device->SmiPortState != SMI_PORT_KNOWN) {
    uint8_t fadt[FADT_CAPACITY];
    ZeroBytes(fadt, FADT_CAPACITY);
    const uint32_t length =
        device->Machine.AcpiTable(device->Machine.Context, VELDRV_FADT_SIGNATURE, fadt, FADT_CAPACITY);
    if (length < FADT_SMI_CMD_OFFSET + 4) {
      return 0;
    }
    const uint32_t value = Get32(fadt + FADT_SMI_CMD_OFFSET);
    /* 0 means the firmware takes no software SMIs. */
    if (Get32(fadt) != VELDRV_FADT_SIGNATURE || value == 0 || value > 0xFFFF) {
      return 0;
    }
    for (uint32_t i = 0; i < sizeof kFadtCommandBytes / sizeof kFadtCommandBytes[0]; ++i) {
      const uint32_t at = kFadtCommandBytes[i];
      if (at < length && at < FADT_CAPACITY && fadt[at] == VELDRV_SMI_COMMAND_BYTE) {
        return 0;
      }
    }
    device->SmiPort = (uint16_t)value;
    device->SmiPortState = SMI_PORT_KNOWN;
  }
  *port = device->SmiPort;
  return 1;
}

/* The length of the terminated UTF-16 name at text, its NUL included, when
 * the NUL lies within limit bytes; 0 otherwise. */
static uint32_t NameLength(const uint8_t* text, uint64_t limit) {
  for (uint64_t i = 0; i + 1 < limit; i += 2) {
    if (text[i] == 0 && text[i + 1] == 0) {
      return (uint32_t)(i + 2);
    }
  }
  return 0;
}

/* The variable read exactly as the program lays it out, and nothing else:
 * EAX the variable service's function, ECX and EDI 0; ESI a register block
 * whose first word is the same function, whose second names the variable
 * block in EBX and whose other 40 bytes are 0; the variable block naming a
 * name terminated within 256 bytes and at most 8192 bytes of data. All four
 * lie inside this handle's buffers and none overlaps another, so the
 * firmware reads and writes only what the caller owns, each part once. */
static int VariableReadIsOwn(VELDRV_HANDLE* handle, const DRV_SMI_REGISTERS* registers) {
  if (registers->Eax != VELDRV_SMI_GET_VARIABLE || registers->Ecx != 0 || registers->Edi != 0) {
    return 0;
  }
  VELDRV_BUFFER* registerBuffer = OwnBuffer(handle, registers->Esi, sizeof(SMI_REGISTER_BLOCK));
  VELDRV_BUFFER* variableBuffer = OwnBuffer(handle, registers->Ebx, sizeof(SMI_VARIABLE_BLOCK));
  if (registerBuffer == 0 || variableBuffer == 0) {
    return 0;
  }
  const uint8_t* block = KernelAddressOf(registerBuffer, registers->Esi);
  if (Get32(block) != VELDRV_SMI_GET_VARIABLE || Get32(block + 4) != registers->Ebx) {
    return 0;
  }
  for (uint32_t i = 8; i < sizeof(SMI_REGISTER_BLOCK); ++i) {
    if (block[i] != 0) {
      return 0;
    }
  }
  const uint8_t* variable = KernelAddressOf(variableBuffer, registers->Ebx);
  const uint64_t nameAddress = Get32(variable + 16);
  const uint64_t dataSize = Get32(variable + 24);
  const uint64_t dataAddress = Get32(variable + 28);
  if (dataSize > VELDRV_SMI_MAX_DATA_SIZE) {
    return 0;
  }
  VELDRV_BUFFER* name = OwnBuffer(handle, nameAddress, 2);
  if (name == 0 || OwnBuffer(handle, dataAddress, dataSize == 0 ? 1 : dataSize) == 0) {
    return 0;
  }
  const uint64_t room = name->Physical + name->Size - nameAddress;
  const uint32_t nameLength = NameLength(KernelAddressOf(name, nameAddress),
                                         room < VELDRV_SMI_MAX_NAME_BYTES ? room : VELDRV_SMI_MAX_NAME_BYTES);
  if (nameLength == 0) {
    return 0;
  }
  const VELDRV_RANGE parts[4] = {{registers->Esi, sizeof(SMI_REGISTER_BLOCK)},
                                 {registers->Ebx, sizeof(SMI_VARIABLE_BLOCK)},
                                 {nameAddress, nameLength},
                                 {dataAddress, dataSize == 0 ? 1 : dataSize}};
  for (uint32_t i = 0; i < 4; ++i) {
    for (uint32_t j = i + 1; j < 4; ++j) {
      if (Overlaps(parts[i].Address, parts[i].Length, parts[j].Address, parts[j].Length)) {
        return 0;
      }
    }
  }
  return 1;
}

static uint32_t SmiRequest(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const VELDRV_REQUEST* request,
                           uint32_t* information) {
  if (request->InputLength != sizeof(DRV_SMI_REGISTERS) || request->OutputLength != sizeof(DRV_SMI_REGISTERS)) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  DRV_SMI_REGISTERS registers;
  registers.Eax = Get32(request->Buffer);
  registers.Ebx = Get32(request->Buffer + 4);
  registers.Ecx = Get32(request->Buffer + 8);
  registers.Edx = Get32(request->Buffer + 12);
  registers.Esi = Get32(request->Buffer + 16);
  registers.Edi = Get32(request->Buffer + 20);
  uint16_t port = 0;
  if (!SmiCommandPort(device, &port) || registers.Edx != port || !VariableReadIsOwn(handle, &registers)) {
    return VELDRV_STATUS_ACCESS_DENIED;
  }
  if (!device->Machine.Smi(device->Machine.Context, &registers)) {
    return VELDRV_STATUS_IO_DEVICE_ERROR;
  }
  Put32(request->Buffer, registers.Eax);
  Put32(request->Buffer + 4, registers.Ebx);
  Put32(request->Buffer + 8, registers.Ecx);
  Put32(request->Buffer + 12, registers.Edx);
  Put32(request->Buffer + 16, registers.Esi);
  Put32(request->Buffer + 20, registers.Edi);
  *information = sizeof(DRV_SMI_REGISTERS);
  return VELDRV_STATUS_SUCCESS;
}

void VelDrvInitDevice(VELDRV_DEVICE* device, const VELDRV_MACHINE* machine) {
  ZeroBytes((uint8_t*)device, sizeof *device);
  device->Machine = *machine;
}

void VelDrvOpenHandle(VELDRV_HANDLE* handle) { ZeroBytes((uint8_t*)handle, sizeof *handle); }

void VelDrvCloseHandle(VELDRV_DEVICE* device, VELDRV_HANDLE* handle) {
  device->Machine.Lock(device->Machine.Context);
  for (uint32_t i = 0; i < VELDRV_MAX_BUFFERS; ++i) {
    if (handle->Buffers[i].Id != 0) {
      ReleaseSlot(device, &handle->Buffers[i]);
    }
  }
  device->Machine.Unlock(device->Machine.Context);
}

uint32_t VelDrvDeviceControl(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const VELDRV_REQUEST* request,
                             uint32_t* information) {
  *information = 0;
  if (!request->CallerMayReadAndWrite) {
    return VELDRV_STATUS_ACCESS_DENIED;
  }
  if (request->Buffer == 0 && (request->InputLength != 0 || request->OutputLength != 0)) {
    return VELDRV_STATUS_INVALID_PARAMETER;
  }
  uint32_t status = VELDRV_STATUS_INVALID_DEVICE_REQUEST;
  if (request->Code == VELDRV_IOCTL_READ_PHYSICAL_MEMORY || request->Code == VELDRV_IOCTL_WRITE_PHYSICAL_MEMORY) {
    /* These reach the caller's memory: they take the lock themselves. */
    status = MemoryRequest(device, handle, request, request->Code == VELDRV_IOCTL_WRITE_PHYSICAL_MEMORY, information);
  } else {
    device->Machine.Lock(device->Machine.Context);
    switch (request->Code) {
      case VELDRV_IOCTL_READ_PCI_CONFIG_BYTE:
        status = PciRequest(device, request, 1, information);
        break;
      case VELDRV_IOCTL_READ_PCI_CONFIG_WORD:
        status = PciRequest(device, request, 2, information);
        break;
      case VELDRV_IOCTL_READ_PCI_CONFIG_DWORD:
        status = PciRequest(device, request, 4, information);
        break;
      case VELDRV_IOCTL_PHYSICAL_BUFFER:
        status = BufferRequest(device, handle, request, information);
        break;
      case VELDRV_IOCTL_SOFTWARE_SMI:
        status = SmiRequest(device, handle, request, information);
        break;
      default:
        /* Everything else, the Windows 9x map and unmap requests included. */
        break;
    }
    device->Machine.Unlock(device->Machine.Context);
  }
  if (status != VELDRV_STATUS_SUCCESS) {
    *information = 0;
  }
  return status;
}
