// The Task Scheduler adapter against Wine's scheduler, as far as Wine
// implements it: COM set-up, the connection, the root folder, task
// definitions with their author, settings and exec action, registering and
// deleting. Wine lacks logon triggers and the run level (E_NOTIMPL); where
// a call reports that, the test checks what follows from it instead.
#include "sys/win32/Win32Com.h"
#include "sys/win32/Win32TaskScheduler.h"

#include <gtest/gtest.h>

#include <thread>

#include "install/Autorun.h"
#include "sim/os/FakeConsole.h"
#include "sys/Seam.h"
#include "sys/win32/Adapters.h"

namespace kestrune {
namespace {

constexpr const char* kTaskName = "KestruneWineTest";
constexpr const char16_t* kTaskName16 = u"KestruneWineTest";
constexpr sys::Dword kCoInitMultithreaded = 0x0;

class Win32TaskSchedulerTest : public ::testing::Test {
 protected:
  Win32TaskSchedulerTest() {
    // Every test balances its own initialisation; the one that the
    // empty-path form leaves behind stays for the whole program.
    EXPECT_TRUE(sys::Succeeded(Com.CoInitializeEx(sys::kCoInitApartmentThreaded)));
  }
  ~Win32TaskSchedulerTest() override { Com.CoUninitialize(); }

  std::unique_ptr<sys::ITaskFolder> RootFolder() {
    const sys::TextVariant empty;
    std::unique_ptr<sys::ITaskFolder> folder;
    EXPECT_EQ(Scheduler.CoCreateInstanceTaskService(sys::kClsctxInprocServer, &Service), sys::kSOk);
    if (Service) {
      EXPECT_EQ(Service->Connect(empty, empty, empty, empty), sys::kSOk);
      EXPECT_EQ(Service->GetFolder(u"\\", &folder), sys::kSOk);
    }
    return folder;
  }

  // A definition with the logon task's author, settings and action.
  std::unique_ptr<sys::ITaskDefinition> Definition(const std::u16string& path) {
    std::unique_ptr<sys::ITaskDefinition> definition;
    EXPECT_EQ(Service->NewTask(0, &definition), sys::kSOk);
    std::unique_ptr<sys::IRegistrationInfo> info;
    EXPECT_EQ(definition->get_RegistrationInfo(&info), sys::kSOk);
    EXPECT_EQ(info->put_Author(u"Author Name"), sys::kSOk);
    std::unique_ptr<sys::ITaskSettings> settings;
    EXPECT_EQ(definition->get_Settings(&settings), sys::kSOk);
    EXPECT_EQ(settings->put_StartWhenAvailable(1), sys::kSOk);
    EXPECT_EQ(settings->put_DeleteExpiredTaskAfter(std::nullopt), sys::kSOk);
    EXPECT_EQ(settings->put_ExecutionTimeLimit(std::nullopt), sys::kSOk);
    EXPECT_EQ(settings->put_DisallowStartIfOnBatteries(0), sys::kSOk);
    std::unique_ptr<sys::IActionCollection> actions;
    EXPECT_EQ(definition->get_Actions(&actions), sys::kSOk);
    std::unique_ptr<sys::IAction> action;
    EXPECT_EQ(actions->Create(sys::kTaskActionExec, &action), sys::kSOk);
    std::unique_ptr<sys::IExecAction> exec;
    EXPECT_EQ(action->QueryInterfaceExecAction(&exec), sys::kSOk);
    EXPECT_EQ(exec->put_Path(path), sys::kSOk);
    EXPECT_EQ(exec->put_Arguments(u""), sys::kSOk);
    return definition;
  }

  sys::HResult Register(sys::ITaskFolder& folder, sys::ITaskDefinition& definition) {
    std::unique_ptr<sys::IRegisteredTask> task;
    const sys::HResult hr = folder.RegisterTaskDefinition(
        kTaskName16, definition, sys::kTaskCreateOrUpdate, sys::TextVariant::Text16(u""), sys::TextVariant(),
        sys::kTaskLogonInteractiveToken, sys::TextVariant::Text16(u""), &task);
    EXPECT_EQ(sys::Succeeded(hr), task != nullptr);
    return hr;
  }

  const bool AdaptersInstalled = (sys::win32::InstallAdapters(), true);  // before the console seam below
  sys::win32::Win32Com Com;
  sys::win32::Win32TaskScheduler Scheduler;
  std::unique_ptr<sys::ITaskService> Service;
  sim::FakeConsole Console;

