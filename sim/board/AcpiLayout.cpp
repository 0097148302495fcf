#include "sim/board/AcpiLayout.h"

#include <cstring>
#include <vector>

#include "common/DriverContract.h"
#include "common/LittleEndian.h"
#include "sim/board/BoardCheck.h"

namespace kestrune::sim {

namespace {

void FixChecksum(Bytes& table, std::size_t length, std::size_t checksumOffset) {
  table[checksumOffset] = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    sum = static_cast<std::uint8_t>(sum + table[i]);
  }
  table[checksumOffset] = static_cast<std::uint8_t>(0x100 - sum);
}

std::string Signature(const Bytes& table) { return std::string(table.begin(), table.begin() + 4); }

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The placed form: every table at its own address, as it stands.
bool PlaceAcpi(const BoardAcpi& acpi, PhysicalMemory& memory, std::string& error) {
  if (!acpi.Tables.empty()) {
    error = "acpi tables are either laid out from a base or placed at their addresses, not both";
    return false;
  }
  PhysicalMemory placed;
  for (std::size_t i = 0; i < acpi.Placed.size(); ++i) {
    const BoardMemoryRegion& table = acpi.Placed[i];
    if (table.Data.empty() || table.Address + table.Data.size() < table.Address) {
      error = "acpi table " + std::to_string(i) + " is empty or runs past the end of the address space";
      return false;
    }
    if (placed.Overlaps(table.Address, table.Data.size())) {
      error = "acpi table " + std::to_string(i) + " at " + AddressText(table.Address) + " overlaps another table";
      return false;
    }
    placed.Place(table.Address, table.Data.data(), table.Data.size());
    memory.Place(table.Address, table.Data.data(), table.Data.size());
  }
  return true;
}

}  // namespace

std::optional<std::uint64_t> AcpiRootPointer(const BoardAcpi& acpi) {
  if (acpi.Placed.empty()) {
    return acpi.Rsdp;
  }
  for (const BoardMemoryRegion& table : acpi.Placed) {
    if (table.Data.size() >= 8 && std::memcmp(table.Data.data(), "RSD PTR ", 8) == 0) {
      return table.Address;
    }
  }
  return std::nullopt;
}

bool LayOutAcpi(const BoardAcpi& acpi, PhysicalMemory& memory, std::string& error) {
  if (!acpi.Placed.empty()) {
    return PlaceAcpi(acpi, memory, error);
  }
  struct Placed {
    Bytes Data;
    std::uint64_t Address = 0;
  };
  std::vector<Placed> tables;
  int facs = -1;
  int dsdt = -1;
  std::vector<std::size_t> fadts;
  std::uint64_t next = acpi.Base;
  for (std::size_t i = 0; i < acpi.Tables.size(); ++i) {
    const Bytes& raw = acpi.Tables[i];
    if (raw.size() < 8) {
      error = "acpi table " + std::to_string(i) + " is shorter than 8 bytes";
      return false;
    }
    const std::string signature = Signature(raw);
    const bool isFacs = signature == "FACS";
    const std::uint32_t length = Le32(raw.data() + 4);
    const std::uint32_t minimum = isFacs ? 64 : 36;
    if (length < minimum || length > raw.size()) {
      error = "acpi table " + std::to_string(i) + " (" + signature + ") has length " + std::to_string(length) +
              " but " + std::to_string(raw.size()) + " bytes";
      return false;
    }
    if (signature == kFadtSignatureText) {
      fadts.push_back(i);
    }
    int* slot = isFacs ? &facs : signature == "DSDT" ? &dsdt : nullptr;
    if (slot != nullptr) {
      if (*slot >= 0) {
        error = "acpi lists more than one " + signature;
        return false;
      }
      *slot = static_cast<int>(i);
    }
    next = AlignUp(next, isFacs ? 64 : 16);
    tables.push_back({Bytes(raw.begin(), raw.begin() + length), next});
    next += length;
  }
  const std::uint64_t rsdtAddress = AlignUp(next, 16);
  std::vector<std::uint32_t> listed;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (static_cast<int>(i) != facs && static_cast<int>(i) != dsdt) {
      listed.push_back(static_cast<std::uint32_t>(tables[i].Address));
    }
  }
  const std::uint32_t rsdtLength = 36 + 4 * static_cast<std::uint32_t>(listed.size());
  if (rsdtAddress + rsdtLength > 0x100000000ull || acpi.Rsdp + 20 > 0x100000000ull) {
    error = "acpi tables must lie below 4 GiB";
    return false;
  }
  if (acpi.Rsdp + 20 > acpi.Base && acpi.Rsdp < rsdtAddress + rsdtLength) {
    error = "acpi rsdp " + AddressText(acpi.Rsdp) + " lies inside the tables laid out from " + AddressText(acpi.Base);
    return false;
  }

  for (std::size_t index : fadts) {
    Bytes& f = tables[index].Data;
    const std::uint32_t facsAddress = facs >= 0 ? static_cast<std::uint32_t>(tables[facs].Address) : 0;
    const std::uint32_t dsdtAddress = dsdt >= 0 ? static_cast<std::uint32_t>(tables[dsdt].Address) : 0;
    if (f.size() >= 44) {
      PutLe32(f.data() + 36, facsAddress);
      PutLe32(f.data() + 40, dsdtAddress);
    }
    // ACPI 2.0 and later: the 64-bit fields must agree with the 32-bit ones.
    if (f.size() >= 140) {
      PutLe64(f.data() + 132, 0);
    }
    if (f.size() >= 148) {
      PutLe64(f.data() + 140, dsdtAddress);
    }
  }

  Bytes rsdt(rsdtLength, 0);
  std::memcpy(rsdt.data(), "RSDT", 4);
  PutLe32(rsdt.data() + 4, rsdtLength);
  rsdt[8] = 1;
  const int oemSource = !fadts.empty() ? static_cast<int>(fadts.front()) : (tables.empty() ? -1 : 0);
  if (oemSource >= 0 && tables[oemSource].Data.size() >= 36 && oemSource != facs) {
    std::memcpy(rsdt.data() + 10, tables[oemSource].Data.data() + 10, 26);
  }
  for (std::size_t i = 0; i < listed.size(); ++i) {
    PutLe32(rsdt.data() + 36 + 4 * i, listed[i]);
  }
  FixChecksum(rsdt, rsdt.size(), 9);

  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (static_cast<int>(i) != facs) {
      FixChecksum(tables[i].Data, tables[i].Data.size(), 9);
    }
    memory.Place(tables[i].Address, tables[i].Data.data(), tables[i].Data.size());
  }
  memory.Place(rsdtAddress, rsdt.data(), rsdt.size());

  Bytes rsdp(20, 0);
  std::memcpy(rsdp.data(), "RSD PTR ", 8);
  std::memcpy(rsdp.data() + 9, rsdt.data() + 10, 6);
  rsdp[15] = 0;
  PutLe32(rsdp.data() + 16, static_cast<std::uint32_t>(rsdtAddress));
  FixChecksum(rsdp, rsdp.size(), 8);
  memory.Place(acpi.Rsdp, rsdp.data(), rsdp.size());
  return true;
}

}  // namespace kestrune::sim
