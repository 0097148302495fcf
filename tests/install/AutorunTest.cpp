// The restart entry: on Windows 10 the logon task, through a recording Task
// Scheduler; on a system whose flags word is 32 or less (32-bit Windows XP:
// 0x020) a value of the per-user autostart list, and no COM. Each fixture
// releases the process-wide version object, so the next test probes its own
// system.
#include "install/Autorun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Osversion.h"
#include "install/Advreg.h"
#include "platform/Velwmi.h"
#include "sim/os/FakeFileSecurity.h"
#include "sim/os/FakeFileSystem.h"
#include "sim/os/FakeSystemFolders.h"
#include "sim/os/FakeTaskScheduler.h"
#include "sim/os/FakeWmi.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

using sim::FakeTaskScheduler;
using Calls = std::vector<std::string>;

class AutorunTest : public test::FakeOsFixture {
 protected:
  AutorunTest() {
    Environment.ModulePath = "C:\\Tools\\Kestrune.exe";
    Files.AddFile(u"C:\\Tools\\Kestrune.exe", "the program");
    Files.AddFolder(u"C:\\Program Files (x86)");
    for (const char* path : {kVendorFolder, kCopyFolder, kCopy}) {
      Security.Set(path, AdministratorsOnly());
    }
  }
  ~AutorunTest() override { ReleaseOsVersionInstance(); }

  // The calls of the last operation, from its CoInitializeEx on.
  Calls LastOperation() const {
    const Calls& all = Scheduler.Calls;
    for (std::size_t i = all.size(); i-- > 0;) {
      if (all[i] == "CoInitializeEx(0x2)") {
        return Calls(all.begin() + static_cast<std::ptrdiff_t>(i), all.end());
      }
    }
    return {};
  }

  // The program's copy that the task starts, and its folders.
  static constexpr const char* kVendorFolder = "C:\\Program Files (x86)\\Velnor";
  static constexpr const char* kCopyFolder = "C:\\Program Files (x86)\\Velnor\\Kestrune";
  static constexpr const char* kCopy = "C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe";
  static sys::FileSecurity AdministratorsOnly() {
    return {"S-1-5-32-544",
            true,
            {{sys::AccessEntry::Kind::Allow, 0x10, 0x1F01FF, "S-1-5-32-544"},
             {sys::AccessEntry::Kind::Allow, 0x10, 0x1200A9, "S-1-5-32-545"}}};
  }

  sim::FakeCom Com;
  FakeTaskScheduler Scheduler{Com, &Log};
  sim::FakeFileSystem Files;
  sim::FakeFileSecurity Security;
  sim::FakeSystemFolders Folders;

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Files};
  sys::ScopedSeam<sys::IFileSystem> FileSystemSeam{Files};
  sys::ScopedSeam<sys::IDirectoryListing> ListingSeam{Files};
  sys::ScopedSeam<sys::IFileSecurity> SecuritySeam{Security};
  sys::ScopedSeam<sys::ISystemFolders> FoldersSeam{Folders};
  sys::ScopedSeam<sys::ICom> ComSeam{Com};
  sys::ScopedSeam<sys::ITaskScheduler> SchedulerSeam{Scheduler};
};

const Calls kStart = {
    "CoInitializeEx(0x2)",
    "CoInitializeSecurity(-1, 6, 3, 0x0)",
    "CoCreateInstance(TaskScheduler, 0x1, ITaskService)",
    "ITaskService::Connect(empty, empty, empty, empty)",
    "ITaskService::GetFolder(\\)",
    "ITaskFolder::DeleteTask(Kestrune, 0)",
};

