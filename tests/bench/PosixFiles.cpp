#include "tests/bench/PosixFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace kestrune::bench {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

std::string HostPath(const std::u16string& path) {
  std::string narrow;
  for (char16_t c : path) {
    if (c < 0x80) {
      narrow.push_back(c == u'\\' ? '/' : static_cast<char>(c));
    } else if (c < 0x800) {
      narrow.push_back(static_cast<char>(0xC0 | (c >> 6)));
      narrow.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      narrow.push_back(static_cast<char>(0xE0 | (c >> 12)));
      narrow.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      narrow.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return narrow;
}

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

timespec ToTimespec(const sys::FileTime& time) {
  const auto ticks = static_cast<std::int64_t>((std::uint64_t{time.HighDateTime} << 32) | time.LowDateTime);
  timespec spec{};
  spec.tv_sec = static_cast<time_t>(ticks / kTicksPerSecond - kSecondsFrom1601To1970);
  spec.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100);
  return spec;
}

}  // namespace

sys::FileHandle PosixFiles::CreateFileA(const std::string& path, sys::Dword access, sys::Dword share,
                                        sys::Dword disposition, sys::Dword flagsAndAttributes) {
  return CreateFileW(Widen(path), access, share, disposition, flagsAndAttributes);
}

sys::FileHandle PosixFiles::CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword,
                                        sys::Dword disposition, sys::Dword) {
  const int flags = disposition == sys::kCreateAlways ? O_WRONLY | O_CREAT | O_TRUNC
                                                      : ((access & sys::kGenericWrite) ? O_RDWR : O_RDONLY);
  const int fd = ::open(HostPath(path).c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    LastError = errno == ENOENT ? sys::kErrorPathNotFound : sys::kErrorAccessDenied;
    return sys::kInvalidHandleValue;
  }
  return fd;
}

bool PosixFiles::ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) {
  const ssize_t count = ::read(static_cast<int>(file), buffer, size);
  *read = count > 0 ? static_cast<sys::Dword>(count) : 0;
  if (count < 0) {
    LastError = sys::kErrorAccessDenied;
    return false;
  }
  return true;
}

bool PosixFiles::GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) {
  struct stat found {};
  if (::fstat(static_cast<int>(file), &found) != 0) {
    LastError = sys::kErrorInvalidHandle;
    return false;
  }
  *size = static_cast<std::uint64_t>(found.st_size);
  return true;
}

bool PosixFiles::WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) {
  const auto* bytes = static_cast<const char*>(data);
  sys::Dword done = 0;
  while (done < size) {
    const ssize_t count = ::write(static_cast<int>(file), bytes + done, size - done);
    if (count <= 0) {
      break;
    }
    done += static_cast<sys::Dword>(count);
  }
  *written = done;
  return done == size;
}

bool PosixFiles::SetFileTime(sys::FileHandle file, const sys::FileTime*, const sys::FileTime* lastAccess,
                             const sys::FileTime* lastWrite) {
  timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  if (lastAccess != nullptr) {
    times[0] = ToTimespec(*lastAccess);
  }
  if (lastWrite != nullptr) {
    times[1] = ToTimespec(*lastWrite);
  }
  return ::futimens(static_cast<int>(file), times) == 0;
}

bool PosixFiles::CloseHandle(sys::FileHandle handle) { return ::close(static_cast<int>(handle)) == 0; }

sys::Dword PosixFiles::GetFileAttributesA(const std::string& path) {
  struct stat info {};
  if (::stat(HostPath(Widen(path)).c_str(), &info) != 0) {
    return sys::kInvalidFileAttributes;
  }
  return S_ISDIR(info.st_mode) ? sys::kFileAttributeDirectory : 0x20;
}

bool PosixFiles::GetFileAttributesExW(const std::u16string& path, sys::FileAttributeData* data) {
  struct stat info {};
  if (::stat(HostPath(path).c_str(), &info) != 0) {
    return false;
  }
  *data = {};
  data->FileAttributes = S_ISDIR(info.st_mode) ? sys::kFileAttributeDirectory : 0x20;
  data->FileSize = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool PosixFiles::CreateDirectoryA(const std::string& path) { return CreateDirectoryW(Widen(path)); }

bool PosixFiles::CreateDirectoryW(const std::u16string& path) {
  if (::mkdir(HostPath(path).c_str(), 0755) == 0) {
    return true;
  }
  LastError = errno == EEXIST ? sys::kErrorAlreadyExists : sys::kErrorPathNotFound;
  return false;
}

bool PosixFiles::MoveFileA(const std::string& existing, const std::string& target) {
  const std::string from = HostPath(Widen(existing));
  const std::string to = HostPath(Widen(target));
  struct stat found {};
  if (::stat(to.c_str(), &found) == 0) {
    LastError = sys::kErrorAlreadyExists;
    return false;
  }
  if (::rename(from.c_str(), to.c_str()) != 0) {
    LastError = errno == ENOENT ? sys::kErrorFileNotFound : sys::kErrorAccessDenied;
    return false;
  }
  return true;
}

bool PosixFiles::CopyFileW(const std::u16string&, const std::u16string&, bool) { return false; }

bool PosixFiles::DeleteFileW(const std::u16string& path) {
  if (::unlink(HostPath(path).c_str()) != 0) {
    LastError = errno == ENOENT ? sys::kErrorFileNotFound : sys::kErrorAccessDenied;
    return false;
  }
  return true;
}

bool PosixFiles::RemoveDirectoryW(const std::u16string& path) {
  if (::rmdir(HostPath(path).c_str()) != 0) {
    LastError = errno == ENOENT      ? sys::kErrorFileNotFound
                : errno == ENOTEMPTY ? sys::kErrorDirNotEmpty
                                     : sys::kErrorAccessDenied;
    return false;
  }
  return true;
}

bool PosixFiles::DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, sys::FileTime* fileTime) {
  using namespace std::chrono;
  const year_month_day date{year{1980 + (fatDate >> 9)}, month{static_cast<unsigned>((fatDate >> 5) & 0x0F)},
                            day{static_cast<unsigned>(fatDate & 0x1F)}};
  if (!date.ok()) {
    return false;
  }
  const std::int64_t seconds = sys_days{date}.time_since_epoch().count() * std::int64_t{86400} +
                               (fatTime >> 11) * 3600 + ((fatTime >> 5) & 0x3F) * 60 + (fatTime & 0x1F) * 2;
  const auto ticks = static_cast<std::uint64_t>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
  *fileTime = {static_cast<sys::Dword>(ticks & 0xFFFFFFFF), static_cast<sys::Dword>(ticks >> 32)};
  return true;
}

bool PosixFiles::LocalFileTimeToFileTime(const sys::FileTime& localTime, sys::FileTime* fileTime) {
  *fileTime = localTime;
  return true;
}

}  // namespace kestrune::bench
