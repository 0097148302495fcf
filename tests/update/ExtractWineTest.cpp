// Package extraction on the real Windows file system under Wine, with zips
// made by the test. Wine has no zip folders, so the shell path fails there.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sys/CodePage.h"
#include "sys/FileSystem.h"
#include "sys/Seam.h"
#include "sys/Shell.h"
#include "sys/win32/Adapters.h"
#include "tests/support/ZipBuilder.h"
#include "tests/support/ZipSamples.h"
#include "update/Compress.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::ZipMember;

class ExtractWineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sys::win32::InstallAdapters(); }

  std::string Archive(const std::vector<ZipMember>& members, const std::string& name = "package.zip") {
    test::WriteBytes(Folder.Path() / name, test::MakeZip(members));
    return Folder.Text(name);
  }
  std::string Dest() const { return Folder.Text("ROM"); }
  fs::path Rom() const { return Folder.Path() / "ROM"; }
  static std::uint64_t Ticks(const sys::FileTime& time) {
    return (std::uint64_t{time.HighDateTime} << 32) | time.LowDateTime;
  }

  test::ScratchFolder Folder;
};

TEST_F(ExtractWineTest, FoldersAndSlashesBecomeTheSameTreeOnDisk) {
  const std::string image(300000, '\x5A');
  ASSERT_EQ(ExtractZip(Archive({{"BIOS/", ""},
                                {"BIOS/AFU/AfuWin.exe", "MZ tool", false},
                                {"BIOS/ROM/image.bin", image},
                                {"Empty/", ""}}),
                       Dest()),
            ZipOutcome::Written);
  EXPECT_EQ(test::ReadBytes(Rom() / "BIOS" / "AFU" / "AfuWin.exe"), "MZ tool");
  EXPECT_EQ(test::ReadBytes(Rom() / "BIOS" / "ROM" / "image.bin"), image);
  EXPECT_TRUE(fs::is_directory(Rom() / "Empty"));
}

TEST_F(ExtractWineTest, Utf8FlagAgainstTheAnsiCodePage) {
  const std::string bytes = "caf\xC3\xA9.txt";
  ZipMember flagged{bytes, "utf-8"};
  flagged.Flags = 0x0800;
  ASSERT_EQ(ExtractZip(Archive({flagged, {"ansi/" + bytes, "ansi"}}), Dest()), ZipOutcome::Written);

  EXPECT_EQ(test::ReadBytes(Rom() / fs::path(u"caf\u00E9.txt")), "utf-8");
  const auto ansi = sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, bytes);
  ASSERT_TRUE(ansi.has_value());
  EXPECT_EQ(test::ReadBytes(Rom() / "ansi" / fs::path(*ansi)), "ansi");
}

TEST_F(ExtractWineTest, DosDateIsLocalTimeOnTheFile) {
  ZipMember member{"dated.bin", "x"};
  member.DosDate = test::DosDate(2019, 11, 30);
  member.DosTime = test::DosTime(23, 58, 10);
  ASSERT_EQ(ExtractZip(Archive({member}), Dest()), ZipOutcome::Written);

  sys::IFileSystem& system = sys::Use<sys::IFileSystem>();
  sys::FileTime local;
  sys::FileTime expected;
  ASSERT_TRUE(system.DosDateTimeToFileTime(member.DosDate, member.DosTime, &local));
  ASSERT_TRUE(system.LocalFileTimeToFileTime(local, &expected));
  sys::FileAttributeData data;
  ASSERT_TRUE(system.GetFileAttributesExW((Rom() / "dated.bin").u16string(), &data));
  EXPECT_EQ(Ticks(data.LastWriteTime), Ticks(expected));
  EXPECT_EQ(Ticks(data.LastAccessTime), Ticks(expected));
}

TEST_F(ExtractWineTest, ExistingFilesAreReplaced) {
  fs::create_directories(Rom());
  test::WriteBytes(Rom() / "flash.cfg", std::string(5000, 'o'));
  ASSERT_EQ(ExtractZip(Archive({{"flash.cfg", "new"}}), Dest()), ZipOutcome::Written);
  EXPECT_EQ(test::ReadBytes(Rom() / "flash.cfg"), "new");
}

TEST_F(ExtractWineTest, EmptyArchivesOnlyCreateTheDestination) {
  // The first is what Python's zipfile writes for no members: 22 bytes.
  for (const std::string& bytes : {test::MakeZip({}), test::MakeZip({}, "a comment"), "stub" + test::MakeZip({})}) {
    SCOPED_TRACE(bytes.size());
    fs::remove_all(Rom());
    test::WriteBytes(Folder.Path() / "empty.zip", bytes);
    ASSERT_EQ(ExtractZip(Folder.Text("empty.zip"), Dest()), ZipOutcome::Written);
    EXPECT_TRUE(fs::is_directory(Rom()));
    EXPECT_TRUE(fs::is_empty(Rom()));
  }
}

TEST_F(ExtractWineTest, MemberLeavingTheDestinationIsRefused) {
  for (const char* name : {"../evil.txt", "ROM/../../evil.txt", "/evil.txt", "C:evil.txt", "nul"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, {name, "evil"}}), Dest()), ZipOutcome::Refused);
    EXPECT_TRUE(fs::is_empty(Rom()));
    EXPECT_FALSE(fs::exists(Folder.Path() / "evil.txt"));
  }
}

