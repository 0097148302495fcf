// Package extraction: zips made here, read from disk by the zip library and
// written into an in-memory Windows file system; the shell is scripted.
#include "update/Compress.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "sim/os/FakeFileSystem.h"
#include "sim/os/FakeShell.h"
#include "tests/support/FakeOsFixture.h"
#include "tests/support/ZipBuilder.h"
#include "tests/support/ZipSamples.h"

namespace kestrune {
namespace {

using test::Misstated;
using test::ZipMember;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr const char* kDest = "C:\\Work\\ROM";

std::string Pattern(std::size_t size, unsigned seed) {
  std::string data(size, '\0');
  std::uint32_t state = seed;
  for (char& c : data) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 24);
  }
  return data;
}

// The member with headers that state another uncompressed size.
ZipMember Declaring(ZipMember member, std::uint32_t size) {
  member.DeclaredSize = size;
  return member;
}

// The forms in which zip writers store a member: stored or deflated, with
// sizes in the local header or in a data descriptor after the data, in
// 32-bit or zip64 fields.
struct Form {
  const char* Name;
  bool Deflate;
  bool DataDescriptor;
  bool Zip64;
};
constexpr Form kForms[] = {
    {"deflated", true, false, false},
    {"stored", false, false, false},
    {"deflated, data descriptor", true, true, false},
    {"stored, data descriptor", false, true, false},
    {"deflated, zip64", true, false, true},
    {"stored, zip64", false, false, true},
    {"deflated, zip64 and data descriptor", true, true, true},
    {"stored, zip64 and data descriptor", false, true, true},
};

ZipMember InForm(ZipMember member, const Form& form) {
  member.Deflate = form.Deflate;
  member.DataDescriptor = form.DataDescriptor;
  member.Zip64 = form.Zip64;
  return member;
}

// The 22 bytes that Python's zipfile writes for an archive without members.
const std::string kBareEndRecord = std::string("PK\x05\x06", 4) + std::string(18, '\0');

// An in-memory disk with an empty folder C:\Work, installed as the program's file
// system while it lives: one for each case of a table.
struct FreshDisk {
  FreshDisk() { Disk.AddFolder(u"C:\\Work"); }
  sim::FakeFileSystem Disk;
  sys::ScopedSeam<sys::IFiles> Files{Disk};
  sys::ScopedSeam<sys::IFileSystem> FileSystem{Disk};
};

class CompressTest : public test::FakeOsFixture {
 protected:
  CompressTest() {
    Disk.AddFolder(u"C:\\Work");
    Disk.CurrentDirectory = u"C:\\Work";
  }

  // Writes the archive to the real disk and answers its path.
  std::string Archive(const std::vector<ZipMember>& members, const std::string& name = "package.zip") {
    test::WriteBytes(Folder.Path() / name, test::MakeZip(members));
    return Folder.Text(name);
  }
  // Makes a file of the real disk visible to the program's file system too.
  std::string Package(const std::string& name, const std::string& bytes) {
    test::WriteBytes(Folder.Path() / name, bytes);
    Disk.AddFile(sim::FakeFileSystem::Widen(Folder.Text(name)), bytes);
    return Folder.Text(name);
  }
  std::string Content(const std::u16string& path) const {
    const auto* file = Disk.FindFile(path);
    return file == nullptr ? "<missing>" : file->Data;
  }
  std::vector<std::u16string> FilesUnder(const std::u16string& prefix) const {
    std::vector<std::u16string> found;
    for (const std::u16string& path : Disk.AllFiles()) {
      if (path.starts_with(prefix)) {
        found.push_back(path);
      }
    }
    return found;
  }

  test::ScratchFolder Folder;
  sim::FakeFileSystem Disk{&Log};
  sim::FakeCom Com;
  sim::FakeShell Shell{Com};

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Disk};
  sys::ScopedSeam<sys::IFileSystem> FileSystemSeam{Disk};
  sys::ScopedSeam<sys::ICom> ComSeam{Com};
  sys::ScopedSeam<sys::IShell> ShellSeam{Shell};
};

TEST_F(CompressTest, MembersWithFoldersLandUnderTheDestination) {
  const std::string big = Pattern(70000, 1) + std::string(50000, 'z');
  const std::string zip = Archive({
      {"BIOS/", ""},
      {"BIOS/Flash.exe", "MZ flash tool", false},
      {"BIOS/ROM/image.bin", big},
      {"readme.txt", "read me"},
  });

  EXPECT_EQ(ExtractZip(zip, kDest), ZipOutcome::Written);

  EXPECT_EQ(Content(u"C:\\Work\\ROM\\BIOS\\Flash.exe"), "MZ flash tool");
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\BIOS\\ROM\\image.bin"), big);
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\readme.txt"), "read me");
  EXPECT_EQ(Disk.AllFiles().size(), 3u);
  EXPECT_TRUE(Disk.FolderExists(u"C:\\Work\\ROM\\BIOS\\ROM"));
  EXPECT_EQ(Disk.OpenHandles(), 0u);
}

TEST_F(CompressTest, MemberEndingInSlashOnlyCreatesItsFolder) {
  EXPECT_EQ(ExtractZip(Archive({{"Tools/Empty/", ""}}), kDest), ZipOutcome::Written);
  EXPECT_TRUE(Disk.FolderExists(u"C:\\Work\\ROM\\Tools\\Empty"));
  EXPECT_THAT(Disk.AllFiles(), IsEmpty());
}

