#include "sys/win32/Win32Wmi.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "sys/win32/ComPtr.h"

namespace kestrune::sys::win32 {

namespace {

// CLSID_WbemAdministrativeLocator: the locator that connects with the
// caller's administrative rights.
constexpr CLSID kClsidWbemAdministrativeLocator = {
    0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};

// Element types whose SAFEARRAY elements are references, not values.
constexpr USHORT kReferenceFeatures = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;

// More elements than any WMI property or name list holds; a count beyond it
// would only make the copy exhaust memory.
constexpr std::int64_t kMaxArrayElements = std::int64_t{1} << 20;

// The first dimension's bounds, when an index loop can walk them: an upper
// bound below LONG_MAX (an index of LONG_MAX could never step past it) and
// at most kMaxArrayElements elements. Otherwise none: the array is taken
// for an empty one.
bool WalkableBounds(SAFEARRAY* array, LONG* lower, LONG* upper) {
  if (::SafeArrayGetDim(array) == 0 || FAILED(::SafeArrayGetLBound(array, 1, lower)) ||
      FAILED(::SafeArrayGetUBound(array, 1, upper))) {
    return false;
  }
  const std::int64_t count = std::int64_t{*upper} - std::int64_t{*lower} + 1;
  return *upper < std::numeric_limits<LONG>::max() && count >= 0 && count <= kMaxArrayElements;
}

void CopyArray(SAFEARRAY* array, Variant* out) {
  LONG lower = 0;
  LONG upper = -1;
  if (!WalkableBounds(array, &lower, &upper)) {
    return;
  }
  const UINT dimensions = ::SafeArrayGetDim(array);
  out->ElementSize = ::SafeArrayGetElemsize(array);
  out->ElementCount = static_cast<Dword>(std::int64_t{upper} - std::int64_t{lower} + 1);
  if ((array->fFeatures & kReferenceFeatures) != 0 || out->ElementSize == 0) {
    return;
  }
  // The elements of the first dimension, the other indices at their lower
  // bounds; each is copied into a buffer of exactly its own size.
  std::vector<LONG> indices(dimensions, 0);
  for (UINT dimension = 2; dimension <= dimensions; ++dimension) {
    ::SafeArrayGetLBound(array, dimension, &indices[dimension - 1]);
  }
  std::vector<std::uint8_t> element(out->ElementSize);
  for (LONG index = lower; index <= upper; ++index) {
    indices[0] = index;
    if (FAILED(::SafeArrayGetElement(array, indices.data(), element.data()))) {
      out->Elements.clear();
      return;
    }
    out->Elements.insert(out->Elements.end(), element.begin(), element.end());
  }
}

}  // namespace

Variant FromVariant(const VARIANT& variant) {
  Variant out;
  out.Vt = variant.vt;
  if ((variant.vt & VT_ARRAY) != 0) {
    if ((variant.vt & VT_BYREF) == 0 && variant.parray != nullptr) {
      CopyArray(variant.parray, &out);
    }
    return out;
  }
  switch (variant.vt) {
    case VT_BSTR:
      out.BstrVal = BstrText(variant.bstrVal);
      break;
    case VT_I1:
      out.IntVal = variant.cVal;
      break;
    case VT_UI1:
      out.IntVal = variant.bVal;
      break;
    case VT_I2:
      out.IntVal = variant.iVal;
      break;
    case VT_UI2:
      out.IntVal = variant.uiVal;
      break;
    case VT_I4:
      out.IntVal = variant.lVal;
      break;
    case VT_UI4:
      out.IntVal = variant.ulVal;
      break;
    case VT_INT:
      out.IntVal = variant.intVal;
      break;
    case VT_UINT:
      out.IntVal = variant.uintVal;
      break;
    case VT_I8:
      out.IntVal = variant.llVal;
      break;
    case VT_UI8:
      out.IntVal = static_cast<std::int64_t>(variant.ullVal);
      break;
    case VT_BOOL:
      out.IntVal = variant.boolVal;
      break;
    case VT_ERROR:
      out.IntVal = variant.scode;
      break;
    default:
      break;
  }
  return out;
}

namespace {

// The scalar values back into a VARIANT; false for what cannot be rebuilt.
bool ToVariant(const Variant& value, VARIANT* variant) {
  switch (value.Vt) {
    case VT_BSTR:
      variant->bstrVal = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.BstrVal.data()),
                                             static_cast<UINT>(value.BstrVal.size()));
      if (variant->bstrVal == nullptr) {
        return false;
      }
      break;
    case VT_I1:
      variant->cVal = static_cast<CHAR>(value.IntVal);
      break;
    case VT_UI1:
      variant->bVal = static_cast<BYTE>(value.IntVal);
      break;
    case VT_I2:
      variant->iVal = static_cast<SHORT>(value.IntVal);
      break;
    case VT_UI2:
      variant->uiVal = static_cast<USHORT>(value.IntVal);
      break;
    case VT_I4:
      variant->lVal = static_cast<LONG>(value.IntVal);
      break;
    case VT_UI4:
      variant->ulVal = static_cast<ULONG>(value.IntVal);
      break;
    case VT_BOOL:
      variant->boolVal = static_cast<VARIANT_BOOL>(value.IntVal);
      break;
    case VT_EMPTY:
    case VT_NULL:
      break;
    default:
      return false;
  }
  variant->vt = value.Vt;
  return true;
}

