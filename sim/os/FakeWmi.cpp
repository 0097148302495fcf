#include "sim/os/FakeWmi.h"

#include "sim/os/EventLog.h"

namespace kestrune::sim {

namespace {

// Every object notes its release, so tests see the order of releases.
class Counted {
 public:
  Counted(FakeWmi& wmi, std::string kind) : Wmi(wmi), Kind(std::move(kind)) { ++Wmi.LiveObjects; }
  ~Counted() {
    --Wmi.LiveObjects;
    Wmi.Record("release " + Kind);
  }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

 protected:
  FakeWmi& Wmi;

 private:
  std::string Kind;
};

class FakeObject : public sys::WbemClassObject, Counted {
 public:
  // signatureOf: the method whose input signature (or an instance of it)
  // this object is; empty for others.
  FakeObject(FakeWmi& wmi, FakeWmi::Object object, std::u16string signatureOf = {})
      : Counted(wmi, "object"), Object(std::move(object)), SignatureOf(std::move(signatureOf)) {}
  sys::HResult GetNames(sys::Long flags, std::vector<std::u16string>* names) override {
    Wmi.Record("GetNames " + std::to_string(flags));
    if (!sys::Succeeded(Object.GetNamesResult)) {
      return Object.GetNamesResult;
    }
    for (const FakeWmi::Property& property : Object.Properties) {
      names->push_back(property.Name);
    }
    return Object.GetNamesResult;
  }
  sys::HResult Get(const std::u16string& name, sys::Long flags, sys::Variant* value) override {
    Wmi.Record("Get " + RecordText(name) + " " + std::to_string(flags));
    for (const FakeWmi::Property& property : Object.Properties) {
      if (property.Name == name) {
        if (sys::Succeeded(property.GetResult)) {
          *value = property.Value;
        }
        return property.GetResult;
      }
    }
    return sys::kWbemEFailed;
  }
  sys::HResult Put(const std::u16string& name, const sys::Variant& value) override {
    Wmi.Record("Put " + RecordText(name) + " " + std::to_string(value.Vt) + " " + std::to_string(value.IntVal));
    for (FakeWmi::Property& property : Object.Properties) {
      if (property.Name == name) {
        property.Value = value;
        return sys::kSOk;
      }
    }
    // An input parameter that the signature does not declare.
    if (!SignatureOf.empty()) {
      return sys::kWbemENotFound;
    }
    Object.Properties.push_back({name, value, sys::kSOk});
    return sys::kSOk;
  }
  sys::HResult GetMethod(const std::u16string& name, std::unique_ptr<sys::WbemClassObject>* inSignature) override {
    Wmi.Record("GetMethod " + RecordText(name));
    const auto method = Wmi.Methods.find(name);
    if (!IsClass || method == Wmi.Methods.end()) {
      return sys::kWbemENotFound;
    }
    if (!method->second.InParameters.empty()) {
      *inSignature = std::make_unique<FakeObject>(Wmi, FakeWmi::Object{method->second.InParameters, sys::kSOk}, name);
    }
    return sys::kSOk;
  }
  sys::HResult SpawnInstance(std::unique_ptr<sys::WbemClassObject>* instance) override {
    Wmi.Record("SpawnInstance");
    *instance = std::make_unique<FakeObject>(Wmi, Object, SignatureOf);
    return sys::kSOk;
  }

  const FakeWmi::Object& Properties() const { return Object; }
  const std::u16string& Signature() const { return SignatureOf; }
  bool IsClass = false;

 private:
  FakeWmi::Object Object;
  std::u16string SignatureOf;
};

// The text of an object's property, when it is a string.
std::u16string TextOf(const FakeWmi::Object& object, const std::u16string& name) {
  for (const FakeWmi::Property& property : object.Properties) {
    if (property.Name == name && property.Value.Vt == sys::kVtBstr) {
      return property.Value.BstrVal;
    }
  }
  return {};
}

class FakeEnumerator : public sys::WbemEnumerator, Counted {
 public:
  explicit FakeEnumerator(FakeWmi& wmi) : Counted(wmi, "enumerator") {}
  sys::HResult Reset() override {
    Wmi.Record("Reset");
    Position = 0;
    return Wmi.ResetResult;
  }
  sys::HResult Next(sys::Long timeout, std::unique_ptr<sys::WbemClassObject>* object, sys::Dword* returned) override {
    Wmi.Record("Next " + std::to_string(timeout));
    *returned = 0;
    if (Wmi.FailNextAt == Position) {
      return sys::kWbemEFailed;
    }
    if (Position >= Wmi.Objects.size()) {
      return sys::kWbemSFalse;
    }
    *object = std::make_unique<FakeObject>(Wmi, Wmi.Objects[Position++]);
    *returned = 1;
    return sys::kSOk;
  }