 private:
  sys::ScopedSeam<sys::IConsole> ConsoleSeam{Console};
};

// Wine accepts every later call too; RPC_E_TOO_LATE is the fake's to show.
TEST_F(Win32TaskSchedulerTest, SecurityIsAcceptedWithTheProgramsSettings) {
  const sys::HResult hr = Com.CoInitializeSecurity(sys::kAuthnServicesDefault, sys::kRpcCAuthnLevelPktPrivacy,
                                                   sys::kRpcCImpLevelImpersonate, sys::kEoacNone);
  EXPECT_TRUE(sys::Succeeded(hr) || hr == sys::kRpcETooLate) << std::hex << hr;
}

TEST_F(Win32TaskSchedulerTest, ASecondInitialisationOnTheThreadAnswersSFalse) {
  EXPECT_EQ(Com.CoInitializeEx(sys::kCoInitApartmentThreaded), sys::kSFalse);
  Com.CoUninitialize();
}

TEST_F(Win32TaskSchedulerTest, TaskDefinitionsAreRegisteredAndDeleted) {
  std::unique_ptr<sys::ITaskFolder> folder = RootFolder();
  ASSERT_NE(folder, nullptr);
  folder->DeleteTask(kTaskName16, 0);
  EXPECT_EQ(folder->DeleteTask(kTaskName16, 0), sys::kHResultFileNotFound);
  std::unique_ptr<sys::ITaskDefinition> definition = Definition(u"C:\\windows\\notepad.exe");
  EXPECT_EQ(Register(*folder, *definition), sys::kSOk);
  EXPECT_EQ(Register(*folder, *definition), sys::kSOk);  // create or update
  EXPECT_EQ(folder->DeleteTask(kTaskName16, 0), sys::kSOk);
  EXPECT_EQ(folder->DeleteTask(kTaskName16, 0), sys::kHResultFileNotFound);
}

TEST_F(Win32TaskSchedulerTest, TheRunLevelAndTheLogonTrigger) {
  ASSERT_NE(RootFolder(), nullptr);
  std::unique_ptr<sys::ITaskDefinition> definition;
  ASSERT_EQ(Service->NewTask(0, &definition), sys::kSOk);
  std::unique_ptr<sys::IPrincipal> principal;
  ASSERT_EQ(definition->get_Principal(&principal), sys::kSOk);
  const sys::HResult runLevel = principal->put_RunLevel(sys::kTaskRunLevelHighest);
  EXPECT_TRUE(runLevel == sys::kSOk || runLevel == sys::kENotImpl) << std::hex << runLevel;

  std::unique_ptr<sys::ITriggerCollection> triggers;
  ASSERT_EQ(definition->get_Triggers(&triggers), sys::kSOk);
  std::unique_ptr<sys::ITrigger> trigger;
  const sys::HResult created = triggers->Create(sys::kTaskTriggerLogon, &trigger);
  if (created == sys::kENotImpl) {
    EXPECT_EQ(trigger, nullptr);
    return;  // Wine has no trigger objects
  }
  ASSERT_EQ(created, sys::kSOk);
  std::unique_ptr<sys::ILogonTrigger> logonTrigger;
  ASSERT_EQ(trigger->QueryInterfaceLogonTrigger(&logonTrigger), sys::kSOk);
  EXPECT_EQ(logonTrigger->put_Enabled(1), sys::kSOk);
}

TEST_F(Win32TaskSchedulerTest, TheEmptyPathFormDeletesTheTaskAndLeavesComInitialised) {
  {
    std::unique_ptr<sys::ITaskFolder> folder = RootFolder();
    ASSERT_NE(folder, nullptr);
    std::unique_ptr<sys::ITaskDefinition> definition = Definition(u"C:\\windows\\notepad.exe");
    ASSERT_EQ(Register(*folder, *definition), sys::kSOk);
  }
  Service.reset();

  EXPECT_TRUE(ScheduleLogonTask(kTaskName, "", "", ""));
  EXPECT_TRUE(ScheduleLogonTask(kTaskName, "", "", ""));  // no task: still true
  EXPECT_EQ(Console.Output, "");

  std::unique_ptr<sys::ITaskFolder> folder = RootFolder();
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->DeleteTask(kTaskName16, 0), sys::kHResultFileNotFound);
  // Ours plus the two that the empty-path form left.
  EXPECT_EQ(Com.CoInitializeEx(sys::kCoInitApartmentThreaded), sys::kSFalse);
  Com.CoUninitialize();
}

TEST_F(Win32TaskSchedulerTest, RegisteringGoesAsFarAsTheSchedulerDoes) {
  // What this scheduler supports of the logon task.
  bool complete = false;
  {
    ASSERT_NE(RootFolder(), nullptr);
    std::unique_ptr<sys::ITaskDefinition> definition;
    ASSERT_EQ(Service->NewTask(0, &definition), sys::kSOk);
    std::unique_ptr<sys::IPrincipal> principal;
    std::unique_ptr<sys::ITriggerCollection> triggers;
    std::unique_ptr<sys::ITrigger> trigger;
    ASSERT_EQ(definition->get_Principal(&principal), sys::kSOk);
    ASSERT_EQ(definition->get_Triggers(&triggers), sys::kSOk);
    complete = principal->put_RunLevel(sys::kTaskRunLevelHighest) == sys::kSOk &&
               triggers->Create(sys::kTaskTriggerLogon, &trigger) == sys::kSOk;
    Service.reset();
  }

  EXPECT_EQ(ScheduleLogonTask(kTaskName, "C:\\windows\\notepad.exe", "", ""), complete);
  std::unique_ptr<sys::ITaskFolder> folder = RootFolder();
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->DeleteTask(kTaskName16, 0), complete ? sys::kSOk : sys::kHResultFileNotFound);
}

TEST_F(Win32TaskSchedulerTest, AMultithreadedThreadCannotChangeItsMode) {
  bool result = true;
  std::thread thread([&] {
    ASSERT_TRUE(sys::Succeeded(Com.CoInitializeEx(kCoInitMultithreaded)));
    result = ScheduleLogonTask(kTaskName, "", "", "");
    Com.CoUninitialize();
  });
  thread.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(Console.Output, "\nCoInitializeEx failed: 80010106\n\nCannot change thread mode after it is set.\n");
}

}  // namespace
}  // namespace kestrune
