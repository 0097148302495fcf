// Board files: JSON, see docs/board-file.md.
#include <nlohmann/json.hpp>

#include <fstream>
#include <set>
#include <sstream>

#include "sim/board/Board.h"
#include "sim/board/BoardFileReader.h"

namespace kestrune::sim {

namespace {

using nlohmann::json;

bool ReadCpu(BoardFileReader& r, const json& cpu, BoardCpu& out) {
  return r.Keys(cpu, "cpu", {"vendor", "signature", "brand"}) && r.Text(cpu, "vendor", "cpu", true, out.Vendor) &&
         r.Field(cpu, "signature", "cpu", true, out.Signature) && r.Text(cpu, "brand", "cpu", false, out.Brand) &&
         (out.Vendor.size() <= 12 || r.Fail("cpu.vendor", "is longer than 12 characters")) &&
         (out.Brand.size() <= 48 || r.Fail("cpu.brand", "is longer than 48 characters"));
}

bool ReadPci(BoardFileReader& r, const json& list, std::vector<BoardPciFunction>& out) {
  if (!list.is_array()) {
    return r.Fail("pci", "must be a list");
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "pci[" + std::to_string(i) + "]";
    const json& item = list[i];
    BoardPciFunction function;
    std::string hex;
    if (!r.Keys(item, where, {"bus", "device", "function", "config"}) ||
        !r.Field(item, "bus", where, true, function.Bus) || !r.Field(item, "device", where, true, function.Device) ||
        !r.Field(item, "function", where, true, function.Function) || !r.Text(item, "config", where, true, hex)) {
      return false;
    }
    if (function.Device > 31 || function.Function > 7) {
      return r.Fail(where, "device must be at most 31 and function at most 7");
    }
    std::optional<Bytes> config = ParseHex(hex);
    if (!config || config->size() > 256) {
      return r.Fail(where + ".config", "must be hex of at most 256 bytes");
    }
    function.Config = std::move(*config);
    out.push_back(std::move(function));
  }
  return true;
}

// One region: {address} with "hex" or "file".
bool ReadRegion(BoardFileReader& r, const json& item, const std::string& where, BoardMemoryRegion& out) {
  return r.Keys(item, where, {"address", "hex", "file"}) && r.Field(item, "address", where, true, out.Address) &&
         r.Content(item, where, out.Data) &&
         (out.Address + out.Data.size() >= out.Address || r.Fail(where, "runs past the end of the address space"));
}

bool ReadMemory(BoardFileReader& r, const json& list, std::vector<BoardMemoryRegion>& out) {
  if (!list.is_array()) {
    return r.Fail("memory", "must be a list");
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    BoardMemoryRegion region;
    if (!ReadRegion(r, list[i], "memory[" + std::to_string(i) + "]", region)) {
      return false;
    }
    out.push_back(std::move(region));
  }
  return true;
}

bool ReadSystemRam(BoardFileReader& r, const json& list, std::vector<BoardRamRange>& out) {
  if (!list.is_array()) {
    return r.Fail("system_ram", "must be a list");
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "system_ram[" + std::to_string(i) + "]";
    BoardRamRange range;
    if (!r.Keys(list[i], where, {"address", "length"}) || !r.Field(list[i], "address", where, true, range.Address) ||
        !r.Field(list[i], "length", where, true, range.Length)) {
      return false;
    }
    if (range.Length == 0 || range.Address + range.Length < range.Address) {
      return r.Fail(where, "must be a nonempty range inside the address space");
    }
    out.push_back(range);
  }
  return true;
}

// A table of the laid-out form or of "unplaced": a file name, or {hex} or {file}.
bool ReadTable(BoardFileReader& r, const json& item, const std::string& where, Bytes& out) {
  if (item.is_string()) {
    return r.ReadFile(item.get<std::string>(), where, out);
  }
  return r.Keys(item, where, {"hex", "file"}) && r.Content(item, where, out);
}

bool ReadAcpi(BoardFileReader& r, const json& acpi, BoardAcpi& out) {
  if (!r.Keys(acpi, "acpi", {"rsdp", "base", "tables", "unplaced"})) {
    return false;
  }
  if (!acpi.contains("tables") || !acpi.at("tables").is_array()) {
    return r.Fail("acpi", "needs a list \"tables\"");
  }
  // With "base" the board lays the tables out; without it every table
  // carries the address it had, the root pointer among them.
  const bool laidOut = acpi.contains("base");
  if (laidOut) {
    if (!r.Field(acpi, "rsdp", "acpi", true, out.Rsdp) || !r.Field(acpi, "base", "acpi", true, out.Base)) {
      return false;
    }
  } else if (acpi.contains("rsdp")) {
    return r.Fail("acpi",
                  "needs \"base\" to lay the tables out from; placed tables carry their root pointer "
                  "among them, with no \"rsdp\"");
  }
  const json& tables = acpi.at("tables");
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const std::string where = "acpi.tables[" + std::to_string(i) + "]";
    if (laidOut) {
      Bytes table;
      if (!ReadTable(r, tables[i], where, table)) {
        return false;
      }
      out.Tables.push_back(std::move(table));
    } else {
      BoardMemoryRegion table;
      if (!tables[i].is_object() || !tables[i].contains("address")) {
        return r.Fail(where, "needs an \"address\" (or acpi a \"base\" to lay the tables out from)");
      }
      if (!ReadRegion(r, tables[i], where, table)) {
        return false;
      }
      out.Placed.push_back(std::move(table));
    }
  }
  if (acpi.contains("unplaced")) {
    const json& unplaced = acpi.at("unplaced");
    if (!unplaced.is_array()) {
      return r.Fail("acpi.unplaced", "must be a list");
    }
    for (std::size_t i = 0; i < unplaced.size(); ++i) {
      Bytes table;
      if (!ReadTable(r, unplaced[i], "acpi.unplaced[" + std::to_string(i) + "]", table)) {
        return false;
      }
      out.Unplaced.push_back(std::move(table));
    }
  }
  return true;
}

bool ReadSmbios(BoardFileReader& r, const json& smbios, BoardSmbios& out) {
  if (!r.Keys(smbios, "smbios", {"entry_point", "table", "firmware_table"})) {
    return false;
  }
  if (smbios.contains("entry_point")) {
    out.EntryPoint.emplace();
    if (!ReadRegion(r, smbios.at("entry_point"), "smbios.entry_point", *out.EntryPoint)) {
      return false;
    }
  }
  if (smbios.contains("table")) {
    out.Table.emplace();
    if (!ReadRegion(r, smbios.at("table"), "smbios.table", *out.Table)) {
      return false;
    }
  }
  if (smbios.contains("firmware_table")) {
    const json& copy = smbios.at("firmware_table");
    if (!r.Keys(copy, "smbios.firmware_table", {"hex", "file"}) ||
        !r.Content(copy, "smbios.firmware_table", out.FirmwareTable)) {
      return false;
    }
    if (out.FirmwareTable.size() < 8) {
      return r.Fail("smbios.firmware_table", "must hold the 8-byte RawSMBIOSData header");
    }
  }
  return true;
}

bool ReadCapture(BoardFileReader& r, const json& capture, BoardCapture& out) {
  if (!r.Keys(capture, "capture", {"source", "missing"}) || !r.Text(capture, "source", "capture", true, out.Source)) {
    return false;
  }
  if (!capture.contains("missing")) {
    return true;
  }
  const json& missing = capture.at("missing");
  if (!missing.is_array()) {
    return r.Fail("capture.missing", "must be a list of texts");
  }
  for (const json& line : missing) {
    if (!line.is_string()) {
      return r.Fail("capture.missing", "must be a list of texts");
    }
    out.Missing.push_back(line.get<std::string>());
  }
  return true;
}

bool ReadSmi(BoardFileReader& r, const json& smi, BoardSmi& out) {
  if (!r.Keys(smi, "smi", {"port", "variables"}) || !r.Field(smi, "port", "smi", true, out.Port)) {
    return false;
  }
  if (!smi.contains("variables")) {
    return true;
  }
  const json& list = smi.at("variables");
  if (!list.is_array()) {
    return r.Fail("smi.variables", "must be a list");
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "smi.variables[" + std::to_string(i) + "]";
    BoardVariable variable;
    std::string name;
    std::string guid;
    std::string hex;
    if (!r.Keys(list[i], where, {"name", "guid", "attributes", "hex"}) || !r.Text(list[i], "name", where, true, name) ||
        !r.Text(list[i], "guid", where, true, guid) ||
        !r.Field(list[i], "attributes", where, false, variable.Attributes) ||
        !r.Text(list[i], "hex", where, true, hex)) {
      return false;
    }
    if (name.empty() || !BoardFileReader::Utf8ToUtf16(name, variable.Name)) {
      return r.Fail(where + ".name", "must be non-empty UTF-8 text");
    }
    std::optional<Guid> parsed = ParseGuid(guid);
    if (!parsed) {
      return r.Fail(where + ".guid", "must look like {EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}");
    }
    variable.VendorGuid = *parsed;
    std::optional<Bytes> data = ParseHex(hex);
    if (!data) {
      return r.Fail(where + ".hex", "is not hex");
    }
    variable.Data = std::move(*data);
    out.Variables.push_back(std::move(variable));
  }
  return true;
}

bool ReadDisks(BoardFileReader& r, const json& disks, BoardDisks& out) {
  if (!r.Keys(disks, "disks", {"system", "list"})) {
    return false;
  }
  // -1: the system volume lies on no disk the board lists any extent of.
  std::uint32_t system = 0;
  const bool none = disks.contains("system") && disks.at("system").is_number_integer() &&
                    disks.at("system").get<std::int64_t>() == -1;
  if (!none && !r.Field(disks, "system", "disks", true, system)) {
    return false;
  }
  if (system > 0x7FFFFFFF) {
    return r.Fail("disks.system", "is too large");
  }
  out.System = none ? -1 : static_cast<std::int32_t>(system);
  out.List.clear();
  if (!disks.contains("list") || !disks.at("list").is_array()) {
    return r.Fail("disks", "needs a list \"list\"");
  }
  const json& list = disks.at("list");
  std::set<std::uint32_t> numbers;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "disks.list[" + std::to_string(i) + "]";
    BoardDisk disk;
    std::string style;
    bool partitionsGiven = list[i].is_object() && list[i].contains("partitions");
    if (!r.Keys(list[i], where, {"number", "style", "medium", "partitions"}) ||
        !r.Field(list[i], "number", where, true, disk.Number) || !r.Text(list[i], "style", where, true, style) ||
        !r.Bool(list[i], "medium", where, disk.Medium) ||
        !r.Field(list[i], "partitions", where, false, disk.Partitions)) {
      return false;
    }
    if (style == "gpt") {
      disk.Style = PartitionStyle::Gpt;
    } else if (style == "mbr") {
      disk.Style = PartitionStyle::Mbr;
      disk.Partitions = partitionsGiven ? disk.Partitions : 2;
    } else if (style == "raw") {
      disk.Style = PartitionStyle::Raw;
    } else {
      return r.Fail(where + ".style", "must be \"gpt\", \"mbr\" or \"raw\"");
    }
    if (disk.Partitions > 4096) {
      return r.Fail(where + ".partitions", "must be at most 4096");
    }
    if (!numbers.insert(disk.Number).second) {
      return r.Fail(where, "disk " + std::to_string(disk.Number) + " is listed twice");
    }
    out.List.push_back(disk);
  }
  return true;
}

