// The contract between the program and its hardware access driver: the
// device name, every I/O control request code and the exact layout of every
// request record. The user-mode side (TReadWrite, TVariable) and the
// simulated board both build on this header, so a change here changes both.
//
// All requests are DeviceIoControl calls on the driver's device handle with
// device type 0x22 (FILE_DEVICE_UNKNOWN), METHOD_BUFFERED and
// FILE_ANY_ACCESS. Fields are little-endian; a 64-bit value travels as its
// low word followed by its high word. Input and output are the same buffer
// wherever both are given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune {

// Service name, display name and device base name of the driver.
inline constexpr const char* kDriverName = "VelDrv101";

// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr std::uint32_t DriverIoctl(std::uint32_t function) { return (0x22u << 16) | (function << 2); }

// Windows 9x VxD only: map 256 bytes of physical memory / unmap them.
inline constexpr std::uint32_t kIoctlMapPhysicalMemory = 0x222800;
inline constexpr std::uint32_t kIoctlUnmapPhysicalMemory = 0x222804;
// Copy between physical memory and the caller's buffer (DRV_MEMORY_REQUEST).
inline constexpr std::uint32_t kIoctlReadPhysicalMemory = 0x222808;
inline constexpr std::uint32_t kIoctlWritePhysicalMemory = 0x22280C;
// PCI configuration register reads of 8, 16 and 32 bits (DRV_PCI_REQUEST).
inline constexpr std::uint32_t kIoctlReadPciConfigByte = 0x222830;
inline constexpr std::uint32_t kIoctlReadPciConfigWord = 0x222838;
inline constexpr std::uint32_t kIoctlReadPciConfigDword = 0x222840;
// Allocate (with an output buffer) or release (without one) a physically
// contiguous buffer below 4 GiB (DRV_PHYSICAL_BUFFER_REQUEST).
inline constexpr std::uint32_t kIoctlPhysicalBuffer = 0x222880;
// Load the six registers, write AL to the I/O port in DX, return the
// registers as the SMI handler left them (DRV_SMI_REGISTERS).
inline constexpr std::uint32_t kIoctlSoftwareSmi = 0x222888;

static_assert(DriverIoctl(0xA00) == kIoctlMapPhysicalMemory);
static_assert(DriverIoctl(0xA01) == kIoctlUnmapPhysicalMemory);
static_assert(DriverIoctl(0xA02) == kIoctlReadPhysicalMemory);
static_assert(DriverIoctl(0xA03) == kIoctlWritePhysicalMemory);
static_assert(DriverIoctl(0xA0C) == kIoctlReadPciConfigByte);
static_assert(DriverIoctl(0xA0E) == kIoctlReadPciConfigWord);
static_assert(DriverIoctl(0xA10) == kIoctlReadPciConfigDword);
static_assert(DriverIoctl(0xA20) == kIoctlPhysicalBuffer);
static_assert(DriverIoctl(0xA22) == kIoctlSoftwareSmi);

// Memory request units. The program always sends kMemoryUnitByte.
inline constexpr std::uint32_t kMemoryUnitByte = 0;
inline constexpr std::uint32_t kMemoryUnitWord = 1;
inline constexpr std::uint32_t kMemoryUnitDword = 2;

// 0x222808 / 0x22280C, 24 bytes in and out.
struct DRV_MEMORY_REQUEST {
  std::uint64_t PhysicalAddress;
  std::uint32_t Length;
  std::uint32_t Unit;
  // The caller's buffer: its address in the calling process (a 32-bit
  // pointer with high word 0 in the 32-bit program).
  std::uint64_t BufferAddress;
};
static_assert(sizeof(DRV_MEMORY_REQUEST) == 24);
static_assert(offsetof(DRV_MEMORY_REQUEST, PhysicalAddress) == 0);
static_assert(offsetof(DRV_MEMORY_REQUEST, Length) == 8);
static_assert(offsetof(DRV_MEMORY_REQUEST, Unit) == 12);
static_assert(offsetof(DRV_MEMORY_REQUEST, BufferAddress) == 16);

// 0x222830 / 0x222838 / 0x222840, 12 bytes in and out; Value holds the
// register zero-extended.
struct DRV_PCI_REQUEST {
  std::uint8_t Bus;
  std::uint8_t Device;
  std::uint8_t Function;
  std::uint8_t Unused0;
  std::uint16_t Register;
  std::uint16_t Unused1;
  std::uint32_t Value;
};
static_assert(sizeof(DRV_PCI_REQUEST) == 12);
static_assert(offsetof(DRV_PCI_REQUEST, Bus) == 0);
static_assert(offsetof(DRV_PCI_REQUEST, Device) == 1);
static_assert(offsetof(DRV_PCI_REQUEST, Function) == 2);
static_assert(offsetof(DRV_PCI_REQUEST, Register) == 4);
static_assert(offsetof(DRV_PCI_REQUEST, Value) == 8);

