/* The contract between the program and its hardware access driver, in C so
 * that the driver (driver/), its request core and the program (through
 * common/DriverContract.h) share one definition: the device name, every I/O
 * control request code and the exact layout of every request record.
 *
 * All requests are DeviceIoControl calls on the driver's device handle with
 * device type 0x22 (FILE_DEVICE_UNKNOWN), METHOD_BUFFERED and
 * FILE_ANY_ACCESS. Fields are little-endian; a 64-bit value travels as its
 * low word followed by its high word. Input and output are the same buffer
 * wherever both are given. */
#ifndef KESTRUNE_DRIVER_VELDRVCONTRACT_H
#define KESTRUNE_DRIVER_VELDRVCONTRACT_H

#include <stdint.h>

/* CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS). */
#define VELDRV_IOCTL(function) ((0x22u << 16) | ((uint32_t)(function) << 2))

/* Windows 9x VxD only: map 256 bytes of physical memory / unmap them. The
 * kernel driver refuses both. */
#define VELDRV_IOCTL_MAP_PHYSICAL_MEMORY 0x222800u
#define VELDRV_IOCTL_UNMAP_PHYSICAL_MEMORY 0x222804u
/* Copy between physical memory and the caller's buffer (DRV_MEMORY_REQUEST). */
#define VELDRV_IOCTL_READ_PHYSICAL_MEMORY 0x222808u
#define VELDRV_IOCTL_WRITE_PHYSICAL_MEMORY 0x22280Cu
/* PCI configuration register reads of 8, 16 and 32 bits (DRV_PCI_REQUEST). */
#define VELDRV_IOCTL_READ_PCI_CONFIG_BYTE 0x222830u
#define VELDRV_IOCTL_READ_PCI_CONFIG_WORD 0x222838u
#define VELDRV_IOCTL_READ_PCI_CONFIG_DWORD 0x222840u
/* Allocate (with an output buffer) or release (without one) a physically
 * contiguous buffer below 4 GiB (DRV_PHYSICAL_BUFFER_REQUEST). */
#define VELDRV_IOCTL_PHYSICAL_BUFFER 0x222880u
/* Load the six registers, write AL to the I/O port in DX, return the
 * registers as the SMI handler left them (DRV_SMI_REGISTERS). */
#define VELDRV_IOCTL_SOFTWARE_SMI 0x222888u

/* Memory request units. The program always sends bytes. */
#define VELDRV_MEMORY_UNIT_BYTE 0u
#define VELDRV_MEMORY_UNIT_WORD 1u
#define VELDRV_MEMORY_UNIT_DWORD 2u

/* A PCI configuration read where no function answers, or outside a
 * function's space, reads all ones in the width read (1, 2 or 4 bytes). */
#define VELDRV_PCI_ALL_ONES(bytes) ((bytes) >= 4u ? 0xFFFFFFFFu : (1u << (8u * (bytes))) - 1u)

/* The FADT's signature, "FACP" read as a little-endian dword: the table
 * the driver reads the SMI command port from. */
#define VELDRV_FADT_SIGNATURE 0x50434146u

#define VELDRV_PHYSICAL_ADDRESS_REQUESTED 0xFFFFFFFFu
#define VELDRV_MAP_WINDOW_SIZE 256u

/* The firmware's variable service behind the software SMI: EAX =
 * VELDRV_SMI_GET_VARIABLE (AL is the command byte written to the SMI
 * command port), EBX = the variable block, EDX = the SMI command port, ESI =
 * the register block, both blocks in physically contiguous memory. */
#define VELDRV_SMI_GET_VARIABLE 0x000001EFu
#define VELDRV_SMI_COMMAND_BYTE 0xEFu
/* The largest variable read the program makes: a name of at most 256
 * bytes with its terminating NUL, at most 8192 bytes of data. */
#define VELDRV_SMI_MAX_NAME_BYTES 256u
#define VELDRV_SMI_MAX_DATA_SIZE 8192u

