// Writes the seed corpora of the fuzz targets into the folder given as the
// only argument (tests/fuzz/corpus): one subfolder per target, each seed a
// well-formed input built with the unit tests' builders.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/FirmwareFixtures.h"

using namespace kestrune::test;

namespace {

constexpr std::uint32_t kArea = 0xE0000;

std::filesystem::path root;

void Save(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::filesystem::path folder = root / target;
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Bytes placed at addresses inside the BIOS area, as one input from 0xE0000.
class Area {
 public:
  void Put(std::uint32_t address, const Bytes& bytes) {
    const std::size_t at = address - kArea;
    if (Data.size() < at + bytes.size()) {
      Data.resize(at + bytes.size());
    }
    std::copy(bytes.begin(), bytes.end(), Data.begin() + static_cast<std::ptrdiff_t>(at));
  }
  Bytes Data;
};

Bytes FullAaft() {
  Bytes refs(20, 0x27);
  Put32(refs, 16, 4);
  refs.resize(24, 1);
  return AaftTable(Concat({
      AaftShortEntry(6, {'C', 'P', 'U', 0, 1}),
      AaftShortEntry(7, {3}),
      AaftShortEntry(9, {1}),
      AaftShortEntry(10, {4, 0xA}),
      AaftShortEntry(11, {1}),
      AaftLongEntry(16, Bytes(16, 0x16)),
      AaftLongEntry(17, {1, 2}),
      AaftLongEntry(18, Concat({EzocRecord(0x120, 1, "SATA Mode", 7, {}),
                                EzocRecord(0x44, 2, "Fan Profile", 2, {"AHCI", "IO"})})),
      AaftLongEntry(20, {}),
      AaftLongEntry(21, {3}),
      AaftLongEntry(22, {0, 5}),
      AaftLongEntry(23, Bytes(40, 0x23)),
      AaftLongEntry(24, Bytes(120, 0x24)),
      AaftLongEntry(25, {4}),
      AaftLongEntry(26, Concat({ModuleVersionRecord("ME", 11), ModuleVersionRecord("OPTANE", 1)})),
      AaftLongEntry(27, refs),
  }));
}

void AcpiSeeds() {
  Area board;
  board.Put(0xE0000, Rsdp(0xE0100));
  board.Put(0xE0100, Rsdt({0xE0200, 0xE0300, 0xE0400, 0xE0500, 0xE0800, 0}));
  FadtFields fadt;
  fadt.FirmwareCtrl = 0xE0600;
  fadt.Dsdt = 0xE0700;
  board.Put(0xE0200, Fadt(fadt));
  board.Put(0xE0300, Madt(0xFEE00000, {{2, 0xFEC00000, 0}, {3, 0xFEC01000, 24}}));
  board.Put(0xE0400, Mcfg(0xE0000000));
  board.Put(0xE0500, FullAaft());
  board.Put(0xE0600, Facs());
  board.Put(0xE0700, AcpiTable("DSDT", Bytes(32, 0x5B)));
  board.Put(0xE0800, Ecdt(1, 0x66, 0x62));
  Save("fuzz_acpi_walk", "board", board.Data);

  Area revision2 = board;
  revision2.Put(0xE0000, Rsdp(0xE0100, 2, 0xE0900));
  revision2.Put(0xE0900, AcpiTable("XSDT", Bytes(8, 0)));
  Save("fuzz_acpi_walk", "revision2", revision2.Data);

  // The input also serves as the registry's RSDT copy: its first table lies
  // at 0xF0200, so the route searches from 0xE0200, past the invalid root
  // pointer that stops the scan.
  Area registry;
  registry.Put(0xE0000, Rsdt({0xF0200}));
  Bytes invalid = Rsdp(0xE0400);
  invalid[8] ^= 1;
  registry.Put(0xE0040, invalid);
  registry.Put(0xE0300, Rsdp(0xE0400));
  registry.Put(0xE0400, Rsdt({0xE0500}));
  registry.Put(0xE0500, Madt(0xFEE00000, {{2, 0xFEC00000, 0}}));
  Save("fuzz_acpi_walk", "registry", registry.Data);

  Area loop;
  loop.Put(0xE0000, Rsdp(0xE0100));
  loop.Put(0xE0100, Rsdt({0xE0100, 0xE0200}));
  FadtFields back;
  back.FirmwareCtrl = 0xE0100;
  back.Dsdt = 0xE0200;
  loop.Put(0xE0200, Fadt(back));
  Save("fuzz_acpi_walk", "loop", loop.Data);
}

void AaftSeeds() {
  Save("fuzz_aaft", "modules", DefaultAaft());
  Save("fuzz_aaft", "every_function", FullAaft());
}

Bytes SmbiosBoardTable() {
  return Concat({SmbiosBios("Velnor", " P1.40 ", "05/17/2017"), SmbiosStructure(1, 1, Bytes(0x1B - 4, 0), {"V"}),
                 SmbiosBaseboard("Velnor", "Z270 KRAIT"), SmbiosStructure(4, 4, Bytes(0x2A - 4, 0), {}), SmbiosEnd()});
}

void SmbiosSeeds() {
  const Bytes table = SmbiosBoardTable();
  Bytes raw = {0, 3, 0, 0};
  Put32(raw, 4, static_cast<std::uint32_t>(table.size()));
  Save("fuzz_smbios", "raw", Concat({raw, table}));

  Area memory;
  memory.Put(0xE0010, SmbiosEntryPoint(static_cast<std::uint16_t>(table.size()), 0xE0100));
  memory.Put(0xE0100, table);
  Save("fuzz_smbios", "entry_point", memory.Data);
}

void IdentitySeeds() {
  Area block;
  block.Put(0xE0020, IdentityBlock({}));
  Save("fuzz_identity", "block", Concat({{0}, block.Data}));

  Area second;
  IdentityFields fields;
  fields.Model = "SECOND...";
  fields.Suffix = 'A';
  second.Put(0xE0020, IdentityBlock({}, false));
  second.Put(0xE0100, IdentityBlock(fields));
  Save("fuzz_identity", "second_occurrence", Concat({{1}, second.Data}));

  Area smbios;
  const Bytes table = SmbiosBoardTable();
  smbios.Put(0xE0020, IdentityBlock({}, false));
  smbios.Put(0xE0080, SmbiosEntryPoint(static_cast<std::uint16_t>(table.size()), 0xE0100));
  smbios.Put(0xE0100, table);
  Save("fuzz_identity", "smbios_fallback", Concat({{1}, smbios.Data}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  root = argv[1];
  AcpiSeeds();
  AaftSeeds();
  SmbiosSeeds();
  IdentitySeeds();
  return 0;
}
