// Writing board files: the board's every part, its bytes inline as hex, in
// the order docs/board-file.md describes them.
#include <nlohmann/json.hpp>

#include <cstdio>

#include "sim/board/Board.h"

namespace kestrune::sim {

namespace {

using Json = nlohmann::ordered_json;

std::string HexNumber(std::uint64_t value, int digits = 1) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string HexBytes(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * bytes.size());
  for (std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

Json Region(const BoardMemoryRegion& region) {
  return Json{{"address", HexNumber(region.Address)}, {"hex", HexBytes(region.Data)}};
}

Json Hex(const Bytes& bytes) { return Json{{"hex", HexBytes(bytes)}}; }

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

std::string GuidText(const Guid& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid[3],
                guid[2], guid[1], guid[0], guid[5], guid[4], guid[7], guid[6], guid[8], guid[9], guid[10], guid[11],
                guid[12], guid[13], guid[14], guid[15]);
  return text;
}

const char* StyleText(PartitionStyle style) {
  switch (style) {
    case PartitionStyle::Mbr:
      return "mbr";
    case PartitionStyle::Raw:
      return "raw";
    case PartitionStyle::Gpt:
      break;
  }
  return "gpt";
}

Json Acpi(const BoardAcpi& acpi) {
  Json out = Json::object();
  Json tables = Json::array();
  if (acpi.Placed.empty()) {
    out["rsdp"] = HexNumber(acpi.Rsdp);
    out["base"] = HexNumber(acpi.Base);
    for (const Bytes& table : acpi.Tables) {
      tables.push_back(Hex(table));
    }
  } else {
    for (const BoardMemoryRegion& table : acpi.Placed) {
      tables.push_back(Region(table));
    }
  }
  out["tables"] = std::move(tables);
  if (!acpi.Unplaced.empty()) {
    Json unplaced = Json::array();
    for (const Bytes& table : acpi.Unplaced) {
      unplaced.push_back(Hex(table));
    }
    out["unplaced"] = std::move(unplaced);
  }
  return out;
}

Json Smbios(const BoardSmbios& smbios) {
  Json out = Json::object();
  if (smbios.EntryPoint) {
    out["entry_point"] = Region(*smbios.EntryPoint);
  }
  if (smbios.Table) {
    out["table"] = Region(*smbios.Table);
  }
  if (!smbios.FirmwareTable.empty()) {
    out["firmware_table"] = Hex(smbios.FirmwareTable);
  }
  return out;
}

}  // namespace

std::string WriteBoardJson(const Board& board) {
  Json out = Json::object();
  if (!board.Name.empty()) {
    out["name"] = board.Name;
  }
  if (board.Capture) {
    out["capture"] = Json{{"source", board.Capture->Source}, {"missing", board.Capture->Missing}};
  }
  out["cpu"] =
      Json{{"vendor", board.Cpu.Vendor}, {"signature", HexNumber(board.Cpu.Signature, 8)}, {"brand", board.Cpu.Brand}};
  if (!board.Pci.empty()) {
    Json pci = Json::array();
    for (const BoardPciFunction& function : board.Pci) {
      pci.push_back(Json{{"bus", function.Bus},
                         {"device", function.Device},
                         {"function", function.Function},
                         {"config", HexBytes(function.Config)}});
    }
    out["pci"] = std::move(pci);
  }
  if (!board.Memory.empty()) {
    Json memory = Json::array();
    for (const BoardMemoryRegion& region : board.Memory) {
      memory.push_back(Region(region));
    }
    out["memory"] = std::move(memory);
  }
  if (!board.SystemRam.empty()) {
    Json ram = Json::array();
    for (const BoardRamRange& range : board.SystemRam) {
      ram.push_back(Json{{"address", HexNumber(range.Address)}, {"length", HexNumber(range.Length)}});
    }
    out["system_ram"] = std::move(ram);
  }
  if (board.Acpi) {
    out["acpi"] = Acpi(*board.Acpi);
  }
  if (board.Smbios) {
    out["smbios"] = Smbios(*board.Smbios);
  }
  if (board.Smi) {
    Json variables = Json::array();
    for (const BoardVariable& variable : board.Smi->Variables) {
      variables.push_back(Json{{"name", Utf8(variable.Name)},
                               {"guid", GuidText(variable.VendorGuid)},
                               {"attributes", HexNumber(variable.Attributes)},
                               {"hex", HexBytes(variable.Data)}});
    }
    out["smi"] = Json{{"port", HexNumber(board.Smi->Port)}, {"variables", std::move(variables)}};
  }
  Json disks = Json::array();
  for (const BoardDisk& disk : board.Disks.List) {
    disks.push_back(Json{{"number", disk.Number},
                         {"style", StyleText(disk.Style)},
                         {"medium", disk.Medium},
                         {"partitions", disk.Partitions}});
  }
  out["disks"] = Json{{"system", board.Disks.System}, {"list", std::move(disks)}};
  const BoardFaults& f = board.Faults;
  if (f.Driver || f.Smi || f.Alloc || f.Read) {
    out["faults"] = Json{{"driver", f.Driver}, {"smi", f.Smi}, {"alloc", f.Alloc}, {"read", f.Read}};
  }
  // Texts that are not UTF-8 (a brand or a name of other bytes) are written
  // with replacement characters rather than refused.
  return out.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace kestrune::sim
