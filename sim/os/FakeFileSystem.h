// An in-memory Windows file system behind the file seams and the folder
// listing: drives, folders
// and files with the system's rules (case-insensitive names, "\\" and "/"
// separators, "." and ".." resolved, trailing dots and spaces dropped,
// CREATE_ALWAYS truncating, a missing parent folder answering error 3,
// each handle with its own position, the access it was opened with checked
// on every read and write, and the share modes of every open handle, this
// process's and others', checked on every open: error 32), file times, the
// conversions of DOS and local times, and devices of the Win32 device
// namespace ("\\\\.\\NAME") that open while they are present. The log records
// what happened: "open PATH" (a file or device opened), "create PATH" (a
// file created or emptied), "mkdir PATH", "copy FROM -> TO",
// "delete at restart PATH".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/DirectoryListing.h"
#include "sys/FileSystem.h"
#include "sys/Files.h"

namespace kestrune::sim {

class FakeFileSystem : public sys::IFiles, public sys::IFileSystem, public sys::IDirectoryListing {
 public:
  struct File {
    std::string Data;
    sys::FileTime CreationTime;
    sys::FileTime LastAccessTime;
    sys::FileTime LastWriteTime;
  };

  explicit FakeFileSystem(EventLog* log = nullptr);

  // Relative paths are resolved against this folder.
  std::u16string CurrentDirectory = u"C:\\Tools";
  // Local time is universal time minus this many minutes (Windows' bias).
  std::int32_t TimeZoneBiasMinutes = 0;
  // The bytes the disk can still take, when limited: a write or a copy that
  // needs more fails with ERROR_DISK_FULL and stores nothing; a file that is
  // truncated or replaced gives its bytes back.
  std::optional<std::uint64_t> FreeSpace;

  // The absolute, resolved form of a path as the system would use it.
  std::u16string FullPath(const std::u16string& path) const;
  static std::u16string Widen(const std::string& latin1);
  static std::string Narrow(const std::u16string& text);

  // Direct access for tests; paths in any accepted form.
  void AddFolder(const std::u16string& path);
  // Another process holds the file open with this access and share mode
  // until the fake goes.
  void HoldOpen(const std::u16string& path, sys::Dword access, sys::Dword share);
  // A device path ("\\\\.\\NAME") opens, whatever the disposition (Windows
  // 9x loads a VxD by opening its path with 0), while its device is
  // present; a device has no contents and answers no request.
  void AddDevice(const std::u16string& path);
  void RemoveDevice(const std::u16string& path);
  void AddFile(const std::u16string& path, const std::string& data);
  bool FolderExists(const std::u16string& path) const;
  const File* FindFile(const std::u16string& path) const;
  std::vector<std::u16string> AllFiles() const;    // resolved paths
  std::vector<std::u16string> AllFolders() const;  // resolved paths, drives excluded
  std::size_t OpenHandles() const { return Handles.size(); }
  // What DeleteAtRestart registered, resolved, in order.
  std::vector<std::u16string> DeletedAtRestart;

  // sys::IFiles
  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  sys::FileHandle CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  bool ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) override;
  bool WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) override;
  bool GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) override;
  bool DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                       sys::Dword outSize, sys::Dword* returned) override;
  bool SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                   const sys::FileTime* lastWrite) override;
  bool CloseHandle(sys::FileHandle handle) override;

  // sys::IFileSystem
  sys::Dword GetFileAttributesA(const std::string& path) override;
  bool GetFileAttributesExW(const std::u16string& path, sys::FileAttributeData* data) override;
  bool CreateDirectoryA(const std::string& path) override;
  bool CreateDirectoryW(const std::u16string& path) override;
  bool MoveFileA(const std::string& existing, const std::string& target) override;
  bool CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) override;
  bool DeleteFileW(const std::u16string& path) override;
  bool RemoveDirectoryW(const std::u16string& path) override;
  // Records the path in DeletedAtRestart; fails for a path that does not
  // exist.
  bool DeleteAtRestart(const std::u16string& path) override;
  bool DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, sys::FileTime* fileTime) override;
  bool LocalFileTimeToFileTime(const sys::FileTime& localTime, sys::FileTime* fileTime) override;

  // sys::IDirectoryListing: "." and "..", then the folder's entries in name
  // order.
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override;

  // Both seams share one last error.
  sys::Dword GetLastError() override { return LastError; }

 private:
  struct OpenFile {
    std::u16string Key;
    sys::Dword Access = 0;
    sys::Dword Share = 0;
    std::size_t Position = 0;
    bool Device = false;
  };
  static std::u16string KeyOf(const std::u16string& fullPath);
  static bool IsDevicePath(const std::u16string& path);
  bool ParentExists(const std::u16string& fullPath) const;
  bool SharingAllows(const std::u16string& key, sys::Dword access, sys::Dword share) const;
  sys::FileHandle OpenDevice(const std::u16string& path);
  sys::FileHandle NewHandle(OpenFile open);
  // The file open under the handle with that access; null, with the
  // system's error, for an unknown handle, a device or missing access.
  OpenFile* FileOpenFor(sys::FileHandle file, sys::Dword access);
  bool Fail(sys::Dword error);
  // Takes `needed` bytes of FreeSpace after giving back `released`; false,
  // with nothing taken, when they do not fit.
  bool TakeSpace(std::uint64_t needed, std::uint64_t released);

  EventLog* Log;
  std::map<std::u16string, std::u16string> Folders;  // key -> resolved path
  std::map<std::u16string, std::pair<std::u16string, File>> Files;
  std::map<sys::FileHandle, OpenFile> Handles;
  std::vector<OpenFile> HeldByOthers;
  std::set<std::u16string> Devices;  // keys of the device paths present
  sys::FileHandle NextHandle = 0x100;
  sys::Dword LastError = 0;
};

}  // namespace kestrune::sim
