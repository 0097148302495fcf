#include "install/RunLock.h"

#include <gtest/gtest.h>

#include <functional>

#include "sim/os/FakeMutexes.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

// Two processes on one machine: this run's (session 1) and another one.
class RunLockTest : public ::testing::Test {
 public:
  sim::FakeMutexNamespace MachineNames;
  sim::FakeMutexes ThisProcess{MachineNames, 1};

 private:
  sys::ScopedSeam<sys::IMutexes> Seam{ThisProcess};
};

struct LockCase {
  const char* name;
  sys::Dword otherSession;
  // What the other process did before this run asks for the lock.
  std::function<void(sim::FakeMutexes& other, sim::FakeMutexes& self)> before;
  bool acquired;
};

class RunLockCases : public RunLockTest, public ::testing::WithParamInterface<LockCase> {};

TEST_P(RunLockCases, AcquireAnswersWhetherThisRunIsAlone) {
  const LockCase& c = GetParam();
  sim::FakeMutexes other(MachineNames, c.otherSession);
  c.before(other, ThisProcess);
  RunLock lock;
  EXPECT_EQ(lock.Acquire(), c.acquired);
  EXPECT_EQ(lock.Held(), c.acquired);
  EXPECT_EQ(ThisProcess.Owns(RunLock::kName), c.acquired);
  // A refused run keeps no handle to the other run's lock.
  EXPECT_EQ(ThisProcess.OpenHandles(), c.acquired ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, RunLockCases,
    ::testing::Values(
        LockCase{"Alone", 2, [](auto&, auto&) {}, true},
        LockCase{"RunInAnotherSession", 2, [](auto& other, auto&) { other.CreateMutexW(true, RunLock::kName); }, false},
        LockCase{"RunInTheSameSession", 1, [](auto& other, auto&) { other.CreateMutexW(true, RunLock::kName); }, false},
        LockCase{"RunThatDied", 2,
                 [](auto& other, auto&) {
                   other.CreateMutexW(true, RunLock::kName);
                   other.End();
                 },
                 true},
        // Another program's mutex of the same short name in its own session
        // is no run of this program.
        LockCase{"LocalNameOfAnotherSession", 2,
                 [](auto& other, auto&) { other.CreateMutexW(true, u"Velnor.Kestrune.Run"); }, true},
        // A lock made by a run of another user that this one may not open:
        // the name is taken all the same.
        LockCase{"LockThatCannotBeOpened", 2,
                 [](auto& other, auto& self) {
                   other.CreateMutexW(true, RunLock::kName);
                   self.FailNextCreate = sys::kErrorAccessDenied;
                 },
                 false},
        LockCase{"NoResourcesForTheLock", 2,
                 [](auto&, auto& self) { self.FailNextCreate = sys::kErrorNotEnoughMemory; }, false}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(RunLockTest, HeldUntilTheLockGoes) {
  sim::FakeMutexes other(MachineNames, 2);
  sys::Dword otherError = 0;
  {
    RunLock lock;
    ASSERT_TRUE(lock.Acquire());
    const sys::MutexHandle handle = other.CreateMutexW(true, RunLock::kName);
    otherError = other.GetLastError();
    other.CloseHandle(handle);
  }
  EXPECT_EQ(otherError, static_cast<sys::Dword>(sys::kErrorAlreadyExists));
  EXPECT_TRUE(MachineNames.Mutexes.empty());
  other.CreateMutexW(true, RunLock::kName);
  EXPECT_EQ(other.GetLastError(), static_cast<sys::Dword>(sys::kErrorSuccess));
}

// What the fake refuses, as the system's object manager does.
TEST_F(RunLockTest, FakeNamesFollowTheObjectManager) {
  struct Case {
    std::u16string name;
    sys::Dword error;
  };
  const Case cases[] = {
      {u"Global\\Name", sys::kErrorSuccess},
      {u"Local\\Name", sys::kErrorSuccess},
      {u"Other\\Name", sys::kErrorPathNotFound},
      {u"Global\\A\\B", sys::kErrorPathNotFound},
      {std::u16string(261, u'x'), sys::kErrorFilenameExcedRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.begin() + std::min<std::size_t>(c.name.size(), 20)));
    const sys::MutexHandle handle = ThisProcess.CreateMutexW(false, c.name);
    EXPECT_EQ(ThisProcess.GetLastError(), c.error);
    EXPECT_EQ(handle != sys::kNoMutexHandle, c.error == sys::kErrorSuccess);
    if (handle != sys::kNoMutexHandle) {
      EXPECT_TRUE(ThisProcess.CloseHandle(handle));
      EXPECT_FALSE(ThisProcess.CloseHandle(handle));
      EXPECT_EQ(ThisProcess.GetLastError(), static_cast<sys::Dword>(sys::kErrorInvalidHandle));
    }
  }
  // "Local\\" and no prefix are the same name in one session.
  ThisProcess.CreateMutexW(true, u"Local\\Same");
  ThisProcess.CreateMutexW(true, u"Same");
  EXPECT_EQ(ThisProcess.GetLastError(), static_cast<sys::Dword>(sys::kErrorAlreadyExists));
}

}  // namespace
}  // namespace kestrune
