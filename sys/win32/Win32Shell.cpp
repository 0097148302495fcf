#include "sys/win32/Win32Shell.h"

// clang-format off
#include <windows.h>
#include <ole2.h>
#include <shldisp.h>
// clang-format on

#include <cstring>

#include "sys/win32/ComPtr.h"

namespace kestrune::sys::win32 {

namespace {

GUID ToGuid(const Guid& bytes) {
  GUID guid;
  static_assert(sizeof guid == sizeof bytes);
  std::memcpy(&guid, bytes.data(), sizeof guid);
  return guid;
}

}  // namespace

HResult Win32Shell::CoCreateInstance(const Guid& clsid, Dword context, const Guid& iid, ComObject* object) {
  const GUID classId = ToGuid(clsid);
  const GUID interfaceId = ToGuid(iid);
  void* created = nullptr;
  const HRESULT hr = ::CoCreateInstance(classId, nullptr, context, interfaceId, &created);
  *object = reinterpret_cast<ComObject>(created);
  return hr;
}

HResult Win32Shell::NameSpace(ComObject shellDispatch, const std::u16string& path, ComObject* folder) {
  const UniqueVariant dir = MakeTextVariant(path);
  Folder* found = nullptr;
  const HRESULT hr = reinterpret_cast<IShellDispatch*>(shellDispatch)->NameSpace(dir.Get(), &found);
  *folder = reinterpret_cast<ComObject>(found);
  return hr;
}

HResult Win32Shell::Items(ComObject folder, ComObject* items) {
  FolderItems* found = nullptr;
  const HRESULT hr = reinterpret_cast<Folder*>(folder)->Items(&found);
  *items = reinterpret_cast<ComObject>(found);
  return hr;
}

HResult Win32Shell::CopyHere(ComObject folder, ComObject items, std::int32_t options) {
  VARIANT item;
  ::VariantInit(&item);
  item.vt = VT_DISPATCH;
  item.pdispVal = reinterpret_cast<FolderItems*>(items);
  VARIANT flags;
  ::VariantInit(&flags);
  flags.vt = VT_I4;
  flags.lVal = options;
  return reinterpret_cast<Folder*>(folder)->CopyHere(item, flags);
}

void Win32Shell::Release(ComObject object) { reinterpret_cast<IUnknown*>(object)->Release(); }

}  // namespace kestrune::sys::win32
