#include "sim/os/FakeTaskScheduler.h"

#include <algorithm>
#include <cstdio>

namespace kestrune::sim {

namespace {

using sys::HResult;

constexpr sys::Long kTaskCreate = 2;
constexpr sys::Long kTaskUpdate = 4;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

std::string BstrText(const sys::Bstr& text) { return text.has_value() ? RecordText(*text) : "null"; }

std::string VariantText(const sys::TextVariant& variant) {
  return variant.Empty ? "empty" : "\"" + RecordText(variant.Text) + "\"";
}

// Base of the fake's objects: counts itself and records its release.
class FakeObject {
 public:
  FakeObject(FakeTaskScheduler& scheduler, const char* name) : Scheduler(scheduler), Name(name) { Scheduler.Created(); }
  ~FakeObject() { Scheduler.Released(Name); }
  FakeObject(const FakeObject&) = delete;
  FakeObject& operator=(const FakeObject&) = delete;

 protected:
  HResult Call(const char* method, const std::string& arguments = "") {
    return Scheduler.Call(std::string(Name) + "::" + method, arguments);
  }
  // A put_ method: the call, then the member set when it succeeds.
  template <class T>
  HResult Put(const char* method, const std::string& text, std::optional<T>& member, const T& value) {
    const HResult hr = Call(method, text);
    if (sys::Succeeded(hr)) {
      member = value;
    }
    return hr;
  }
  FakeTaskScheduler& Scheduler;

 private:
  const char* Name;
};

using DefinitionPtr = std::shared_ptr<FakeTaskScheduler::Definition>;

class RegisteredTask : public sys::IRegisteredTask, FakeObject {
 public:
  explicit RegisteredTask(FakeTaskScheduler& s) : FakeObject(s, "IRegisteredTask") {}
};

class RegistrationInfo : public sys::IRegistrationInfo, FakeObject {
 public:
  RegistrationInfo(FakeTaskScheduler& s, DefinitionPtr d) : FakeObject(s, "IRegistrationInfo"), Draft(std::move(d)) {}
  HResult put_Author(const sys::Bstr& author) override {
    return Put("put_Author", BstrText(author), Draft->Author, author);
  }

 private:
  DefinitionPtr Draft;
};

class Principal : public sys::IPrincipal, FakeObject {
 public:
  Principal(FakeTaskScheduler& s, DefinitionPtr d) : FakeObject(s, "IPrincipal"), Draft(std::move(d)) {}
  HResult put_RunLevel(sys::Dword runLevel) override {
    return Put("put_RunLevel", std::to_string(runLevel), Draft->RunLevel, runLevel);
  }

 private:
  DefinitionPtr Draft;
};

class TaskSettings : public sys::ITaskSettings, FakeObject {
 public:
  TaskSettings(FakeTaskScheduler& s, DefinitionPtr d) : FakeObject(s, "ITaskSettings"), Draft(std::move(d)) {}
  HResult put_StartWhenAvailable(sys::VariantBool value) override {
    return Put("put_StartWhenAvailable", std::to_string(value), Draft->StartWhenAvailable, value);
  }
  HResult put_DeleteExpiredTaskAfter(const sys::Bstr& value) override {
    return Put("put_DeleteExpiredTaskAfter", BstrText(value), Draft->DeleteExpiredTaskAfter, value);
  }
  HResult put_ExecutionTimeLimit(const sys::Bstr& value) override {
    return Put("put_ExecutionTimeLimit", BstrText(value), Draft->ExecutionTimeLimit, value);
  }
  HResult put_DisallowStartIfOnBatteries(sys::VariantBool value) override {
    return Put("put_DisallowStartIfOnBatteries", std::to_string(value), Draft->DisallowStartIfOnBatteries, value);
  }

