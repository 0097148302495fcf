#include "install/Autorun.h"

#include "common/Debugconsole.h"

#include <cstdio>
#include <memory>

#include "common/Osversion.h"
#include "common/Utils.h"
#include "install/Advreg.h"
#include "install/ProtectedCopy.h"
#include "sys/CodePage.h"
#include "sys/Com.h"
#include "sys/Console.h"
#include "sys/Dialogs.h"
#include "sys/Errors.h"
#include "sys/Seam.h"
#include "sys/TaskScheduler.h"

namespace kestrune {

namespace {

using sys::HResult;

// Flags words up to this one use the autostart list.
constexpr std::uint32_t kLastRunKeySystem = 0x20;
constexpr std::uint16_t kWarningColour = 14;
constexpr const char16_t* kAuthor = u"Author Name";
constexpr const char* kCaption = "Kestrune";

bool Failed(HResult hr) { return !sys::Succeeded(hr); }
using sys::Obtained;

std::u16string Wide(const std::string& text) {
  return sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, text).value_or(std::u16string());
}

void Print(const char* format, HResult hr) {
  char line[80];
  std::snprintf(line, sizeof(line), format, static_cast<unsigned>(hr));
  sys::Use<sys::IConsole>().Write(line);
}

// The debug console's report of the last system error (the console is
// inactive in this program, so nothing is shown).
void WriteLastErrorToDebugConsole(std::uint16_t colour) { DebugConsoleInstance(false)->WriteLastError(colour); }

std::string SecurityFailureText(HResult hr) {
  if (hr == sys::kRpcENoGoodSecurityPackages) {
    return "CoInitializeSecurity failed: RPC_E_NO_GOOD_SECURITY_PACKAGES";
  }
  if (hr == sys::kCoENotInitialized) {
    return "CoInitializeSecurity failed: CO_E_NOTINITIALIZED";
  }
  char text[64];
  std::snprintf(text, sizeof(text), "CoInitializeSecurity failed:0x%08X", static_cast<unsigned>(hr));
  return text;
}

// The definition's author, run level, settings, logon trigger and action,
// each set through its own sub-object, released right after use.
bool DescribeTask(sys::ITaskDefinition& definition, const std::string& path, const std::string& arguments) {
  {
    std::unique_ptr<sys::IRegistrationInfo> info;
    if (!Obtained(definition.get_RegistrationInfo(&info), info) || Failed(info->put_Author(kAuthor))) {
      return false;
    }
  }
  {
    std::unique_ptr<sys::IPrincipal> principal;
    if (!Obtained(definition.get_Principal(&principal), principal) ||
        Failed(principal->put_RunLevel(sys::kTaskRunLevelHighest))) {
      return false;
    }
  }
  {
    std::unique_ptr<sys::ITaskSettings> settings;
    if (!Obtained(definition.get_Settings(&settings), settings) || Failed(settings->put_StartWhenAvailable(1)) ||
        Failed(settings->put_DeleteExpiredTaskAfter(std::nullopt)) ||
        Failed(settings->put_ExecutionTimeLimit(std::nullopt)) || Failed(settings->put_DisallowStartIfOnBatteries(0))) {
      return false;
    }
  }
  {
    std::unique_ptr<sys::ITriggerCollection> triggers;
    if (!Obtained(definition.get_Triggers(&triggers), triggers)) {
      return false;
    }
    std::unique_ptr<sys::ITrigger> trigger;
    const HResult created = triggers->Create(sys::kTaskTriggerLogon, &trigger);
    triggers.reset();
    if (!Obtained(created, trigger)) {
      return false;
    }
    std::unique_ptr<sys::ILogonTrigger> logonTrigger;
    const HResult queried = trigger->QueryInterfaceLogonTrigger(&logonTrigger);
    trigger.reset();
    if (!Obtained(queried, logonTrigger) || Failed(logonTrigger->put_Enabled(1))) {
      return false;
    }
  }
  {
    std::unique_ptr<sys::IActionCollection> actions;
    if (!Obtained(definition.get_Actions(&actions), actions)) {
      return false;
    }
    std::unique_ptr<sys::IAction> action;
    const HResult created = actions->Create(sys::kTaskActionExec, &action);
    actions.reset();
    if (!Obtained(created, action)) {
      return false;
    }
    std::unique_ptr<sys::IExecAction> execAction;
    const HResult queried = action->QueryInterfaceExecAction(&execAction);
    action.reset();
    if (!Obtained(queried, execAction) || Failed(execAction->put_Path(Wide(path))) ||
        Failed(execAction->put_Arguments(Wide(arguments)))) {
      return false;
    }
  }
  return true;
}

enum class Outcome { Failed, Deleted, Registered };

// The scheduler's part, with COM initialised. Every object obtained here is
// released before it returns: the service right after the new definition,
// then the folder, the definition and the registered task.
Outcome DeleteAndRegister(const std::string& name, const std::string& path, const std::string& arguments,
                          const std::string& user) {
  std::unique_ptr<sys::IRegisteredTask> task;
  std::unique_ptr<sys::ITaskDefinition> definition;
  std::unique_ptr<sys::ITaskService> service;
  std::unique_ptr<sys::ITaskFolder> folder;
  const sys::TextVariant empty = sys::TextVariant::EmptyVariant();

  if (!Obtained(sys::Use<sys::ITaskScheduler>().CoCreateInstanceTaskService(sys::kClsctxInprocServer, &service),
                service) ||
      Failed(service->Connect(empty, empty, empty, empty)) || !Obtained(service->GetFolder(u"\\", &folder), folder)) {
    return Outcome::Failed;
  }
  folder->DeleteTask(Wide(name), 0);  // a missing task is no error
  if (path.empty()) {
    return Outcome::Deleted;
  }

  const HResult created = service->NewTask(0, &definition);
  service.reset();
  if (!Obtained(created, definition) || !DescribeTask(*definition, path, arguments)) {
    return Outcome::Failed;
  }
  if (!Obtained(folder->RegisterTaskDefinition(Wide(name), *definition, sys::kTaskCreateOrUpdate,
                                               sys::TextVariant::Text16(Wide(user)), empty,
                                               sys::kTaskLogonInteractiveToken, sys::TextVariant::Text16(u""), &task),
                task)) {
    return Outcome::Failed;
  }
  return Outcome::Registered;
}

}  // namespace

