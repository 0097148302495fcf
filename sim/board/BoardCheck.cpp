#include "sim/board/BoardCheck.h"

#include <cstdio>
#include <optional>
#include <set>
#include <tuple>

namespace kestrune::sim {

namespace {

bool RunsPastTheEnd(const BoardMemoryRegion& region) { return region.Address + region.Data.size() < region.Address; }

std::string PciName(const BoardPciFunction& function) {
  return std::to_string(function.Bus) + ":" + std::to_string(function.Device) + "." + std::to_string(function.Function);
}

bool CheckPci(const Board& board, std::string& error) {
  std::set<std::tuple<std::uint8_t, std::uint8_t, std::uint8_t>> listed;
  for (const BoardPciFunction& function : board.Pci) {
    if (function.Device > 31 || function.Function > 7) {
      error = "pci function " + PciName(function) + " does not exist on a PCI bus";
      return false;
    }
    if (function.Config.size() > 256) {
      error = "pci config of more than 256 bytes";
      return false;
    }
    if (!listed.emplace(function.Bus, function.Device, function.Function).second) {
      error = "pci function " + PciName(function) + " is listed twice";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string AddressText(std::uint64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(address));
  return text;
}

bool CheckBoard(const Board& board, std::string& error) {
  if (board.Cpu.Vendor.size() > 12) {
    error = "cpu vendor is longer than 12 characters";
    return false;
  }
  if (board.Cpu.Brand.size() > 48) {
    error = "cpu brand is longer than 48 characters";
    return false;
  }
  for (const BoardMemoryRegion& region : board.Memory) {
    if (RunsPastTheEnd(region)) {
      error = "memory region at " + AddressText(region.Address) + " runs past the end of the address space";
      return false;
    }
  }
  if (board.Smbios) {
    for (const std::optional<BoardMemoryRegion>* part : {&board.Smbios->EntryPoint, &board.Smbios->Table}) {
      if (*part && RunsPastTheEnd(**part)) {
        error = "smbios region at " + AddressText((*part)->Address) + " runs past the end of the address space";
        return false;
      }
    }
  }
  if (!CheckPci(board, error)) {
    return false;
  }
  std::set<std::uint32_t> numbers;
  for (const BoardDisk& disk : board.Disks.List) {
    if (!numbers.insert(disk.Number).second) {
      error = "disk " + std::to_string(disk.Number) + " is listed twice";
      return false;
    }
  }
  if (board.Smi) {
    for (const BoardVariable& variable : board.Smi->Variables) {
      if (variable.Name.empty()) {
        error = "smi variable without a name";
        return false;
      }
    }
  }
  return true;
}

}  // namespace kestrune::sim
