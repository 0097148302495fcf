// Shell automation through COM: Shell.Application, its folders and their items.
#pragma once

#include "sys/Shell.h"

namespace kestrune::sys::win32 {

class Win32Shell : public IShell {
 public:
  HResult CoCreateInstance(const Guid& clsid, Dword context, const Guid& iid, ComObject* object) override;
  HResult NameSpace(ComObject shellDispatch, const std::u16string& path, ComObject* folder) override;
  HResult Items(ComObject folder, ComObject* items) override;
  HResult CopyHere(ComObject folder, ComObject items, std::int32_t options) override;
  void Release(ComObject object) override;
};

}  // namespace kestrune::sys::win32
