// Where the system looks for the libraries the process loads.
#pragma once

namespace kestrune::sys {

class ILibraryLoading {
 public:
  virtual ~ILibraryLoading() = default;
  // Libraries loaded later by name come from the system folder only:
  // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), then
  // SetDllDirectoryW(L""), which takes the current folder out of the search
  // path. True when both held.
  virtual bool RestrictToSystemFolder() = 0;
};

}  // namespace kestrune::sys
