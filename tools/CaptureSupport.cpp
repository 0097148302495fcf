#include "tools/CaptureSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/LittleEndian.h"
#include "platform/SmbiosTable.h"

namespace kestrune::tools {

namespace {

// The string fields, by structure type, that name one machine or one part.
struct SerialFields {
  std::uint8_t Type;
  std::vector<std::uint8_t> StringOffsets;
};
const SerialFields kSerialFields[] = {
    {1, {0x07}},        // system: serial number (the UUID follows at 0x08)
    {2, {0x07, 0x08}},  // baseboard: serial number, asset tag
    {3, {0x07, 0x08}},  // chassis: serial number, asset tag
    {4, {0x20, 0x21}},  // processor: serial number, asset tag
    {17, {0x18, 0x19}}  // memory device: serial number, asset tag
};
constexpr std::size_t kUuidOffset = 0x08;
constexpr std::size_t kUuidLength = 16;

// Blanks the bytes of one table copy that lie at [address, address + length)
// inside the region [regionAddress, regionAddress + region.size()).
void CopyOver(sim::Bytes& region, std::uint64_t regionAddress, const sim::Bytes& blanked, std::uint64_t address) {
  const std::uint64_t regionEnd = regionAddress + region.size();
  const std::uint64_t end = address + blanked.size();
  const std::uint64_t from = std::max(regionAddress, address);
  const std::uint64_t to = std::min(regionEnd, end);
  for (std::uint64_t a = from; a < to; ++a) {
    region[a - regionAddress] = blanked[a - address];
  }
}

}  // namespace

std::string HexAddress(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string CaptureName(const std::string& host) {
  char stamp[32] = "an unknown time";
  const std::time_t now = std::time(nullptr);
  // The probe is one thread: the C library's shared time record will do.
  if (const std::tm* utc = std::gmtime(&now); utc != nullptr) {
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  return "captured on " + (host.empty() ? std::string("an unnamed machine") : host) + " at " + stamp +
         " by kestrune-probe";
}

std::optional<sim::BoardMemoryRegion> FindSmbiosEntryPoint(const sim::BoardMemoryRegion& area) {
  const sim::Bytes& bytes = area.Data;
  const std::size_t first = static_cast<std::size_t>((16 - area.Address % 16) % 16);
  for (std::size_t at = first; at + 24 <= bytes.size(); at += 16) {
    const std::uint8_t* p = bytes.data() + at;
    std::size_t length = 0;
    if (std::memcmp(p, "_SM3_", 5) == 0) {
      length = p[6];  // 24 in SMBIOS 3.x
    } else if (std::memcmp(p, "_SM_", 4) == 0) {
      length = p[5];  // 31 in SMBIOS 2.x
    }
    if (length >= 24 && at + length <= bytes.size() && ByteSum(ByteSpan(p, length)) == 0) {
      return sim::BoardMemoryRegion{area.Address + at, sim::Bytes(p, p + length)};
    }
  }
  return std::nullopt;
}

bool SmbiosTableOf(const sim::Bytes& entryPoint, std::uint64_t& address, std::uint32_t& length) {
  if (entryPoint.size() >= 24 && std::memcmp(entryPoint.data(), "_SM3_", 5) == 0) {
    length = Le32(entryPoint.data() + 0x0C);
    address = Le64(entryPoint.data() + 0x10);
    return true;
  }
  if (entryPoint.size() >= 31 && std::memcmp(entryPoint.data(), "_SM_", 4) == 0) {
    length = Le16(entryPoint.data() + 0x16);
    address = Le32(entryPoint.data() + 0x18);
    return true;
  }
  return false;
}

void BlankSmbiosSerials(std::uint8_t* table, std::size_t length) {
  const ByteSpan bytes(table, length);
  // The walk stops at the first structure that does not fit, so every
  // string set it yields ends inside the table.
  for (std::size_t at : smbios::WalkStructures(bytes)) {
    const std::uint8_t type = table[at];
    const std::uint8_t formatted = table[at + 1];
    for (const SerialFields& fields : kSerialFields) {
      if (fields.Type != type) {
        continue;
      }
      for (std::uint8_t offset : fields.StringOffsets) {
        const std::uint8_t number = offset < formatted ? table[at + offset] : 0;
        // String `number` of the set: skip number - 1 strings.
        std::size_t p = at + formatted;
        for (std::uint8_t skipped = 1; number != 0 && skipped < number && table[p] != 0; ++skipped) {
          p += std::strlen(reinterpret_cast<const char*>(table + p)) + 1;
        }
        if (number != 0 && table[p] != 0) {
          std::memset(table + p, ' ', std::strlen(reinterpret_cast<const char*>(table + p)));
        }
      }
      if (type == 1 && formatted >= kUuidOffset + kUuidLength) {
        std::memset(table + at + kUuidOffset, 0, kUuidLength);
      }
    }
  }
}

void BlankBoardSerials(sim::Board& board) {
  if (!board.Smbios) {
    return;
  }
  sim::BoardSmbios& smbios = *board.Smbios;
  if (smbios.FirmwareTable.size() > 8) {
    BlankSmbiosSerials(smbios.FirmwareTable.data() + 8, smbios.FirmwareTable.size() - 8);
  }
  if (!smbios.Table) {
    return;
  }
  BlankSmbiosSerials(smbios.Table->Data.data(), smbios.Table->Data.size());
  // The table may also lie inside the BIOS area or another captured region.
  for (sim::BoardMemoryRegion& region : board.Memory) {
    CopyOver(region.Data, region.Address, smbios.Table->Data, smbios.Table->Address);
  }
}

}  // namespace kestrune::tools