 private:
  std::size_t Position = 0;
};

class FakeServices : public sys::WbemServices, Counted {
 public:
  explicit FakeServices(FakeWmi& wmi) : Counted(wmi, "services") {}
  sys::HResult ExecQuery(const std::u16string& language, const std::u16string& query, sys::Long flags,
                         std::unique_ptr<sys::WbemEnumerator>* enumerator) override {
    Wmi.Record("ExecQuery " + RecordText(language) + " " + RecordText(query) + " " + std::to_string(flags));
    if (!Private()) {
      return sys::kWbemEAccessDenied;
    }
    if (sys::Succeeded(Wmi.ExecQueryResult)) {
      *enumerator = std::make_unique<FakeEnumerator>(Wmi);
    }
    return Wmi.ExecQueryResult;
  }
  sys::HResult GetWbemObject(const std::u16string& path, std::unique_ptr<sys::WbemClassObject>* object) override {
    Wmi.Record("GetObject " + RecordText(path));
    if (!Private()) {
      return sys::kWbemEAccessDenied;
    }
    if (path.empty() || path != Wmi.ClassName) {
      return sys::kWbemENotFound;
    }
    auto found = std::make_unique<FakeObject>(Wmi, FakeWmi::Object{});
    found->IsClass = true;
    *object = std::move(found);
    return sys::kSOk;
  }
  sys::HResult ExecMethod(const std::u16string& objectPath, const std::u16string& method,
                          sys::WbemClassObject* inParameters,
                          std::unique_ptr<sys::WbemClassObject>* outParameters) override {
    std::string call = "ExecMethod " + RecordText(objectPath) + " " + RecordText(method);
    const auto* in = dynamic_cast<const FakeObject*>(inParameters);
    if (in != nullptr) {
      for (const FakeWmi::Property& property : in->Properties().Properties) {
        call += " " + RecordText(property.Name) + "=" +
                (property.Value.Vt == sys::kVtNull || property.Value.Vt == sys::kVtEmpty
                     ? std::string("NULL")
                     : std::to_string(property.Value.IntVal));
      }
    }
    Wmi.Record(call);
    if (!Private()) {
      return sys::kWbemEAccessDenied;
    }
    const auto found = Wmi.Methods.find(method);
    if (found == Wmi.Methods.end()) {
      return sys::kWbemEInvalidMethod;
    }
    bool known = false;
    for (const FakeWmi::Object& object : Wmi.Objects) {
      known = known || (!objectPath.empty() &&
                        (TextOf(object, u"__PATH") == objectPath || TextOf(object, u"__RELPATH") == objectPath));
    }
    if (!known) {
      return sys::kWbemENotFound;
    }
    // Input parameters are an instance of this method's own signature.
    if (inParameters != nullptr && (in == nullptr || in->Signature() != method)) {
      return sys::kWbemEInvalidParameter;
    }
    if (!sys::Succeeded(found->second.Result)) {
      return found->second.Result;
    }
    *outParameters = std::make_unique<FakeObject>(Wmi, FakeWmi::Object{found->second.OutParameters, sys::kSOk});
    return found->second.Result;
  }
  sys::HResult SetProxyBlanket(sys::Dword authnLevel, sys::Dword impLevel) override {
    Wmi.Record("SetProxyBlanket " + std::to_string(authnLevel) + " " + std::to_string(impLevel));
    AuthnLevel = authnLevel;
    return sys::kSOk;
  }

 private:
  bool Private() const { return !Wmi.RequiresPacketPrivacy || AuthnLevel >= sys::kRpcCAuthnLevelPktPrivacy; }
  sys::Dword AuthnLevel = sys::kRpcCAuthnLevelDefault;
};

class FakeLocator : public sys::WbemLocator, Counted {
 public:
  explicit FakeLocator(FakeWmi& wmi) : Counted(wmi, "locator") {}
  sys::HResult ConnectServer(const std::u16string& networkResource, sys::Long securityFlags,
                             std::unique_ptr<sys::WbemServices>* services) override {
    Wmi.Record("ConnectServer " + RecordText(networkResource) + " " + std::to_string(securityFlags));
    if (Wmi.MissingNamespaces.count(networkResource) != 0) {
      return sys::kWbemEInvalidNamespace;
    }
    if (sys::Succeeded(Wmi.ConnectResult)) {
      *services = std::make_unique<FakeServices>(Wmi);
    }
    return Wmi.ConnectResult;
  }
};

}  // namespace

FakeWmi::FakeWmi(FakeCom& com) : Com(&com) {
  Com->Observe(this, [this](const FakeCom::Call& call) {
    std::string text = call.Name;
    for (const std::int64_t argument : call.Arguments) {
      text += " " + std::to_string(argument);
    }
    Record(text);
  });
}

sys::HResult FakeWmi::CreateWbemLocator(sys::Dword clsContext, std::unique_ptr<sys::WbemLocator>* locator) {
  Record("CreateWbemLocator " + std::to_string(clsContext));
  // CoCreateInstance needs an apartment on the thread.
  const sys::HResult hr = Com->Apartments == 0 ? sys::kCoENotInitialized : LocatorResult;
  if (sys::Succeeded(hr)) {
    *locator = std::make_unique<FakeLocator>(*this);
  }
  return hr;
}

sys::HResult FakeWmi::VariantChangeTypeEx(sys::Variant* value, sys::Dword lcid, std::uint16_t flags,
                                          sys::VarType type) {
  Record("VariantChangeTypeEx " + std::to_string(lcid) + " " + std::to_string(flags) + " " + std::to_string(type));
  if (type != sys::kVtBstr) {
    return sys::kDispETypeMismatch;
  }
  switch (value->Vt) {
    case sys::kVtBstr:
      return sys::kSOk;
    case sys::kVtI1:
    case sys::kVtI2:
    case sys::kVtI4:
    case sys::kVtUi1:
    case sys::kVtUi2:
    case sys::kVtUi4: {
      const std::string digits = std::to_string(value->IntVal);
      value->BstrVal.assign(digits.begin(), digits.end());
      value->Vt = sys::kVtBstr;
      return sys::kSOk;
    }
    default:
      return sys::kDispETypeMismatch;
  }
}

}  // namespace kestrune::sim