 private:
  DefinitionPtr Draft;
};

class LogonTrigger : public sys::ILogonTrigger, FakeObject {
 public:
  LogonTrigger(FakeTaskScheduler& s, DefinitionPtr d, std::size_t index)
      : FakeObject(s, "ILogonTrigger"), Draft(std::move(d)), Index(index) {}
  HResult put_Enabled(sys::VariantBool enabled) override {
    return Put("put_Enabled", std::to_string(enabled), Draft->Triggers[Index].Enabled, enabled);
  }

 private:
  DefinitionPtr Draft;
  std::size_t Index;
};

class Trigger : public sys::ITrigger, FakeObject {
 public:
  Trigger(FakeTaskScheduler& s, DefinitionPtr d, std::size_t index)
      : FakeObject(s, "ITrigger"), Draft(std::move(d)), Index(index) {}
  HResult QueryInterfaceLogonTrigger(std::unique_ptr<sys::ILogonTrigger>* result) override {
    HResult hr = Call("QueryInterface", "ILogonTrigger");
    if (sys::Succeeded(hr) && Draft->Triggers[Index].Type != sys::kTaskTriggerLogon) {
      hr = sys::kENoInterface;
    }
    if (sys::Succeeded(hr)) {
      *result = std::make_unique<LogonTrigger>(Scheduler, Draft, Index);
    }
    return hr;
  }

 private:
  DefinitionPtr Draft;
  std::size_t Index;
};

class TriggerCollection : public sys::ITriggerCollection, FakeObject {
 public:
  TriggerCollection(FakeTaskScheduler& s, DefinitionPtr d) : FakeObject(s, "ITriggerCollection"), Draft(std::move(d)) {}
  HResult Create(sys::Dword type, std::unique_ptr<sys::ITrigger>* result) override {
    const HResult hr = Call("Create", std::to_string(type));
    if (sys::Succeeded(hr)) {
      Draft->Triggers.push_back({type, std::nullopt});
      *result = std::make_unique<Trigger>(Scheduler, Draft, Draft->Triggers.size() - 1);
    }
    return hr;
  }

 private:
  DefinitionPtr Draft;
};

class ExecAction : public sys::IExecAction, FakeObject {
 public:
  ExecAction(FakeTaskScheduler& s, DefinitionPtr d, std::size_t index)
      : FakeObject(s, "IExecAction"), Draft(std::move(d)), Index(index) {}
  HResult put_Path(const sys::Bstr& path) override {
    return Put("put_Path", BstrText(path), Draft->Actions[Index].Path, path);
  }
  HResult put_Arguments(const sys::Bstr& arguments) override {
    return Put("put_Arguments", BstrText(arguments), Draft->Actions[Index].Arguments, arguments);
  }

 private:
  DefinitionPtr Draft;
  std::size_t Index;
};

class Action : public sys::IAction, FakeObject {
 public:
  Action(FakeTaskScheduler& s, DefinitionPtr d, std::size_t index)
      : FakeObject(s, "IAction"), Draft(std::move(d)), Index(index) {}
  HResult QueryInterfaceExecAction(std::unique_ptr<sys::IExecAction>* result) override {
    HResult hr = Call("QueryInterface", "IExecAction");
    if (sys::Succeeded(hr) && Draft->Actions[Index].Type != sys::kTaskActionExec) {
      hr = sys::kENoInterface;
    }
    if (sys::Succeeded(hr)) {
      *result = std::make_unique<ExecAction>(Scheduler, Draft, Index);
    }
    return hr;
  }

 private:
  DefinitionPtr Draft;
  std::size_t Index;
};

class ActionCollection : public sys::IActionCollection, FakeObject {
 public:
  ActionCollection(FakeTaskScheduler& s, DefinitionPtr d) : FakeObject(s, "IActionCollection"), Draft(std::move(d)) {}
  HResult Create(sys::Dword type, std::unique_ptr<sys::IAction>* result) override {
    const HResult hr = Call("Create", std::to_string(type));
    if (sys::Succeeded(hr)) {
      Draft->Actions.push_back({type, std::nullopt, std::nullopt});
      *result = std::make_unique<Action>(Scheduler, Draft, Draft->Actions.size() - 1);
    }
    return hr;
  }

