// The copy that the restart entry starts: which owners and access lists
// count as "only administrators can change it", where the copy goes, when
// it is refused, and how it goes again, against an in-memory file system
// and security table.
#include "install/ProtectedCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/os/FakeFileSecurity.h"
#include "sim/os/FakeFileSystem.h"
#include "sim/os/FakeSystemFolders.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

using sys::AccessEntry;
using testing::ElementsAre;

constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kAuthenticatedUsers = "S-1-5-11";
constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kCreatorOwner = "S-1-3-0";
constexpr const char* kAppPackages = "S-1-15-2-1";
constexpr const char* kOtherUser = "S-1-5-21-1004336348-1177238915-682003330-1002";
constexpr const char* kProcessUser = "S-1-5-21-1004336348-1177238915-682003330-1001";

constexpr sys::Dword kFullControl = 0x1F01FF;
constexpr sys::Dword kReadAndExecute = 0x1200A9;
constexpr sys::Dword kModify = 0x1301BF;
constexpr sys::Dword kGenericAll = 0x10000000;
constexpr sys::Dword kGenericWrite = 0x40000000;
constexpr sys::Dword kInheritedToChildren = 0x03;  // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
constexpr sys::Dword kInherited = 0x10;            // INHERITED_ACE

std::u16string FakeFileSystemPath(const char* path) { return sim::FakeFileSystem::Widen(path); }

AccessEntry Allow(const char* sid, sys::Dword mask, sys::Dword flags = kInherited) {
  return {AccessEntry::Kind::Allow, flags, mask, sid};
}

// What a folder made by an elevated administrator under the program-files
// folder inherits on Windows 10.
sys::FileSecurity ProgramFilesDefault() {
  return {kAdministrators,
          true,
          {Allow(kTrustedInstaller, kFullControl), Allow(kSystem, kFullControl), Allow(kAdministrators, kFullControl),
           Allow(kUsers, kReadAndExecute),
           Allow(kCreatorOwner, kGenericAll, kInherited | kInheritedToChildren | sys::kInheritOnlyAce),
           Allow(kAppPackages, kReadAndExecute)}};
}

sys::FileSecurity With(sys::FileSecurity security, const AccessEntry& entry) {
  security.Entries.push_back(entry);
  return security;
}

sys::FileSecurity OwnedBy(const char* owner) {
  sys::FileSecurity security = ProgramFilesDefault();
  security.OwnerSid = owner;
  return security;
}

struct SecurityCase {
  const char* name;
  sys::FileSecurity security;
  bool onlyAdministrators;
};

class ProtectedCopySecurityTest : public testing::TestWithParam<SecurityCase> {};

TEST_P(ProtectedCopySecurityTest, OnlyAdministratorsCanChange) {
  EXPECT_EQ(ProtectedCopy::OnlyAdministratorsCanChange(GetParam().security, kProcessUser),
            GetParam().onlyAdministrators);
}