bool ScheduleLogonTask(const std::string& name, const std::string& path, const std::string& arguments,
                       const std::string& user) {
  sys::ComApartment apartment(sys::kCoInitApartmentThreaded);
  HResult hr = apartment.Result();
  if (Failed(hr)) {
    Print("\nCoInitializeEx failed: %x\n", hr);
    WriteLastErrorToDebugConsole(kWarningColour);
    if (hr == sys::kRpcEChangedMode) {
      sys::Use<sys::IConsole>().Write("\nCannot change thread mode after it is set.\n");
    }
    return false;
  }

  // Security is set once per process; a later call is told it is too late.
  hr = sys::Use<sys::ICom>().CoInitializeSecurity(sys::kAuthnServicesDefault, sys::kRpcCAuthnLevelPktPrivacy,
                                                  sys::kRpcCImpLevelImpersonate, sys::kEoacNone);
  if (Failed(hr) && hr != sys::kRpcETooLate) {
    Print("\nCoInitializeSecurity failed: %x\n", hr);
    sys::Use<sys::IDialogs>().MessageBoxA(SecurityFailureText(hr), kCaption, sys::kMbOk | sys::kMbIconError);
    return false;
  }

  const Outcome outcome = DeleteAndRegister(name, path, arguments, user);
  if (outcome == Outcome::Deleted) {
    apartment.Keep();  // a later registration, and the WMI query, find COM and its security in place
    return true;
  }
  return outcome == Outcome::Registered;
}

bool TAutoRun::Register(const std::string& name) {
  if (OsVersionInstance().GetFlags(0xFFFF) <= kLastRunKeySystem) {
    TAdvReg registry;
    registry.AddRunEntry(GetRunEntryName());
    return true;
  }
  // The task runs its program with the highest privileges: it starts the
  // copy only administrators can change, and nothing when there is none.
  const std::string copy = ProtectedCopy().Place();
  return !copy.empty() && ScheduleLogonTask(name, copy, "", "");
}

bool TAutoRun::Unregister(const std::string& name) {
  if (OsVersionInstance().GetFlags(0xFFFF) <= kLastRunKeySystem) {
    TAdvReg registry;
    registry.RemoveRunEntry(GetRunEntryName());
    return true;
  }
  return ScheduleLogonTask(name, "", "", "");
}

TAutoRun& AutoRunInstance() {
  static TAutoRun* const instance = new TAutoRun();
  return *instance;
}

}  // namespace kestrune