/* The most ACPI tables the program lists when it walks the firmware's
 * tables; the driver follows no more entries of a root table than this. */
#define VELDRV_MAX_LISTED_TABLES 1024u

/* 0x222808 / 0x22280C, 24 bytes in and out. */
typedef struct DRV_MEMORY_REQUEST {
  uint64_t PhysicalAddress;
  uint32_t Length;
  uint32_t Unit;
  /* The caller's buffer: its address in the calling process (a 32-bit
   * pointer with high word 0 in a 32-bit program). */
  uint64_t BufferAddress;
} DRV_MEMORY_REQUEST;

/* 0x222830 / 0x222838 / 0x222840, 12 bytes in and out; Value holds the
 * register zero-extended. */
typedef struct DRV_PCI_REQUEST {
  uint8_t Bus;
  uint8_t Device;
  uint8_t Function;
  uint8_t Unused0;
  uint16_t Register;
  uint16_t Unused1;
  uint32_t Value;
} DRV_PCI_REQUEST;

/* 0x222880, 16 bytes. Allocation: Size and PhysicalAddress 0xFFFFFFFF in,
 * the same record with the address and the handle out. Release: Size and
 * Handle in, no output buffer. */
typedef struct DRV_PHYSICAL_BUFFER_REQUEST {
  uint32_t Size;
  uint32_t PhysicalAddress;
  uint8_t Handle[8];
} DRV_PHYSICAL_BUFFER_REQUEST;

/* 0x222888, 24 bytes in and out. */
typedef struct DRV_SMI_REGISTERS {
  uint32_t Eax;
  uint32_t Ebx;
  uint32_t Ecx;
  uint32_t Edx;
  uint32_t Esi;
  uint32_t Edi;
} DRV_SMI_REGISTERS;

/* 0x222800 in: a physical address, a multiple of 256; out: the linear
 * address of at least 256 readable and writable bytes there, 0 on failure.
 * 0x222804 in: such a linear address; no output. */
typedef struct DRV_MAP_REQUEST {
  uint32_t Address;
} DRV_MAP_REQUEST;

/* The variable block, 32 bytes in physical memory. */
typedef struct SMI_VARIABLE_BLOCK {
  uint8_t VendorGuid[16]; /* EFI_GUID layout */
  uint32_t NameAddress;   /* UTF-16 name with its terminating NUL */
  uint32_t Attributes;    /* in: the caller's; out: the variable's */
  uint32_t DataSize;      /* in: the caller's buffer; out: the variable's size */
  uint32_t DataAddress;
} SMI_VARIABLE_BLOCK;

/* The register block, 48 bytes in physical memory. */
typedef struct SMI_REGISTER_BLOCK {
  uint32_t Eax;                  /* in: VELDRV_SMI_GET_VARIABLE; out: the handler's EAX */
  uint32_t VariableBlockAddress; /* in */
  uint32_t Unused[10];
} SMI_REGISTER_BLOCK;

#define VELDRV_STATIC_ASSERT(condition, name) typedef char VelDrvStaticAssert_##name[(condition) ? 1 : -1]
VELDRV_STATIC_ASSERT(sizeof(DRV_MEMORY_REQUEST) == 24, MemoryRequest);
VELDRV_STATIC_ASSERT(sizeof(DRV_PCI_REQUEST) == 12, PciRequest);
VELDRV_STATIC_ASSERT(sizeof(DRV_PHYSICAL_BUFFER_REQUEST) == 16, PhysicalBufferRequest);
VELDRV_STATIC_ASSERT(sizeof(DRV_SMI_REGISTERS) == 24, SmiRegisters);
VELDRV_STATIC_ASSERT(sizeof(DRV_MAP_REQUEST) == 4, MapRequest);
VELDRV_STATIC_ASSERT(sizeof(SMI_VARIABLE_BLOCK) == 32, VariableBlock);
VELDRV_STATIC_ASSERT(sizeof(SMI_REGISTER_BLOCK) == 48, RegisterBlock);

#endif
