// The board identification over a memory image: the identity block search
// and, when no block is valid, the SMBIOS fallback on the table that the
// same memory's entry point names. The first input byte decides whether a
// PCI function carries the maker's subsystem vendor identifier.
//
// Without that function the bus walk reads all 8,192 bus and device slots
// and finds nothing, whatever the rest of the input holds: the board is
// then the maker's only when the first signature occurrence holds a valid
// block, and otherwise nothing of the input is read. The target checks that
// occurrence itself and passes such an input over instead of walking the
// empty bus for it, so that each input costs only what it reaches.
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

namespace {

// What the identification reads first: a valid block at the first
// occurrence of the signature in the BIOS area.
bool FirstOccurrenceIsValid(TReadWrite& machine) {
  const std::uint64_t address =
      machine.SearchPhysicalMemory(static_cast<std::uint32_t>(fuzz::kBiosAreaLength), 1, identity::kSignatureLength,
                                   identity::kSignature, 0, fuzz::kBiosArea);
  identity::Block block{};
  return address != kSearchNotFound && machine.ReadPhysicalMemory(block.data(), identity::kBlockLength, address) &&
         identity::IsValidBlock(block);
}

}  // namespace

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
  const bool makersFunction = (data[0] & 1) != 0;
  if (makersFunction) {
    image.AddPciFunction(0, 31, 0, 0x8086, 0xA2C5, 0x80, 0x8086);
    image.AddPciFunction(0, 31, 4, 0x8086, 0xA2A3, 0x00, config::VelnorPciVendorId);
  } else if (!FirstOccurrenceIsValid(image.Machine())) {
    return 0;  // not the maker's board: the walk of the empty bus would find nothing
  }
  smbios::LoadedTable smbiosTable;
  const identity::Identification id =
      identity::IdentifyBoard(image.Machine(), config::VelnorPciVendorId, [&]() -> ByteSpan {
        smbiosTable = smbios::LoadTable(image.Machine());
        return smbiosTable.Table;
      });
  // Either way the board is the maker's: by its function on the bus, or by
  // the valid block that the walk is not reached for.
  if (!id.Detected) {
    __builtin_trap();
  }
  return 0;
}
