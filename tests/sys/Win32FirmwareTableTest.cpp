// The firmware-table adapter and the narrow registry functions of the ACPI
// registry route against the real system (wine64). Wine's SMBIOS table is
// synthetic, with empty strings; the walk must take it as it comes.
#include "sys/win32/Win32FirmwareTable.h"

#include <gtest/gtest.h>

#include "hw/AcpiDiscovery.h"
#include "platform/SmbiosTable.h"
#include "sys/Seam.h"
#include "sys/win32/Win32Registry.h"
#include "sys/win32/Win32VolatileKey.h"
#include "tests/support/FirmwareFixtures.h"

namespace kestrune {
namespace {

using namespace test;

class Win32FirmwareTableTest : public ::testing::Test {
 protected:
  sys::win32::Win32FirmwareTable Firmware;

 private:
  sys::ScopedSeam<sys::IFirmwareTable> Seam{Firmware};
};

TEST_F(Win32FirmwareTableTest, TheFunctionIsFoundAndAnswersTheRawSmbiosData) {
  ASSERT_TRUE(Firmware.HasGetSystemFirmwareTable());
  const sys::Dword size = Firmware.GetSystemFirmwareTable(sys::kFirmwareTableProviderRsmb, 0, nullptr, 0);
  ASSERT_GT(size, smbios::kRawHeaderLength);
  std::vector<std::uint8_t> raw(size);
  ASSERT_EQ(Firmware.GetSystemFirmwareTable(sys::kFirmwareTableProviderRsmb, 0, raw.data(), size), size);
  const smbios::LoadedTable loaded = smbios::FromRawSmbiosData(raw);
  EXPECT_TRUE(loaded.Loaded);
  EXPECT_LE(loaded.TableLength, size - smbios::kRawHeaderLength);
  EXPECT_GE(loaded.Version, 0x20u);
  // A buffer too small is not filled.
  std::vector<std::uint8_t> small(4, 0xEE);
  EXPECT_EQ(Firmware.GetSystemFirmwareTable(sys::kFirmwareTableProviderRsmb, 0, small.data(), 4), size);
  EXPECT_EQ(small, std::vector<std::uint8_t>(4, 0xEE));
}

TEST_F(Win32FirmwareTableTest, WithoutAnEntryPointInMemoryTheSystemsTableIsWalked) {
  MemoryImage image;
  WriteBiosArea(image);
  const smbios::LoadedTable loaded = smbios::LoadTable(image.Machine());
  ASSERT_TRUE(loaded.Loaded);
  EXPECT_EQ(loaded.TableAddress, 0xFFFFFFFFu);
  const std::vector<std::size_t> structures = smbios::WalkStructures(loaded.Table);
  ASSERT_FALSE(structures.empty());
  for (std::size_t offset : structures) {
    EXPECT_LT(offset, loaded.Table.size());
    // Every string of every structure stays inside the table; Wine's are empty.
    for (unsigned number = 0; number < 4; ++number) {
      EXPECT_LE(smbios::StructureString(loaded.Table, offset, static_cast<std::uint8_t>(number)).size(),
                loaded.Table.size());
    }
  }
  const auto bios = smbios::FindStructure(loaded.Table, smbios::kTypeBios, 0);
  ASSERT_TRUE(bios);
  (void)smbios::StructureFieldString(loaded.Table, *bios, smbios::kBiosVersionString);
}

TEST_F(Win32FirmwareTableTest, TheRegistryRouteReadsTheKeysItFinds) {
  sys::win32::Win32Registry registry;
  sys::ScopedSeam<sys::IRegistry> seam(registry);
  const auto putCopy = [&](const Bytes& data) {
    sys::RegKey key = 0;
    // Below HKEY_LOCAL_MACHINE\Hardware only volatile keys can be made.
    ASSERT_EQ(sys::win32::RegCreateVolatileKeyW(
                  sys::kHkeyLocalMachine, u"Hardware\\ACPI\\RSDT\\VELNOR\\KBLDESK\\00000001", sys::kKeyAllAccess, &key),
              sys::kErrorSuccess);
    ASSERT_EQ(
        registry.RegSetValueExW(key, u"00000000", sys::kRegBinary, data.data(), static_cast<sys::Dword>(data.size())),
        sys::kErrorSuccess);
    registry.RegCloseKey(key);
  };
  MemoryImage image;
  image.Map(0x7FF00000, 0x30000);
  image.Write(0x7FF02300, Rsdp(0x7FF00000));

  putCopy(Rsdt({0x7FF12345}));
  acpi::TableList tables;
  ASSERT_TRUE(acpi::FindRootPointerThroughRegistry(image.Machine(), tables));
  EXPECT_EQ(tables[0]->Address, 0x7FF02300u);
  EXPECT_EQ(tables[1]->Address, 0x7FF00000u);

  putCopy(AcpiTable("FACP", Le32Bytes(0x7FF12345)));
  acpi::TableList none;
  EXPECT_FALSE(acpi::FindRootPointerThroughRegistry(image.Machine(), none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace kestrune
