// Windows Management Instrumentation through COM (COM itself is the ICom
// seam's, sys/Com.h): the WMI locator, services, enumerator and class objects,
// and the VARIANT conversion that property values are rendered with.
// Every COM object is owned by a unique_ptr; destroying it releases the
// object. Texts are UTF-16; the adapter hands them to COM as BSTRs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sys/Com.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

inline constexpr Long kWbemFlagReturnImmediately = 0x10;
inline constexpr Long kWbemFlagAlways = 0;
inline constexpr Long kWbemMaskConditionOrigin = 0x70;
inline constexpr Long kWbemInfinite = -1;  // 0xFFFFFFFF

using VarType = std::uint16_t;
inline constexpr VarType kVtEmpty = 0;
inline constexpr VarType kVtNull = 1;
inline constexpr VarType kVtI2 = 2;
inline constexpr VarType kVtI4 = 3;
inline constexpr VarType kVtR4 = 4;
inline constexpr VarType kVtR8 = 5;
inline constexpr VarType kVtDate = 7;
inline constexpr VarType kVtBstr = 8;
inline constexpr VarType kVtError = 10;
inline constexpr VarType kVtBool = 11;
inline constexpr VarType kVtVariant = 12;
inline constexpr VarType kVtI1 = 16;
inline constexpr VarType kVtUi1 = 17;
inline constexpr VarType kVtUi2 = 18;
inline constexpr VarType kVtUi4 = 19;
inline constexpr VarType kVtI8 = 20;
inline constexpr VarType kVtUi8 = 21;
inline constexpr VarType kVtInt = 22;
inline constexpr VarType kVtUint = 23;
inline constexpr VarType kVtArray = 0x2000;

// The content of a VARIANT, copied out of the system's record.
struct Variant {
  VarType Vt = kVtEmpty;
  std::u16string BstrVal;   // VT_BSTR
  std::int64_t IntVal = 0;  // the integer types, VT_ERROR, and VT_BOOL (VARIANT_BOOL: -1 true, 0 false)
  // VT_ARRAY: the first dimension's elements in index order, each
  // ElementSize bytes as the SAFEARRAY holds them. Arrays of strings,
  // variants, records and interfaces hold references, not values: their
  // Elements stay empty.
  Dword ElementSize = 0;
  Dword ElementCount = 0;
  std::vector<std::uint8_t> Elements;
};

// IWbemClassObject.
class WbemClassObject {
 public:
  virtual ~WbemClassObject() = default;
  // GetNames with no qualifier: the SAFEARRAY's names from its lower to its
  // upper bound.
  virtual HResult GetNames(Long flags, std::vector<std::u16string>* names) = 0;
  // Get without type or flavour outputs.
  virtual HResult Get(const std::u16string& name, Long flags, Variant* value) = 0;
  // Put with flags 0 and the type taken from the value.
  virtual HResult Put(const std::u16string& name, const Variant& value) = 0;
  // GetMethod of a class object, flags 0: the class of the method's input
  // parameters (none, and S_OK, for a method that takes none); no output
  // signature.
  virtual HResult GetMethod(const std::u16string& name, std::unique_ptr<WbemClassObject>* inSignature) = 0;
  // SpawnInstance, flags 0: a new instance of this class.
  virtual HResult SpawnInstance(std::unique_ptr<WbemClassObject>* instance) = 0;
};

// IEnumWbemClassObject.
class WbemEnumerator {
 public:
  virtual ~WbemEnumerator() = default;
  virtual HResult Reset() = 0;
  // Next for one object: WBEM_S_FALSE (and *returned 0) at the end.
  virtual HResult Next(Long timeout, std::unique_ptr<WbemClassObject>* object, Dword* returned) = 0;
};

// IWbemServices.
class WbemServices {
 public:
  virtual ~WbemServices() = default;
  // ExecQuery with no context.
  virtual HResult ExecQuery(const std::u16string& language, const std::u16string& query, Long flags,
                            std::unique_ptr<WbemEnumerator>* enumerator) = 0;
  // GetObject (a macro name in the system's headers, hence the name here)
  // with flags 0 and no context: a class by its name, an instance
  // by its path.
  virtual HResult GetWbemObject(const std::u16string& path, std::unique_ptr<WbemClassObject>* object) = 0;
  // ExecMethod with flags 0, no context and no call result: the method of
  // the object at objectPath (an instance's __PATH or __RELPATH), with its
  // input parameters (an instance spawned from GetMethod's class, or none).
  virtual HResult ExecMethod(const std::u16string& objectPath, const std::u16string& method,
                             WbemClassObject* inParameters, std::unique_ptr<WbemClassObject>* outParameters) = 0;
  // CoSetProxyBlanket on the services' proxy: the default authentication
  // and authorisation services, no principal, the given authentication and
  // impersonation levels, no identity, no capabilities. Providers that
  // change the machine ask for RPC_C_AUTHN_LEVEL_PKT_PRIVACY.
  virtual HResult SetProxyBlanket(Dword authnLevel, Dword impLevel) = 0;
};

// IWbemLocator.
class WbemLocator {
 public:
  virtual ~WbemLocator() = default;
  // ConnectServer with no user, password, locale, authority or context.
  virtual HResult ConnectServer(const std::u16string& networkResource, Long securityFlags,
                                std::unique_ptr<WbemServices>* services) = 0;
};

class IWmi {
 public:
  virtual ~IWmi() = default;
  // CoCreateInstance of CLSID_WbemAdministrativeLocator
  // {CB8555CC-9128-11D1-AD9B-00C04FD8FDFF}, no outer object, for IWbemLocator.
  virtual HResult CreateWbemLocator(Dword clsContext, std::unique_ptr<WbemLocator>* locator) = 0;
  virtual Dword GetThreadLocale() = 0;
  // VariantChangeTypeEx in place.
  virtual HResult VariantChangeTypeEx(Variant* value, Dword lcid, std::uint16_t flags, VarType type) = 0;
};

}  // namespace kestrune::sys
