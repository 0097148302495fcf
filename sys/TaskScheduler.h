// The Task Scheduler 2.0 through its COM interfaces (COM itself is the ICom
// seam's, sys/Com.h). The objects mirror the interfaces of the same names
// (ITaskService, ITaskFolder, ITaskDefinition, ...) with the methods the
// program uses; each object holds one reference, and destroying it is
// IUnknown::Release. Every method answers the HRESULT of the call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sys/Com.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

// Task Scheduler enumerations.
inline constexpr Dword kTaskRunLevelHighest = 1;
inline constexpr Dword kTaskTriggerLogon = 9;
inline constexpr Dword kTaskActionExec = 0;
inline constexpr Long kTaskCreateOrUpdate = 6;
inline constexpr Dword kTaskLogonInteractiveToken = 3;

// VARIANT_BOOL.
using VariantBool = std::int16_t;

// A BSTR argument; std::nullopt is the null BSTR.
using Bstr = std::optional<std::u16string>;

// A VARIANT in the two forms the scheduler is given: VT_EMPTY and VT_BSTR.
struct TextVariant {
  bool Empty = true;
  std::u16string Text;

  static TextVariant EmptyVariant() { return {}; }
  static TextVariant Text16(std::u16string text) { return {false, std::move(text)}; }
};

class IRegisteredTask {
 public:
  virtual ~IRegisteredTask() = default;
};

class IRegistrationInfo {
 public:
  virtual ~IRegistrationInfo() = default;
  virtual HResult put_Author(const Bstr& author) = 0;
};

class IPrincipal {
 public:
  virtual ~IPrincipal() = default;
  virtual HResult put_RunLevel(Dword runLevel) = 0;
};

class ITaskSettings {
 public:
  virtual ~ITaskSettings() = default;
  virtual HResult put_StartWhenAvailable(VariantBool startWhenAvailable) = 0;
  virtual HResult put_DeleteExpiredTaskAfter(const Bstr& expirationDelay) = 0;
  virtual HResult put_ExecutionTimeLimit(const Bstr& executionTimeLimit) = 0;
  virtual HResult put_DisallowStartIfOnBatteries(VariantBool disallowStart) = 0;
};

// ILogonTrigger {72DADE38-FAE4-4B3E-BAF4-5D009AF02B1C}.
class ILogonTrigger {
 public:
  virtual ~ILogonTrigger() = default;
  virtual HResult put_Enabled(VariantBool enabled) = 0;
};

class ITrigger {
 public:
  virtual ~ITrigger() = default;
  // QueryInterface for ILogonTrigger.
  virtual HResult QueryInterfaceLogonTrigger(std::unique_ptr<ILogonTrigger>* logonTrigger) = 0;
};

class ITriggerCollection {
 public:
  virtual ~ITriggerCollection() = default;
  virtual HResult Create(Dword type, std::unique_ptr<ITrigger>* trigger) = 0;
};

// IExecAction {4C3D624D-FD6B-49A3-B9B7-09CB3CD3F047}.
class IExecAction {
 public:
  virtual ~IExecAction() = default;
  virtual HResult put_Path(const Bstr& path) = 0;
  virtual HResult put_Arguments(const Bstr& arguments) = 0;
};

class IAction {
 public:
  virtual ~IAction() = default;
  // QueryInterface for IExecAction.
  virtual HResult QueryInterfaceExecAction(std::unique_ptr<IExecAction>* execAction) = 0;
};

class IActionCollection {
 public:
  virtual ~IActionCollection() = default;
  virtual HResult Create(Dword type, std::unique_ptr<IAction>* action) = 0;
};

class ITaskDefinition {
 public:
  virtual ~ITaskDefinition() = default;
  virtual HResult get_RegistrationInfo(std::unique_ptr<IRegistrationInfo>* registrationInfo) = 0;
  virtual HResult get_Principal(std::unique_ptr<IPrincipal>* principal) = 0;
  virtual HResult get_Settings(std::unique_ptr<ITaskSettings>* settings) = 0;
  virtual HResult get_Triggers(std::unique_ptr<ITriggerCollection>* triggers) = 0;
  virtual HResult get_Actions(std::unique_ptr<IActionCollection>* actions) = 0;
};

class ITaskFolder {
 public:
  virtual ~ITaskFolder() = default;
  virtual HResult DeleteTask(const Bstr& name, Long flags) = 0;
  // The definition must come from the same implementation's NewTask.
  virtual HResult RegisterTaskDefinition(const Bstr& path, ITaskDefinition& definition, Long flags,
                                         const TextVariant& userId, const TextVariant& password, Dword logonType,
                                         const TextVariant& sddl, std::unique_ptr<IRegisteredTask>* task) = 0;
};

class ITaskService {
 public:
  virtual ~ITaskService() = default;
  virtual HResult Connect(const TextVariant& serverName, const TextVariant& user, const TextVariant& domain,
                          const TextVariant& password) = 0;
  virtual HResult GetFolder(const Bstr& path, std::unique_ptr<ITaskFolder>* folder) = 0;
  virtual HResult NewTask(Dword flags, std::unique_ptr<ITaskDefinition>* definition) = 0;
};

// The seam: the way in. COM itself is the ICom seam's (sys/Com.h).
class ITaskScheduler {
 public:
  virtual ~ITaskScheduler() = default;
  // CoCreateInstance of CLSID_TaskScheduler
  // {0F87369F-A4E5-4CFC-BD3E-73E6154572DD} without an outer object, for
  // ITaskService {2FABA4C7-4DA9-4013-9697-20CC3FD40F85}.
  virtual HResult CoCreateInstanceTaskService(Dword clsContext, std::unique_ptr<ITaskService>* service) = 0;
};

}  // namespace kestrune::sys
