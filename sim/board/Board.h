// A simulated mainboard: what the hardware access driver, the CPUID
// instruction and the storage stack of one machine answer. A board is plain
// data, built in code by tests or loaded from a board file (JSON, see
// docs/board-file.md); a BoardMachine (sim/board/BoardMachine.h) answers
// for it on the machine seam.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::sim {

using Bytes = std::vector<std::uint8_t>;
using Guid = std::array<std::uint8_t, 16>;  // EFI_GUID layout

struct BoardCpu {
  std::string Vendor = "GenuineIntel";   // 12 characters of leaf 0
  std::uint32_t Signature = 0x000906E9;  // leaf-1 EAX
  std::string Brand;                     // leaves 0x80000002-4, at most 48 characters
};

struct BoardPciFunction {
  std::uint8_t Bus = 0;
  std::uint8_t Device = 0;
  std::uint8_t Function = 0;
  Bytes Config;  // up to 256 bytes; the rest of the space reads 0
};

// A range the operating system reports as RAM: the driver reads no RAM
// but its own buffers.
struct BoardRamRange {
  std::uint64_t Address = 0;
  std::uint64_t Length = 0;
};

struct BoardMemoryRegion {
  std::uint64_t Address = 0;
  Bytes Data;
};

// The firmware's ACPI tables, in one of two forms.
//
// Laid out (Placed empty): raw tables the board lays out from Base. It
// builds an RSDT listing every table but the FACS and the DSDT, points each
// FADT's FIRMWARE_CTRL and DSDT fields at the FACS and DSDT given, fixes
// every checksum and writes an RSDP of revision 0 at Rsdp.
//
// Placed (Tables empty): the tables of a real machine at the addresses they
// had, its root pointer (any revision), RSDT and XSDT among them, byte for
// byte; the board builds and fixes nothing.
//
// Unplaced tables are kept with the board but lie nowhere in its memory:
// tables the system reported without an address, and tables it loaded at
// run time.
struct BoardAcpi {
  std::uint64_t Rsdp = 0xF0000;
  std::uint64_t Base = 0x7FF00000;
  std::vector<Bytes> Tables;
  std::vector<BoardMemoryRegion> Placed;
  std::vector<Bytes> Unplaced;
};

// The SMBIOS of the firmware: its entry point and structure table at their
// addresses, and the copy the system's firmware-table interface returns
// (GetSystemFirmwareTable('RSMB'): an 8-byte RawSMBIOSData header, then the
// table). Each part is optional.
struct BoardSmbios {
  std::optional<BoardMemoryRegion> EntryPoint;
  std::optional<BoardMemoryRegion> Table;
  Bytes FirmwareTable;
};

// Where a captured board came from, and what its machine did not show.
struct BoardCapture {
  std::string Source;                // "linux" or "windows"
  std::vector<std::string> Missing;  // one line for each part left out, with the reason
};

struct BoardVariable {
  std::u16string Name;
  Guid VendorGuid{};
  std::uint32_t Attributes = 0;
  Bytes Data;
};

// The firmware's SMI handler: a software SMI written to Port runs the
// variable service (common/DriverContract.h) over Variables.
struct BoardSmi {
  std::uint16_t Port = 0xB2;
  std::vector<BoardVariable> Variables;
};

enum class PartitionStyle : std::uint32_t { Mbr = 0, Gpt = 1, Raw = 2 };

struct BoardDisk {
  std::uint32_t Number = 0;
  PartitionStyle Style = PartitionStyle::Gpt;
  // A reader without a medium: its layout request fails.
  bool Medium = true;
  // Partitions in the drive layout; a layout that does not fit the
  // caller's buffer fails the request.
  std::uint32_t Partitions = 3;
};

struct BoardDisks {
  // The disk that holds the volume \\.\C:; -1 for a volume that reports
  // no disk extent.
  std::int32_t System = 0;
  std::vector<BoardDisk> List{BoardDisk{}};
};

struct BoardFaults {
  bool Driver = false;  // the driver's device cannot be opened
  bool Smi = false;     // the software-SMI request fails
  bool Alloc = false;   // contiguous buffers cannot be allocated
  bool Read = false;    // physical-memory reads fail
};

struct Board {
  std::string Name;
  BoardCpu Cpu;
  std::vector<BoardPciFunction> Pci;
  std::vector<BoardMemoryRegion> Memory;
  std::vector<BoardRamRange> SystemRam;
  std::optional<BoardAcpi> Acpi;
  std::optional<BoardSmbios> Smbios;
  std::optional<BoardSmi> Smi;
  BoardDisks Disks;
  BoardFaults Faults;
  std::optional<BoardCapture> Capture;
};

// A board file: the board, or false with a message naming the fault.
// Files a board file names are relative to the board file's folder.
bool LoadBoardFile(const std::string& path, Board& board, std::string& error);
// The same from the text of a board file; baseDirectory resolves the files it names.
bool ParseBoardJson(const std::string& text, const std::string& baseDirectory, Board& board, std::string& error);
// The same for a board that holds every byte inline (a captured board):
// a file it names is refused, not read.
bool ParseInlineBoardJson(const std::string& text, Board& board, std::string& error);
// The text of a board file that holds the board, every byte inline:
// ParseInlineBoardJson of it gives the board back.
std::string WriteBoardJson(const Board& board);

// Helpers for boards built in code (BoardBytes.cpp).
// "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}" (braces optional) in EFI_GUID layout.
std::optional<Guid> ParseGuid(const std::string& text);
// Hex digits, optionally separated by blanks; nullopt when malformed.
std::optional<Bytes> ParseHex(const std::string& text);
// An ACPI table: a 36-byte header with the signature, the length, the
// revision and OEM fields, followed by body; the checksum is left for the
// board's layout to fix.
Bytes MakeAcpiTable(const std::string& signature, const Bytes& body, std::uint8_t revision = 1);
// A FACS of 64 bytes.
Bytes MakeFacs();

}  // namespace kestrune::sim