TEST_F(CompressTest, DestinationWithTrailingBackslash) {
  EXPECT_EQ(ExtractZip(Archive({{"a.txt", "a"}}), "C:\\Work\\ROM\\"), ZipOutcome::Written);
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\a.txt"), "a");
}

TEST_F(CompressTest, NamesAreUtf8OnlyWithTheFlag) {
  const std::string bytes = "\xC3\xA9t\xC3\xA9.txt";
  ZipMember flagged{bytes, "utf-8"};
  flagged.Flags = 0x0800;
  ZipMember plain{"x/" + bytes, "ansi"};
  EXPECT_EQ(ExtractZip(Archive({flagged, plain}), kDest), ZipOutcome::Written);

  EXPECT_EQ(Content(u"C:\\Work\\ROM\\\u00E9t\u00E9.txt"), "utf-8");
  // Without the flag the same bytes are read in the ANSI code page.
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\x\\\u00C3\u00A9t\u00C3\u00A9.txt"), "ansi");
}

TEST_F(CompressTest, NameThatCannotBeDecodedIsPassedOver) {
  ZipMember broken{"\xFF\xFE.txt", "data"};
  broken.Flags = 0x0800;
  EXPECT_EQ(ExtractZip(Archive({broken, {"after.txt", "after"}}), kDest), ZipOutcome::Written);
  EXPECT_THAT(Disk.AllFiles(), ElementsAre(u"C:\\Work\\ROM\\after.txt"));
}

TEST_F(CompressTest, DosDateIsLocalTimeOnAllThreeTimestamps) {
  Disk.TimeZoneBiasMinutes = -120;  // two hours east of UTC
  ZipMember member{"dated.bin", "x"};
  member.DosDate = test::DosDate(2024, 5, 17);
  member.DosTime = test::DosTime(13, 45, 30);
  ASSERT_EQ(ExtractZip(Archive({member}), kDest), ZipOutcome::Written);

  // 2024-05-17 11:45:30 UTC.
  constexpr std::uint64_t kExpected = 133604199300000000;
  const auto* file = Disk.FindFile(u"C:\\Work\\ROM\\dated.bin");
  ASSERT_NE(file, nullptr);
  for (const sys::FileTime& time : {file->CreationTime, file->LastAccessTime, file->LastWriteTime}) {
    EXPECT_EQ((std::uint64_t{time.HighDateTime} << 32) | time.LowDateTime, kExpected);
  }
}

TEST_F(CompressTest, InvalidDosDateLeavesTheTimesAlone) {
  ZipMember member{"undated.bin", "x"};
  member.DosDate = 0;  // month 0
  ASSERT_EQ(ExtractZip(Archive({member}), kDest), ZipOutcome::Written);
  const auto* file = Disk.FindFile(u"C:\\Work\\ROM\\undated.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->LastWriteTime.HighDateTime, 0u);
  EXPECT_EQ(file->LastWriteTime.LowDateTime, 0u);
}

TEST_F(CompressTest, ExistingFilesAreReplaced) {
  Disk.AddFile(u"C:\\Work\\ROM\\readme.txt", std::string(10000, 'o'));
  Disk.AddFile(u"C:\\Work\\ROM\\keep.txt", "untouched");
  EXPECT_EQ(ExtractZip(Archive({{"README.TXT", "new"}}), kDest), ZipOutcome::Written);
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\readme.txt"), "new");
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\keep.txt"), "untouched");
}

TEST_F(CompressTest, EmptyArchivesOnlyCreateTheDestination) {
  const std::pair<const char*, std::string> archives[] = {
      {"the end record alone", kBareEndRecord},
      {"the end record and a comment", test::MakeZip({}, "no members here")},
      {"a stub before the end record", "MZ stub" + test::MakeZip({})},
  };
  ASSERT_EQ(test::MakeZip({}), kBareEndRecord);
  for (const auto& [name, bytes] : archives) {
    SCOPED_TRACE(name);
    FreshDisk fresh;
    sim::FakeFileSystem& disk = fresh.Disk;
    test::WriteBytes(Folder.Path() / "empty.zip", bytes);

    EXPECT_EQ(ExtractZip(Folder.Text("empty.zip"), kDest), ZipOutcome::Written);
    EXPECT_TRUE(disk.FolderExists(u"C:\\Work\\ROM"));
    EXPECT_THAT(disk.AllFiles(), IsEmpty());
    EXPECT_THAT(disk.AllFolders(), ElementsAre(u"C:\\Work", u"C:\\Work\\ROM"));
  }
}

TEST_F(CompressTest, ArchivesThatCannotBeOpenedCreateNothing) {
  test::WriteBytes(Folder.Path() / "not.zip", "MZ\x90\x00 this is an executable, not an archive");
  test::WriteBytes(Folder.Path() / "empty.zip", "");
  // End records at the file's start that are no empty archive: one that
  // counts a member, one whose comment is longer than the file.
  std::string counting = kBareEndRecord;
  counting[8] = counting[10] = 1;
  test::WriteBytes(Folder.Path() / "counting.zip", counting);
  test::WriteBytes(Folder.Path() / "short.zip", test::MakeZip({}, "comment").substr(0, 25));
  for (const std::string& path : {Folder.Text("not.zip"), Folder.Text("empty.zip"), Folder.Text("missing.zip"),
                                  Folder.Text("counting.zip"), Folder.Text("short.zip")}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ExtractZip(path, kDest), ZipOutcome::Failed);
  }
  EXPECT_FALSE(Disk.FolderExists(u"C:\\Work\\ROM"));
}

