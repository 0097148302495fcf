// The SMBIOS reader: the input as the system's RawSMBIOSData and, laid over
// the BIOS area, as memory with an entry point; then every look-up on each
// table that loads.
#include <cstddef>
#include <cstdint>

#include "platform/SmbiosTable.h"
#include "sim/os/FakeFirmwareTable.h"
#include "sys/Seam.h"
#include "tests/fuzz/FuzzMachine.h"

using namespace kestrune;

namespace {

void LookUpEverything(const smbios::LoadedTable& loaded) {
  const ByteSpan table(loaded.Table);
  for (std::size_t offset : smbios::WalkStructures(table)) {
    for (unsigned number = 0; number < 8; ++number) {
      (void)smbios::StructureString(table, offset, static_cast<std::uint8_t>(number));
    }
    (void)smbios::StructureFieldString(table, offset, smbios::kBaseboardProductString);
    (void)smbios::StructureFieldString(table, offset, smbios::kBiosReleaseDateString);
  }
  for (std::uint8_t type : {0, 1, 2, 127}) {
    (void)smbios::FindStructure(table, type, 0);
    (void)smbios::FindStructure(table, type, 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::FakeFirmwareTable firmware;
  firmware.Present = true;
  firmware.RawSmbios.assign(data, data + size);
  sys::ScopedSeam<sys::IFirmwareTable> seam(firmware);
  LookUpEverything(smbios::FromRawSmbiosData(ByteSpan(data, size)));

  test::MemoryImage image;
  fuzz::LayOver(image, data, size);
  LookUpEverything(smbios::LoadTable(image.Machine()));
  return 0;
}
