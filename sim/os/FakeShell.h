// A scripted shell automation object: it hands out numbered objects and
// records every call, so tests see the order of calls and every release.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/os/FakeCom.h"
#include "sys/Shell.h"

namespace kestrune::sim {

class FakeShell : public sys::IShell {
 public:
  // Records com's calls among its own.
  explicit FakeShell(FakeCom& com);
  ~FakeShell() override { Com->Forget(this); }
  FakeShell(const FakeShell&) = delete;
  // Takes over the other's answers and record, and stays the observer it was.
  FakeShell& operator=(FakeShell&&) = default;

  FakeCom* Com;
  struct FolderAnswer {
    sys::HResult Result = sys::kSOk;
    bool Folder = true;
  };

  sys::HResult CreateResult = sys::kSOk;
  // NameSpace by path; other paths answer S_FALSE without a folder, as the
  // shell does for a path that does not exist.
  std::map<std::u16string, FolderAnswer> Folders;
  sys::HResult ItemsResult = sys::kSOk;
  sys::HResult CopyHereResult = sys::kSOk;

  // "CoInitialize" (CoInitializeEx), "CoCreateInstance", "NameSpace <path>" (ASCII),
  // "Items <folder>", "CopyHere <folder> <items> <options>", "Release <n>",
  // "CoUninitialize".
  std::vector<std::string> Calls;
  std::size_t LiveObjects() const { return Live.size(); }
  // What CoCreateInstance was asked for.
  sys::Guid Clsid{};
  sys::Guid Iid{};
  sys::Dword Context = 0;

  sys::HResult CoCreateInstance(const sys::Guid& clsid, sys::Dword context, const sys::Guid& iid,
                                sys::ComObject* object) override;
  sys::HResult NameSpace(sys::ComObject shellDispatch, const std::u16string& path, sys::ComObject* folder) override;
  sys::HResult Items(sys::ComObject folder, sys::ComObject* items) override;
  sys::HResult CopyHere(sys::ComObject folder, sys::ComObject items, std::int32_t options) override;
  void Release(sys::ComObject object) override;

 private:
  sys::ComObject NewObject();
  std::set<sys::ComObject> Live;
  sys::ComObject Next = 1;
};

}  // namespace kestrune::sim
