// The board identification over a memory image: the identity block search
// and, when no block is valid, the SMBIOS fallback on the table that the
// same memory's entry point names. The first input byte decides whether a
// PCI function carries the maker's subsystem vendor identifier.
#include <cstddef>
#include <cstdint>

#include "BuildConfig.h"
#include "platform/IdentityBlock.h"
#include "platform/SmbiosTable.h"
#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeFirmwareTable.h"
#include "sys/Seam.h"
#include "tests/fuzz/FuzzMachine.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  sim::FakeCodePage codePage;
  sim::FakeFirmwareTable firmware;
  sys::ScopedSeam<sys::ICodePage> codePageSeam(codePage);
  sys::ScopedSeam<sys::IFirmwareTable> firmwareSeam(firmware);

  test::MemoryImage image;
  fuzz::LayOver(image, data + 1, size - 1);
  if ((data[0] & 1) != 0) {
    image.AddPciFunction(0, 31, 0, 0x8086, 0xA2C5, 0x80, 0x8086);
    image.AddPciFunction(0, 31, 4, 0x8086, 0xA2A3, 0x00, config::VelnorPciVendorId);
  }
  smbios::LoadedTable smbiosTable;
  const identity::Identification id =
      identity::IdentifyBoard(image.Machine(), config::VelnorPciVendorId, [&]() -> ByteSpan {
        smbiosTable = smbios::LoadTable(image.Machine());
        return smbiosTable.Table;
      });
  if (!id.Detected && (!id.Texts.ModelName.empty() || !id.Texts.BiosVersion.empty())) {
    __builtin_trap();  // an unrecognised board must leave every text empty
  }
  return 0;
}
