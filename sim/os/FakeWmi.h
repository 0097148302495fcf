// WMI in memory: a fixed list of result objects for every query, the
// methods of their class, the answer of each call, and a record of the
// calls in the order made (releases and the COM library's calls included).
// A method is called on an object by its path (an object's "__PATH" or
// "__RELPATH"), with input parameters spawned from the method's own
// signature, as WMI requires.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/os/FakeCom.h"
#include "sys/Wmi.h"

namespace kestrune::sim {

// Property values as a test writes them down.
inline sys::Variant IntegerVariant(sys::VarType type, std::int64_t value) {
  sys::Variant variant;
  variant.Vt = type;
  variant.IntVal = value;
  return variant;
}

inline sys::Variant TextVariant(const std::u16string& text) {
  sys::Variant variant;
  variant.Vt = sys::kVtBstr;
  variant.BstrVal = text;
  return variant;
}

class FakeWmi : public sys::IWmi {
 public:
  // Records com's calls among its own.
  explicit FakeWmi(FakeCom& com);
  ~FakeWmi() override { Com->Forget(this); }
  FakeWmi(const FakeWmi&) = delete;
  // Takes over the other's answers and record, and stays the observer it was.
  FakeWmi& operator=(FakeWmi&&) = default;

  FakeCom* Com;
  sys::HResult CreateWbemLocator(sys::Dword clsContext, std::unique_ptr<sys::WbemLocator>* locator) override;
  sys::Dword GetThreadLocale() override { return ThreadLocale; }
  // BSTR stays as it is; VT_I1, VT_I2, VT_I4, VT_UI1, VT_UI2 and VT_UI4
  // become decimal text; anything else is a type mismatch.
  sys::HResult VariantChangeTypeEx(sys::Variant* value, sys::Dword lcid, std::uint16_t flags,
                                   sys::VarType type) override;

  struct Property {
    std::u16string Name;
    sys::Variant Value;
    sys::HResult GetResult = sys::kSOk;
  };
  struct Object {
    std::vector<Property> Properties;
    sys::HResult GetNamesResult = sys::kSOk;
  };
  std::vector<Object> Objects;

  // The class that GetObject finds by its name, and its methods by name.
  struct Method {
    std::vector<Property> InParameters;  // the input signature; none: the method takes none
    sys::HResult Result = sys::kSOk;     // ExecMethod's answer
    std::vector<Property> OutParameters;
  };
  std::u16string ClassName;
  std::map<std::u16string, Method> Methods;
  // Namespaces that this machine lacks: ConnectServer answers
  // WBEM_E_INVALID_NAMESPACE.
  std::set<std::u16string> MissingNamespaces;
  // Providers that change the machine refuse a connection without packet
  // privacy (WBEM_E_ACCESS_DENIED) until SetProxyBlanket asks for it.
  bool RequiresPacketPrivacy = false;

  // The answer of each call.
  sys::HResult LocatorResult = sys::kSOk;
  sys::HResult ConnectResult = sys::kSOk;
  sys::HResult ExecQueryResult = sys::kSOk;
  sys::HResult ResetResult = sys::kSOk;
  std::optional<std::size_t> FailNextAt;  // Next for this object fails with kWbemEFailed
  sys::Dword ThreadLocale = 0x0409;

  // "CoInitializeEx 2", "ConnectServer root\cimv2 0", "Get Name",
  // "release object", "CoUninitialize", ...
  std::vector<std::string> Calls;
  int LiveObjects = 0;  // COM objects handed out and not yet released

  void Record(const std::string& call) { Calls.push_back(call); }
};

}  // namespace kestrune::sim
