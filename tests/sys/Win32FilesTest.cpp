// The file adapters against the system: opening, reading, writing and
// sizing files through handles, share modes, missing folders and making
// one; and the fake file system that the other tests use answers the same.
#include "sys/win32/Win32Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/os/FakeFileSystem.h"
#include "sys/Errors.h"
#include "sys/win32/Win32FileSystem.h"

namespace kestrune {
namespace {

const std::string kRoot = "C:\\kestrune-files-test";

// One run of the same calls; each call's outcome as a line.
std::vector<std::string> Script(sys::IFiles& files, sys::IFileSystem& fileSystem) {
  const sys::ScopedSeam<sys::IFiles> seam(files);  // the handles' owners close through it
  std::vector<std::string> lines;
  const auto error = [&](const char* what, sys::Dword code) {
    lines.push_back(std::string(what) + ": error " + std::to_string(code));
  };
  const auto open = [&](const char* what, const std::string& path, sys::Dword access, sys::Dword share,
                        sys::Dword disposition) {
    const sys::FileHandle handle = files.CreateFileA(path, access, share, disposition, sys::kFileAttributeNormal);
    if (handle == sys::kInvalidHandleValue) {
      error(what, files.GetLastError());
    } else {
      lines.push_back(std::string(what) + ": open");
    }
    return sys::UniqueFileHandle(handle);
  };
  const auto mkdir = [&](const char* what, const std::string& path) {
    if (fileSystem.CreateDirectoryA(path)) {
      lines.push_back(std::string(what) + ": made");
    } else {
      error(what, fileSystem.GetLastError());
    }
  };
  const auto read = [&](const char* what, sys::FileHandle file, sys::Dword size) {
    std::string buffer(size, '\0');
    sys::Dword count = 0;
    if (files.ReadFile(file, buffer.data(), size, &count)) {
      lines.push_back(std::string(what) + ": \"" + buffer.substr(0, count) + "\"");
    } else {
      error(what, files.GetLastError());
    }
  };
  const auto write = [&](const char* what, sys::FileHandle file, const std::string& data) {
    sys::Dword count = 0;
    if (files.WriteFile(file, data.data(), static_cast<sys::Dword>(data.size()), &count)) {
      lines.push_back(std::string(what) + ": wrote " + std::to_string(count));
    } else {
      error(what, files.GetLastError());
    }
  };
  const auto size = [&](const char* what, sys::FileHandle file) {
    std::uint64_t bytes = 0;
    if (files.GetFileSizeEx(file, &bytes)) {
      lines.push_back(std::string(what) + ": " + std::to_string(bytes) + " bytes");
    } else {
      error(what, files.GetLastError());
    }
  };
  const sys::Dword readOnly = sys::kGenericRead;
  const sys::Dword readWrite = sys::kGenericRead | sys::kGenericWrite;
  const sys::Dword shareRead = sys::kFileShareRead;
  const sys::Dword shareBoth = sys::kFileShareRead | sys::kFileShareWrite;
  const std::string file = kRoot + "\\Drivers\\a.sys";

  open("create in a missing folder", file, readWrite, shareBoth, sys::kCreateAlways);
  open("open in a missing folder", file, readOnly, shareRead, sys::kOpenExisting);
  mkdir("make a folder below a missing one", kRoot + "\\Drivers\\x");
  mkdir("make the root", kRoot);
  mkdir("make it again", kRoot);
  mkdir("make the folder", kRoot + "\\Drivers");
  open("open a missing file", file, readOnly, shareRead, sys::kOpenExisting);
  {
    sys::UniqueFileHandle writer = open("create", file, readWrite, shareBoth, sys::kCreateAlways);
    write("write", writer.Get(), "abcdef");
    size("size while writing", writer.Get());
    open("open for reading, sharing no writer", file, readOnly, shareRead, sys::kOpenExisting);
  }
  {
    sys::UniqueFileHandle reader = open("open for reading", file, readOnly, shareRead, sys::kOpenExisting);
    size("size", reader.Get());
    read("read 4", reader.Get(), 4);
    read("read 4 more", reader.Get(), 4);
    read("read at the end", reader.Get(), 4);
    write("write through the reader", reader.Get(), "x");
    open("create over the reader", file, readWrite, shareBoth, sys::kCreateAlways);
    open("a second reader", file, readOnly, shareRead, sys::kOpenExisting);
  }
  {
    sys::UniqueFileHandle writer = open("create again", file, readWrite, shareBoth, sys::kCreateAlways);
    size("size after creating again", writer.Get());
  }
  {
    sys::UniqueFileHandle writer =
        open("open for writing only", file, sys::kGenericWrite, shareBoth, sys::kOpenExisting);
    read("read through a writer", writer.Get(), 1);
  }
  mkdir("make a folder where a file is", file);
  open("create below a file", file + "\\b.sys", readWrite, shareBoth, sys::kCreateAlways);
  open("open a device that is not there", "\\\\.\\KestruneNoSuchDevice", readWrite, shareBoth, sys::kOpenExisting);
  return lines;
}

TEST(Win32FilesTest, TheSystemAndTheFakeAnswerTheSameCallsAlike) {
  std::error_code ignored;
  std::filesystem::remove_all(kRoot, ignored);
  sys::win32::Win32Files systemFiles;
  sys::win32::Win32FileSystem systemFileSystem;
  const std::vector<std::string> system = Script(systemFiles, systemFileSystem);
  std::filesystem::remove_all(kRoot, ignored);

  sim::FakeFileSystem fake;
  const std::vector<std::string> faked = Script(fake, fake);
  EXPECT_EQ(faked, system);
  EXPECT_EQ(fake.OpenHandles(), 0u);

  const std::vector<std::string> expected = {
      "create in a missing folder: error 3",
      "open in a missing folder: error 3",
      "make a folder below a missing one: error 3",
      "make the root: made",
      "make it again: error 183",
      "make the folder: made",
      "open a missing file: error 2",
      "create: open",
      "write: wrote 6",
      "size while writing: 6 bytes",
      "open for reading, sharing no writer: error 32",
      "open for reading: open",
      "size: 6 bytes",
      "read 4: \"abcd\"",
      "read 4 more: \"ef\"",
      "read at the end: \"\"",
      "write through the reader: error 5",
      "create over the reader: error 32",
      "a second reader: open",
      "create again: open",
      "size after creating again: 0 bytes",
      "open for writing only: open",
      "read through a writer: error 5",
      "make a folder where a file is: error 183",
      "create below a file: error 3",
      "open a device that is not there: error 2",
  };
  EXPECT_EQ(system, expected);
}

}  // namespace
}  // namespace kestrune