 private:
  DefinitionPtr Draft;
};

class TaskDefinition : public sys::ITaskDefinition, FakeObject {
 public:
  explicit TaskDefinition(FakeTaskScheduler& s)
      : FakeObject(s, "ITaskDefinition"), Draft(std::make_shared<FakeTaskScheduler::Definition>()) {}
  HResult get_RegistrationInfo(std::unique_ptr<sys::IRegistrationInfo>* result) override {
    return Get<RegistrationInfo>("get_RegistrationInfo", result);
  }
  HResult get_Principal(std::unique_ptr<sys::IPrincipal>* result) override {
    return Get<Principal>("get_Principal", result);
  }
  HResult get_Settings(std::unique_ptr<sys::ITaskSettings>* result) override {
    return Get<TaskSettings>("get_Settings", result);
  }
  HResult get_Triggers(std::unique_ptr<sys::ITriggerCollection>* result) override {
    return Get<TriggerCollection>("get_Triggers", result);
  }
  HResult get_Actions(std::unique_ptr<sys::IActionCollection>* result) override {
    return Get<ActionCollection>("get_Actions", result);
  }
  const FakeTaskScheduler::Definition& Content() const { return *Draft; }

 private:
  template <class Object, class Seam>
  HResult Get(const char* method, std::unique_ptr<Seam>* result) {
    const HResult hr = Call(method);
    if (sys::Succeeded(hr)) {
      *result = std::make_unique<Object>(Scheduler, Draft);
    }
    return hr;
  }
  DefinitionPtr Draft;
};

class TaskFolder : public sys::ITaskFolder, FakeObject {
 public:
  explicit TaskFolder(FakeTaskScheduler& s) : FakeObject(s, "ITaskFolder") {}
  HResult DeleteTask(const sys::Bstr& name, sys::Long flags) override {
    HResult hr = Call("DeleteTask", BstrText(name) + ", " + std::to_string(flags));
    if (!sys::Succeeded(hr)) {
      return hr;
    }
    if (!name.has_value() || Scheduler.Tasks.erase(*name) == 0) {
      return sys::kHResultFileNotFound;
    }
    Scheduler.Note("delete task " + RecordText(*name));
    return hr;
  }
  HResult RegisterTaskDefinition(const sys::Bstr& path, sys::ITaskDefinition& definition, sys::Long flags,
                                 const sys::TextVariant& userId, const sys::TextVariant& password, sys::Dword logonType,
                                 const sys::TextVariant& sddl, std::unique_ptr<sys::IRegisteredTask>* task) override {
    HResult hr = Call("RegisterTaskDefinition", BstrText(path) + ", " + std::to_string(flags) + ", " +
                                                    VariantText(userId) + ", " + VariantText(password) + ", " +
                                                    std::to_string(logonType) + ", " + VariantText(sddl));
    if (!sys::Succeeded(hr)) {
      return hr;
    }
    if (!path.has_value() || path->empty()) {
      return sys::kEFail;  // the fake keeps named tasks only
    }
    const bool exists = Scheduler.Tasks.count(*path) != 0;
    if ((exists && (flags & kTaskUpdate) == 0) || (!exists && (flags & kTaskCreate) == 0)) {
      return exists ? sys::kHResultAlreadyExists : sys::kHResultFileNotFound;
    }
    FakeTaskScheduler::Task& stored = Scheduler.Tasks[*path];
    stored.Content = static_cast<TaskDefinition&>(definition).Content();
    stored.Flags = flags;
    stored.UserId = userId;
    stored.Password = password;
    stored.LogonType = logonType;
    stored.Sddl = sddl;
    Scheduler.Note("register task " + RecordText(*path));
    *task = std::make_unique<RegisteredTask>(Scheduler);
    return hr;
  }
};

class TaskService : public sys::ITaskService, FakeObject {
 public:
  explicit TaskService(FakeTaskScheduler& s) : FakeObject(s, "ITaskService") {}
  HResult Connect(const sys::TextVariant& serverName, const sys::TextVariant& user, const sys::TextVariant& domain,
                  const sys::TextVariant& password) override {
    const HResult hr = Call("Connect", VariantText(serverName) + ", " + VariantText(user) + ", " + VariantText(domain) +
                                           ", " + VariantText(password));
    Connected = sys::Succeeded(hr);
    return hr;
  }
  HResult GetFolder(const sys::Bstr& path, std::unique_ptr<sys::ITaskFolder>* folder) override {
    HResult hr = Call("GetFolder", BstrText(path));
    if (sys::Succeeded(hr) && !Connected) {
      hr = sys::kHResultOnlyIfConnected;
    }
    if (sys::Succeeded(hr) && path != sys::Bstr(u"\\")) {
      hr = sys::kHResultFileNotFound;  // the fake has the root folder only
    }
    if (sys::Succeeded(hr)) {
      *folder = std::make_unique<TaskFolder>(Scheduler);
    }
    return hr;
  }
  HResult NewTask(sys::Dword flags, std::unique_ptr<sys::ITaskDefinition>* definition) override {
    HResult hr = Call("NewTask", std::to_string(flags));
    if (sys::Succeeded(hr) && !Connected) {
      hr = sys::kHResultOnlyIfConnected;
    }
    if (sys::Succeeded(hr)) {
      *definition = std::make_unique<TaskDefinition>(Scheduler);
    }
    return hr;
  }