sys::FileSecurity NoAccessList() {
  sys::FileSecurity security = ProgramFilesDefault();
  security.HasAccessList = false;
  security.Entries.clear();
  return security;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProtectedCopySecurityTest,
    testing::Values(
        SecurityCase{"ProgramFilesDefault", ProgramFilesDefault(), true},
        SecurityCase{"OwnedBySystem", OwnedBy(kSystem), true},
        SecurityCase{"OwnedByTrustedInstaller", OwnedBy(kTrustedInstaller), true},
        SecurityCase{"OwnedByTheAdministratorRunningTheProgram", OwnedBy(kProcessUser), true},
        // An owner may always rewrite the access list.
        SecurityCase{"OwnedByAnotherUser", OwnedBy(kOtherUser), false},
        SecurityCase{"OwnedByUsers", OwnedBy(kUsers), false},
        SecurityCase{"NoAccessListLetsEveryoneIn", NoAccessList(), false},
        SecurityCase{"UsersMayAddFiles", With(ProgramFilesDefault(), Allow(kUsers, 0x0002)), false},
        SecurityCase{"UsersMayAddFolders", With(ProgramFilesDefault(), Allow(kUsers, 0x0004)), false},
        SecurityCase{"UsersMayDeleteChildren", With(ProgramFilesDefault(), Allow(kUsers, 0x0040)), false},
        SecurityCase{"AuthenticatedUsersMayModify", With(ProgramFilesDefault(), Allow(kAuthenticatedUsers, kModify)),
                     false},
        SecurityCase{"EveryoneGenericWrite", With(ProgramFilesDefault(), Allow(kEveryone, kGenericWrite)), false},
        SecurityCase{"AnotherUserMayDelete", With(ProgramFilesDefault(), Allow(kOtherUser, 0x00010000)), false},
        SecurityCase{"AnotherUserMayRewriteTheAccessList", With(ProgramFilesDefault(), Allow(kOtherUser, 0x00040000)),
                     false},
        SecurityCase{"AnotherUserMayTakeOwnership", With(ProgramFilesDefault(), Allow(kOtherUser, 0x00080000)), false},
        SecurityCase{"EveryoneMayRead", With(ProgramFilesDefault(), Allow(kEveryone, kReadAndExecute)), true},
        // Passed to new children only: the children are checked themselves.
        SecurityCase{"EveryoneFullControlOnChildrenOnly",
                     With(ProgramFilesDefault(), Allow(kEveryone, kGenericAll, 0x0B)), true},
        SecurityCase{"DenyEntriesGrantNothing",
                     With(ProgramFilesDefault(), {AccessEntry::Kind::Deny, 0, kGenericWrite, kEveryone}), true},
        // A conditional or object entry's trustee is not read: it counts as
        // anyone's when it grants a change.
        SecurityCase{"AnotherKindOfEntryThatGrantsWriting",
                     With(ProgramFilesDefault(), {AccessEntry::Kind::Other, 0, 0x0002, kAdministrators}), false},
        SecurityCase{"AnotherKindOfEntryThatGrantsReading",
                     With(ProgramFilesDefault(), {AccessEntry::Kind::Other, 0, kReadAndExecute, kEveryone}), true}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

constexpr const char* kVendor = "C:\\Program Files (x86)\\Velnor";
constexpr const char* kFolder = "C:\\Program Files (x86)\\Velnor\\Kestrune";
constexpr const char* kCopy = "C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe";

class ProtectedCopyTest : public test::FakeOsFixture {
 protected:
  ProtectedCopyTest() {
    Environment.ModulePath = "C:\\Users\\Pat\\Downloads\\Kit\\Kestrune.exe";
    Files.AddFolder(u"C:\\Program Files (x86)");
    Files.AddFile(u"C:\\Users\\Pat\\Downloads\\Kit\\Kestrune.exe", "the program");
    // What the system gives each path once it exists.
    for (const char* path : {kVendor, kFolder, kCopy}) {
      Security.Set(path, ProgramFilesDefault());
    }
  }

  std::vector<std::string> FileEvents() const {
    std::vector<std::string> events;
    for (const std::string& event : Log.All()) {
      if (event.rfind("mkdir ", 0) == 0 || event.rfind("copy ", 0) == 0 || event.rfind("delete", 0) == 0) {
        events.push_back(event);
      }
    }
    return events;
  }

  sim::FakeFileSystem Files{&Log};
  sim::FakeFileSecurity Security;
  sim::FakeSystemFolders Folders;

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Files};
  sys::ScopedSeam<sys::IFileSystem> FileSystemSeam{Files};
  sys::ScopedSeam<sys::IDirectoryListing> ListingSeam{Files};
  sys::ScopedSeam<sys::IFileSecurity> SecuritySeam{Security};
  sys::ScopedSeam<sys::ISystemFolders> FoldersSeam{Folders};
};

TEST_F(ProtectedCopyTest, CopiedIntoAFolderOfItsOwnUnderProgramFiles) {
  EXPECT_EQ(ProtectedCopy().Place(), kCopy);
  EXPECT_THAT(FileEvents(), ElementsAre(std::string("mkdir ") + kVendor, std::string("mkdir ") + kFolder,
                                        std::string("copy C:\\Users\\Pat\\Downloads\\Kit\\Kestrune.exe -> ") + kCopy));
  ASSERT_NE(Files.FindFile(FakeFileSystemPath(kCopy)), nullptr);
  EXPECT_EQ(Files.FindFile(FakeFileSystemPath(kCopy))->Data, "the program");
}

TEST_F(ProtectedCopyTest, AnEarlierCopyIsReplaced) {
  Files.AddFolder(u"C:\\Program Files (x86)\\Velnor\\Kestrune");
  Files.AddFile(u"C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe", "an earlier release");
  EXPECT_EQ(ProtectedCopy().Place(), kCopy);
  EXPECT_EQ(Files.FindFile(FakeFileSystemPath(kCopy))->Data, "the program");
}

TEST_F(ProtectedCopyTest, TheCopyItselfRegistersItselfWithoutCopying) {
  Files.AddFolder(u"C:\\Program Files (x86)\\Velnor\\Kestrune");
  Files.AddFile(u"C:\\Program Files (x86)\\Velnor\\Kestrune\\Kestrune.exe", "the program");
  Environment.ModulePath = "C:\\PROGRAM FILES (X86)\\Velnor\\Kestrune\\Kestrune.exe";
  EXPECT_EQ(ProtectedCopy().Place(), kCopy);
  EXPECT_THAT(FileEvents(), ElementsAre());
}

TEST_F(ProtectedCopyTest, RefusedWhereOthersCouldChangeIt) {
  struct Case {
    const char* name;
    const char* path;
    sys::FileSecurity security;
    std::vector<std::string> events;  // what was done before the refusal
  };
  const std::string mkdirVendor = std::string("mkdir ") + kVendor;
  const std::string mkdirFolder = std::string("mkdir ") + kFolder;
  const std::string copy = std::string("copy C:\\Users\\Pat\\Downloads\\Kit\\Kestrune.exe -> ") + kCopy;
  const Case cases[] = {
      {"the maker's folder lets users add folders",
       kVendor,
       With(ProgramFilesDefault(), Allow(kUsers, 0x0004)),
       {mkdirVendor}},
      {"the maker's folder belongs to another user", kVendor, OwnedBy(kOtherUser), {mkdirVendor}},
      {"the program's folder lets users add files",
       kFolder,
       With(ProgramFilesDefault(), Allow(kUsers, 0x0002)),
       {mkdirVendor, mkdirFolder}},
      {"the program's folder has no access list", kFolder, NoAccessList(), {mkdirVendor, mkdirFolder}},
      {"the copy may be modified by authenticated users",
       kCopy,
       With(ProgramFilesDefault(), Allow(kAuthenticatedUsers, kModify, 0)),
       {mkdirVendor, mkdirFolder, copy}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Files.DeleteFileW(FakeFileSystemPath(kCopy));
    Files.RemoveDirectoryW(FakeFileSystemPath(kFolder));
    Files.RemoveDirectoryW(FakeFileSystemPath(kVendor));
    Log.Clear();
    for (const char* path : {kVendor, kFolder, kCopy}) {
      Security.Set(path, ProgramFilesDefault());
    }
    Security.Set(c.path, c.security);
    EXPECT_EQ(ProtectedCopy().Place(), "");
    EXPECT_EQ(FileEvents(), c.events);
  }
}

TEST_F(ProtectedCopyTest, RefusedWhenAFolderCannotBeMadeOrRead) {
  // A file where the maker's folder would be.
  Files.AddFile(u"C:\\Program Files (x86)\\Velnor", "");
  EXPECT_EQ(ProtectedCopy().Place(), "");
  EXPECT_FALSE(Files.FolderExists(u"C:\\Program Files (x86)\\Velnor\\Kestrune"));
}

TEST_F(ProtectedCopyTest, RefusedWhenTheSecurityCannotBeRead) {
  Security = sim::FakeFileSecurity();  // no path has any: as for a missing file
  EXPECT_EQ(ProtectedCopy().Place(), "");
  EXPECT_EQ(Files.FindFile(FakeFileSystemPath(kCopy)), nullptr);
}

TEST_F(ProtectedCopyTest, RefusedWithoutAProgramFilesFolder) {
  Folders.ProgramFilesDirectory = "";
  EXPECT_EQ(ProtectedCopy().Place(), "");
  EXPECT_THAT(FileEvents(), ElementsAre());
}

TEST_F(ProtectedCopyTest, RefusedWhenTheCopyFails) {
  Environment.ModulePath = "C:\\Users\\Pat\\Downloads\\Kit\\Gone.exe";
  EXPECT_EQ(ProtectedCopy().Place(), "");
}

TEST_F(ProtectedCopyTest, RemovedWithItsFolders) {
  ASSERT_EQ(ProtectedCopy().Place(), kCopy);
  Log.Clear();
  ProtectedCopy().Remove();
  EXPECT_THAT(FileEvents(), ElementsAre(std::string("delete ") + kCopy));
  EXPECT_FALSE(Files.FolderExists(u"C:\\Program Files (x86)\\Velnor"));
  EXPECT_TRUE(Files.FolderExists(u"C:\\Program Files (x86)"));
  EXPECT_TRUE(Files.DeletedAtRestart.empty());
}

TEST_F(ProtectedCopyTest, TheRunningCopyGoesAtTheNextRestart) {
  ASSERT_EQ(ProtectedCopy().Place(), kCopy);
  Environment.ModulePath = kCopy;
  // The running program's file cannot be removed.
  const sys::FileHandle image = Files.CreateFileA(kCopy, sys::kGenericRead, sys::kFileShareRead, sys::kOpenExisting, 0);
  ProtectedCopy().Remove();
  EXPECT_THAT(Files.DeletedAtRestart,
              ElementsAre(FakeFileSystemPath(kCopy), FakeFileSystemPath(kFolder), FakeFileSystemPath(kVendor)));
  Files.CloseHandle(image);
}

TEST_F(ProtectedCopyTest, TheMakersFolderStaysWithAnotherProgramInIt) {
  ASSERT_EQ(ProtectedCopy().Place(), kCopy);
  Files.AddFolder(u"C:\\Program Files (x86)\\Velnor\\Other");
  ProtectedCopy().Remove();
  EXPECT_FALSE(Files.FolderExists(u"C:\\Program Files (x86)\\Velnor\\Kestrune"));
  EXPECT_TRUE(Files.FolderExists(u"C:\\Program Files (x86)\\Velnor\\Other"));
  EXPECT_TRUE(Files.DeletedAtRestart.empty());
}

}  // namespace
}  // namespace kestrune
