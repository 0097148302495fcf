/* The request core of the hardware access driver: every request of the
 * contract (driver/VelDrvContract.h) is checked and answered here, in
 * portable C over a small set of machine primitives. The kernel driver
 * (driver/VelDrv.c) supplies the primitives with the kernel's functions;
 * the simulated board supplies them with its memory, PCI space, SMI handler
 * and RAM ranges, so every test exercises this same code.
 *
 * The policy, each point refused with a failing status:
 * - nothing for a handle opened without read and write access;
 * - exact input and output lengths for every request, checked before any
 *   field is read; the information length is exactly what was written;
 * - physical reads only inside this handle's buffers (through their kernel
 *   address), or, for memory that the operating system does not report as
 *   RAM, inside one of the ranges the firmware publishes (the BIOS area
 *   0xE0000-0xFFFFF, the ACPI tables from the root pointers and the SMBIOS
 *   tables from the entry points found there, the search window of the
 *   registry's root table copy); at most 16 MiB a request; RAM is never
 *   mapped, device memory only read-only;
 * - physical writes only inside this handle's buffers;
 * - the caller's buffer address must fit the caller's word size and is
 *   touched only through the copy primitives, never under the lock;
 * - contiguous buffers of at most 64 KiB, 16 per handle and 1 MiB for all
 *   handles together, zero-filled when
 *   allocated and when released, released only by their handle and all
 *   released when it closes;
 * - the software SMI only to the firmware's own SMI command port (from its
 *   FADT, learnt here; none when the FADT's other command bytes share the
 *   variable service's), and only as the program's variable read: the
 *   function, zeroed registers and reserved bytes, the register block, the
 *   variable block, the name and the data inside this handle's buffers and
 *   apart from one another, the name and the data no larger than the
 *   program's own;
 * - PCI configuration reads only (a function that does not exist reads all
 *   ones). */
#ifndef KESTRUNE_DRIVER_REQUESTCORE_H
#define KESTRUNE_DRIVER_REQUESTCORE_H

#include <stdint.h>

#include "driver/VelDrvContract.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results, with the values of the corresponding NTSTATUS codes. */
#define VELDRV_STATUS_SUCCESS 0x00000000u
#define VELDRV_STATUS_INFO_LENGTH_MISMATCH 0xC0000004u
#define VELDRV_STATUS_INVALID_PARAMETER 0xC000000Du
#define VELDRV_STATUS_INVALID_DEVICE_REQUEST 0xC0000010u
#define VELDRV_STATUS_ACCESS_DENIED 0xC0000022u
#define VELDRV_STATUS_QUOTA_EXCEEDED 0xC0000044u
#define VELDRV_STATUS_INSUFFICIENT_RESOURCES 0xC000009Au
#define VELDRV_STATUS_INVALID_USER_BUFFER 0xC00000E8u
#define VELDRV_STATUS_IO_DEVICE_ERROR 0xC0000185u

#define VELDRV_MAX_TRANSFER 0x01000000u    /* 16 MiB a memory request */
#define VELDRV_MAX_BUFFER_SIZE 0x00010000u /* 64 KiB a contiguous buffer */
#define VELDRV_MAX_BUFFERS 16u             /* contiguous buffers a handle */
#define VELDRV_MAX_DEVICE_PAGES 256u       /* 4 KiB pages of contiguous buffers, all handles together */
#define VELDRV_PAGE_SIZE 4096u
#define VELDRV_MAX_RAM_RANGES 64u
#define VELDRV_MAX_FIRMWARE_RANGES 256u /* what the firmware publishes, below */
#define VELDRV_BIOS_AREA_START 0x000E0000u
#define VELDRV_BIOS_AREA_END 0x00100000u
#define VELDRV_LOW_MEMORY_END 0x00100000u

typedef struct VELDRV_RANGE {
  uint64_t Address;
  uint64_t Length;
} VELDRV_RANGE;