bool ReadFaults(BoardFileReader& r, const json& faults, BoardFaults& out) {
  return r.Keys(faults, "faults", {"driver", "smi", "alloc", "read"}) &&
         r.Bool(faults, "driver", "faults", out.Driver) && r.Bool(faults, "smi", "faults", out.Smi) &&
         r.Bool(faults, "alloc", "faults", out.Alloc) && r.Bool(faults, "read", "faults", out.Read);
}

}  // namespace

namespace {

bool ParseBoard(const std::string& text, std::optional<std::string> baseDirectory, Board& board, std::string& error) {
  const json document = json::parse(text, nullptr, false);
  if (document.is_discarded()) {
    error = "not valid JSON";
    return false;
  }
  BoardFileReader r(baseDirectory, error);
  Board result;
  if (!r.Keys(document, "board",
              {"name", "capture", "cpu", "pci", "memory", "system_ram", "acpi", "smbios", "smi", "disks", "faults"}) ||
      !r.Text(document, "name", "board", false, result.Name)) {
    return false;
  }
  if (!document.contains("cpu")) {
    return r.Fail("board", "needs \"cpu\"");
  }
  if (!ReadCpu(r, document.at("cpu"), result.Cpu)) {
    return false;
  }
  if (document.contains("pci") && !ReadPci(r, document.at("pci"), result.Pci)) {
    return false;
  }
  if (document.contains("memory") && !ReadMemory(r, document.at("memory"), result.Memory)) {
    return false;
  }
  if (document.contains("system_ram") && !ReadSystemRam(r, document.at("system_ram"), result.SystemRam)) {
    return false;
  }
  if (document.contains("acpi")) {
    result.Acpi.emplace();
    if (!ReadAcpi(r, document.at("acpi"), *result.Acpi)) {
      return false;
    }
  }
  if (document.contains("smbios")) {
    result.Smbios.emplace();
    if (!ReadSmbios(r, document.at("smbios"), *result.Smbios)) {
      return false;
    }
  }
  if (document.contains("capture")) {
    result.Capture.emplace();
    if (!ReadCapture(r, document.at("capture"), *result.Capture)) {
      return false;
    }
  }
  if (document.contains("smi")) {
    result.Smi.emplace();
    if (!ReadSmi(r, document.at("smi"), *result.Smi)) {
      return false;
    }
  }
  if (document.contains("disks") && !ReadDisks(r, document.at("disks"), result.Disks)) {
    return false;
  }
  if (document.contains("faults") && !ReadFaults(r, document.at("faults"), result.Faults)) {
    return false;
  }
  board = std::move(result);
  return true;
}

}  // namespace

bool ParseBoardJson(const std::string& text, const std::string& baseDirectory, Board& board, std::string& error) {
  return ParseBoard(text, baseDirectory, board, error);
}

bool ParseInlineBoardJson(const std::string& text, Board& board, std::string& error) {
  return ParseBoard(text, std::nullopt, board, error);
}

bool LoadBoardFile(const std::string& path, Board& board, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read \"" + path + "\"";
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  const std::size_t slash = path.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? std::string() : path.substr(0, slash);
  if (!ParseBoardJson(text.str(), base, board, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace kestrune::sim
