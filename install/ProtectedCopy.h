// The copy of the running program that the restart entry starts. The logon
// task runs its program with the highest privileges, so that program must
// be a file only administrators can replace: a copy in a folder of its own
// under the program-files folder ("Velnor\\Kestrune"), never the file the
// program was started from (a download folder, a USB stick, %TEMP%).
#pragma once

#include <string>

#include "sys/FileSecurity.h"

namespace kestrune {

class ProtectedCopy {
 public:
  // Makes the folder (and "Velnor" above it) when missing, checks that only
  // administrators can change each of them, copies the running program into
  // it under its own file name (unless it runs from there already) and
  // checks the copy as well. The copy's path; empty when the program-files
  // folder is unknown, a folder cannot be made, a folder or the copy could
  // be changed by others, or the copy fails: the caller then starts nothing
  // from there.
  std::string Place() const;
  // Removes the folder with what it holds (and "Velnor" when that is left
  // empty); what cannot go now, such as the running copy itself, goes at the
  // next restart of the system.
  void Remove() const;

  // The program-files folder, then "\\Velnor\\Kestrune"; empty when the
  // program-files folder is unknown.
  static std::string Folder();
  // Whether a file or folder with this owner and access list can be changed
  // by nobody but the administrators, the system, the installer service and
  // processUser (the administrator this program runs as): its owner is one
  // of them, it has an access list, and no entry of it that applies to the
  // object grants a right that changes it (sys::kFileChangeRights) to
  // anyone else. Entries that only pass to new children are not looked at
  // (the children are checked themselves); deny entries are not counted.
  static bool OnlyAdministratorsCanChange(const sys::FileSecurity& security, const std::string& processUser);
};

}  // namespace kestrune
