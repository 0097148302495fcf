#include "platform/Cpubase.h"

#include <gtest/gtest.h>

#include "tests/support/BoardFixture.h"

namespace kestrune {
namespace {

using CpubaseTest = test::BoardFixture;

TEST(CpuVendorTable, WholeTwelveCharacterTextsMatchExactly) {
  struct Case {
    const char* Text;
    std::int32_t Code;
  };
  const Case cases[] = {
      {"GenuineIntel", 1},
      {"AuthenticAMD", 2},
      {"CyrixInstead", 3},
      {"UMC UMC UMC ", 4},
      {"CentaurHauls", 5},
      {"RiseRiseRise", 6},
      {"genuineintel", -1},
      {"GenuineIntel ", -1},
      {"GenuineInte", -1},
      {"HygonGenuine", -1},
      {"", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(VendorCodeOf(c.Text), c.Code);
  }
}

TEST_F(CpubaseTest, KabyLakeIsFamilySixModel9EInAnyStepping) {
  struct Case {
    const char* Vendor;
    std::uint32_t Signature;
    bool KabyLake;
  };
  const Case cases[] = {
      {"GenuineIntel", 0x000906E9, true},  {"GenuineIntel", 0x000906EA, true},
      {"GenuineIntel", 0x000906E0, true},  {"GenuineIntel", 0x000806E9, false},  // model 0x8E
      {"GenuineIntel", 0x000906D9, false}, {"GenuineIntel", 0x001906E9, false},
      {"AuthenticAMD", 0x000906E9, false}, {"CentaurHauls", 0x000906E9, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Vendor) + " " + std::to_string(c.Signature));
    Board.Cpu.Vendor = c.Vendor;
    Board.Cpu.Signature = c.Signature;
    Reboot();
    TCpuBase cpu;
    EXPECT_EQ(cpu.GetVendorText(), c.Vendor);
    EXPECT_EQ(cpu.GetSignature(), c.Signature);
    EXPECT_EQ(cpu.IsKabyLake(), c.KabyLake);
  }
}

TEST_F(CpubaseTest, VendorCodeAndBrandAreReadOnConstruction) {
  Board.Cpu = {"AuthenticAMD", 0x00A20F10, "AMD Ryzen 7 5800X 8-Core Processor"};
  Boot();
  TCpuBase cpu;
  EXPECT_EQ(cpu.GetVendorCode(), 2);
  EXPECT_FALSE(cpu.IsIntel());
  EXPECT_EQ(cpu.GetBrandText(), "AMD Ryzen 7 5800X 8-Core Processor");
}

TEST_F(CpubaseTest, BrandLosesLeadingBlanksAndTrailingNuls) {
  // Leaves 0x80000002-4 give 48 bytes; the board pads with NULs.
  Board.Cpu.Brand = "       Intel(R) Core(TM) i7-7700K CPU @ 4.20GHz";
  Boot();
  TCpuBase cpu;
  EXPECT_EQ(cpu.GetBrandText(), "Intel(R) Core(TM) i7-7700K CPU @ 4.20GHz");
}

TEST_F(CpubaseTest, AnUnknownVendorIsMinusOneAndNotKabyLake) {
  Board.Cpu.Vendor = "VIA VIA VIA ";
  Boot();
  TCpuBase cpu;
  EXPECT_EQ(cpu.GetVendorCode(), -1);
  EXPECT_FALSE(cpu.IsKabyLake());
}

TEST_F(CpubaseTest, TheFirstProcessorObjectLoadsTheDriver) {
  Boot();
  EXPECT_FALSE(Machine().DriverLoaded());
  TCpuBase cpu;
  EXPECT_TRUE(Machine().DriverLoaded());
  EXPECT_NE(cpu.GetReadWrite()->GetDeviceHandle(), sys::kInvalidHandleValue);
}

}  // namespace
}  // namespace kestrune