// Members that would be written outside the destination, or cannot be named
// safely, are refused, and the whole archive with them: the directory is
// checked before anything is written, so no member of it is.
TEST_F(CompressTest, MembersThatLeaveTheDestinationAreRefused) {
  const std::string refused[] = {
      "../evil.txt",
      "a/../../evil.txt",
      "ROM/../../evil.txt",
      "/abs.txt",
      "\\abs.txt",
      "//server/share/x",
      "C:/evil.txt",
      "C:evil.txt",
      "a/b:stream",
      ".. /evil.txt",
      "a/.../evil.txt",
      "a/. ./evil.txt",
      "..",
      "CON",
      "nul.txt",
      "a/com1",
      "LPT9.log",
      "aux .txt",
      "COM\xB9",
      "a/lpt\xB2.txt",
      "Com\xB3 .log",
      "LPT\xB9",
      "COM0",
      "lpt0.txt",
      "a\\..\\..\\evil.txt",
      "dir/NUL.txt",
      "dir/CON /x.txt",
      "Conout$",
      "a/b./c.txt",
      "a/name.txt ",
      "a/x\x01.txt",
      "a/x\x7F.txt",
      std::string("a/x\0y.txt", 9),
      std::string(260, 'n'),
      std::string(200, 'd') + "/" + std::string(100, 'f'),
  };
  for (const std::string& name : refused) {
    SCOPED_TRACE(name);
    FreshDisk fresh;
    sim::FakeFileSystem& disk = fresh.Disk;

    EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, {name, "evil"}, {"last.txt", "3"}}), kDest), ZipOutcome::Refused);

    for (const std::u16string& path : disk.AllFiles()) {
      EXPECT_TRUE(path.starts_with(u"C:\\Work\\ROM\\")) << sim::FakeFileSystem::Narrow(path);
    }
    EXPECT_THAT(disk.AllFiles(), IsEmpty());
    EXPECT_EQ(disk.OpenHandles(), 0u);
  }
}

TEST_F(CompressTest, DeviceNamesInUtf8AreRefused) {
  ZipMember device{"a/COM\xC2\xB9.bin", "evil"};  // COM and SUPERSCRIPT ONE
  device.Flags = 0x0800;
  EXPECT_EQ(ExtractZip(Archive({device}), kDest), ZipOutcome::Refused);
  EXPECT_THAT(Disk.AllFiles(), IsEmpty());
}

TEST_F(CompressTest, NamesThatOnlyLookUnusualAreWritten) {
  const std::string name259 = std::string(100, 'a') + "/" + std::string(158, 'b');
  ASSERT_EQ(name259.size(), 259u);
  const std::vector<std::pair<std::string, std::u16string>> accepted = {
      {"..data.txt", u"C:\\Work\\ROM\\..data.txt"},
      {"x..y/z.txt", u"C:\\Work\\ROM\\x..y\\z.txt"},
      {"./here.txt", u"C:\\Work\\ROM\\here.txt"},
      {"CONFIG.SYS", u"C:\\Work\\ROM\\CONFIG.SYS"},
      {"com10.txt", u"C:\\Work\\ROM\\com10.txt"},
      {"COM\xB4.txt", u"C:\\Work\\ROM\\COM\u00B4.txt"},
      {"LPT\xB9\xB9", u"C:\\Work\\ROM\\LPT\u00B9\u00B9"},
      {"a//b.txt", u"C:\\Work\\ROM\\a\\b.txt"},
      {name259, u"C:\\Work\\ROM\\" + std::u16string(100, u'a') + u"\\" + std::u16string(158, u'b')},
  };
  std::vector<ZipMember> members;
  for (const auto& [name, path] : accepted) {
    members.push_back({name, name});
  }
  ASSERT_EQ(ExtractZip(Archive(members), kDest), ZipOutcome::Written);
  for (const auto& [name, path] : accepted) {
    EXPECT_EQ(Content(path), name);
  }
}

// What one archive may write is bounded: each member by the size it
// declares, all members together by kMaxArchiveBytes. A member that breaks
// either is refused, nothing of it goes past the bound, and nothing of the
// archive stays.
TEST_F(CompressTest, SizesBeyondTheDeclaredOrTheArchiveBoundAreRefused) {
  struct Case {
    const char* Name;
    ZipMember Member;
    std::uint64_t MostWritten;
  };
  const Case cases[] = {
      {"deflated past its size", Declaring({"bomb.bin", std::string(4u << 20, '\0')}, 1000), 1000},
      {"stored past its size", Declaring({"long.bin", Pattern(9000, 4), false}, 5000), 5000},
      {"nothing declared", Declaring({"empty.bin", "x"}, 0), 0},
      {"past the archive bound",
       Declaring({"huge.bin", "small", false}, static_cast<std::uint32_t>(kMaxArchiveBytes) + 1), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FreshDisk fresh;
    sim::FakeFileSystem& disk = fresh.Disk;

    EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, c.Member, {"last.txt", "3"}}), kDest), ZipOutcome::Refused);
    const auto* file = disk.FindFile(u"C:\\Work\\ROM\\" + sim::FakeFileSystem::Widen(c.Member.Name));
    EXPECT_LE(file == nullptr ? 0u : file->Data.size(), c.MostWritten);
    EXPECT_THAT(disk.AllFiles(), IsEmpty());
    EXPECT_EQ(disk.OpenHandles(), 0u);
  }
}

