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
  FakeObject(FakeWmi& wmi, const FakeWmi::Object& object) : Counted(wmi, "object"), Object(object) {}
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

 private:
  const FakeWmi::Object& Object;
};

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
    if (sys::Succeeded(Wmi.ExecQueryResult)) {
      *enumerator = std::make_unique<FakeEnumerator>(Wmi);
    }
    return Wmi.ExecQueryResult;
  }
};

class FakeLocator : public sys::WbemLocator, Counted {
 public:
  explicit FakeLocator(FakeWmi& wmi) : Counted(wmi, "locator") {}
  sys::HResult ConnectServer(const std::u16string& networkResource, sys::Long securityFlags,
                             std::unique_ptr<sys::WbemServices>* services) override {
    Wmi.Record("ConnectServer " + RecordText(networkResource) + " " + std::to_string(securityFlags));
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
