#include "install/RunLog.h"

#include <array>
#include <cstdio>

#include "sys/Clock.h"
#include "sys/EnvironmentVariables.h"
#include "sys/Errors.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

std::string TimeStamp(const sys::SystemTime& time) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned{time.Year},
                unsigned{time.Month}, unsigned{time.Day}, unsigned{time.Hour}, unsigned{time.Minute},
                unsigned{time.Second}, unsigned{time.Milliseconds});
  return text.data();
}

}  // namespace

std::string RunLog::DefaultFileName() {
  const sys::SystemTime time = sys::Use<sys::IClock>().GetLocalTime();
  std::array<char, 48> text{};
  std::snprintf(text.data(), text.size(), "Kestrune_%04u%02u%02u_%02u%02u%02u.log", unsigned{time.Year},
                unsigned{time.Month}, unsigned{time.Day}, unsigned{time.Hour}, unsigned{time.Minute},
                unsigned{time.Second});
  return text.data();
}

bool RunLog::Open(const std::string& path) {
  File.Reset();
  Path = path;
  if (Path.empty()) {
    const std::optional<std::string> temp = sys::Use<sys::IEnvironmentVariables>().GetEnv("TEMP");
    if (!temp || temp->empty()) {
      return false;
    }
    Path = *temp + (temp->back() == '\\' ? "" : "\\") + DefaultFileName();
  }
  sys::IFiles& files = sys::Use<sys::IFiles>();
  // Appended to: the runs of one installation share a file when they are
  // given the same path. Reading to the end leaves the position there.
  *File.Put() = files.CreateFileA(Path, sys::kGenericRead | sys::kGenericWrite, sys::kFileShareRead, sys::kOpenExisting,
                                  sys::kFileAttributeNormal);
  if (File.Valid()) {
    std::array<char, 4096> chunk{};
    sys::Dword read = 0;
    while (files.ReadFile(File.Get(), chunk.data(), static_cast<sys::Dword>(chunk.size()), &read) && read > 0) {
    }
    return true;
  }
  if (files.GetLastError() != static_cast<sys::Dword>(sys::kErrorFileNotFound)) {
    return false;
  }
  *File.Put() = files.CreateFileA(Path, sys::kGenericRead | sys::kGenericWrite, sys::kFileShareRead, sys::kCreateAlways,
                                  sys::kFileAttributeNormal);
  return File.Valid();
}

void RunLog::Write(const std::string& text) {
  if (!File.Valid()) {
    return;
  }
  const std::string stamp = TimeStamp(sys::Use<sys::IClock>().GetLocalTime());
  std::string bytes;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    bytes += stamp + " " + text.substr(start, end - start) + "\r\n";
    start = end + 1;
  }
  if (!WriteAll(bytes)) {
    File.Reset();
  }
}

bool RunLog::WriteAll(const std::string& bytes) {
  sys::Dword written = 0;
  return bytes.empty() || (sys::Use<sys::IFiles>().WriteFile(File.Get(), bytes.data(),
                                                             static_cast<sys::Dword>(bytes.size()), &written) &&
                           written == bytes.size());
}

}  // namespace kestrune