TEST_F(CompressTest, MembersTogetherMayNotDeclareMoreThanTheBound) {
  // Each member alone is within the bound; the second takes the total past it.
  const auto half = static_cast<std::uint32_t>(kMaxArchiveBytes / 2 + 1);
  EXPECT_EQ(
      ExtractZip(Archive({Declaring({"a.bin", "short data"}, half), Declaring({"b.bin", "short data"}, half)}), kDest),
      ZipOutcome::Refused);
  EXPECT_THAT(Disk.AllFiles(), IsEmpty());

  EXPECT_EQ(ExtractZip(Archive({Declaring({"c.bin", std::string(3000, 'c')}, 3000)}), kDest), ZipOutcome::Written);
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\c.bin"), std::string(3000, 'c'));
}

TEST_F(CompressTest, MemberFailuresKeepWhatWasWrittenBefore) {
  struct Case {
    const char* Name;
    ZipMember Member;
    std::function<void(sim::FakeFileSystem&)> Prepare;
  };
  const Case cases[] = {
      {"file name taken by a folder",
       {"taken", "x"},
       [](sim::FakeFileSystem& disk) { disk.AddFolder(u"C:\\Work\\ROM\\taken"); }},
      {"folder name taken by a file",
       {"taken/inner.txt", "x"},
       [](sim::FakeFileSystem& disk) { disk.AddFile(u"C:\\Work\\ROM\\taken", "file"); }},
      {"disk full", {"large.bin", Pattern(100000, 2)}, [](sim::FakeFileSystem& disk) { disk.FreeSpace = 50000; }},
      {"disk full in a later block",
       {"larger.bin", Pattern(900000, 2)},
       [](sim::FakeFileSystem& disk) { disk.FreeSpace = 600000; }},
      {"invalid character", {"what?.txt", "x"}, [](sim::FakeFileSystem&) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FreshDisk fresh;
    sim::FakeFileSystem& disk = fresh.Disk;
    c.Prepare(disk);

    EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, c.Member, {"last.txt", "3"}}), kDest), ZipOutcome::Failed);
    EXPECT_NE(disk.FindFile(u"C:\\Work\\ROM\\first.txt"), nullptr);
    // The failing member's file is not left half written.
    EXPECT_EQ(disk.FindFile(u"C:\\Work\\ROM\\" + sim::FakeFileSystem::Widen(c.Member.Name)), nullptr);
    EXPECT_EQ(disk.FindFile(u"C:\\Work\\ROM\\last.txt"), nullptr);
    EXPECT_EQ(disk.OpenHandles(), 0u);
  }
}

TEST_F(CompressTest, CorruptDataRefusesTheArchive) {
  std::string zip = test::MakeZip({{"first.txt", "1", false}, {"bad.bin", Pattern(20000, 3)}});
  // Spoil the deflated stream right after the second member's local header.
  const std::size_t header = zip.find("bad.bin") + 7;
  for (std::size_t i = header; i < header + 64; ++i) {
    zip[i] = static_cast<char>(0xFF);
  }
  test::WriteBytes(Folder.Path() / "corrupt.zip", zip);
  EXPECT_EQ(ExtractZip(Folder.Text("corrupt.zip"), kDest), ZipOutcome::Refused);
  EXPECT_THAT(Disk.AllFiles(), IsEmpty());
}

// A member of one output block, and one of several.
TEST_F(CompressTest, ChecksumMismatchRefusesTheArchive) {
  for (ZipMember member :
       {ZipMember{"crc.bin", "checksum does not match"}, ZipMember{"large.bin", Pattern(700000, 4)}}) {
    SCOPED_TRACE(member.Name);
    member.WrongCrc = true;
    EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, member}), kDest), ZipOutcome::Refused);
    EXPECT_THAT(Disk.AllFiles(), IsEmpty());
    EXPECT_EQ(Disk.OpenHandles(), 0u);
  }
}