class Win32WbemClassObject : public WbemClassObject {
 public:
  explicit Win32WbemClassObject(ComPtr<IWbemClassObject> object) : Object(std::move(object)) {}

  HResult GetNames(Long flags, std::vector<std::u16string>* names) override {
    UniqueSafeArray array;
    const HRESULT hr = Object->GetNames(nullptr, flags, nullptr, array.Put());
    if (FAILED(hr) || array.Get() == nullptr) {
      return hr;
    }
    LONG lower = 0;
    LONG upper = -1;
    if (!WalkableBounds(array.Get(), &lower, &upper)) {
      return hr;
    }
    for (LONG index = lower; index <= upper; ++index) {
      UniqueBstr name;
      if (SUCCEEDED(::SafeArrayGetElement(array.Get(), &index, name.Put()))) {
        names->push_back(BstrText(name.Get()));
      }
    }
    return hr;
  }

  HResult Get(const std::u16string& name, Long flags, Variant* value) override {
    const UniqueBstr property = MakeBstr(name);
    UniqueVariant variant;
    const HRESULT hr = Object->Get(property.Get(), flags, variant.Put(), nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      *value = FromVariant(variant.Get());
    }
    return hr;
  }

  HResult Put(const std::u16string& name, const Variant& value) override {
    UniqueVariant variant;
    if (!ToVariant(value, variant.Put())) {
      return DISP_E_TYPEMISMATCH;
    }
    const UniqueBstr property = MakeBstr(name);
    VARIANT raw = variant.Get();
    return Object->Put(property.Get(), 0, &raw, 0);
  }

  HResult GetMethod(const std::u16string& name, std::unique_ptr<WbemClassObject>* inSignature) override {
    const UniqueBstr method = MakeBstr(name);
    ComPtr<IWbemClassObject> in;
    const HRESULT hr = Object->GetMethod(method.Get(), 0, in.Put(), nullptr);
    if (SUCCEEDED(hr) && in.Valid()) {
      *inSignature = std::make_unique<Win32WbemClassObject>(std::move(in));
    }
    return hr;
  }

  HResult SpawnInstance(std::unique_ptr<WbemClassObject>* instance) override {
    ComPtr<IWbemClassObject> spawned;
    const HRESULT hr = Object->SpawnInstance(0, spawned.Put());
    if (SUCCEEDED(hr) && spawned.Valid()) {
      *instance = std::make_unique<Win32WbemClassObject>(std::move(spawned));
    }
    return hr;
  }

  IWbemClassObject* Raw() const { return Object.Get(); }

 private:
  ComPtr<IWbemClassObject> Object;
};

class Win32WbemEnumerator : public WbemEnumerator {
 public:
  explicit Win32WbemEnumerator(ComPtr<IEnumWbemClassObject> enumerator) : Enumerator(std::move(enumerator)) {}

  HResult Reset() override { return Enumerator->Reset(); }

  HResult Next(Long timeout, std::unique_ptr<WbemClassObject>* object, Dword* returned) override {
    ComPtr<IWbemClassObject> next;
    ULONG count = 0;
    const HRESULT hr = Enumerator->Next(timeout, 1, next.Put(), &count);
    *returned = count;
    if (count != 0 && next.Valid()) {
      *object = std::make_unique<Win32WbemClassObject>(std::move(next));
    }
    return hr;
  }

 private:
  ComPtr<IEnumWbemClassObject> Enumerator;
};

class Win32WbemServices : public WbemServices {
 public:
  explicit Win32WbemServices(ComPtr<IWbemServices> services) : Services(std::move(services)) {}

