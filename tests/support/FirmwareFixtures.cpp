#include "tests/support/FirmwareFixtures.h"

#include "common/LittleEndian.h"

namespace kestrune::test {

void Put8(Bytes& bytes, std::size_t offset, std::uint8_t value) {
  if (bytes.size() < offset + 1) {
    bytes.resize(offset + 1);
  }
  bytes[offset] = value;
}

void Put16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  Put8(bytes, offset + 1, 0);  // grows the bytes
  PutLe16(bytes.data() + offset, value);
}

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  Put8(bytes, offset + 3, 0);
  PutLe32(bytes.data() + offset, value);
}

void PutText(Bytes& bytes, std::size_t offset, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    Put8(bytes, offset + i, static_cast<std::uint8_t>(text[i]));
  }
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

Bytes Le32Bytes(std::uint32_t value) {
  Bytes bytes;
  Put32(bytes, 0, value);
  return bytes;
}

void FixChecksum(Bytes& bytes, std::size_t at, std::size_t begin, std::size_t end) {
  bytes[at] = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = begin; i < end; ++i) {
    sum = static_cast<std::uint8_t>(sum + bytes[i]);
  }
  bytes[at] = static_cast<std::uint8_t>(0x100 - sum);
}

Bytes Rsdp(std::uint32_t rsdtAddress, std::uint8_t revision, std::uint32_t xsdtAddress) {
  Bytes bytes(revision == 0 ? 20 : 36, 0);
  PutText(bytes, 0, "RSD PTR ");
  PutText(bytes, 9, "VELNOR");
  Put8(bytes, 15, revision);
  Put32(bytes, 16, rsdtAddress);
  if (revision != 0) {
    Put32(bytes, 20, 36);
    Put32(bytes, 24, xsdtAddress);
    FixChecksum(bytes, 8, 0, 20);
    FixChecksum(bytes, 32, 0, 36);
  } else {
    FixChecksum(bytes, 8, 0, 20);
  }
  return bytes;
}

Bytes AcpiTable(const std::string& signature, const Bytes& body) {
  Bytes bytes(36, 0);
  PutText(bytes, 0, signature);
  Put8(bytes, 8, 1);
  PutText(bytes, 10, "VELNOR");
  PutText(bytes, 16, "KBLDESK ");
  Put32(bytes, 24, 1);
  PutText(bytes, 28, "VLNR");
  bytes.insert(bytes.end(), body.begin(), body.end());
  Put32(bytes, 4, static_cast<std::uint32_t>(bytes.size()));
  FixChecksum(bytes, 9, 0, bytes.size());
  return bytes;
}

Bytes Rsdt(const std::vector<std::uint32_t>& addresses) {
  Bytes body;
  for (std::uint32_t address : addresses) {
    Put32(body, body.size(), address);
  }
  return AcpiTable("RSDT", body);
}

Bytes Fadt(const FadtFields& f) {
  Bytes body(116 - 36, 0);
  auto at = [](std::size_t offset) { return offset - 36; };
  Put32(body, at(36), f.FirmwareCtrl);
  Put32(body, at(40), f.Dsdt);
  Put16(body, at(46), f.SciInterrupt);
  Put32(body, at(48), f.SmiCommand);
  Put8(body, at(52), f.AcpiEnable);
  Put8(body, at(53), f.AcpiDisable);
  Put8(body, at(54), f.S4BiosRequest);
  Put8(body, at(55), f.PstateControl);
  Put32(body, at(56), f.Pm1aEvent);
  Put32(body, at(76), f.PmTimer);
  Put32(body, at(112), f.Flags);
  return AcpiTable("FACP", body);
}

Bytes Madt(std::uint32_t localApic, const std::vector<IoApic>& ioApics) {
  Bytes body;
  Put32(body, 0, localApic);
  Put32(body, 4, 1);  // PCAT_COMPAT
  // One processor local APIC, then the I/O APICs.
  const Bytes lapic = {0, 8, 0, 0, 1, 0, 0, 0};
  body.insert(body.end(), lapic.begin(), lapic.end());
  for (const IoApic& io : ioApics) {
    Bytes s(12, 0);
    s[0] = 1;
    s[1] = 12;
    s[2] = io.Id;
    Put32(s, 4, io.Address);
    Put32(s, 8, io.InterruptBase);
    body.insert(body.end(), s.begin(), s.end());
  }
  return AcpiTable("APIC", body);
}

Bytes Mcfg(std::uint64_t base) {
  Bytes body(8 + 16, 0);
  Put32(body, 8, static_cast<std::uint32_t>(base));
  Put32(body, 12, static_cast<std::uint32_t>(base >> 32));
  Put8(body, 19, 0x3F);  // buses 0 to 63
  return AcpiTable("MCFG", body);
}

Bytes Ecdt(std::uint8_t controlSpace, std::uint16_t controlPort, std::uint16_t dataPort) {
  Bytes body(66 - 36, 0);
  Put8(body, 0, controlSpace);
  Put8(body, 1, 8);
  Put32(body, 4, controlPort);
  Put8(body, 12, 1);
  Put8(body, 13, 8);
  Put32(body, 16, dataPort);
  return AcpiTable("ECDT", body);
}

Bytes Facs() {
  Bytes bytes(64, 0);
  PutText(bytes, 0, "FACS");
  Put32(bytes, 4, 64);
  return bytes;
}

