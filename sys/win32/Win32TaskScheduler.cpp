#include "sys/win32/Win32TaskScheduler.h"

#include <windows.h>

#include <objbase.h>
#include <taskschd.h>

#include "sys/win32/ComPtr.h"

namespace kestrune::sys::win32 {

namespace {

constexpr GUID kClsidTaskScheduler = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
constexpr GUID kIidITaskService = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};
constexpr GUID kIidILogonTrigger = {0x72dade38, 0xfae4, 0x4b3e, {0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c}};
constexpr GUID kIidIExecAction = {0x4c3d624d, 0xfd6b, 0x49a3, {0xb9, 0xb7, 0x09, 0xcb, 0x3c, 0xd3, 0xf0, 0x47}};

// ILogonTrigger, which the system's taskschd.h of this tool chain lacks:
// ITrigger followed by the Delay and UserId properties. Like every COM
// interface it has no destructor in its table of methods.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct LogonTriggerInterface : public ::ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
#pragma GCC diagnostic pop

UniqueBstr BstrArgument(const Bstr& text) { return text.has_value() ? MakeBstr(*text) : UniqueBstr(); }

UniqueVariant VariantArgument(const TextVariant& from) {
  return from.Empty ? UniqueVariant() : MakeTextVariant(from.Text);
}

// A seam object over one reference to a COM object.
template <class Seam, class Com>
class Holder : public Seam {
 public:
  explicit Holder(ComPtr<Com> com) : com_(std::move(com)) {}
  Com* Raw() const { return com_.Get(); }

 protected:
  Com* operator->() const { return com_.Get(); }

