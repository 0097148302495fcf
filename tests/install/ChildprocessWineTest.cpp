// RunProgram through the real process functions, with the project's own
// child program copied into a folder whose name holds blanks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/Utils.h"
#include "install/Childprocess.h"
#include "sys/Seam.h"
#include "sys/win32/Win32Console.h"
#include "sys/win32/Win32ProcessEnvironment.h"
#include "sys/win32/Win32Processes.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ChildprocessWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string self = GetExePath();
    const fs::path helper = fs::path(self.substr(0, self.rfind('\\'))) / "kestrune_child_helper.exe";
    ASSERT_TRUE(fs::exists(helper)) << helper.string();
    Folder = fs::temp_directory_path() / "Kestrune child test" / "Program Folder";
    fs::remove_all(Folder.parent_path());
    fs::create_directories(Folder);
    fs::copy_file(helper, Folder / "child helper.exe");
    Program = (Folder / "child helper.exe").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Folder.parent_path(), ignored);
  }

  sys::win32::Win32ProcessEnvironment Environment;
  sys::win32::Win32Console Console;
  sys::win32::Win32Processes Processes;
  sys::ScopedSeam<sys::IProcessEnvironment> EnvironmentSeam{Environment};
  sys::ScopedSeam<sys::IConsole> ConsoleSeam{Console};
  sys::ScopedSeam<sys::IProcesses> ProcessesSeam{Processes};
  fs::path Folder;
  std::string Program;
};

TEST_F(ChildprocessWineTest, ProgramInFolderWithBlanksStartsThroughItsShortPath) {
  std::string shortPath;
  ASSERT_NE(Processes.GetShortPathNameA(Program, &shortPath), 0u);
  ASSERT_EQ(shortPath.find(' '), std::string::npos) << shortPath;

  EXPECT_EQ(RunProgram(Program, "exit 3 /S  /C", true), 3);
  EXPECT_EQ(ReadFile(Folder / "commandline.txt"), shortPath + " exit 3 /S  /C");
}

TEST_F(ChildprocessWineTest, NonWaitingFormStartsTheChild) {
  ASSERT_EQ(RunProgram(Program, "exit 5", false), 0);
  // The child runs on its own; give it up to a minute to leave its record.
  for (int tries = 0; tries < 600 && !fs::exists(Folder / "commandline.txt"); ++tries) {
    Delay(100);
  }
  EXPECT_NE(ReadFile(Folder / "commandline.txt").find(" exit 5"), std::string::npos);
}

TEST_F(ChildprocessWineTest, MissingProgramGivesMinusOneInBothForms) {
  const std::string missingFile = (Folder / "no such program.exe").string();
  const std::string missingFolder = (Folder / "no such folder" / "child helper.exe").string();
  for (const std::string& path : {missingFile, missingFolder}) {
    for (bool wait : {true, false}) {
      SCOPED_TRACE(path + (wait ? " wait" : " no wait"));
      EXPECT_EQ(RunProgram(path, "exit 0", wait), -1);
    }
  }
  EXPECT_FALSE(fs::exists(Folder / "commandline.txt"));
}

TEST_F(ChildprocessWineTest, OutputPrintedBeforeTheStartComesBeforeTheChildsOutput) {
  ASSERT_EQ(RunProgram(Program, "parent", true), 0);
  EXPECT_EQ(ReadFile(Folder / "output.txt"), "parent\r\nchild\r\n");
}

}  // namespace
}  // namespace kestrune
