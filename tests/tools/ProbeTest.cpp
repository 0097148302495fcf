#include "tools/Probe.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/BoardFixture.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;

using ProbeTest = test::BoardFixture;

TEST_F(ProbeTest, ShippedBoardsShowWhatTheirGatesWillSee) {
  struct Case {
    const char* Board;
    const char* Expected;
  };
  const Case cases[] = {
      {"kabylake-z270-no-optane.json",
       "driver.open=1\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-7700K CPU @ "
       "4.20GHz\ncpu.signature=0x000906E9\ncpu.kabylake=1\npci.chipset=0xA2C5\n"},
      {"skylake-z270.json",
       "driver.open=1\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-6700K CPU @ "
       "4.00GHz\ncpu.signature=0x000506E3\ncpu.kabylake=0\npci.chipset=0xA2C5\n"},
      {"amd-x370.json",
       "driver.open=1\ncpu.vendor=AuthenticAMD\ncpu.vendor_code=2\ncpu.brand=AMD Ryzen 7 1800X Eight-Core "
       "Processor\ncpu.signature=0x00800F11\ncpu.kabylake=0\npci.chipset=0xFFFF\n"},
      // Without the driver the chipset reads all ones; CPUID still answers.
      {"kabylake-z270-no-driver.json",
       "driver.open=0\ncpu.vendor=GenuineIntel\ncpu.vendor_code=1\ncpu.brand=Intel(R) Core(TM) i7-7700K CPU @ "
       "4.20GHz\ncpu.signature=0x000906E9\ncpu.kabylake=1\npci.chipset=0xFFFF\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Board);
    ReleaseReadWriteInstance();
    Session.reset();
    BootFile(kBoards + "/" + c.Board);
    EXPECT_EQ(tools::ProbeMachine(), c.Expected);
  }
}

}  // namespace
}  // namespace kestrune
