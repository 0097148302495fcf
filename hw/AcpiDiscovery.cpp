#include "hw/AcpiDiscovery.h"

#include <set>

#include "hw/Readwrite.h"
#include "sys/Registry.h"
#include "sys/Seam.h"

namespace kestrune::acpi {

namespace {

constexpr std::uint64_t kBiosAreaStart = 0xE0000;
constexpr std::uint32_t kSearchLength = 0x20000;
constexpr std::uint32_t kRootPointerStep = 16;

constexpr char kRsdtKey[] = "Hardware\\ACPI\\RSDT";
constexpr sys::Dword kNameCapacity = 2048;
constexpr sys::Dword kDataCapacity = 2048;
constexpr int kRsdtKeyLevels = 3;
constexpr std::size_t kFirstListedTable = 36;
constexpr std::uint32_t kRegistrySearchBack = 0x10000;

}  // namespace

bool ReadRegistryRootTableCopy(std::vector<std::uint8_t>* data) {
  sys::IRegistry& registry = sys::Use<sys::IRegistry>();
  std::string path = kRsdtKey;
  sys::RegKeyHandle key;
  if (registry.RegOpenKeyExA(sys::kHkeyLocalMachine, path, sys::kKeyAllAccess, key.Put()) != sys::kErrorSuccess) {
    return false;
  }
  for (int level = 0; level < kRsdtKeyLevels; ++level) {
    std::string name;
    if (registry.RegEnumKeyExA(key.Get(), 0, &name, kNameCapacity) != sys::kErrorSuccess) {
      return false;
    }
    key.Reset();
    path += "\\" + name;
    if (registry.RegOpenKeyExA(sys::kHkeyLocalMachine, path, sys::kKeyAllAccess, key.Put()) != sys::kErrorSuccess) {
      return false;
    }
  }
  std::string valueName;
  if (registry.RegEnumValueA(key.Get(), 0, &valueName, kNameCapacity) != sys::kErrorSuccess) {
    return false;
  }
  data->assign(kDataCapacity, 0);
  sys::Dword type = 0;
  sys::Dword size = kDataCapacity;
  if (registry.RegQueryValueExA(key.Get(), valueName, &type, data->data(), &size) != sys::kErrorSuccess) {
    return false;
  }
  data->resize(std::min<sys::Dword>(size, kDataCapacity));
  return true;
}

bool AddRootPointer(TReadWrite& machine, std::uint64_t address, TableList& tables) {
  std::uint8_t bytes[kRsdpReadLength] = {};
  if (!machine.ReadPhysicalMemory(bytes, sizeof bytes, address)) {
    return false;
  }
  const std::optional<Rsdp> rsdp = ValidateRsdp(bytes);
  if (!rsdp) {
    return false;
  }
  tables.push_back(std::make_unique<TableEntry>(TableEntry{static_cast<std::uint32_t>(address), rsdp->Length}));
  tables.push_back(std::make_unique<TableEntry>(TableEntry{rsdp->RsdtAddress, 0}));
  return true;
}

bool FindRootPointer(TReadWrite& machine, std::uint64_t start, TableList& tables) {
  const std::uint64_t match =
      machine.SearchPhysicalMemory(kSearchLength, kRootPointerStep, kRsdpSignatureLength, kRsdpSignature, 0, start);
  return match != kSearchNotFound && AddRootPointer(machine, match, tables);
}

bool ScanMemoryForRootPointer(TReadWrite& machine, TableList& tables) {
  return FindRootPointer(machine, kBiosAreaStart, tables);
}

bool FindRootPointerThroughRegistry(TReadWrite& machine, TableList& tables) {
  std::vector<std::uint8_t> data;
  if (!ReadRegistryRootTableCopy(&data)) {
    return false;
  }
  const ByteSpan copy(data);
  if (!Fits(copy, kFirstListedTable, 4)) {
    return false;
  }
  const std::string signature(data.begin(), data.begin() + 4);
  if (signature != "RSDT" && signature != "XSDT") {
    return false;
  }
  // The root pointer lies below the tables; the search starts 64 KiB below
  // the first one (at 0 when it lies lower than that).
  const std::uint32_t first = Le32At(copy, kFirstListedTable);
  const std::uint32_t start = first < kRegistrySearchBack ? 0 : (first - kRegistrySearchBack) & ~0xFFu;
  return FindRootPointer(machine, start, tables);
}

void BuildTableList(TReadWrite& machine, TableList& tables, Findings& findings, ITraceSink& trace) {
  std::set<std::uint32_t> decoded;
  for (std::size_t i = 1; i < tables.size(); ++i) {
    TableEntry& entry = *tables[i];
    std::uint8_t headerBytes[kHeaderLength];
    if (!machine.ReadPhysicalMemory(headerBytes, sizeof headerBytes, entry.Address)) {
      continue;
    }
    const std::optional<Header> header = ParseHeader(headerBytes);
    if (!IsUsableTableLength(header->Length)) {
      continue;
    }
    entry.Length = header->Length;
    trace.WriteStatus("BuildAcpiTable", "Table = " + header->Signature, kColourRed);
    if (!HasDecoder(header->Signature) || !decoded.insert(entry.Address).second) {
      continue;
    }
    // Not cleared: a failed read is not decoded.
    const std::unique_ptr<std::uint8_t[]> table = std::make_unique_for_overwrite<std::uint8_t[]>(entry.Length);
    if (!machine.ReadPhysicalMemory(table.get(), entry.Length, entry.Address)) {
      continue;
    }
    std::vector<std::uint32_t> listed;
    DecodeTable(header->Signature, ByteSpan(table.get(), entry.Length), findings, listed, trace);
    for (std::uint32_t address : listed) {
      if (tables.size() >= kMaxListedTables) {
        break;
      }
      tables.push_back(std::make_unique<TableEntry>(TableEntry{address, 0}));
    }
  }
}

}  // namespace kestrune::acpi
