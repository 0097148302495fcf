// An in-memory file system on the file seam, with the system's error codes:
// files by case-insensitive path, created, opened, read and written through
// handles, each with its own position and the access it was opened with.
// It has no folders: a file goes into any folder (sim/os/FakeFileSystem is
// the fake with folders). Devices are not here: the simulated board
// decorates this seam.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/Files.h"

namespace kestrune::sim {

class FakeFiles : public sys::IFiles {
 public:
  explicit FakeFiles(EventLog* log = nullptr) : Log(log) {}

  // Direct access for tests.
  bool Exists(const std::string& path) const;
  std::vector<std::uint8_t> Content(const std::string& path) const;
  void Put(const std::string& path, std::vector<std::uint8_t> content);
  std::size_t OpenHandles() const { return Handles.size(); }

  // Opens of a path listed here fail with the given error; creates (and
  // only creates) of a path in CreateErrors likewise.
  std::map<std::string, sys::Dword> OpenErrors;
  std::map<std::string, sys::Dword> CreateErrors;
  // Writes report one byte fewer than asked.
  bool ShortWrites = false;
  // Every CreateFile, as "open PATH" or "create PATH".
  std::vector<std::string> Calls;

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
  sys::Dword GetLastError() override { return LastError; }

 private:
  struct File {
    std::string Path;  // as first created
    std::vector<std::uint8_t> Data;
    sys::FileTime LastWrite;
  };
  struct OpenFile {
    std::string Key;
    sys::Dword Access = 0;
    std::size_t Position = 0;
  };
  static std::string Key(const std::string& path);
  bool Fail(sys::Dword error) {
    LastError = error;
    return false;
  }

  EventLog* Log;
  std::map<std::string, File> Files;  // key -> file
  std::map<sys::FileHandle, OpenFile> Handles;
  sys::FileHandle NextHandle = 0x100;
  sys::Dword LastError = 0;
};

}  // namespace kestrune::sim
