// Removing files and folders by name: natively against the in-memory file
// system, under Wine against the system's own, with the same table. The
// fake answers as strictly as the system does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sys/Errors.h"
#include "sys/FileSystem.h"
#include "sys/Files.h"
#include "sys/Seam.h"
#include "tests/support/ZipBuilder.h"

#ifdef _WIN32
#include "sys/win32/Adapters.h"
#else
#include "sim/os/FakeFileSystem.h"
#endif

namespace kestrune {
namespace {

class FileRemovalTest : public ::testing::Test {
 protected:
#ifdef _WIN32
  FileRemovalTest() : Root(Folder.Path().u16string()) { sys::win32::InstallAdapters(); }
#else
  FileRemovalTest() { Disk.AddFolder(Root); }
#endif

  std::u16string Path(const std::u16string& name) const { return Root + u"\\" + name; }
  bool MakeFile(const std::u16string& name) {
    sys::UniqueFileHandle file(Files().CreateFileW(Path(name), sys::kGenericWrite, 0, sys::kCreateAlways, 0));
    return file.Valid();
  }
  bool Exists(const std::u16string& name) {
    sys::FileAttributeData data;
    return FileSystem().GetFileAttributesExW(Path(name), &data);
  }
  static sys::IFiles& Files() { return sys::Use<sys::IFiles>(); }
  static sys::IFileSystem& FileSystem() { return sys::Use<sys::IFileSystem>(); }

#ifdef _WIN32
  test::ScratchFolder Folder;
  const std::u16string Root;
#else
  const std::u16string Root = u"C:\\Work";
  sim::FakeFileSystem Disk;
  sys::ScopedSeam<sys::IFiles> FilesSeam{Disk};
  sys::ScopedSeam<sys::IFileSystem> FileSystemSeam{Disk};
#endif
};

TEST_F(FileRemovalTest, FilesAndFoldersGoOnlyWhenTheSystemLetsThem) {
  ASSERT_TRUE(FileSystem().CreateDirectoryW(Path(u"full")));
  ASSERT_TRUE(FileSystem().CreateDirectoryW(Path(u"empty")));
  ASSERT_TRUE(MakeFile(u"full\\inner.txt"));
  ASSERT_TRUE(MakeFile(u"closed.txt"));
  ASSERT_TRUE(MakeFile(u"open.txt"));
  // Open without sharing, as the program opens the files it writes.
  sys::UniqueFileHandle open(Files().CreateFileW(Path(u"open.txt"), sys::kGenericWrite, 0, sys::kOpenExisting, 0));
  ASSERT_TRUE(open.Valid());

  struct Case {
    const char* Name;
    bool Folder;  // RemoveDirectoryW, else DeleteFileW
    std::u16string Path;
    sys::Dword Error;  // 0: removed
  };
  const Case cases[] = {
      {"a closed file", false, u"closed.txt", 0},
      {"an open file", false, u"open.txt", sys::kErrorSharingViolation},
      {"a folder as a file", false, u"empty", sys::kErrorAccessDenied},
      {"a missing file", false, u"missing.txt", sys::kErrorFileNotFound},
      {"a folder that holds a file", true, u"full", sys::kErrorDirNotEmpty},
      {"a file as a folder", true, u"full\\inner.txt", sys::kErrorDirectory},
      {"a missing folder", true, u"missing", sys::kErrorFileNotFound},
      {"a file in a missing folder", false, u"missing\\x.txt", sys::kErrorPathNotFound},
      {"a folder in a missing folder", true, u"missing\\x", sys::kErrorPathNotFound},
      {"an empty folder", true, u"empty", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const bool removed =
        c.Folder ? FileSystem().RemoveDirectoryW(Path(c.Path)) : FileSystem().DeleteFileW(Path(c.Path));
    EXPECT_EQ(removed, c.Error == 0);
    if (c.Error != 0) {
      EXPECT_EQ(FileSystem().GetLastError(), c.Error);
    }
    EXPECT_EQ(Exists(c.Path), c.Error != 0 && c.Error != sys::kErrorFileNotFound && c.Error != sys::kErrorPathNotFound);
  }

  // Once closed, the file goes, and then its folder.
  open.Reset();
  EXPECT_TRUE(FileSystem().DeleteFileW(Path(u"open.txt")));
  EXPECT_TRUE(FileSystem().DeleteFileW(Path(u"full\\inner.txt")));
  EXPECT_TRUE(FileSystem().RemoveDirectoryW(Path(u"full")));
  EXPECT_FALSE(Exists(u"full"));
}

}  // namespace
}  // namespace kestrune