TEST_F(CompressTest, SoundMembersInEveryFormAreWritten) {
  const std::string image = Pattern(300000, 5) + std::string(200000, 'z');
  for (const Form& form : kForms) {
    SCOPED_TRACE(form.Name);
    FreshDisk fresh;
    sim::FakeFileSystem& disk = fresh.Disk;

    EXPECT_EQ(ExtractZip(Archive({InForm({"first.txt", "1"}, form),
                                  InForm({"BIOS/image.bin", image}, form),
                                  InForm({"empty.txt", ""}, form),
                                  {"last.txt", "3"}}),
                         kDest),
              ZipOutcome::Written);
    const auto* file = disk.FindFile(u"C:\\Work\\ROM\\BIOS\\image.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Data == image);
    EXPECT_EQ(disk.FindFile(u"C:\\Work\\ROM\\first.txt")->Data, "1");
    EXPECT_EQ(disk.FindFile(u"C:\\Work\\ROM\\empty.txt")->Data, "");
    EXPECT_EQ(disk.FindFile(u"C:\\Work\\ROM\\last.txt")->Data, "3");
    EXPECT_EQ(disk.OpenHandles(), 0u);
  }
}

TEST_F(CompressTest, ArchivesOfRealZipWritersAreWritten) {
  const std::string tool = "MZ flash tool MZ flash tool MZ flash tool\n";
  std::string counting;
  for (int i = 0; i < 32; ++i) {
    counting.push_back(static_cast<char>(i));
  }
  struct Case {
    const char* Name;
    const std::string& Bytes;
    std::vector<std::pair<std::u16string, std::string>> Files;
  };
  const Case cases[] = {
      {"Python, streamed",
       test::kPythonStreamedZip,
       {{u"C:\\Work\\ROM\\Flash\\AFU.exe",
         [] {
           std::string text;
           for (int i = 0; i < 8; ++i) {
             text += "MZ flash tool ";
           }
           return text;
         }()},
        {u"C:\\Work\\ROM\\Z270.bin", counting}}},
      {"Info-ZIP, zip64",
       test::kInfoZipZip64,
       {{u"C:\\Work\\ROM\\afu.exe", tool}, {u"C:\\Work\\ROM\\z270.bin", std::string(600, 'B')}}},
      {"Info-ZIP, piped", test::kInfoZipPiped, {{u"C:\\Work\\ROM\\-", tool}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FreshDisk fresh;
    sim::FakeFileSystem& disk = fresh.Disk;
    test::WriteBytes(Folder.Path() / "real.zip", c.Bytes);

    ASSERT_EQ(ExtractZip(Folder.Text("real.zip"), kDest), ZipOutcome::Written);
    EXPECT_EQ(disk.AllFiles().size(), c.Files.size());
    for (const auto& [path, data] : c.Files) {
      const auto* file = disk.FindFile(path);
      ASSERT_NE(file, nullptr) << sim::FakeFileSystem::Narrow(path);
      EXPECT_EQ(file->Data, data);
    }
  }
}

// A member whose data does not match what its headers state refuses the
// archive, in every form a writer may store it, and whatever the archive
// had written is removed; only the destination folder stays.
TEST_F(CompressTest, UnsoundMembersRefuseTheArchiveAndLeaveNothing) {
  const std::string image = Pattern(20000, 6);
  struct Kind {
    const char* Name;
    std::function<void(ZipMember&)> Spoil;
    bool WithDescriptor;     // applies to members with a data descriptor
    bool WithoutDescriptor;  // applies to members without one
  };
  const Kind kinds[] = {
      {"one byte flipped, checksum unchanged", [](ZipMember& m) { m.FlipByte = 5000; }, true, true},
      {"ends before its size", [&](ZipMember& m) { m.DeclaredSize = static_cast<std::uint32_t>(image.size() + 1); },
       true, true},
      {"runs past its size", [&](ZipMember& m) { m.DeclaredSize = static_cast<std::uint32_t>(image.size() - 1); }, true,
       true},
      {"data cut short", [](ZipMember& m) { m.CutTo = 10000; }, true, true},
      {"checksum stated wrong everywhere", [](ZipMember& m) { m.WrongCrc = true; }, true, true},
      {"local header's checksum differs", [](ZipMember& m) { m.Misstate = Misstated::LocalCrc; }, false, true},
      {"local header's size differs", [](ZipMember& m) { m.Misstate = Misstated::LocalSize; }, false, true},
      {"data descriptor's checksum differs", [](ZipMember& m) { m.Misstate = Misstated::DescriptorCrc; }, true, false},
      {"data descriptor's size differs", [](ZipMember& m) { m.Misstate = Misstated::DescriptorSize; }, true, false},
  };
  for (const Kind& kind : kinds) {
    for (const Form& form : kForms) {
      if (!(form.DataDescriptor ? kind.WithDescriptor : kind.WithoutDescriptor)) {
        continue;
      }
      SCOPED_TRACE(std::string(kind.Name) + ", " + form.Name);
      FreshDisk fresh;
      sim::FakeFileSystem& disk = fresh.Disk;
      ZipMember unsound = InForm({"BIOS/ROM/image.bin", image}, form);
      kind.Spoil(unsound);

      EXPECT_EQ(ExtractZip(Archive({{"BIOS/", ""}, {"BIOS/first.txt", "1"}, unsound, {"Tools/last.txt", "3"}}), kDest),
                ZipOutcome::Refused);
      EXPECT_THAT(disk.AllFiles(), IsEmpty());
      EXPECT_THAT(disk.AllFolders(), ElementsAre(u"C:\\Work", u"C:\\Work\\ROM"));
      EXPECT_EQ(disk.OpenHandles(), 0u);
    }
  }
}

// What was there before the archive is not the archive's to remove.
TEST_F(CompressTest, RefusalRemovesOnlyWhatTheArchiveWrote) {
  Disk.AddFile(u"C:\\Work\\ROM\\keep.txt", "a person's own");
  Disk.AddFolder(u"C:\\Work\\ROM\\BIOS");
  ZipMember corrupt{"BIOS/image.bin", Pattern(5000, 7), false};
  corrupt.FlipByte = 10;
  EXPECT_EQ(ExtractZip(Archive({{"BIOS/new.bin", "new"}, {"Tools/x/y.txt", "y"}, corrupt}), kDest),
            ZipOutcome::Refused);
  EXPECT_THAT(Disk.AllFiles(), ElementsAre(u"C:\\Work\\ROM\\keep.txt"));
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\keep.txt"), "a person's own");
  EXPECT_THAT(Disk.AllFolders(), ElementsAre(u"C:\\Work", u"C:\\Work\\ROM", u"C:\\Work\\ROM\\BIOS"));
}

// The whole directory is checked first: a refused member counts even when
// a member before it could not be written, and nothing is written at all.
TEST_F(CompressTest, DirectoryRulesAreCheckedBeforeAnythingIsWritten) {
  ZipMember encrypted{"encrypted.bin", "data"};
  encrypted.Flags = 0x0001;
  const auto method = [](std::uint16_t number) {
    ZipMember member{"method.bin", "data", false};
    member.Method = number;
    return member;
  };
  ZipMember storedLonger{"stored.bin", "data", false};
  storedLonger.DeclaredSize = 3;
  const std::pair<const char*, ZipMember> refused[] = {
      {"parent folder", {"../evil.exe", "evil"}},
      {"device", {"Flash/NUL.exe", "evil"}},
      {"encrypted", encrypted},
      {"shrunk", method(1)},
      {"bzip2", method(12)},
      {"LZMA", method(14)},
      {"AES", method(99)},
      {"stored, compressed size not its size", storedLonger},
  };
  for (const auto& [name, member] : refused) {
    SCOPED_TRACE(name);
    FreshDisk fresh;
    sim::FakeFileSystem& disk = fresh.Disk;

    // "what?.txt" is a name the file system refuses; the member after it
    // would be written first if the rules were applied member by member.
    EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, {"what?.txt", "x"}, {"ok.txt", "2"}, member}), kDest),
              ZipOutcome::Refused);
    EXPECT_THAT(disk.AllFiles(), IsEmpty());
    EXPECT_EQ(disk.OpenHandles(), 0u);
  }
}

