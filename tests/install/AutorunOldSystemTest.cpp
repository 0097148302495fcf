// The restart entry on a system whose flags word is 32 or less (32-bit
// Windows XP: 0x020): a value of the per-user autostart list, and no COM.
#include <gtest/gtest.h>

#include "install/Advreg.h"
#include "install/Autorun.h"
#include "platform/Osversion.h"
#include "sim/os/FakeTaskScheduler.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

class AutorunOldSystemTest : public test::FakeOsFixture {
 protected:
  AutorunOldSystemTest() {
    SystemVersion.SetVersion(sys::kVerPlatformWin32Nt, 5, 1, 2600);
    SystemVersion.SetArchitecture(sys::kProcessorArchitectureIntel, false);
    Environment.ModulePath = "C:\\Program Files\\My Tool\\my.tool.exe";
  }
  const std::string RunKey = "HKCU\\" + std::string(kRunKey);
  sim::FakeCom Com;
  sim::FakeTaskScheduler Scheduler{Com};

 private:
  sys::ScopedSeam<sys::ICom> ComSeam{Com};
  sys::ScopedSeam<sys::ITaskScheduler> SchedulerSeam{Scheduler};
};

TEST_F(AutorunOldSystemTest, TheFlagsWordIs32) { EXPECT_EQ(OsVersionInstance().GetFlags(0xFFFF), 0x20u); }

TEST_F(AutorunOldSystemTest, RegisterWritesTheAutostartValueNamedUpToTheFirstDot) {
  EXPECT_TRUE(AutoRunInstance().Register("my.tool"));
  EXPECT_EQ(Registry.GetString(RunKey, "my"), "\"C:\\Program Files\\My Tool\\my.tool.exe\"");
  EXPECT_FALSE(Registry.GetValue(RunKey, "my.tool").has_value());
  EXPECT_TRUE(Scheduler.Calls.empty());
}

TEST_F(AutorunOldSystemTest, UnregisterRemovesIt) {
  Registry.SetString(RunKey, "my", "x");
  Registry.SetString(RunKey, "other", "y");
  EXPECT_TRUE(AutoRunInstance().Unregister("my.tool"));
  EXPECT_FALSE(Registry.GetValue(RunKey, "my").has_value());
  EXPECT_TRUE(Registry.GetValue(RunKey, "other").has_value());
  EXPECT_TRUE(Scheduler.Calls.empty());
}

TEST_F(AutorunOldSystemTest, UnregisterWithoutTheRunKeyCreatesNothing) {
  EXPECT_TRUE(AutoRunInstance().Unregister("my.tool"));
  EXPECT_FALSE(Registry.KeyExists(RunKey));
}

}  // namespace
}  // namespace kestrune
