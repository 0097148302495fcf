// Who owns a file or folder and whom its access list lets in
// (GetNamedSecurityInfoW with OWNER_SECURITY_INFORMATION and
// DACL_SECURITY_INFORMATION), security identifiers as text
// ("S-1-5-32-544"), and the user the process runs as.
#pragma once

#include <string>
#include <vector>

#include "sys/WinTypes.h"

namespace kestrune::sys {

// AceFlags.
inline constexpr Dword kInheritOnlyAce = 0x08;

// Access rights of files and folders that change them, their access list
// or their owner: FILE_WRITE_DATA (FILE_ADD_FILE), FILE_APPEND_DATA
// (FILE_ADD_SUBDIRECTORY), FILE_WRITE_EA, FILE_DELETE_CHILD,
// FILE_WRITE_ATTRIBUTES, DELETE, WRITE_DAC, WRITE_OWNER, MAXIMUM_ALLOWED,
// GENERIC_ALL and GENERIC_WRITE.
inline constexpr Dword kFileChangeRights = 0x0002 | 0x0004 | 0x0010 | 0x0040 | 0x0100 | 0x00010000 | 0x00040000 |
                                           0x00080000 | 0x02000000 | 0x10000000 | 0x40000000;

struct AccessEntry {
  // ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE, or any other type
  // (conditional and object entries), which may grant.
  enum class Kind { Allow, Deny, Other };
  Kind Type = Kind::Allow;
  Dword Flags = 0;  // AceFlags
  Dword Mask = 0;   // ACCESS_MASK
  std::string Sid;
};

struct FileSecurity {
  std::string OwnerSid;
  // A security descriptor without an access list (a NULL DACL) lets
  // everyone do everything.
  bool HasAccessList = false;
  std::vector<AccessEntry> Entries;  // in the list's order
};

class IFileSecurity {
 public:
  virtual ~IFileSecurity() = default;
  // path: 8-bit text in the ANSI code page. 0, or the system's error (2 for
  // a missing file).
  virtual Dword ReadFileSecurity(const std::string& path, FileSecurity* security) = 0;
  // The security identifier of the process token's user; empty when it
  // cannot be read.
  virtual std::string ProcessUserSid() = 0;
};

}  // namespace kestrune::sys
