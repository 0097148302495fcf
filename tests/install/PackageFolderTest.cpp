#include "install/PackageFolder.h"

#include <gtest/gtest.h>

#include "sim/os/FakeClock.h"
#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeFileSystem.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

class PackageFolderTest : public ::testing::Test {
 protected:
  PackageFolderTest() { Files.AddFolder(u"C:\\Kit"); }

  sim::FakeFileSystem Files;
  sim::FakeClock Clock;
  sim::FakeCodePage CodePage;

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Files};
  sys::ScopedSeam<sys::IFileSystem> FileSystemSeam{Files};
  sys::ScopedSeam<sys::IClock> ClockSeam{Clock};
  sys::ScopedSeam<sys::ICodePage> CodePageSeam{CodePage};
};

TEST_F(PackageFolderTest, MissingFolderIsCreated) {
  PackageFolder rom("C:\\Kit\\ROM");
  ASSERT_TRUE(rom.Renew());
  EXPECT_TRUE(Files.FolderExists(u"C:\\Kit\\ROM"));
  EXPECT_EQ(rom.GetMovedTo(), "");
}

TEST_F(PackageFolderTest, EarlierFolderIsMovedAsideWithEverythingInIt) {
  Files.AddFile(u"C:\\Kit\\ROM\\Notes\\mine.txt", "a person's own notes");
  Files.AddFile(u"C:\\Kit\\ROM\\Flash.exe", "an earlier tool");
  Clock.Now = {2027, 1, 6, 2, 3, 4, 5, 999};
  PackageFolder rom("C:\\Kit\\ROM");
  ASSERT_TRUE(rom.Renew());
  EXPECT_EQ(rom.GetMovedTo(), "C:\\Kit\\ROM.old-20270102-030405");
  ASSERT_NE(Files.FindFile(u"C:\\Kit\\ROM.old-20270102-030405\\Notes\\mine.txt"), nullptr);
  EXPECT_EQ(Files.FindFile(u"C:\\Kit\\ROM.old-20270102-030405\\Notes\\mine.txt")->Data, "a person's own notes");
  EXPECT_NE(Files.FindFile(u"C:\\Kit\\ROM.old-20270102-030405\\Flash.exe"), nullptr);
  EXPECT_TRUE(Files.FolderExists(u"C:\\Kit\\ROM"));
  std::vector<std::string> names;
  ASSERT_EQ(Files.ListDirectory("C:\\Kit\\ROM", &names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{".", ".."}));
}

TEST_F(PackageFolderTest, TakenNamesGetANumber) {
  Files.AddFolder(u"C:\\Kit\\ROM.old-20261211-143005");
  Files.AddFile(u"C:\\Kit\\ROM.old-20261211-143005-2", "a file of that name");
  Files.AddFile(u"C:\\Kit\\ROM", "a file where the folder goes");
  PackageFolder rom("C:\\Kit\\ROM");
  ASSERT_TRUE(rom.Renew());
  EXPECT_EQ(rom.GetMovedTo(), "C:\\Kit\\ROM.old-20261211-143005-3");
  EXPECT_EQ(Files.FindFile(u"C:\\Kit\\ROM.old-20261211-143005-3")->Data, "a file where the folder goes");
  EXPECT_TRUE(Files.FolderExists(u"C:\\Kit\\ROM"));
}

TEST_F(PackageFolderTest, FolderThatCannotBeMovedStaysAndFails) {
  Files.AddFile(u"C:\\Kit\\ROM\\Flash.exe", "in use");
  const sys::FileHandle open =
      Files.CreateFileA("C:\\Kit\\ROM\\Flash.exe", sys::kGenericRead, 0, sys::kOpenExisting, 0);
  PackageFolder rom("C:\\Kit\\ROM");
  EXPECT_FALSE(rom.Renew());
  EXPECT_NE(Files.FindFile(u"C:\\Kit\\ROM\\Flash.exe"), nullptr);
  Files.CloseHandle(open);
}

TEST_F(PackageFolderTest, FlashToolIsTheFirstRegularFileEndingInExe) {
  Files.AddFile(u"C:\\Kit\\ROM\\AFUWINx64.EXE", "tool");
  Files.AddFile(u"C:\\Kit\\ROM\\flash.exe", "tool");
  Files.AddFile(u"C:\\Kit\\ROM\\readme.exe.txt", "text");
  Files.AddFile(u"C:\\Kit\\ROM\\.exe", "no name before the extension");
  Files.AddFolder(u"C:\\Kit\\ROM\\Tools.exe");
  struct Case {
    std::vector<std::string> listing;
    std::optional<std::string> tool;
  };
  const Case cases[] = {
      {{".", "..", "AFUWINx64.EXE", "flash.exe"}, "AFUWINx64.EXE"},
      {{"Tools.exe", "readme.exe.txt", "flash.exe"}, "flash.exe"},
      {{"Tools.exe", "readme.exe.txt", ".exe"}, std::nullopt},
      {{"Gone.exe", "flash.exe"}, "flash.exe"},  // listed, but no longer there
      {{}, std::nullopt},
  };
  const PackageFolder rom("C:\\Kit\\ROM");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool.value_or("none"));
    EXPECT_EQ(rom.FindFlashTool(c.listing), c.tool);
  }
}

}  // namespace
}  // namespace kestrune
