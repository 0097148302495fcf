#include "platform/PowerSource.h"

#include <gtest/gtest.h>

#include "sim/os/FakePowerStatus.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

TEST(PowerSourceTest, AcLineStatusAsTheSystemReportsIt) {
  struct Case {
    const char* name;
    sys::SystemPowerStatus status;
    bool fails;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {"desktop", sim::FakePowerStatus().Status, false, sys::kAcLineOnline},
      {"laptop on battery", sim::FakePowerStatus::OnBattery(), false, sys::kAcLineOffline},
      {"cannot tell", {sys::kAcLineUnknown, 255, 255, 0, 0xFFFFFFFF, 0xFFFFFFFF}, false, sys::kAcLineUnknown},
      // A failed call leaves its record untouched: never read as offline.
      {"call fails", {}, true, sys::kAcLineUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::FakePowerStatus power;
    power.Status = c.status;
    power.Fails = c.fails;
    sys::ScopedSeam<sys::IPowerStatus> seam(power);
    EXPECT_EQ(ReadAcLineStatus(), c.expected);
  }
}

}  // namespace
}  // namespace kestrune
