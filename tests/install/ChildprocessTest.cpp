#include "install/Childprocess.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/os/FakeProcesses.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

constexpr const char* kTool = "C:\\Users\\Test User\\Down loads\\ROM\\Flash Tool.exe";
constexpr const char* kToolShort = "C:\\Users\\TESTUS~1\\DOWNLO~1\\ROM\\FLASHT~1.EXE";

// Notes how many times standard output had been flushed when each child
// was created.
class RecordingProcesses : public sim::FakeProcesses {
 public:
  explicit RecordingProcesses(const sim::FakeConsole& console) : Console(console) {}
  bool CreateProcessA(const std::string& applicationName, const std::string& commandLine, bool inheritHandles,
                      sys::Dword creationFlags, sys::ProcessInformation* information) override {
    FlushesAtCreate.push_back(Console.Flushes);
    return FakeProcesses::CreateProcessA(applicationName, commandLine, inheritHandles, creationFlags, information);
  }
  std::vector<int> FlushesAtCreate;

 private:
  const sim::FakeConsole& Console;
};

class ChildprocessTest : public test::FakeOsFixture {
 protected:
  ChildprocessTest() { Processes.Programs[kTool] = {3, kToolShort}; }
  RecordingProcesses Processes{Console};

 private:
  sys::ScopedSeam<sys::IProcesses> ProcessesSeam{Processes};
};

TEST_F(ChildprocessTest, CommandLineIsTheShortPathABlankAndTheArgumentsUnchanged) {
  const char* argumentTexts[] = {"/S /C", "/S /C /NR", "", "-s -b", "/x {A1B2} /quiet  \"two  blanks\" ", "a\tb"};
  for (const char* arguments : argumentTexts) {
    SCOPED_TRACE(arguments);
    Processes.Starts.clear();
    ASSERT_EQ(RunProgram(kTool, arguments, true), 3);
    ASSERT_EQ(Processes.Starts.size(), 1u);
    const sim::FakeProcesses::Start& start = Processes.Starts[0];
    EXPECT_EQ(start.CommandLine, std::string(kToolShort) + " " + arguments);
    EXPECT_EQ(start.ApplicationName, kTool);  // named by its full path: no search, no quoting needed
    EXPECT_TRUE(start.InheritHandles);
    EXPECT_EQ(start.CreationFlags, 0u);
  }
}

TEST_F(ChildprocessTest, PathWithoutShortFormIsUsedUnchanged) {
  const std::string path = "D:\\NoShortNames\\setup program.exe";
  Processes.Programs[path] = {0, ""};
  ASSERT_EQ(RunProgram(path, "-s", true), 0);
  ASSERT_EQ(Processes.Starts.size(), 1u);
  EXPECT_EQ(Processes.Starts[0].CommandLine, path + " -s");
}

TEST_F(ChildprocessTest, WaitingFormReturnsTheExitCodeAndClosesBothHandles) {
  const struct {
    sys::Dword exitCode;
    std::int32_t result;
  } cases[] = {{3, 3}, {0, 0}, {1603, 1603}, {0xFFFFFFFE, -2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exitCode);
    Processes.Programs[kTool].ExitCode = c.exitCode;
    Processes.Waits.clear();
    EXPECT_EQ(RunProgram(kTool, "/S /C", true), c.result);
    EXPECT_EQ(Processes.Waits, std::vector<sys::Dword>{sys::kInfinite});
    EXPECT_TRUE(Processes.OpenHandles.empty());
  }
}

TEST_F(ChildprocessTest, NonWaitingFormReturnsOnceTheChildIsCreated) {
  EXPECT_EQ(RunProgram(kTool, "-s -b", false), 0);
  EXPECT_EQ(Processes.Starts.size(), 1u);
  EXPECT_TRUE(Processes.Waits.empty());
  EXPECT_TRUE(Processes.OpenHandles.empty());
}

TEST_F(ChildprocessTest, MissingProgramGivesMinusOneInBothFormsAndStartsNothing) {
  for (bool wait : {true, false}) {
    SCOPED_TRACE(wait);
    EXPECT_EQ(RunProgram("C:\\Missing\\Optane\\SetupOptaneMemory.exe", "-s", wait), -1);
  }
  EXPECT_TRUE(Processes.Starts.empty());
  EXPECT_TRUE(Processes.Waits.empty());
}

TEST_F(ChildprocessTest, FailedWaitGivesMinusOne) {
  Processes.FailWaits = true;
  EXPECT_EQ(RunProgram(kTool, "/S /C", true), -1);
  EXPECT_TRUE(Processes.OpenHandles.empty());
}

