#include "platform/SmbiosTable.h"

#include <algorithm>
#include <cstring>

#include "hw/Readwrite.h"
#include "sys/FirmwareTable.h"
#include "sys/Seam.h"

namespace kestrune::smbios {

namespace {

constexpr std::uint64_t kBiosAreaStart = 0xE0000;
constexpr std::uint32_t kSearchLength = 0x20000;

// The structure at `offset`: its formatted length and the end of its string
// set (one past the second NUL), or none when it does not fit.
struct Extent {
  std::size_t FormattedEnd;
  std::size_t End;
};

std::optional<Extent> StructureExtent(ByteSpan table, std::size_t offset) {
  if (!Fits(table, offset, kStructureHeaderLength)) {
    return std::nullopt;
  }
  const std::uint8_t length = table[offset + 1];
  if (length < kStructureHeaderLength || !Fits(table, offset, length)) {
    return std::nullopt;
  }
  const std::size_t formattedEnd = offset + length;
  for (std::size_t i = formattedEnd; i + 1 < table.size(); ++i) {
    if (table[i] == 0 && table[i + 1] == 0) {
      return Extent{formattedEnd, i + 2};
    }
  }
  return std::nullopt;
}

LoadedTable FromFirmwareTableInterface() {
  sys::IFirmwareTable& firmware = sys::Use<sys::IFirmwareTable>();
  if (!firmware.HasGetSystemFirmwareTable()) {
    return {};
  }
  const sys::Dword size = firmware.GetSystemFirmwareTable(sys::kFirmwareTableProviderRsmb, 0, nullptr, 0);
  if (size == 0) {
    return {};
  }
  std::vector<std::uint8_t> raw(size);
  const sys::Dword filled = firmware.GetSystemFirmwareTable(sys::kFirmwareTableProviderRsmb, 0, raw.data(), size);
  if (filled == 0) {
    return {};
  }
  raw.resize(std::min(filled, size));
  return FromRawSmbiosData(raw);
}

}  // namespace

std::optional<EntryPoint> ParseEntryPoint(ByteSpan bytes) {
  if (bytes.size() < kEntryPointLength || std::memcmp(bytes.data(), kAnchor, kAnchorLength) != 0 ||
      ByteSum(bytes.first(kEntryPointLength)) != 0) {
    return std::nullopt;
  }
  EntryPoint entry;
  entry.Version = bytes[0x06] * 16u + bytes[0x07];
  entry.TableLength = Le16At(bytes, 0x16);
  entry.TableAddress = Le32At(bytes, 0x18);
  return entry;
}

LoadedTable FromRawSmbiosData(ByteSpan raw) {
  LoadedTable loaded;
  if (raw.size() < kRawHeaderLength) {
    return loaded;
  }
  loaded.Loaded = true;
  loaded.Version = raw[1] * 16u + raw[2];
  const std::size_t claimed = Le32At(raw, 4) & 0xFFFFu;
  const std::size_t held = std::min(claimed, raw.size() - kRawHeaderLength);
  loaded.TableLength = static_cast<std::uint16_t>(held);
  loaded.Table.assign(raw.begin() + kRawHeaderLength, raw.begin() + kRawHeaderLength + held);
  return loaded;
}

LoadedTable LoadTable(TReadWrite& machine) {
  for (std::uint32_t occurrence = 0;; ++occurrence) {
    const std::uint64_t address =
        machine.SearchPhysicalMemory(kSearchLength, 1, kAnchorLength, kAnchor, occurrence, kBiosAreaStart);
    if (address == kSearchNotFound) {
      break;
    }
    std::uint8_t bytes[kEntryPointLength];
    if (!machine.ReadPhysicalMemory(bytes, sizeof bytes, address)) {
      continue;
    }
    const std::optional<EntryPoint> entry = ParseEntryPoint(bytes);
    if (!entry) {
      continue;
    }
    LoadedTable loaded;
    loaded.Table.resize(entry->TableLength);
    if (entry->TableLength == 0 ||
        !machine.ReadPhysicalMemory(loaded.Table.data(), entry->TableLength, entry->TableAddress)) {
      break;  // the entry point names nothing readable: ask the system instead
    }
    loaded.Loaded = true;
    loaded.TableLength = entry->TableLength;
    loaded.TableAddress = entry->TableAddress;
    loaded.Version = entry->Version;
    return loaded;
  }
  return FromFirmwareTableInterface();
}

std::vector<std::size_t> WalkStructures(ByteSpan table) {
  std::vector<std::size_t> offsets;
  std::size_t offset = 0;
  while (offset < table.size()) {
    const std::optional<Extent> extent = StructureExtent(table, offset);
    if (!extent) {
      break;
    }
    offsets.push_back(offset);
    offset = extent->End;
  }
  return offsets;
}

std::optional<std::size_t> FindStructure(ByteSpan table, std::uint8_t type, std::uint32_t index) {
  for (std::size_t offset : WalkStructures(table)) {
    if (table[offset] == type && index-- == 0) {
      return offset;
    }
  }
  return std::nullopt;
}

std::string StructureString(ByteSpan table, std::size_t offset, std::uint8_t number) {
  const std::optional<Extent> extent = StructureExtent(table, offset);
  if (number == 0 || !extent) {
    return {};
  }
  std::size_t position = extent->FormattedEnd;
  for (std::uint8_t n = 1;; ++n) {
    if (position >= extent->End || table[position] == 0) {
      return {};  // the set ended first
    }
    const auto* start = table.data() + position;
    const std::size_t length = std::strlen(reinterpret_cast<const char*>(start));  // NUL-ended: see StructureExtent
    if (n == number) {
      return std::string(reinterpret_cast<const char*>(start), length);
    }
    position += length + 1;
  }
}

std::string StructureFieldString(ByteSpan table, std::size_t offset, std::size_t field) {
  const std::optional<Extent> extent = StructureExtent(table, offset);
  if (!extent || offset + field >= extent->FormattedEnd) {
    return {};
  }
  return StructureString(table, offset, table[offset + field]);
}

std::u16string TrimText(const std::u16string& text) {
  const auto blankOrControl = [](char16_t c) { return c <= 0x20 || (c >= 0x7F && c <= 0x9F); };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blankOrControl(text[begin])) {
    ++begin;
  }
  while (end > begin && blankOrControl(text[end - 1])) {
    --end;
  }
  return text.substr(begin, end - begin);
}

}  // namespace kestrune::smbios
