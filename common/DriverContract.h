// The contract between the program and its hardware access driver: the
// device name, every I/O control request code and the exact layout of every
// request record. The records and codes are defined once, in C, in
// driver/VelDrvContract.h, which the driver and its request core compile
// too; this header gives them their C++ names. The user-mode side
// (TReadWrite, TVariable), the request core and the simulated board all
// build on it, so a change here changes every side.
//
// All requests are DeviceIoControl calls on the driver's device handle with
// device type 0x22 (FILE_DEVICE_UNKNOWN), METHOD_BUFFERED and
// FILE_ANY_ACCESS. Fields are little-endian; a 64-bit value travels as its
// low word followed by its high word. Input and output are the same buffer
// wherever both are given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/VelDrvContract.h"

namespace kestrune {

// Service name, display name and device base name of the driver.
inline constexpr const char* kDriverName = "VelDrv101";

// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr std::uint32_t DriverIoctl(std::uint32_t function) { return (0x22u << 16) | (function << 2); }

// Windows 9x VxD only: map 256 bytes of physical memory / unmap them.
inline constexpr std::uint32_t kIoctlMapPhysicalMemory = VELDRV_IOCTL_MAP_PHYSICAL_MEMORY;
inline constexpr std::uint32_t kIoctlUnmapPhysicalMemory = VELDRV_IOCTL_UNMAP_PHYSICAL_MEMORY;
// Copy between physical memory and the caller's buffer (DRV_MEMORY_REQUEST).
inline constexpr std::uint32_t kIoctlReadPhysicalMemory = VELDRV_IOCTL_READ_PHYSICAL_MEMORY;
inline constexpr std::uint32_t kIoctlWritePhysicalMemory = VELDRV_IOCTL_WRITE_PHYSICAL_MEMORY;
// PCI configuration register reads of 8, 16 and 32 bits (DRV_PCI_REQUEST).
inline constexpr std::uint32_t kIoctlReadPciConfigByte = VELDRV_IOCTL_READ_PCI_CONFIG_BYTE;
inline constexpr std::uint32_t kIoctlReadPciConfigWord = VELDRV_IOCTL_READ_PCI_CONFIG_WORD;
inline constexpr std::uint32_t kIoctlReadPciConfigDword = VELDRV_IOCTL_READ_PCI_CONFIG_DWORD;
// Allocate (with an output buffer) or release (without one) a physically
// contiguous buffer below 4 GiB (DRV_PHYSICAL_BUFFER_REQUEST).
inline constexpr std::uint32_t kIoctlPhysicalBuffer = VELDRV_IOCTL_PHYSICAL_BUFFER;
// Load the six registers, write AL to the I/O port in DX, return the
// registers as the SMI handler left them (DRV_SMI_REGISTERS).
inline constexpr std::uint32_t kIoctlSoftwareSmi = VELDRV_IOCTL_SOFTWARE_SMI;

static_assert(DriverIoctl(0xA00) == kIoctlMapPhysicalMemory);
static_assert(DriverIoctl(0xA01) == kIoctlUnmapPhysicalMemory);
static_assert(DriverIoctl(0xA02) == kIoctlReadPhysicalMemory);
static_assert(DriverIoctl(0xA03) == kIoctlWritePhysicalMemory);
static_assert(DriverIoctl(0xA0C) == kIoctlReadPciConfigByte);
static_assert(DriverIoctl(0xA0E) == kIoctlReadPciConfigWord);
static_assert(DriverIoctl(0xA10) == kIoctlReadPciConfigDword);
static_assert(DriverIoctl(0xA20) == kIoctlPhysicalBuffer);
static_assert(DriverIoctl(0xA22) == kIoctlSoftwareSmi);

// A PCI configuration read where no function answers reads all ones in the
// width read (1, 2 or 4 bytes).
constexpr std::uint32_t PciAllOnes(std::uint32_t bytes) { return VELDRV_PCI_ALL_ONES(bytes); }
inline constexpr std::uint32_t kPciAllOnes = PciAllOnes(4);
static_assert(PciAllOnes(1) == 0xFF && PciAllOnes(2) == 0xFFFF && kPciAllOnes == 0xFFFFFFFFu);

// The FADT's signature: "FACP", and as a little-endian dword (the firmware
// table provider's and the driver's form).
inline constexpr const char* kFadtSignatureText = "FACP";
inline constexpr std::uint32_t kFadtSignature = VELDRV_FADT_SIGNATURE;
static_assert(kFadtSignature == ('F' | 'A' << 8 | 'C' << 16 | static_cast<std::uint32_t>('P') << 24));

// Memory request units. The program always sends kMemoryUnitByte.
inline constexpr std::uint32_t kMemoryUnitByte = VELDRV_MEMORY_UNIT_BYTE;
inline constexpr std::uint32_t kMemoryUnitWord = VELDRV_MEMORY_UNIT_WORD;
inline constexpr std::uint32_t kMemoryUnitDword = VELDRV_MEMORY_UNIT_DWORD;

// 0x222808 / 0x22280C, 24 bytes in and out.
using ::DRV_MEMORY_REQUEST;
static_assert(sizeof(DRV_MEMORY_REQUEST) == 24);
static_assert(offsetof(DRV_MEMORY_REQUEST, PhysicalAddress) == 0);
static_assert(offsetof(DRV_MEMORY_REQUEST, Length) == 8);
static_assert(offsetof(DRV_MEMORY_REQUEST, Unit) == 12);
static_assert(offsetof(DRV_MEMORY_REQUEST, BufferAddress) == 16);

// 0x222830 / 0x222838 / 0x222840, 12 bytes in and out; Value holds the
// register zero-extended.
using ::DRV_PCI_REQUEST;
static_assert(sizeof(DRV_PCI_REQUEST) == 12);
static_assert(offsetof(DRV_PCI_REQUEST, Bus) == 0);
static_assert(offsetof(DRV_PCI_REQUEST, Device) == 1);
static_assert(offsetof(DRV_PCI_REQUEST, Function) == 2);
static_assert(offsetof(DRV_PCI_REQUEST, Register) == 4);
static_assert(offsetof(DRV_PCI_REQUEST, Value) == 8);

// 0x222880, 16 bytes. Allocation: Size and PhysicalAddress 0xFFFFFFFF in,
// the same record with the address and the handle out. Release: Size and
// Handle in, no output buffer.
using ::DRV_PHYSICAL_BUFFER_REQUEST;
static_assert(sizeof(DRV_PHYSICAL_BUFFER_REQUEST) == 16);
static_assert(offsetof(DRV_PHYSICAL_BUFFER_REQUEST, Size) == 0);
static_assert(offsetof(DRV_PHYSICAL_BUFFER_REQUEST, PhysicalAddress) == 4);
static_assert(offsetof(DRV_PHYSICAL_BUFFER_REQUEST, Handle) == 8);
inline constexpr std::uint32_t kPhysicalAddressRequested = VELDRV_PHYSICAL_ADDRESS_REQUESTED;

// 0x222888, 24 bytes in and out.
using ::DRV_SMI_REGISTERS;
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
using ::DRV_MAP_REQUEST;
static_assert(sizeof(DRV_MAP_REQUEST) == 4);
inline constexpr std::uint32_t kMapWindowSize = VELDRV_MAP_WINDOW_SIZE;

// The firmware's variable service behind the software SMI. The caller puts
// a register block and a variable block in physically contiguous memory and
// raises the SMI with EAX = kSmiGetVariable (AL is the command byte written
// to the SMI command port), EBX = the variable block, EDX = the SMI command
// port and ESI = the register block. The handler answers in the register
// block's first word, whose bits 8 to 15 are the status.
inline constexpr std::uint32_t kSmiGetVariable = VELDRV_SMI_GET_VARIABLE;
inline constexpr std::uint8_t kSmiCommandByte = VELDRV_SMI_COMMAND_BYTE;
inline constexpr std::uint8_t kSmiStatusSuccess = 0x00;
inline constexpr std::uint8_t kSmiStatusInvalidParameter = 0x82;
inline constexpr std::uint8_t kSmiStatusUnsupported = 0x83;
// EFI_BUFFER_TOO_SMALL with bit 7 set: the variable's size is in the
// variable block.
inline constexpr std::uint8_t kSmiStatusBufferTooSmall = 0x85;
inline constexpr std::uint8_t kSmiStatusNotFound = 0x8E;

constexpr std::uint8_t SmiStatusOf(std::uint32_t eax) { return static_cast<std::uint8_t>((eax >> 8) & 0xFF); }

// 32 bytes in physical memory.
using ::SMI_VARIABLE_BLOCK;
static_assert(sizeof(SMI_VARIABLE_BLOCK) == 32);
static_assert(offsetof(SMI_VARIABLE_BLOCK, VendorGuid) == 0);
static_assert(offsetof(SMI_VARIABLE_BLOCK, NameAddress) == 16);
static_assert(offsetof(SMI_VARIABLE_BLOCK, Attributes) == 20);
static_assert(offsetof(SMI_VARIABLE_BLOCK, DataSize) == 24);
static_assert(offsetof(SMI_VARIABLE_BLOCK, DataAddress) == 28);

// 48 bytes in physical memory.
using ::SMI_REGISTER_BLOCK;
static_assert(sizeof(SMI_REGISTER_BLOCK) == 48);
static_assert(offsetof(SMI_REGISTER_BLOCK, Eax) == 0);
static_assert(offsetof(SMI_REGISTER_BLOCK, VariableBlockAddress) == 4);

// Sizes of the four physical buffers a variable read uses.
inline constexpr std::uint32_t kSmiRegisterBufferSize = 256;
inline constexpr std::uint32_t kSmiVariableBufferSize = 256;
inline constexpr std::uint32_t kSmiNameBufferSize = 256;
inline constexpr std::uint32_t kSmiDataBufferSize = 8192;

}  // namespace kestrune