TEST_F(ChildprocessTest, StandardOutputIsFlushedBeforeTheChildStarts) {
  RunProgram(kTool, "/S /C", true);
  RunProgram(kTool, "/S /C", false);
  ASSERT_EQ(Processes.FlushesAtCreate.size(), 2u);
  EXPECT_EQ(Processes.FlushesAtCreate[0], 1);
  EXPECT_EQ(Processes.FlushesAtCreate[1], 2);
}

// Puts each delay into the shared event log, between the console's prints.
class LoggingEnvironment : public sim::FakeProcessEnvironment {
 public:
  explicit LoggingEnvironment(sim::EventLog& log) : Log(log) {}
  void Sleep(sys::Dword milliseconds) override { Log.Add("sleep " + std::to_string(milliseconds)); }

 private:
  sim::EventLog& Log;
};

class InstallProgressTest : public test::FakeOsFixture {
 protected:
  bool Saw(const std::string& prefix) const {
    return std::any_of(Log.All().begin(), Log.All().end(),
                       [&prefix](const std::string& event) { return event.rfind(prefix, 0) == 0; });
  }

  LoggingEnvironment Delays{Log};

 private:
  sys::ScopedSeam<sys::IProcessEnvironment> DelaysSeam{Delays};
};

TEST_F(InstallProgressTest, FirstSeventeenPrintsClearTheLineAtTheSixteenth) {
  TInstallProgress progress;
  for (int step = 0; step < 16; ++step) {
    progress.Step();
  }
  std::vector<std::string> expected;
  for (int blanks = 0; blanks < 15; ++blanks) {
    expected.push_back("print Installing Optane Memory Driver" + std::string(blanks, ' ') + "...\r");
    expected.push_back("sleep 500");
  }
  expected.push_back("print Installing Optane Memory Driver...                               \r");
  expected.push_back("print Installing Optane Memory Driver...\r");
  expected.push_back("sleep 500");
  EXPECT_EQ(Log.All(), expected);

  // The longest line is 48 characters; the clearing line blanks all of it.
  EXPECT_EQ(expected[28].size() - std::string("print \r").size(), 48u);
  EXPECT_EQ(expected[30].size() - std::string("print \r").size(), 65u);
  EXPECT_GE(Console.Flushes, 17);
}

// Intel's setup program under the progress line: the line runs while the
// child runs, each step waiting on the child instead of a plain delay, and
// a child that ends ends the line with its exit code.
TEST_F(InstallProgressTest, LineRunsWhileTheChildRunsAndEndsWithIt) {
  sim::FakeProcesses processes(&Log);
  sys::ScopedSeam<sys::IProcesses> seam(processes);
  const std::string setup = "C:\\Kit\\Optane\\SetupOptaneMemory.exe";
  processes.Programs[setup] = {1603, "", 20};
  bool started = false;
  EXPECT_EQ(RunProgramShowingProgress(setup, "-s -b", [&started] { started = true; }), 1603);
  EXPECT_TRUE(started);
  EXPECT_EQ(processes.Waits, std::vector<sys::Dword>(21, 500));
  EXPECT_FALSE(Saw("sleep"));
  // 21 lines, the clearing print after the 15th, and a line end at the end.
  EXPECT_EQ(std::count(Log.All().begin(), Log.All().end(),
                       "print Installing Optane Memory Driver...                               \r"),
            1);
  EXPECT_EQ(Log.All().back(), "print \n");
  EXPECT_TRUE(processes.OpenHandles.empty());
}

TEST_F(InstallProgressTest, ChildThatCannotStartShowsNoLine) {
  sim::FakeProcesses processes(&Log);
  sys::ScopedSeam<sys::IProcesses> seam(processes);
  bool started = false;
  EXPECT_EQ(RunProgramShowingProgress("C:\\Kit\\missing.exe", "-s -b", [&started] { started = true; }), -1);
  EXPECT_FALSE(started);
  EXPECT_TRUE(Console.Output.empty());
}

TEST_F(InstallProgressTest, WaitThatFailsEndsTheLineWithMinusOne) {
  sim::FakeProcesses processes(&Log);
  sys::ScopedSeam<sys::IProcesses> seam(processes);
  processes.Programs["C:\\Kit\\setup.exe"] = {0, "", 5};
  processes.FailWaits = true;
  EXPECT_EQ(RunProgramShowingProgress("C:\\Kit\\setup.exe", "-s -b", {}), -1);
}

TEST_F(InstallProgressTest, SecondCycleRepeatsTheFirst) {
  TInstallProgress progress;
  for (int step = 0; step < 15; ++step) {
    progress.Step();
  }
  const std::string firstCycle = Console.Output;
  Console.Output.clear();
  for (int step = 0; step < 15; ++step) {
    progress.Step();
  }
  EXPECT_EQ(Console.Output, firstCycle);
}

}  // namespace
}  // namespace kestrune
