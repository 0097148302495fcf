// Helpers for boards built in code (Board.h): hex text and GUIDs as bytes,
// ACPI tables with the board's own OEM fields.
#include <algorithm>
#include <cstring>

#include "sim/board/Board.h"

namespace kestrune::sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

std::optional<Bytes> ParseHex(const std::string& text) {
  Bytes bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      if (high >= 0) {
        return std::nullopt;  // a blank inside a byte
      }
      continue;
    }
    const int digit = HexDigit(c);
    if (digit < 0) {
      return std::nullopt;
    }
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) {
    return std::nullopt;
  }
  return bytes;
}

std::optional<Guid> ParseGuid(const std::string& text) {
  std::string body = text;
  if (body.size() == 38 && body.front() == '{' && body.back() == '}') {
    body = body.substr(1, 36);
  }
  if (body.size() != 36 || body[8] != '-' || body[13] != '-' || body[18] != '-' || body[23] != '-') {
    return std::nullopt;
  }
  std::string digits;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      continue;
    }
    if (HexDigit(body[i]) < 0) {
      return std::nullopt;
    }
    digits.push_back(body[i]);
  }
  std::uint8_t plain[16];
  for (int i = 0; i < 16; ++i) {
    plain[i] = static_cast<std::uint8_t>(HexDigit(digits[2 * i]) << 4 | HexDigit(digits[2 * i + 1]));
  }
  // Data1, Data2 and Data3 are little-endian; Data4 is a byte array.
  Guid guid{};
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) {
    guid[i] = plain[order[i]];
  }
  return guid;
}

Bytes MakeAcpiTable(const std::string& signature, const Bytes& body, std::uint8_t revision) {
  Bytes table(36, 0);
  std::memcpy(table.data(), signature.data(), std::min<std::size_t>(signature.size(), 4));
  const auto length = static_cast<std::uint32_t>(36 + body.size());
  for (int i = 0; i < 4; ++i) {
    table[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  table[8] = revision;
  std::memcpy(table.data() + 10, "VELNOR", 6);
  std::memcpy(table.data() + 16, "KESTRUNE", 8);
  table[24] = 1;
  std::memcpy(table.data() + 28, "KSIM", 4);
  table[32] = 1;
  table.insert(table.end(), body.begin(), body.end());
  return table;
}

Bytes MakeFacs() {
  Bytes facs(64, 0);
  std::memcpy(facs.data(), "FACS", 4);
  facs[4] = 64;
  return facs;
}

}  // namespace kestrune::sim