TEST_F(ExtractWineTest, ArchivesInTheFormsOfRealWritersAreWritten) {
  const std::string image(300000, '\x5A');
  ZipMember streamed{"BIOS/image.bin", image};
  streamed.DataDescriptor = true;
  streamed.Zip64 = true;
  ZipMember stored{"BIOS/AfuWin.exe", "MZ tool", false};
  stored.DataDescriptor = true;
  ASSERT_EQ(ExtractZip(Archive({streamed, stored}), Dest()), ZipOutcome::Written);
  EXPECT_EQ(test::ReadBytes(Rom() / "BIOS" / "image.bin"), image);
  EXPECT_EQ(test::ReadBytes(Rom() / "BIOS" / "AfuWin.exe"), "MZ tool");

  for (const std::string* bytes : {&test::kPythonStreamedZip, &test::kInfoZipZip64}) {
    test::WriteBytes(Folder.Path() / "real.zip", *bytes);
    EXPECT_EQ(ExtractZip(Folder.Text("real.zip"), Dest()), ZipOutcome::Written);
  }
  EXPECT_EQ(test::ReadBytes(Rom() / "Flash" / "AFU.exe").substr(0, 14), "MZ flash tool ");
  EXPECT_EQ(test::ReadBytes(Rom() / "z270.bin"), std::string(600, 'B'));
}

// An unsound member, or a refused one behind a member that the file system
// does not take, refuses the archive, and what was written of it goes.
TEST_F(ExtractWineTest, RefusedArchivesLeaveTheDestinationEmpty) {
  ZipMember flipped{"BIOS/image.bin", std::string(5000, 'i'), false};
  flipped.FlipByte = 4000;
  ZipMember streamedFlipped = flipped;
  streamedFlipped.DataDescriptor = true;
  streamedFlipped.Zip64 = true;
  ZipMember shortMember{"BIOS/image.bin", "short"};
  shortMember.DeclaredSize = 1000;
  const std::pair<const char*, std::vector<ZipMember>> archives[] = {
      {"one byte flipped", {{"Flash/AfuWin.exe", "MZ"}, flipped}},
      {"one byte flipped, zip64 and data descriptor", {{"Flash/AfuWin.exe", "MZ"}, streamedFlipped}},
      {"a member shorter than its size", {{"Flash/AfuWin.exe", "MZ"}, shortMember}},
      {"a refused member behind a failing one", {{"what?.txt", "x"}, {"Flash/AfuWin.exe", "MZ"}, {"../evil.txt", "e"}}},
      {"an unsound member behind a failing one", {{"Flash/AfuWin.exe", "MZ"}, {"what?.txt", "x"}, flipped}},
  };
  for (const auto& [name, members] : archives) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ExtractZip(Archive(members), Dest()), ZipOutcome::Refused);
    EXPECT_TRUE(fs::is_directory(Rom()));
    EXPECT_TRUE(fs::is_empty(Rom()));
    EXPECT_FALSE(fs::exists(Folder.Path() / "evil.txt"));
  }
  // Without the unsound member the failing one only fails the archive.
  EXPECT_EQ(ExtractZip(Archive({{"Flash/AfuWin.exe", "MZ"}, {"what?.txt", "x"}}), Dest()), ZipOutcome::Failed);
  EXPECT_EQ(test::ReadBytes(Rom() / "Flash" / "AfuWin.exe"), "MZ");
}

TEST_F(ExtractWineTest, ExecutablePackageIsCopiedIntoTheDestination) {
  test::WriteBytes(Folder.Path() / "Z270.EXE", "MZ self-contained flash");
  std::int32_t result = -1;
  ProcessPackage({Folder.Text("Z270.EXE"), Dest(), &result, kPreparePackage});
  EXPECT_EQ(result, 1);
  EXPECT_EQ(test::ReadBytes(Rom() / "Z270.EXE"), "MZ self-contained flash");
}

TEST_F(ExtractWineTest, EmptyPackageGivesOneAndAnEmptyFolder) {
  test::WriteBytes(Folder.Path() / "Z270.zip", test::MakeZip({}));
  std::int32_t result = -1;
  ProcessPackage({Folder.Text("Z270.zip"), Dest(), &result, kPreparePackage});
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(fs::is_directory(Rom()));
  EXPECT_TRUE(fs::is_empty(Rom()));
}

TEST_F(ExtractWineTest, ZipPackageIsUnpacked) {
  std::int32_t result = -1;
  ProcessPackage({Archive({{"Flash/Flash.exe", "MZ"}}, "Z270.zip"), Dest(), &result, kPreparePackage});
  EXPECT_EQ(result, 1);
  EXPECT_EQ(test::ReadBytes(Rom() / "Flash" / "Flash.exe"), "MZ");
}

TEST_F(ExtractWineTest, PackageTheZipLibraryCannotOpenFallsToTheShellWhichFailsHere) {
  test::WriteBytes(Folder.Path() / "Z270.cab", "MSCF, not a zip");
  fs::create_directories(Rom());
  std::int32_t result = -1;
  ProcessPackage({Folder.Text("Z270.cab"), Dest(), &result, kPreparePackage});
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(fs::is_empty(Rom()));
}

TEST_F(ExtractWineTest, ShellExtractOfAZipFailsWithoutZipFolders) {
  fs::create_directories(Rom());
  const std::string zip = Archive({{"a.txt", "a"}});
  EXPECT_NE(Compress().Extract(zip, Dest()), sys::kSOk);
  EXPECT_NE(Compress().Extract(zip, Folder.Text("missing")), sys::kSOk);
}

TEST_F(ExtractWineTest, MissingPackageGivesZero) {
  std::int32_t result = -1;
  ProcessPackage({Folder.Text("absent.zip"), Dest(), &result, kPreparePackage});
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(fs::exists(Rom()));
}

}  // namespace
}  // namespace kestrune