 private:
  bool Connected = false;
};

}  // namespace

HResult FakeTaskScheduler::Call(const std::string& name, const std::string& arguments) {
  Calls.push_back(name + "(" + arguments + ")");
  const auto failure = Failures.find(name);
  return failure == Failures.end() ? sys::kSOk : failure->second;
}

void FakeTaskScheduler::Released(const char* interfaceName) {
  --LiveObjects;
  Calls.push_back(std::string("Release ") + interfaceName);
}

void FakeTaskScheduler::Note(const std::string& event) {
  if (Log != nullptr) {
    Log->Add(event);
  }
}

FakeTaskScheduler::FakeTaskScheduler(FakeCom& com, EventLog* log) : Com(&com), Log(log) {
  Com->Observe(this, [this](const FakeCom::Call& call) {
    if (call.Name == "CoInitializeEx") {
      Calls.push_back("CoInitializeEx(" + Hex(static_cast<std::uint32_t>(call.Arguments[0])) + ")");
    } else if (call.Name == "CoInitializeSecurity") {
      Calls.push_back("CoInitializeSecurity(" + std::to_string(call.Arguments[0]) + ", " +
                      std::to_string(call.Arguments[1]) + ", " + std::to_string(call.Arguments[2]) + ", " +
                      Hex(static_cast<std::uint32_t>(call.Arguments[3])) + ")");
    } else {
      Calls.push_back(call.Name + "()");
      ObjectsAliveAtUninitialize = std::max(ObjectsAliveAtUninitialize, LiveObjects);
    }
  });
}

HResult FakeTaskScheduler::CoCreateInstanceTaskService(sys::Dword clsContext,
                                                       std::unique_ptr<sys::ITaskService>* service) {
  HResult hr = Call("CoCreateInstance", "TaskScheduler, " + Hex(clsContext) + ", ITaskService");
  if (sys::Succeeded(hr) && Com->Apartments == 0) {
    hr = sys::kCoENotInitialized;
  }
  if (sys::Succeeded(hr)) {
    *service = std::make_unique<TaskService>(*this);
  }
  return hr;
}

}  // namespace kestrune::sim
