#include "sim/os/FakeShell.h"

#include "sim/os/EventLog.h"

namespace kestrune::sim {

sys::ComObject FakeShell::NewObject() {
  const sys::ComObject object = Next++;
  Live.insert(object);
  return object;
}

FakeShell::FakeShell(FakeCom& com) : Com(&com) {
  Com->Observe(this, [this](const FakeCom::Call& call) {
    if (call.Name == "CoInitializeEx") {
      Calls.push_back("CoInitialize");
    } else if (call.Name == "CoUninitialize") {
      Calls.push_back(call.Name);
    }
  });
}

sys::HResult FakeShell::CoCreateInstance(const sys::Guid& clsid, sys::Dword context, const sys::Guid& iid,
                                         sys::ComObject* object) {
  Calls.push_back("CoCreateInstance");
  Clsid = clsid;
  Iid = iid;
  Context = context;
  // CoCreateInstance needs an apartment on the thread.
  const sys::HResult hr = Com->Apartments == 0 ? sys::kCoENotInitialized : CreateResult;
  *object = sys::Succeeded(hr) ? NewObject() : 0;
  return hr;
}

sys::HResult FakeShell::NameSpace(sys::ComObject shellDispatch, const std::u16string& path, sys::ComObject* folder) {
  Calls.push_back("NameSpace " + RecordText(path));
  *folder = 0;
  if (!Live.contains(shellDispatch)) {
    return sys::kEPointer;
  }
  auto it = Folders.find(path);
  const FolderAnswer answer = it == Folders.end() ? FolderAnswer{sys::kSFalse, false} : it->second;
  if (answer.Folder) {
    *folder = NewObject();
  }
  return answer.Result;
}

sys::HResult FakeShell::Items(sys::ComObject folder, sys::ComObject* items) {
  Calls.push_back("Items " + std::to_string(folder));
  *items = sys::Succeeded(ItemsResult) && Live.contains(folder) ? NewObject() : 0;
  return ItemsResult;
}

sys::HResult FakeShell::CopyHere(sys::ComObject folder, sys::ComObject items, std::int32_t options) {
  Calls.push_back("CopyHere " + std::to_string(folder) + " " + std::to_string(items) + " " + std::to_string(options));
  return CopyHereResult;
}

void FakeShell::Release(sys::ComObject object) {
  Calls.push_back("Release " + std::to_string(object));
  Live.erase(object);
}

}  // namespace kestrune::sim