// After a member that cannot be written nothing more is written, but the
// rest is still checked: an unsound member behind it refuses the archive.
TEST_F(CompressTest, UnsoundMemberBehindAFailingOneRefusesTheArchive) {
  ZipMember corrupt{"image.bin", Pattern(5000, 8), false};
  corrupt.FlipByte = 100;
  EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, {"what?.txt", "x"}, {"ok.txt", "2"}, corrupt}), kDest),
            ZipOutcome::Refused);
  EXPECT_THAT(Disk.AllFiles(), IsEmpty());

  EXPECT_EQ(ExtractZip(Archive({{"first.txt", "1"}, {"what?.txt", "x"}, {"ok.txt", "2"}}), kDest), ZipOutcome::Failed);
  EXPECT_THAT(Disk.AllFiles(), ElementsAre(u"C:\\Work\\ROM\\first.txt"));
}

TEST_F(CompressTest, MakeDirectoryPathCreatesTheOutermostFirst) {
  Log.Clear();
  MakeDirectoryPath(u"C:\\Work\\a\\b\\c");
  EXPECT_THAT(Log.All(), ElementsAre("mkdir C:\\Work\\a", "mkdir C:\\Work\\a\\b", "mkdir C:\\Work\\a\\b\\c"));

  Log.Clear();
  MakeDirectoryPath(u"C:\\Work\\a\\x\\");
  EXPECT_THAT(Log.All(), ElementsAre("mkdir C:\\Work\\a\\x"));
}

TEST_F(CompressTest, MakeDirectoryPathNeverCreatesADriveRootAndEnds) {
  for (const std::u16string dir : {u"C:\\", u"C:", u"", u"\\\\\\\\\\\\", u"Z:\\a\\b", u"relative\\x\\y"}) {
    MakeDirectoryPath(dir);
  }
  EXPECT_THAT(Log.All(), ElementsAre("mkdir Z:\\a", "mkdir Z:\\a\\b", "mkdir C:\\Work\\relative",
                                     "mkdir C:\\Work\\relative\\x", "mkdir C:\\Work\\relative\\x\\y"));
}

TEST_F(CompressTest, ShellExtractCallsInOrderAndReleasesEverything) {
  Shell.Folders[u"C:\\Work\\ROM"] = {};
  Shell.Folders[u"C:\\Work\\pkg.zip"] = {};

  Compress compress;
  EXPECT_EQ(compress.Extract("C:\\Work\\pkg.zip", "C:\\Work\\ROM"), sys::kSOk);

  EXPECT_THAT(Shell.Calls, ElementsAre("CoInitialize", "CoCreateInstance", "NameSpace C:\\Work\\ROM",
                                       "NameSpace C:\\Work\\pkg.zip", "Items 3", "CopyHere 2 4 1556", "Release 2",
                                       "Release 3", "Release 4", "Release 1", "CoUninitialize"));
  EXPECT_EQ(Shell.Clsid, sys::kClsidShell);
  EXPECT_EQ(Shell.Iid, sys::kIidIShellDispatch);
  EXPECT_EQ(Shell.Context, 1u);
  EXPECT_EQ(Shell.LiveObjects(), 0u);
  EXPECT_THAT(Environment.Sleeps, ElementsAre(1000u));
}