Calls Join(Calls first, const Calls& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

const Calls kRegistration =
    Join(kStart, {
                     "ITaskService::NewTask(0)",
                     "Release ITaskService",
                     "ITaskDefinition::get_RegistrationInfo()",
                     "IRegistrationInfo::put_Author(Author Name)",
                     "Release IRegistrationInfo",
                     "ITaskDefinition::get_Principal()",
                     "IPrincipal::put_RunLevel(1)",
                     "Release IPrincipal",
                     "ITaskDefinition::get_Settings()",
                     "ITaskSettings::put_StartWhenAvailable(1)",
                     "ITaskSettings::put_DeleteExpiredTaskAfter(null)",
                     "ITaskSettings::put_ExecutionTimeLimit(null)",
                     "ITaskSettings::put_DisallowStartIfOnBatteries(0)",
                     "Release ITaskSettings",
                     "ITaskDefinition::get_Triggers()",
                     "ITriggerCollection::Create(9)",
                     "Release ITriggerCollection",
                     "ITrigger::QueryInterface(ILogonTrigger)",
                     "Release ITrigger",
                     "ILogonTrigger::put_Enabled(1)",
                     "Release ILogonTrigger",
                     "ITaskDefinition::get_Actions()",
                     "IActionCollection::Create(0)",
                     "Release IActionCollection",
                     "IAction::QueryInterface(IExecAction)",
                     "Release IAction",
                     "IExecAction::put_Path(C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe)",
                     "IExecAction::put_Arguments()",
                     "Release IExecAction",
                     "ITaskFolder::RegisterTaskDefinition(Kestrune, 6, \"\", empty, 3, \"\")",
                     "Release ITaskFolder",
                     "Release ITaskDefinition",
                     "Release IRegisteredTask",
                     "CoUninitialize()",
                 });

TEST_F(AutorunTest, TheSystemIsWindows10WithTheX64Bit) {
  EXPECT_GT(OsVersionInstance().GetFlags(0xFFFF), 0x20u);  // the scheduler's side of the rule
}

TEST_F(AutorunTest, RegisterCreatesTheLogonTaskInTheOrderOfItsSettings) {
  EXPECT_TRUE(AutoRunInstance().Register("Kestrune"));
  EXPECT_EQ(Scheduler.Calls, kRegistration);
  EXPECT_EQ(Scheduler.LiveObjects, 0);
  EXPECT_EQ(Com.Apartments, 0);
  EXPECT_EQ(Scheduler.ObjectsAliveAtUninitialize, 0);
  EXPECT_FALSE(Registry.GetValue("HKCU\\" + std::string(kRunKey), "Kestrune").has_value());
}

TEST_F(AutorunTest, TheRegisteredTask) {
  ASSERT_TRUE(AutoRunInstance().Register("Kestrune"));
  ASSERT_EQ(Scheduler.Tasks.size(), 1u);
  const FakeTaskScheduler::Task& task = Scheduler.Tasks.at(u"Kestrune");
  EXPECT_EQ(task.Content.Author, sys::Bstr(u"Author Name"));
  EXPECT_EQ(task.Content.RunLevel, sys::kTaskRunLevelHighest);
  EXPECT_EQ(task.Content.StartWhenAvailable, 1);
  ASSERT_TRUE(task.Content.DeleteExpiredTaskAfter.has_value());  // put, as the null text
  EXPECT_FALSE(task.Content.DeleteExpiredTaskAfter->has_value());
  ASSERT_TRUE(task.Content.ExecutionTimeLimit.has_value());
  EXPECT_FALSE(task.Content.ExecutionTimeLimit->has_value());
  EXPECT_EQ(task.Content.DisallowStartIfOnBatteries, 0);
  ASSERT_EQ(task.Content.Triggers.size(), 1u);
  EXPECT_EQ(task.Content.Triggers[0].Type, sys::kTaskTriggerLogon);
  EXPECT_EQ(task.Content.Triggers[0].Enabled, 1);
  ASSERT_EQ(task.Content.Actions.size(), 1u);
  EXPECT_EQ(task.Content.Actions[0].Type, sys::kTaskActionExec);
  // The copy only administrators can change, not the file the program ran
  // from.
  EXPECT_EQ(task.Content.Actions[0].Path, sys::Bstr(u"C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe"));
  ASSERT_NE(Files.FindFile(u"C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe"), nullptr);
  EXPECT_EQ(Files.FindFile(u"C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe")->Data, "the program");
  EXPECT_EQ(task.Content.Actions[0].Arguments, sys::Bstr(u""));
  EXPECT_EQ(task.Flags, sys::kTaskCreateOrUpdate);
  EXPECT_FALSE(task.UserId.Empty);
  EXPECT_EQ(task.UserId.Text, u"");
  EXPECT_TRUE(task.Password.Empty);
  EXPECT_EQ(task.LogonType, sys::kTaskLogonInteractiveToken);
  EXPECT_FALSE(task.Sddl.Empty);
  EXPECT_EQ(task.Sddl.Text, u"");
}

TEST_F(AutorunTest, UnregisterWithoutATaskReturnsTrueAndLeavesComInitialised) {
  EXPECT_TRUE(AutoRunInstance().Unregister("Kestrune"));
  EXPECT_EQ(Scheduler.Calls, Join(kStart, {"Release ITaskFolder", "Release ITaskService"}));
  EXPECT_EQ(Com.Apartments, 1);  // no CoUninitialize
  EXPECT_TRUE(Com.SecuritySet);
  EXPECT_EQ(Scheduler.LiveObjects, 0);
}

TEST_F(AutorunTest, UnregisterDeletesTheTask) {
  Scheduler.Tasks[u"Kestrune"] = {};
  Scheduler.Tasks[u"Other"] = {};
  EXPECT_TRUE(AutoRunInstance().Unregister("Kestrune"));
  EXPECT_EQ(Scheduler.Tasks.count(u"Kestrune"), 0u);
  EXPECT_EQ(Scheduler.Tasks.count(u"Other"), 1u);
}

// The run's order: the entry is removed at the start and registered later
// in the same process, which finds COM and its security already in place.
TEST_F(AutorunTest, RegisterAfterUnregisterFindsComInitialisedAndSecurityTooLate) {
  ASSERT_TRUE(AutoRunInstance().Unregister("Kestrune"));
  EXPECT_TRUE(AutoRunInstance().Register("Kestrune"));
  EXPECT_EQ(LastOperation(), kRegistration);
  EXPECT_EQ(Scheduler.Tasks.size(), 1u);
  EXPECT_EQ(Com.Apartments, 1);  // the Unregister's initialisation stays
  EXPECT_EQ(Scheduler.LiveObjects, 0);
  EXPECT_EQ(Console.Output, "");
  EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(AutorunTest, RegisterTwiceLeavesOneTask) {
  ASSERT_TRUE(AutoRunInstance().Register("Kestrune"));
  ASSERT_TRUE(AutoRunInstance().Register("Kestrune"));
  EXPECT_EQ(Scheduler.Tasks.size(), 1u);
  EXPECT_EQ(Log.All(),
            (std::vector<std::string>{"register task Kestrune", "delete task Kestrune", "register task Kestrune"}));
  EXPECT_EQ(Com.Apartments, 0);
}

TEST_F(AutorunTest, AFailedDeletionIsNoFailure) {
  Scheduler.Failures["ITaskFolder::DeleteTask"] = sys::kEAccessDenied;
  EXPECT_TRUE(AutoRunInstance().Register("Kestrune"));
  EXPECT_EQ(Scheduler.Tasks.size(), 1u);
  EXPECT_TRUE(AutoRunInstance().Unregister("Kestrune"));
}

// A failure at each step after COM is set up: false, every object released,
// COM uninitialised once, nothing registered, nothing after the failing call.
TEST_F(AutorunTest, AFailureAtEachStepReleasesAndUninitialises) {
  const char* steps[] = {
      "CoCreateInstance",
      "ITaskService::Connect",
      "ITaskService::GetFolder",
      "ITaskService::NewTask",
      "ITaskDefinition::get_RegistrationInfo",
      "IRegistrationInfo::put_Author",
      "ITaskDefinition::get_Principal",
      "IPrincipal::put_RunLevel",
      "ITaskDefinition::get_Settings",
      "ITaskSettings::put_StartWhenAvailable",
      "ITaskSettings::put_DeleteExpiredTaskAfter",
      "ITaskSettings::put_ExecutionTimeLimit",
      "ITaskSettings::put_DisallowStartIfOnBatteries",
      "ITaskDefinition::get_Triggers",
      "ITriggerCollection::Create",
      "ITrigger::QueryInterface",
      "ILogonTrigger::put_Enabled",
      "ITaskDefinition::get_Actions",
      "IActionCollection::Create",
      "IAction::QueryInterface",
      "IExecAction::put_Path",
      "IExecAction::put_Arguments",
      "ITaskFolder::RegisterTaskDefinition",
  };
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    sim::FakeCom com;
    sys::ScopedSeam<sys::ICom> comSeam(com);
    FakeTaskScheduler scheduler{com};
    sys::ScopedSeam<sys::ITaskScheduler> seam(scheduler);
    scheduler.Tasks[u"Kestrune"] = {};
    scheduler.Failures[step] = sys::kEFail;

    EXPECT_FALSE(AutoRunInstance().Register("Kestrune"));
    EXPECT_EQ(scheduler.LiveObjects, 0);
    EXPECT_EQ(scheduler.ObjectsAliveAtUninitialize, 0);
    EXPECT_EQ(com.Apartments, 0);
    ASSERT_FALSE(scheduler.Calls.empty());
    EXPECT_EQ(scheduler.Calls.back(), "CoUninitialize()");
    // The calls up to the failing one are the registration's own, and only
    // releases follow it.
    std::size_t failed = 0;
    while (failed < scheduler.Calls.size() && scheduler.Calls[failed].rfind(std::string(step) + "(", 0) != 0) {
      ++failed;
    }
    ASSERT_LT(failed, scheduler.Calls.size());
    EXPECT_TRUE(std::equal(scheduler.Calls.begin(), scheduler.Calls.begin() + static_cast<std::ptrdiff_t>(failed) + 1,
                           kRegistration.begin()));
    for (std::size_t i = failed + 1; i + 1 < scheduler.Calls.size(); ++i) {
      EXPECT_EQ(scheduler.Calls[i].rfind("Release ", 0), 0u) << scheduler.Calls[i];
    }
    // The old task was deleted unless the failure came before the deletion.
    const bool beforeDeletion = std::string(step).rfind("CoCreateInstance", 0) == 0 ||
                                std::string(step) == "ITaskService::Connect" ||
                                std::string(step) == "ITaskService::GetFolder";
    EXPECT_EQ(scheduler.Tasks.size(), beforeDeletion ? 1u : 0u);
  }
}

// A folder others could change gets no copy and the scheduler no task: the
// logon task must never start a file a non-administrator can replace.
TEST_F(AutorunTest, NoTaskWithoutACopyOnlyAdministratorsCanChange) {
  sys::FileSecurity usersMayWrite = AdministratorsOnly();
  usersMayWrite.Entries.push_back({sys::AccessEntry::Kind::Allow, 0x10, 0x1301BF, "S-1-5-11"});
  Security.Set(kCopyFolder, usersMayWrite);
  EXPECT_FALSE(AutoRunInstance().Register("Kestrune"));
  EXPECT_TRUE(Scheduler.Tasks.empty());
  EXPECT_TRUE(Scheduler.Calls.empty());
  EXPECT_EQ(Files.FindFile(u"C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe"), nullptr);
}

TEST_F(AutorunTest, UnregisterFailingBeforeTheDeletionUninitialises) {
  Scheduler.Failures["ITaskService::GetFolder"] = sys::kEAccessDenied;
  EXPECT_FALSE(AutoRunInstance().Unregister("Kestrune"));
  EXPECT_EQ(Com.Apartments, 0);
  EXPECT_EQ(Scheduler.LiveObjects, 0);
  EXPECT_EQ(Scheduler.Calls.back(), "CoUninitialize()");
}

TEST_F(AutorunTest, CoInitializeExFailures) {
  const struct {
    sys::HResult hr;
    const char* output;
  } cases[] = {
      {sys::kRpcEChangedMode, "\nCoInitializeEx failed: 80010106\n\nCannot change thread mode after it is set.\n"},
      {sys::kEOutOfMemory, "\nCoInitializeEx failed: 8007000e\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    sim::FakeCom com;
    sys::ScopedSeam<sys::ICom> comSeam(com);
    FakeTaskScheduler scheduler{com};
    sys::ScopedSeam<sys::ITaskScheduler> seam(scheduler);
    com.Answers["CoInitializeEx"] = c.hr;
    Console.Output.clear();
    EXPECT_FALSE(AutoRunInstance().Register("Kestrune"));
    EXPECT_EQ(Console.Output, c.output);
    EXPECT_EQ(scheduler.Calls, Calls{"CoInitializeEx(0x2)"});  // nothing to uninitialise
    EXPECT_TRUE(Dialogs.Boxes.empty());
  }
}

TEST_F(AutorunTest, CoInitializeSecurityFailuresShowABoxAndUninitialise) {
  const struct {
    sys::HResult hr;
    const char* line;
    const char* box;
  } cases[] = {
      {sys::kRpcENoGoodSecurityPackages, "\nCoInitializeSecurity failed: 8001011a\n",
       "CoInitializeSecurity failed: RPC_E_NO_GOOD_SECURITY_PACKAGES"},
      {sys::kCoENotInitialized, "\nCoInitializeSecurity failed: 800401f0\n",
       "CoInitializeSecurity failed: CO_E_NOTINITIALIZED"},
      {sys::kEAccessDenied, "\nCoInitializeSecurity failed: 80070005\n", "CoInitializeSecurity failed:0x80070005"},
      {static_cast<sys::HResult>(0x8000000Au), "\nCoInitializeSecurity failed: 8000000a\n",
       "CoInitializeSecurity failed:0x8000000A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    sim::FakeCom com;
    sys::ScopedSeam<sys::ICom> comSeam(com);
    FakeTaskScheduler scheduler{com};
    sys::ScopedSeam<sys::ITaskScheduler> seam(scheduler);
    com.Answers["CoInitializeSecurity"] = c.hr;
    Console.Output.clear();
    Dialogs.Boxes.clear();
    EXPECT_FALSE(AutoRunInstance().Unregister("Kestrune"));
    EXPECT_EQ(Console.Output, c.line);
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, c.box);
    EXPECT_EQ(Dialogs.Boxes[0].Type, sys::kMbOk | sys::kMbIconError);
    EXPECT_EQ(scheduler.Calls,
              (Calls{"CoInitializeEx(0x2)", "CoInitializeSecurity(-1, 6, 3, 0x0)", "CoUninitialize()"}));
    EXPECT_EQ(com.Apartments, 0);
  }
}

TEST_F(AutorunTest, ScheduleLogonTaskPassesItsArgumentsAndUser) {
  EXPECT_TRUE(ScheduleLogonTask("Nightly", "D:\\Tools\\run.exe", "/S /C", "someone"));
  const FakeTaskScheduler::Task& task = Scheduler.Tasks.at(u"Nightly");
  EXPECT_EQ(task.Content.Actions[0].Path, sys::Bstr(u"D:\\Tools\\run.exe"));
  EXPECT_EQ(task.Content.Actions[0].Arguments, sys::Bstr(u"/S /C"));
  EXPECT_EQ(task.UserId.Text, u"someone");
}

// The run removes its restart entry before it asks WMI about the network:
// the query then finds the apartment that the removal kept, and the
// security it set, as it does on Windows.
TEST_F(AutorunTest, TheWmiQueryAfterTheRemovalFindsComInitialisedAndSecurityTooLate) {
  sim::FakeWmi wmi{Com};
  sys::ScopedSeam<sys::IWmi> wmiSeam(wmi);
  sim::FakeWmi::Property id;
  id.Name = u"PNPDeviceID";
  id.Value.Vt = sys::kVtBstr;
  id.Value.BstrVal = u"PCI\\VEN_8086&DEV_15B8";
  wmi.Objects.push_back({{id}});
  ASSERT_TRUE(AutoRunInstance().Unregister("Kestrune"));
  std::vector<sys::HResult> answers;
  Com.Observe(&answers, [&](const sim::FakeCom::Call& call) { answers.push_back(call.Result); });

  EXPECT_EQ(TVelWMI().Query(u"root\\cimv2", u"SELECT PNPDeviceID FROM Win32_NetworkAdapter").size(), 1u);
  EXPECT_EQ(answers, (std::vector<sys::HResult>{sys::kSFalse, sys::kRpcETooLate, sys::kSOk}));
  EXPECT_EQ(Com.Apartments, 1);  // the query undid only its own initialisation
  Com.Forget(&answers);
}

TEST_F(AutorunTest, TheProcessWideInstanceIsOne) { EXPECT_EQ(&AutoRunInstance(), &AutoRunInstance()); }

// The autostart list of older systems.
class AutorunOldSystemTest : public test::FakeOsFixture {
 protected:
  AutorunOldSystemTest() {
    SystemVersion.SetVersion(sys::kVerPlatformWin32Nt, 5, 1, 2600);
    SystemVersion.SetArchitecture(sys::kProcessorArchitectureIntel, false);
    Environment.ModulePath = "C:\\Program Files\\My Tool\\my.tool.exe";
  }
  ~AutorunOldSystemTest() override { ReleaseOsVersionInstance(); }  // the next test probes its own system
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
