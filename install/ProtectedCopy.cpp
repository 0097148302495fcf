#include "install/ProtectedCopy.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/Utils.h"
#include "sys/CodePage.h"
#include "sys/DirectoryListing.h"
#include "sys/Errors.h"
#include "sys/FileSystem.h"
#include "sys/Seam.h"
#include "sys/SystemFolders.h"

namespace kestrune {

namespace {

constexpr const char* kVendorFolder = "\\Velnor";
constexpr const char* kProgramFolder = "\\Kestrune";

// Owners and trustees that may change the copy: the Administrators group,
// the system, the Windows installer service (TrustedInstaller), and, for
// entries only, CREATOR OWNER (which on the object itself grants nothing).
constexpr std::array<const char*, 3> kAdministrativeSids = {
    "S-1-5-32-544", "S-1-5-18", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
constexpr const char* kCreatorOwnerSid = "S-1-3-0";

bool IsAdministrative(const std::string& sid, const std::string& processUser) {
  return std::find(kAdministrativeSids.begin(), kAdministrativeSids.end(), sid) != kAdministrativeSids.end() ||
         (!processUser.empty() && sid == processUser);
}

std::u16string Wide(const std::string& text) {
  return sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, text).value_or(std::u16string());
}

// Paths compare as the file system compares names: in any case (ASCII).
bool SamePath(std::string a, std::string b) {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  std::transform(a.begin(), a.end(), a.begin(), upper);
  std::transform(b.begin(), b.end(), b.begin(), upper);
  return a == b;
}

bool IsFolder(const std::string& path) {
  const sys::Dword attributes = sys::Use<sys::IFileSystem>().GetFileAttributesA(path);
  return attributes != sys::kInvalidFileAttributes && (attributes & sys::kFileAttributeDirectory) != 0;
}

// A folder that exists, made now if need be, that only administrators can
// change.
bool ProtectedFolder(const std::string& path, const std::string& processUser) {
  sys::IFileSystem& files = sys::Use<sys::IFileSystem>();
  if (!IsFolder(path) && !files.CreateDirectoryA(path) &&
      files.GetLastError() != static_cast<sys::Dword>(sys::kErrorAlreadyExists)) {
    return false;
  }
  sys::FileSecurity security;
  return IsFolder(path) && sys::Use<sys::IFileSecurity>().ReadFileSecurity(path, &security) == 0 &&
         ProtectedCopy::OnlyAdministratorsCanChange(security, processUser);
}

// Removes a file or empty folder now, or else at the next restart.
void RemoveNowOrAtRestart(const std::string& path, bool folder) {
  sys::IFileSystem& files = sys::Use<sys::IFileSystem>();
  const std::u16string wide = Wide(path);
  if (!(folder ? files.RemoveDirectoryW(wide) : files.DeleteFileW(wide))) {
    files.DeleteAtRestart(wide);
  }
}

}  // namespace

std::string ProtectedCopy::Folder() {
  const std::string programFiles = sys::Use<sys::ISystemFolders>().GetProgramFilesDirectoryA();
  return programFiles.empty() ? std::string() : programFiles + kVendorFolder + kProgramFolder;
}

bool ProtectedCopy::OnlyAdministratorsCanChange(const sys::FileSecurity& security, const std::string& processUser) {
  if (!IsAdministrative(security.OwnerSid, processUser) || !security.HasAccessList) {
    return false;
  }
  return std::none_of(security.Entries.begin(), security.Entries.end(), [&](const sys::AccessEntry& entry) {
    if (entry.Type == sys::AccessEntry::Kind::Deny || (entry.Flags & sys::kInheritOnlyAce) != 0 ||
        (entry.Mask & sys::kFileChangeRights) == 0) {
      return false;
    }
    return entry.Type == sys::AccessEntry::Kind::Other ||
           !(IsAdministrative(entry.Sid, processUser) || entry.Sid == kCreatorOwnerSid);
  });
}

std::string ProtectedCopy::Place() const {
  const std::string folder = Folder();
  if (folder.empty()) {
    return {};
  }
  const std::string processUser = sys::Use<sys::IFileSecurity>().ProcessUserSid();
  const std::string vendor = folder.substr(0, folder.size() - std::char_traits<char>::length(kProgramFolder));
  if (!ProtectedFolder(vendor, processUser) || !ProtectedFolder(folder, processUser)) {
    return {};
  }
  const std::string running = GetExePath();
  const std::string copy = folder + "\\" + GetExeFileName();
  // The restart entry's own start registers the entry again: it is the copy.
  if (!SamePath(running, copy) && !sys::Use<sys::IFileSystem>().CopyFileW(Wide(running), Wide(copy), false)) {
    return {};
  }
  sys::FileSecurity security;
  if (sys::Use<sys::IFileSecurity>().ReadFileSecurity(copy, &security) != 0 ||
      !OnlyAdministratorsCanChange(security, processUser)) {
    return {};
  }
  return copy;
}

void ProtectedCopy::Remove() const {
  const std::string folder = Folder();
  if (folder.empty() || !IsFolder(folder)) {
    return;
  }
  std::vector<std::string> names;
  if (sys::Use<sys::IDirectoryListing>().ListDirectory(folder, &names) == 0) {
    for (const std::string& name : names) {
      if (name != "." && name != "..") {
        RemoveNowOrAtRestart(folder + "\\" + name, IsFolder(folder + "\\" + name));
      }
    }
  }
  RemoveNowOrAtRestart(folder, true);
  // The maker's folder goes with its last program; one that holds others
  // stays (its removal fails now, and at the restart as well).
  const std::string vendor = folder.substr(0, folder.size() - std::char_traits<char>::length(kProgramFolder));
  if (!sys::Use<sys::IFileSystem>().RemoveDirectoryW(Wide(vendor)) && IsFolder(folder)) {
    sys::Use<sys::IFileSystem>().DeleteAtRestart(Wide(vendor));
  }
}

}  // namespace kestrune