 private:
  ComPtr<Com> com_;
};

// Calls a COM getter and wraps the object it hands out.
template <class Wrapper, class Com, class Seam, class Getter>
HResult Wrap(Getter getter, std::unique_ptr<Seam>* result) {
  ComPtr<Com> com;
  const HRESULT hr = getter(com.Put());
  if (SUCCEEDED(hr) && com.Valid()) {
    *result = std::make_unique<Wrapper>(std::move(com));
  }
  return hr;
}

class RegisteredTask : public Holder<IRegisteredTask, ::IRegisteredTask> {
  using Holder::Holder;
};

class RegistrationInfo : public Holder<IRegistrationInfo, ::IRegistrationInfo> {
 public:
  using Holder::Holder;
  HResult put_Author(const Bstr& author) override { return (*this)->put_Author(BstrArgument(author).Get()); }
};

class Principal : public Holder<IPrincipal, ::IPrincipal> {
 public:
  using Holder::Holder;
  HResult put_RunLevel(Dword runLevel) override {
    return (*this)->put_RunLevel(static_cast<TASK_RUNLEVEL_TYPE>(runLevel));
  }
};

class TaskSettings : public Holder<ITaskSettings, ::ITaskSettings> {
 public:
  using Holder::Holder;
  HResult put_StartWhenAvailable(VariantBool value) override { return (*this)->put_StartWhenAvailable(value); }
  HResult put_DeleteExpiredTaskAfter(const Bstr& value) override {
    return (*this)->put_DeleteExpiredTaskAfter(BstrArgument(value).Get());
  }
  HResult put_ExecutionTimeLimit(const Bstr& value) override {
    return (*this)->put_ExecutionTimeLimit(BstrArgument(value).Get());
  }
  HResult put_DisallowStartIfOnBatteries(VariantBool value) override {
    return (*this)->put_DisallowStartIfOnBatteries(value);
  }
};

class LogonTrigger : public Holder<ILogonTrigger, LogonTriggerInterface> {
 public:
  using Holder::Holder;
  HResult put_Enabled(VariantBool enabled) override { return (*this)->put_Enabled(enabled); }
};

class Trigger : public Holder<ITrigger, ::ITrigger> {
 public:
  using Holder::Holder;
  HResult QueryInterfaceLogonTrigger(std::unique_ptr<ILogonTrigger>* result) override {
    return Wrap<LogonTrigger, LogonTriggerInterface>(
        [this](LogonTriggerInterface** out) {
          return (*this)->QueryInterface(kIidILogonTrigger, reinterpret_cast<void**>(out));
        },
        result);
  }
};

class TriggerCollection : public Holder<ITriggerCollection, ::ITriggerCollection> {
 public:
  using Holder::Holder;
  HResult Create(Dword type, std::unique_ptr<ITrigger>* result) override {
    return Wrap<Trigger, ::ITrigger>(
        [this, type](::ITrigger** out) { return (*this)->Create(static_cast<TASK_TRIGGER_TYPE2>(type), out); }, result);
  }
};

class ExecAction : public Holder<IExecAction, ::IExecAction> {
 public:
  using Holder::Holder;
  HResult put_Path(const Bstr& path) override { return (*this)->put_Path(BstrArgument(path).Get()); }
  HResult put_Arguments(const Bstr& arguments) override {
    return (*this)->put_Arguments(BstrArgument(arguments).Get());
  }
};

class Action : public Holder<IAction, ::IAction> {
 public:
  using Holder::Holder;
  HResult QueryInterfaceExecAction(std::unique_ptr<IExecAction>* result) override {
    return Wrap<ExecAction, ::IExecAction>(
        [this](::IExecAction** out) { return (*this)->QueryInterface(kIidIExecAction, reinterpret_cast<void**>(out)); },
        result);
  }
};

class ActionCollection : public Holder<IActionCollection, ::IActionCollection> {
 public:
  using Holder::Holder;
  HResult Create(Dword type, std::unique_ptr<IAction>* result) override {
    return Wrap<Action, ::IAction>(
        [this, type](::IAction** out) { return (*this)->Create(static_cast<TASK_ACTION_TYPE>(type), out); }, result);
  }
};

class TaskDefinition : public Holder<ITaskDefinition, ::ITaskDefinition> {
 public:
  using Holder::Holder;
  HResult get_RegistrationInfo(std::unique_ptr<IRegistrationInfo>* result) override {
    return Wrap<RegistrationInfo, ::IRegistrationInfo>(
        [this](::IRegistrationInfo** out) { return (*this)->get_RegistrationInfo(out); }, result);
  }
  HResult get_Principal(std::unique_ptr<IPrincipal>* result) override {
    return Wrap<Principal, ::IPrincipal>([this](::IPrincipal** out) { return (*this)->get_Principal(out); }, result);
  }
  HResult get_Settings(std::unique_ptr<ITaskSettings>* result) override {
    return Wrap<TaskSettings, ::ITaskSettings>([this](::ITaskSettings** out) { return (*this)->get_Settings(out); },
                                               result);
  }
  HResult get_Triggers(std::unique_ptr<ITriggerCollection>* result) override {
    return Wrap<TriggerCollection, ::ITriggerCollection>(
        [this](::ITriggerCollection** out) { return (*this)->get_Triggers(out); }, result);
  }
  HResult get_Actions(std::unique_ptr<IActionCollection>* result) override {
    return Wrap<ActionCollection, ::IActionCollection>(
        [this](::IActionCollection** out) { return (*this)->get_Actions(out); }, result);
  }
};

class TaskFolder : public Holder<ITaskFolder, ::ITaskFolder> {
 public:
  using Holder::Holder;
  HResult DeleteTask(const Bstr& name, Long flags) override {
    return (*this)->DeleteTask(BstrArgument(name).Get(), flags);
  }
  HResult RegisterTaskDefinition(const Bstr& path, ITaskDefinition& definition, Long flags, const TextVariant& userId,
                                 const TextVariant& password, Dword logonType, const TextVariant& sddl,
                                 std::unique_ptr<IRegisteredTask>* result) override {
    const UniqueVariant user = VariantArgument(userId);
    const UniqueVariant secret = VariantArgument(password);
    const UniqueVariant descriptor = VariantArgument(sddl);
    const UniqueBstr name = BstrArgument(path);
    ::ITaskDefinition* const raw = static_cast<TaskDefinition&>(definition).Raw();
    return Wrap<RegisteredTask, ::IRegisteredTask>(
        [&](::IRegisteredTask** out) {
          return (*this)->RegisterTaskDefinition(name.Get(), raw, flags, user.Get(), secret.Get(),
                                                 static_cast<TASK_LOGON_TYPE>(logonType), descriptor.Get(), out);
        },
        result);
  }
};

class TaskService : public Holder<ITaskService, ::ITaskService> {
 public:
  using Holder::Holder;
  HResult Connect(const TextVariant& serverName, const TextVariant& user, const TextVariant& domain,
                  const TextVariant& password) override {
    const UniqueVariant server = VariantArgument(serverName);
    const UniqueVariant account = VariantArgument(user);
    const UniqueVariant realm = VariantArgument(domain);
    const UniqueVariant secret = VariantArgument(password);
    return (*this)->Connect(server.Get(), account.Get(), realm.Get(), secret.Get());
  }
  HResult GetFolder(const Bstr& path, std::unique_ptr<ITaskFolder>* result) override {
    const UniqueBstr name = BstrArgument(path);
    return Wrap<TaskFolder, ::ITaskFolder>([&](::ITaskFolder** out) { return (*this)->GetFolder(name.Get(), out); },
                                           result);
  }
  HResult NewTask(Dword flags, std::unique_ptr<ITaskDefinition>* result) override {
    return Wrap<TaskDefinition, ::ITaskDefinition>(
        [this, flags](::ITaskDefinition** out) { return (*this)->NewTask(flags, out); }, result);
  }
};

}  // namespace

HResult Win32TaskScheduler::CoCreateInstanceTaskService(Dword clsContext, std::unique_ptr<ITaskService>* service) {
  return Wrap<TaskService, ::ITaskService>(
      [clsContext](::ITaskService** out) {
        return ::CoCreateInstance(kClsidTaskScheduler, nullptr, clsContext, kIidITaskService,
                                  reinterpret_cast<void**>(out));
      },
      service);
}

}  // namespace kestrune::sys::win32