  HResult ExecQuery(const std::u16string& language, const std::u16string& query, Long flags,
                    std::unique_ptr<WbemEnumerator>* enumerator) override {
    const UniqueBstr languageText = MakeBstr(language);
    const UniqueBstr queryText = MakeBstr(query);
    ComPtr<IEnumWbemClassObject> result;
    const HRESULT hr = Services->ExecQuery(languageText.Get(), queryText.Get(), flags, nullptr, result.Put());
    if (SUCCEEDED(hr) && result.Valid()) {
      *enumerator = std::make_unique<Win32WbemEnumerator>(std::move(result));
    }
    return hr;
  }

  HResult GetWbemObject(const std::u16string& path, std::unique_ptr<WbemClassObject>* object) override {
    const UniqueBstr pathText = MakeBstr(path);
    ComPtr<IWbemClassObject> result;
    const HRESULT hr = Services->GetObject(pathText.Get(), 0, nullptr, result.Put(), nullptr);
    if (SUCCEEDED(hr) && result.Valid()) {
      *object = std::make_unique<Win32WbemClassObject>(std::move(result));
    }
    return hr;
  }

  HResult ExecMethod(const std::u16string& objectPath, const std::u16string& method, WbemClassObject* inParameters,
                     std::unique_ptr<WbemClassObject>* outParameters) override {
    // Input parameters come from this adapter: an object of another kind
    // cannot be handed to WMI.
    auto* in = dynamic_cast<Win32WbemClassObject*>(inParameters);
    if (inParameters != nullptr && in == nullptr) {
      return kWbemEInvalidParameter;
    }
    const UniqueBstr pathText = MakeBstr(objectPath);
    const UniqueBstr methodText = MakeBstr(method);
    ComPtr<IWbemClassObject> out;
    const HRESULT hr = Services->ExecMethod(pathText.Get(), methodText.Get(), 0, nullptr,
                                            in != nullptr ? in->Raw() : nullptr, out.Put(), nullptr);
    if (SUCCEEDED(hr) && out.Valid()) {
      *outParameters = std::make_unique<Win32WbemClassObject>(std::move(out));
    }
    return hr;
  }

  HResult SetProxyBlanket(Dword authnLevel, Dword impLevel) override {
    return ::CoSetProxyBlanket(Services.Get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, COLE_DEFAULT_PRINCIPAL,
                               authnLevel, impLevel, nullptr, EOAC_NONE);
  }

 private:
  ComPtr<IWbemServices> Services;
};

class Win32WbemLocator : public WbemLocator {
 public:
  explicit Win32WbemLocator(ComPtr<IWbemLocator> locator) : Locator(std::move(locator)) {}

  HResult ConnectServer(const std::u16string& networkResource, Long securityFlags,
                        std::unique_ptr<WbemServices>* services) override {
    const UniqueBstr resource = MakeBstr(networkResource);
    ComPtr<IWbemServices> result;
    const HRESULT hr = Locator->ConnectServer(resource.Get(), nullptr, nullptr, nullptr, securityFlags, nullptr,
                                              nullptr, result.Put());
    if (SUCCEEDED(hr) && result.Valid()) {
      *services = std::make_unique<Win32WbemServices>(std::move(result));
    }
    return hr;
  }

 private:
  ComPtr<IWbemLocator> Locator;
};

}  // namespace

HResult Win32Wmi::CreateWbemLocator(Dword clsContext, std::unique_ptr<WbemLocator>* locator) {
  ComPtr<IWbemLocator> result;
  const HRESULT hr = ::CoCreateInstance(kClsidWbemAdministrativeLocator, nullptr, clsContext, IID_IWbemLocator,
                                        reinterpret_cast<void**>(result.Put()));
  if (SUCCEEDED(hr) && result.Valid()) {
    *locator = std::make_unique<Win32WbemLocator>(std::move(result));
  }
  return hr;
}

Dword Win32Wmi::GetThreadLocale() { return ::GetThreadLocale(); }

HResult Win32Wmi::VariantChangeTypeEx(Variant* value, Dword lcid, std::uint16_t flags, VarType type) {
  UniqueVariant source;
  if (!ToVariant(*value, source.Put())) {
    return DISP_E_TYPEMISMATCH;
  }
  VARIANT from = source.Get();
  UniqueVariant result;
  const HRESULT hr = ::VariantChangeTypeEx(result.Put(), &from, lcid, flags, type);
  if (SUCCEEDED(hr)) {
    *value = FromVariant(result.Get());
  }
  return hr;
}

}  // namespace kestrune::sys::win32
