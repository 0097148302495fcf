// ACPI table discovery over the machine: the root pointer from a scan of
// the BIOS area or from the registry's copy of the RSDT, and the walk that
// lists every table reachable from it. TAcpiBase runs these on the
// process-wide TReadWrite; tests and fuzz targets on one over a memory image.
#pragma once

#include <memory>
#include <vector>

#include "common/DriverContract.h"
#include "hw/AcpiTables.h"
#include "hw/Readwrite.h"
#include "hw/Trace.h"

namespace kestrune::acpi {

using TableList = std::vector<std::unique_ptr<TableEntry>>;

// The walk lists at most this many tables; real firmware has a few dozen.
inline constexpr std::size_t kMaxListedTables = VELDRV_MAX_LISTED_TABLES;

// Validates the root pointer at `address`; a valid one appends two entries
// to `tables`: the root pointer and the RSDT.
bool AddRootPointer(TReadWrite& machine, std::uint64_t address, TableList& tables);

// Searches 0x20000 bytes from `start` in steps of 16 for "RSD PTR " and
// validates the first match only.
bool FindRootPointer(TReadWrite& machine, std::uint64_t start, TableList& tables);

// The memory scan: FindRootPointer from 0xE0000.
bool ScanMemoryForRootPointer(TReadWrite& machine, TableList& tables);

// The operating system's copy of the root table: the data of value 0 of
// the key three subkey levels (always subkey 0) below
// "Hardware\\ACPI\\RSDT", up to 2048 bytes (sys::IRegistry); false when
// any step fails.
bool ReadRegistryRootTableCopy(std::vector<std::uint8_t>* data);

// The registry route: follows "Hardware\\ACPI\\RSDT" down three subkey
// levels (always subkey 0), reads value 0 there, and searches for the root
// pointer near the first table that copy lists (sys::IRegistry).
bool FindRootPointerThroughRegistry(TReadWrite& machine, TableList& tables);

// Visits entries 1, 2, ... while the list grows: reads each header, sets the
// entry's length and runs the table's decoder. A header that cannot be read
// or whose length cannot be trusted leaves the entry's length 0 and is not
// decoded; a table at an address already decoded is not decoded again, so
// tables that list each other end the walk.
void BuildTableList(TReadWrite& machine, TableList& tables, Findings& findings, ITraceSink& trace);

}  // namespace kestrune::acpi