// 0x222880, 16 bytes. Allocation: Size and PhysicalAddress 0xFFFFFFFF in,
// the same record with the address and the handle out. Release: Size and
// Handle in, no output buffer.
struct DRV_PHYSICAL_BUFFER_REQUEST {
  std::uint32_t Size;
  std::uint32_t PhysicalAddress;
  std::uint8_t Handle[8];
};
static_assert(sizeof(DRV_PHYSICAL_BUFFER_REQUEST) == 16);
static_assert(offsetof(DRV_PHYSICAL_BUFFER_REQUEST, Size) == 0);
static_assert(offsetof(DRV_PHYSICAL_BUFFER_REQUEST, PhysicalAddress) == 4);
static_assert(offsetof(DRV_PHYSICAL_BUFFER_REQUEST, Handle) == 8);
inline constexpr std::uint32_t kPhysicalAddressRequested = 0xFFFFFFFFu;

// 0x222888, 24 bytes in and out.
struct DRV_SMI_REGISTERS {
  std::uint32_t Eax;
  std::uint32_t Ebx;
  std::uint32_t Ecx;
  std::uint32_t Edx;
  std::uint32_t Esi;
  std::uint32_t Edi;
};
static_assert(sizeof(DRV_SMI_REGISTERS) == 24);
static_assert(offsetof(DRV_SMI_REGISTERS, Eax) == 0);
static_assert(offsetof(DRV_SMI_REGISTERS, Ebx) == 4);
static_assert(offsetof(DRV_SMI_REGISTERS, Ecx) == 8);
static_assert(offsetof(DRV_SMI_REGISTERS, Edx) == 12);
static_assert(offsetof(DRV_SMI_REGISTERS, Esi) == 16);
static_assert(offsetof(DRV_SMI_REGISTERS, Edi) == 20);

// 0x222800 in: a physical address, a multiple of 256; out: the linear
// address of at least 256 readable and writable bytes there, 0 on failure.
// 0x222804 in: such a linear address; no output.
struct DRV_MAP_REQUEST {
  std::uint32_t Address;
};
static_assert(sizeof(DRV_MAP_REQUEST) == 4);
inline constexpr std::uint32_t kMapWindowSize = 256;

// The firmware's variable service behind the software SMI. The caller puts
// a register block and a variable block in physically contiguous memory and
// raises the SMI with EAX = kSmiGetVariable (AL is the command byte written
// to the SMI command port), EBX = the variable block, EDX = the SMI command
// port and ESI = the register block. The handler answers in the register
// block's first word, whose bits 8 to 15 are the status.
inline constexpr std::uint32_t kSmiGetVariable = 0x000001EF;
inline constexpr std::uint8_t kSmiCommandByte = 0xEF;
inline constexpr std::uint8_t kSmiStatusSuccess = 0x00;
inline constexpr std::uint8_t kSmiStatusInvalidParameter = 0x82;
inline constexpr std::uint8_t kSmiStatusUnsupported = 0x83;
// EFI_BUFFER_TOO_SMALL with bit 7 set: the variable's size is in the
// variable block.
inline constexpr std::uint8_t kSmiStatusBufferTooSmall = 0x85;
inline constexpr std::uint8_t kSmiStatusNotFound = 0x8E;

constexpr std::uint8_t SmiStatusOf(std::uint32_t eax) { return static_cast<std::uint8_t>((eax >> 8) & 0xFF); }

// 32 bytes in physical memory.
struct SMI_VARIABLE_BLOCK {
  std::uint8_t VendorGuid[16];  // EFI_GUID layout
  std::uint32_t NameAddress;    // UTF-16 name with its terminating NUL
  std::uint32_t Attributes;     // in: the caller's; out: the variable's
  std::uint32_t DataSize;       // in: the caller's buffer; out: the variable's size
  std::uint32_t DataAddress;
};
static_assert(sizeof(SMI_VARIABLE_BLOCK) == 32);
static_assert(offsetof(SMI_VARIABLE_BLOCK, VendorGuid) == 0);
static_assert(offsetof(SMI_VARIABLE_BLOCK, NameAddress) == 16);
static_assert(offsetof(SMI_VARIABLE_BLOCK, Attributes) == 20);
static_assert(offsetof(SMI_VARIABLE_BLOCK, DataSize) == 24);
static_assert(offsetof(SMI_VARIABLE_BLOCK, DataAddress) == 28);

// 48 bytes in physical memory.
struct SMI_REGISTER_BLOCK {
  std::uint32_t Eax;                   // in: kSmiGetVariable; out: the handler's EAX
  std::uint32_t VariableBlockAddress;  // in
  std::uint32_t Unused[10];
};
static_assert(sizeof(SMI_REGISTER_BLOCK) == 48);
static_assert(offsetof(SMI_REGISTER_BLOCK, Eax) == 0);
static_assert(offsetof(SMI_REGISTER_BLOCK, VariableBlockAddress) == 4);

// Sizes of the four physical buffers a variable read uses.
inline constexpr std::uint32_t kSmiRegisterBufferSize = 256;
inline constexpr std::uint32_t kSmiVariableBufferSize = 256;
inline constexpr std::uint32_t kSmiNameBufferSize = 256;
inline constexpr std::uint32_t kSmiDataBufferSize = 8192;

}  // namespace kestrune
