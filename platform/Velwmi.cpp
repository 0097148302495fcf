#include "platform/Velwmi.h"

#include <cstdio>
#include <memory>
#include <new>

#include "sys/Com.h"
#include "sys/Seam.h"
#include "sys/Wmi.h"

namespace kestrune {

namespace {

std::u16string Widen(const char* text) {
  std::u16string wide;
  for (; *text != '\0'; ++text) {
    wide.push_back(static_cast<unsigned char>(*text));
  }
  return wide;
}

// Each element as a 32-bit unsigned number, "0x%08X", joined by ",". An
// element narrower than 4 bytes is taken with its own bytes only (zero-
// extended); a wider one by its low 4 bytes. Arrays of references (strings,
// variants, interfaces) carry no element values and render as empty text.
std::u16string RenderArray(const sys::Variant& value) {
  const std::size_t size = value.ElementSize;
  if (size == 0 || value.Elements.size() / size != value.ElementCount || value.Elements.size() % size != 0) {
    return {};
  }
  std::u16string text;
  for (std::size_t index = 0; index < value.ElementCount; ++index) {
    const std::uint8_t* element = value.Elements.data() + index * size;
    std::uint32_t number = 0;
    for (std::size_t byte = 0; byte < size && byte < 4; ++byte) {
      number |= static_cast<std::uint32_t>(element[byte]) << (8 * byte);
    }
    char piece[16];
    std::snprintf(piece, sizeof piece, "0x%08X", static_cast<unsigned>(number));
    if (index != 0) {
      text.push_back(u',');
    }
    text += Widen(piece);
  }
  return text;
}

std::u16string Render(sys::Variant value, sys::IWmi& wmi) {
  if ((value.Vt & sys::kVtArray) != 0) {
    return RenderArray(value);
  }
  switch (value.Vt) {
    case sys::kVtNull:
      return u"NULL";
    case sys::kVtBstr:
    case sys::kVtI2:
    case sys::kVtI4:
    case sys::kVtUi1:
      if (!sys::Succeeded(wmi.VariantChangeTypeEx(&value, wmi.GetThreadLocale(), 0, sys::kVtBstr)) ||
          value.Vt != sys::kVtBstr) {
        return {};
      }
      return value.BstrVal;
    case sys::kVtBool:
      return value.IntVal != 0 ? u"TRUE" : u"FALSE";
    default:
      return {};
  }
}

// Reads one result object into a row. Answers whether the last COM call
// made for it succeeded: the enumeration goes on only then.
bool ReadObject(sys::WbemClassObject& object, sys::IWmi& wmi, std::vector<WmiRow>& rows) {
  std::vector<std::u16string> names;
  sys::HResult last = object.GetNames(sys::kWbemFlagAlways | sys::kWbemMaskConditionOrigin, &names);
  if (!sys::Succeeded(last)) {
    return false;
  }
  WmiRow row;
  for (const std::u16string& name : names) {
    sys::Variant value;
    last = object.Get(name, 0, &value);
    row[name] = sys::Succeeded(last) ? Render(std::move(value), wmi) : std::u16string();
  }
  if (!row.empty()) {
    rows.push_back(std::move(row));
  }
  return sys::Succeeded(last);
}

// Security, locator, connection, query and enumeration. The COM objects are
// released on return, enumerator first and locator last, while COM is
// still initialised.
void RunQuery(sys::IWmi& wmi, const std::u16string& namespacePath, const std::u16string& query,
              std::vector<WmiRow>& rows) {
  const sys::HResult security = sys::Use<sys::ICom>().CoInitializeSecurity(
      sys::kAuthnServicesDefault, sys::kRpcCAuthnLevelDefault, sys::kRpcCImpLevelImpersonate, sys::kEoacNone);
  // RPC_E_TOO_LATE: another part of the process has set security already.
  if (security != sys::kSOk && security != sys::kRpcETooLate) {
    return;
  }
  std::unique_ptr<sys::WbemLocator> locator;
  if (!sys::Obtained(wmi.CreateWbemLocator(sys::kClsctxInprocServer | sys::kClsctxLocalServer, &locator), locator)) {
    return;
  }
  std::unique_ptr<sys::WbemServices> services;
  if (!sys::Obtained(locator->ConnectServer(namespacePath, 0, &services), services)) {
    return;
  }
  std::unique_ptr<sys::WbemEnumerator> enumerator;
  if (!sys::Obtained(services->ExecQuery(u"WQL", query, sys::kWbemFlagReturnImmediately, &enumerator), enumerator) ||
      !sys::Succeeded(enumerator->Reset())) {
    return;
  }
  for (;;) {
    std::unique_ptr<sys::WbemClassObject> object;
    sys::Dword returned = 0;
    // WBEM_S_FALSE ends the enumeration, and so does any failure.
    if (enumerator->Next(sys::kWbemInfinite, &object, &returned) != sys::kSOk || returned == 0 || !object) {
      return;
    }
    if (!ReadObject(*object, wmi, rows)) {
      return;
    }
  }
}

// An adapter of the machine's own hardware: on the PCI bus (the bus name,
// in any case, anywhere in its identifier) or on USB (the identifier begins
// with the bus name), as a desktop's USB network adapter is. Software
// adapters (ROOT\\..., SWD\\...) are no connection of their own.
bool IsHardwareAdapter(std::u16string id) {
  for (char16_t& unit : id) {
    if (unit >= u'a' && unit <= u'z') {
      unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
  }
  return id.find(u"PCI") != std::u16string::npos || id.starts_with(u"USB\\");
}

}  // namespace

const std::vector<WmiRow>& TVelWMI::Query(const std::u16string& namespacePath, const std::u16string& query) {
  Rows.clear();
  // In a multithreaded apartment the query runs there, and owes no
  // CoUninitialize; where COM cannot be initialised there is nothing to run on.
  const sys::ComApartment apartment(sys::kCoInitApartmentThreaded);
  if (apartment.Usable()) {
    RunQuery(sys::Use<sys::IWmi>(), namespacePath, query, Rows);
  }
  return Rows;
}

bool IsNetworkConnected() {
  const std::unique_ptr<TVelWMI> wmi(new (std::nothrow) TVelWMI);
  if (!wmi) {
    return false;
  }
  // NetConnectionStatus 2: connected.
  const std::vector<WmiRow>& rows =
      wmi->Query(u"root\\cimv2", u"SELECT PNPDeviceID FROM Win32_NetworkAdapter where NetConnectionStatus=\"2\"");
  for (const WmiRow& row : rows) {
    const auto id = row.find(u"PNPDeviceID");
    if (id != row.end() && IsHardwareAdapter(id->second)) {
      return true;
    }
  }
  return false;
}

}  // namespace kestrune