TEST_F(CompressTest, ShellExtractFailures) {
  struct Case {
    const char* Name;
    std::function<void(sim::FakeShell&)> Script;
    sys::HResult Expected;
    bool Waits;
  };
  const Case cases[] = {
      {"object not created", [](sim::FakeShell& s) { s.CreateResult = sys::kRegdbEClassNotReg; },
       sys::kRegdbEClassNotReg, false},
      {"destination missing", [](sim::FakeShell& s) { s.Folders.erase(u"C:\\Work\\ROM"); }, sys::kSFalse, false},
      {"destination fails",
       [](sim::FakeShell& s) {
         s.Folders[u"C:\\Work\\ROM"] = {sys::kEFail, false};
       },
       sys::kEFail, false},
      {"zip folders missing", [](sim::FakeShell& s) { s.Folders.erase(u"C:\\Work\\pkg.zip"); }, sys::kSFalse, false},
      {"items fail", [](sim::FakeShell& s) { s.ItemsResult = sys::kENotImpl; }, sys::kENotImpl, false},
      {"copy fails", [](sim::FakeShell& s) { s.CopyHereResult = sys::kENotImpl; }, sys::kENotImpl, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Com.Restart();
    sim::FakeShell shell{Com};
    shell.Folders[u"C:\\Work\\ROM"] = {};
    shell.Folders[u"C:\\Work\\pkg.zip"] = {};
    c.Script(shell);
    sys::ScopedSeam<sys::IShell> seam(shell);
    Environment.Sleeps.clear();

    EXPECT_EQ(Compress().Extract("C:\\Work\\pkg.zip", "C:\\Work\\ROM"), c.Expected);
    EXPECT_EQ(shell.LiveObjects(), 0u);
    EXPECT_EQ(shell.Calls.back(), "CoUninitialize");
    EXPECT_EQ(!Environment.Sleeps.empty(), c.Waits);
  }
}

TEST_F(CompressTest, ShellExtractUndoesOnlyItsOwnComInitialisation) {
  for (const sys::HResult init : {sys::kSOk, sys::kSFalse, static_cast<sys::HResult>(0x80010106u)}) {
    Com.Restart();
    Com.Answers["CoInitializeEx"] = init;
    sim::FakeShell shell{Com};
    sys::ScopedSeam<sys::IShell> seam(shell);
    Compress().Extract("C:\\Work\\pkg.zip", "C:\\Work\\ROM");
    EXPECT_EQ(std::count(shell.Calls.begin(), shell.Calls.end(), "CoUninitialize"), sys::Succeeded(init) ? 1 : 0);
  }
}

class ProcessPackageTest : public CompressTest {
 protected:
  std::int32_t Run(const std::string& source, std::int32_t mode = kPreparePackage, const std::string& dest = kDest) {
    std::int32_t result = 7;
    ProcessPackage({source, dest, &result, mode});
    return result;
  }
};

TEST_F(ProcessPackageTest, OtherModesDoNothing) {
  const std::string zip = Package("pkg.zip", test::MakeZip({{"a.txt", "a"}}));
  for (std::int32_t mode : {0, 1, 3, -2}) {
    EXPECT_EQ(Run(zip, mode), 7);
  }
  EXPECT_FALSE(Disk.FolderExists(u"C:\\Work\\ROM"));
  EXPECT_THAT(Shell.Calls, IsEmpty());
}

TEST_F(ProcessPackageTest, MissingPackageOrAFolderGivesZero) {
  EXPECT_EQ(Run(Folder.Text("absent.zip")), 0);
  Disk.AddFolder(u"C:\\Work\\folder.zip");
  EXPECT_EQ(Run("C:\\Work\\folder.zip"), 0);
  EXPECT_FALSE(Disk.FolderExists(u"C:\\Work\\ROM"));
  EXPECT_THAT(Shell.Calls, IsEmpty());
}

TEST_F(ProcessPackageTest, ExecutablePackagesAreCopiedAsTheyAre) {
  const std::string zipInside = test::MakeZip({{"inner.txt", "must not be unpacked"}});
  for (const char* name : {"Z270.exe", "Z270.EXE", "Z270.Exe", "tool.exec"}) {
    SCOPED_TRACE(name);
    const std::u16string wide = sim::FakeFileSystem::Widen(name);
    Disk.AddFile(u"C:\\Work\\ROM\\" + wide, "older file");
    Disk.AddFile(u"C:\\Work\\" + wide, zipInside);
    EXPECT_EQ(Run("C:\\Work\\" + std::string(name)), 1);
    EXPECT_EQ(Content(u"C:\\Work\\ROM\\" + wide), zipInside);
  }
  EXPECT_EQ(Disk.FindFile(u"C:\\Work\\ROM\\inner.txt"), nullptr);
  EXPECT_THAT(Shell.Calls, IsEmpty());
  EXPECT_TRUE(Disk.FolderExists(u"C:\\Work\\ROM"));
}

TEST_F(ProcessPackageTest, ExecutableNameEndingInASecondByteOfBackslash) {
  CodePage.AnsiCodePage = 932;
  Disk.AddFile(u"C:\\Work\\\u30BD.exe", "MZ");  // "\x83\x5C.exe" in code page 932
  EXPECT_EQ(Run("C:\\Work\\\x83\x5C.exe"), 1);
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\\u30BD.exe"), "MZ");
}

TEST_F(ProcessPackageTest, ExecutableIntoADestinationEndingInBackslash) {
  Disk.AddFile(u"C:\\Work\\flash.exe", "MZ");
  EXPECT_EQ(Run("C:\\Work\\flash.exe", kPreparePackage, "C:\\Work\\Out\\"), 1);
  EXPECT_EQ(Content(u"C:\\Work\\Out\\flash.exe"), "MZ");
}

// The run takes a 1 for a package in place: a copy that fails says so.
TEST_F(ProcessPackageTest, ExecutableCopyThatFailsGivesZero) {
  Disk.AddFile(u"C:\\Work\\flash.exe", "MZ");
  EXPECT_EQ(Run("C:\\Work\\flash.exe", kPreparePackage, "C:\\Work\\No\\Such\\ROM"), 0);
  EXPECT_THAT(FilesUnder(u"C:\\Work\\No"), IsEmpty());
}

TEST_F(ProcessPackageTest, ZipPackageIsUnpackedWithoutTheShell) {
  const std::string source = Package("Z270.zip", test::MakeZip({{"Flash/AFU.exe", "tool"}}));
  EXPECT_EQ(Run(source), 1);
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\Flash\\AFU.exe"), "tool");
  EXPECT_THAT(Shell.Calls, IsEmpty());
}

TEST_F(ProcessPackageTest, ExtensionIsTakenFromTheFileNameOnly) {
  // A folder named like an executable does not make its file one: the
  // package is not copied but taken for an archive (which the zip library
  // cannot open here, so the shell is asked).
  Disk.AddFile(u"C:\\Work\\dl.exe\\package", "");
  Shell.Folders[u"C:\\Work\\ROM"] = {};
  EXPECT_EQ(Run("C:\\Work\\dl.exe\\package"), 0);
  EXPECT_EQ(Disk.FindFile(u"C:\\Work\\ROM\\package"), nullptr);
  EXPECT_THAT(Shell.Calls, testing::Contains("NameSpace C:\\Work\\dl.exe\\package"));
}

TEST_F(ProcessPackageTest, NonZipPackageFallsThroughToTheShell) {
  const std::string source = Package("Z270.cab", "MSCF not a zip");
  Shell.Folders[u"C:\\Work\\ROM"] = {};
  Shell.Folders[sim::FakeFileSystem::Widen(source)] = {};

  EXPECT_EQ(Run(source), 1);
  EXPECT_THAT(Shell.Calls, testing::Contains("CopyHere 2 4 1556"));

  Shell.CopyHereResult = sys::kENotImpl;
  EXPECT_EQ(Run(source), 0);
}

// A refused archive is not handed to the shell, whose copy would write it
// without any of the refusals, and nothing of it stays.
TEST_F(ProcessPackageTest, RefusedArchiveIsNotHandedToTheShell) {
  ZipMember corrupt{"BIOS/image.bin", Pattern(5000, 9), false};
  corrupt.FlipByte = 1;
  const std::vector<ZipMember> archives[] = {
      {{"Flash.exe", "tool"}, {"../evil.exe", "evil"}},
      {{"COM\xB2", "device"}},
      {{std::string(300, 'n'), "long"}},
      {Declaring({"bomb.bin", std::string(1u << 20, '\0')}, 10)},
      {{"Flash.exe", "tool"}, corrupt},
      {{"Flash.exe", "tool"}, Declaring({"BIOS/image.bin", "short"}, 1000)},
      {{"what?.exe", "fails"}, {"Flash.exe", "tool"}, {"../evil.exe", "evil"}},
  };
  Shell.Folders[u"C:\\Work\\ROM"] = {};
  int index = 0;
  for (const auto& members : archives) {
    SCOPED_TRACE(index);
    const std::string source = Package("refused" + std::to_string(index++) + ".zip", test::MakeZip(members));
    Shell.Folders[sim::FakeFileSystem::Widen(source)] = {};
    EXPECT_EQ(Run(source), 0);
    EXPECT_THAT(Shell.Calls, IsEmpty());
    EXPECT_THAT(FilesUnder(u"C:\\Work\\ROM\\"), IsEmpty());
  }
}

TEST_F(ProcessPackageTest, EmptyArchiveGivesOneAndAnEmptyFolder) {
  for (const std::string& bytes : {kBareEndRecord, test::MakeZip({}, "comment")}) {
    EXPECT_EQ(Run(Package("empty.zip", bytes)), 1);
    EXPECT_TRUE(Disk.FolderExists(u"C:\\Work\\ROM"));
    EXPECT_THAT(FilesUnder(u"C:\\Work\\ROM\\"), IsEmpty());
  }
  EXPECT_THAT(Shell.Calls, IsEmpty());
}

TEST_F(ProcessPackageTest, NullResultFlagStoresNothing) {
  const std::string source = Package("Z270.zip", test::MakeZip({{"a.txt", "a"}}));
  ProcessPackage({source, kDest, nullptr, kPreparePackage});
  EXPECT_EQ(Content(u"C:\\Work\\ROM\\a.txt"), "a");
}

}  // namespace
}  // namespace kestrune