Bytes SmbiosStructure(std::uint8_t type, std::uint16_t handle, const Bytes& formatted,
                      const std::vector<std::string>& strings) {
  Bytes bytes = {type, static_cast<std::uint8_t>(4 + formatted.size())};
  Put16(bytes, 2, handle);
  bytes.insert(bytes.end(), formatted.begin(), formatted.end());
  for (const std::string& text : strings) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  if (strings.empty()) {
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

Bytes SmbiosBios(const std::string& vendor, const std::string& version, const std::string& date) {
  Bytes formatted(0x18 - 4, 0);
  formatted[0x04 - 4] = 1;
  formatted[0x05 - 4] = 2;
  Put16(formatted, 0x06 - 4, 0xF000);
  formatted[0x08 - 4] = 3;
  formatted[0x09 - 4] = 0xFF;
  return SmbiosStructure(0, 0, formatted, {vendor, version, date});
}

Bytes SmbiosBaseboard(const std::string& manufacturer, const std::string& product) {
  Bytes formatted(0x0F - 4, 0);
  formatted[0x04 - 4] = 1;
  formatted[0x05 - 4] = 2;
  formatted[0x0D - 4] = 0x0A;  // motherboard
  return SmbiosStructure(2, 2, formatted, {manufacturer, product});
}

Bytes SmbiosEnd() { return SmbiosStructure(127, 0xFFFF, {}, {}); }

Bytes SmbiosEntryPoint(std::uint16_t tableLength, std::uint32_t tableAddress, std::uint8_t major, std::uint8_t minor) {
  Bytes bytes(31, 0);
  PutText(bytes, 0, "_SM_");
  Put8(bytes, 5, 31);
  Put8(bytes, 6, major);
  Put8(bytes, 7, minor);
  Put16(bytes, 8, 0x100);
  PutText(bytes, 16, "_DMI_");
  Put16(bytes, 22, tableLength);
  Put32(bytes, 24, tableAddress);
  Put16(bytes, 28, 3);
  Put8(bytes, 30, static_cast<std::uint8_t>(major << 4 | minor));
  FixChecksum(bytes, 21, 16, 31);
  FixChecksum(bytes, 4, 0, 31);
  return bytes;
}

Bytes IdentityBlock(const IdentityFields& f, bool valid) {
  Bytes bytes(64, 0);
  PutText(bytes, 0, "$CN1368$");
  PutText(bytes, 0x0A, f.Model.substr(0, 64 - 0x0A));
  Put8(bytes, 0x2A, static_cast<std::uint8_t>(f.Prefix));
  Put8(bytes, 0x2B, f.Major);
  Put8(bytes, 0x2C, f.Minor);
  Put8(bytes, 0x2D, f.Suffix);
  Put16(bytes, 0x2E, f.Year);
  Put8(bytes, 0x30, f.Month);
  Put8(bytes, 0x31, f.Day);
  Put8(bytes, 0x37, f.Byte37);
  Put8(bytes, 0x38, f.Byte38);
  FixChecksum(bytes, 0x3F, 0, 64);
  if (!valid) {
    bytes[0x3F] = static_cast<std::uint8_t>(bytes[0x3F] + 1);
  }
  return bytes;
}

Bytes AaftShortEntry(std::uint8_t id, const Bytes& data) {
  Bytes bytes = {id, static_cast<std::uint8_t>(2 + data.size())};
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

Bytes AaftLongEntry(std::uint8_t id, const Bytes& data) {
  Bytes bytes = {id};
  Put32(bytes, 1, static_cast<std::uint32_t>(5 + data.size()));
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

Bytes ModuleVersionRecord(const std::string& name, std::uint32_t version) {
  Bytes bytes(12, 0);
  PutText(bytes, 0, name.substr(0, 8));
  Put32(bytes, 8, version);
  return bytes;
}

Bytes EzocRecord(std::uint16_t setupOffset, std::uint8_t dataLength, const std::string& item, std::uint8_t number,
                 const std::vector<std::string>& options) {
  Bytes bytes(137, 0);
  Put16(bytes, 65, setupOffset);
  Put8(bytes, 67, dataLength);
  PutText(bytes, 68, item.substr(0, 64));
  Put8(bytes, 132, number);
  std::uint8_t value = 0;
  for (const std::string& option : options) {
    bytes.push_back(value++);
    bytes.insert(bytes.end(), option.begin(), option.end());
    bytes.push_back(0);
  }
  Put32(bytes, 133, static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

Bytes AaftTable(const Bytes& entries) { return AcpiTable("AAFT", entries); }

void WriteBiosArea(MemoryImage& image) { image.Map(0xE0000, 0x20000); }

Bytes DefaultAaft() {
  return AaftTable(Concat({
      AaftShortEntry(7, {3}),
      AaftShortEntry(9, {1}),
      AaftLongEntry(26, Concat({ModuleVersionRecord("ME", 11), ModuleVersionRecord("OPTANE", 1)})),
  }));
}

void WriteAcpiBoard(MemoryImage& image, const Bytes& aaft) {
  using L = BoardLayout;
  WriteBiosArea(image);
  image.Write(L::kRsdp, Rsdp(L::kRsdt));
  image.Write(L::kRsdt, Rsdt({L::kFacp, L::kApic, L::kMcfg, L::kAaft}));
  FadtFields fadt;
  fadt.FirmwareCtrl = L::kFacs;
  fadt.Dsdt = L::kDsdt;
  image.Write(L::kFacp, Fadt(fadt));
  image.Write(L::kApic, Madt(0xFEE00000, {{2, 0xFEC00000, 0}}));
  image.Write(L::kMcfg, Mcfg(0xE0000000));
  image.Write(L::kAaft, aaft);
  image.Write(L::kFacs, Facs());
  image.Write(L::kDsdt, AcpiTable("DSDT", Bytes(64, 0x5B)));
}

}  // namespace kestrune::test
