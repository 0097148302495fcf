// The ACPI discovery over a memory image: the root pointer scan, the
// registry route (the input also serves as the registry's RSDT copy), the
// table list walk with every decoder, and a look-up of each listed table.
#include <cstddef>
#include <cstdint>

#include "hw/AcpiDiscovery.h"
#include "sim/os/FakeRegistry.h"
#include "sys/Seam.h"
#include "tests/fuzz/FuzzMachine.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  test::MemoryImage image;
  fuzz::LayOver(image, data, size);

  sim::FakeRegistry registry;
  sys::ScopedSeam<sys::IRegistry> seam(registry);
  sys::RegKey key = 0;
  registry.RegCreateKeyExW(sys::kHkeyLocalMachine, u"Hardware\\ACPI\\RSDT\\VELNOR\\KBLDESK\\00000001",
                           sys::kKeyAllAccess, &key);
  registry.RegSetValueExW(key, u"00000000", sys::kRegBinary, data,
                          static_cast<sys::Dword>(std::min<std::size_t>(size, 2048)));
  registry.RegCloseKey(key);

  acpi::TableList tables;
  bool found = acpi::ScanMemoryForRootPointer(image.Machine(), tables);
  if (!found) {
    found = acpi::FindRootPointerThroughRegistry(image.Machine(), tables);
  }
  if (found) {
    acpi::Findings findings;
    NullTrace trace;
    acpi::BuildTableList(image.Machine(), tables, findings, trace);
    for (const auto& entry : tables) {
      std::uint8_t header[acpi::kHeaderLength];
      if (image.Machine().ReadPhysicalMemory(header, sizeof header, entry->Address)) {
        (void)acpi::ParseHeader(header);
      }
    }
  }
  return 0;
}