/* The machine under the core. Every primitive returns nonzero on success. */
typedef struct VELDRV_MACHINE {
  void* Context;
  /* Serialise the requests of every handle. The core touches no caller
   * memory while it holds the lock. */
  void (*Lock)(void* context);
  void (*Unlock)(void* context);
  /* System RAM as the operating system reports it: up to capacity ranges
   * into ranges; the result is the number of ranges, or more than capacity
   * when they do not fit (the core then treats everything as RAM). */
  uint32_t (*RamRanges)(void* context, VELDRV_RANGE* ranges, uint32_t capacity);
  /* Maps memory that is not RAM for reading; NULL on failure. */
  const volatile uint8_t* (*MapDevice)(void* context, uint64_t address, uint32_t length);
  void (*UnmapDevice)(void* context, const volatile uint8_t* mapped, uint32_t length);
  /* PCI configuration read; the number of bytes read (less than length:
   * no such function). */
  uint32_t (*ReadPciConfig)(void* context, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, uint8_t* out,
                            uint32_t length);
  /* The operating system's copy of the firmware's root table (RSDT or
   * XSDT), which Windows keeps in the registry under
   * HKLM\HARDWARE\ACPI\RSDT: up to capacity bytes into buffer; the result
   * is its length, 0 when there is none. */
  uint32_t (*RootTableCopy)(void* context, uint8_t* buffer, uint32_t capacity);
  /* Physically contiguous memory below 4 GiB. */
  int (*AllocContiguous)(void* context, uint32_t size, uint8_t** kernelAddress, uint64_t* physicalAddress);
  void (*FreeContiguous)(void* context, uint8_t* kernelAddress, uint32_t size);
  /* The firmware's ACPI table with this signature ("FACP" as 0x50434146):
   * up to capacity bytes into buffer; the result is the table's length, 0
   * when there is none. */
  uint32_t (*AcpiTable)(void* context, uint32_t signature, uint8_t* buffer, uint32_t capacity);
  /* Loads the six registers, writes AL to the port in DX, stores the
   * registers as the SMI handler left them. */
  int (*Smi)(void* context, DRV_SMI_REGISTERS* registers);
  /* Copies to and from the caller's buffer, whose address the core has
   * checked against the caller's word size; the primitive validates it for
   * the calling process and fails instead of faulting. */
  int (*CopyToCaller)(void* context, uint64_t callerAddress, const uint8_t* source, uint32_t length);
  int (*CopyFromCaller)(void* context, uint8_t* destination, uint64_t callerAddress, uint32_t length);
} VELDRV_MACHINE;

typedef struct VELDRV_DEVICE {
  VELDRV_MACHINE Machine;
  uint64_t LastBufferId;
  /* Pages of the contiguous buffers of every handle. */
  uint32_t BufferPages;
  /* 0 not yet learnt, 1 known, 2 the firmware has none. */
  uint32_t SmiPortState;
  uint16_t SmiPort;
  VELDRV_RANGE Ram[VELDRV_MAX_RAM_RANGES];
  /* What physical reads outside the handles' buffers may reach, learnt
   * from the firmware at the first such read (FirmwareState 1): the BIOS
   * area, ACPI root pointers and the tables they lead to, SMBIOS entry
   * points' tables, the root pointer search window of the registry's copy
   * of the root table. FirmwareIsTable marks the ACPI tables, whose
   * contents lead on. */
  uint32_t FirmwareState;
  uint32_t FirmwareCount;
  VELDRV_RANGE Firmware[VELDRV_MAX_FIRMWARE_RANGES];
  uint8_t FirmwareIsTable[VELDRV_MAX_FIRMWARE_RANGES];
} VELDRV_DEVICE;

typedef struct VELDRV_BUFFER {
  uint64_t Id; /* 0: slot free */
  uint8_t* Kernel;
  uint64_t Physical;
  uint32_t Size;
} VELDRV_BUFFER;

/* One open of the device. */
typedef struct VELDRV_HANDLE {
  VELDRV_BUFFER Buffers[VELDRV_MAX_BUFFERS];
} VELDRV_HANDLE;

typedef struct VELDRV_REQUEST {
  uint32_t Code;
  /* The request buffer: input and output, max(InputLength, OutputLength)
   * bytes (METHOD_BUFFERED). */
  uint8_t* Buffer;
  uint32_t InputLength;
  uint32_t OutputLength;
  /* The caller is a 32-bit process: its addresses lie below 4 GiB. */
  int CallerIs32Bit;
  /* The handle was opened for reading and writing
   * (IoValidateDeviceIoControlAccess): nothing is answered otherwise. */
  int CallerMayReadAndWrite;
} VELDRV_REQUEST;

void VelDrvInitDevice(VELDRV_DEVICE* device, const VELDRV_MACHINE* machine);
void VelDrvOpenHandle(VELDRV_HANDLE* handle);
/* Releases every buffer of the handle. */
void VelDrvCloseHandle(VELDRV_DEVICE* device, VELDRV_HANDLE* handle);
/* Answers one request; *information is the number of bytes written to the
 * request buffer (0 unless the result is success). */
uint32_t VelDrvDeviceControl(VELDRV_DEVICE* device, VELDRV_HANDLE* handle, const VELDRV_REQUEST* request,
                             uint32_t* information);

#ifdef __cplusplus
}
#endif

#endif
