#include "common/Debugconsole.h"

#include <gtest/gtest.h>

#include "sim/os/FakeConsoleWindow.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

class DebugconsoleTest : public ::testing::Test {
 protected:
  ~DebugconsoleTest() override { ReleaseDebugConsoleInstance(); }
  sim::FakeConsoleWindow Window;
  sys::ScopedSeam<sys::IConsoleWindow> Seam{Window};
};

TEST_F(DebugconsoleTest, TheFirstRequestFixesWhetherTheConsoleIsActive) {
  TDebugConsole* console = DebugConsoleInstance(false);
  EXPECT_EQ(DebugConsoleInstance(true), console);
  EXPECT_FALSE(console->IsActive());
  EXPECT_EQ(console->GetHandle(), sys::kInvalidHandleValue);
  EXPECT_EQ(Window.Allocations, 0);
  console->WriteLine("trace");
  console->WriteStatus("name", "Enter", 14);
  EXPECT_TRUE(Window.Attempts.empty());
}

TEST_F(DebugconsoleTest, AnInactiveConsoleAnswersSevenAndChangesNoColour) {
  TDebugConsole console(false);
  Window.Attributes = 0x1F;
  EXPECT_EQ(console.SetColor(14), 7);
  EXPECT_EQ(Window.Attributes, 0x1F);
}

TEST_F(DebugconsoleTest, AnActiveConsoleOpensAWindowAndClosesItAgain) {
  {
    TDebugConsole console(true);
    EXPECT_EQ(Window.Allocations, 1);
    EXPECT_EQ(console.GetHandle(), sim::FakeConsoleWindow::kOutputHandle);
    console.WriteLine("GetVariable:VariableName=");
    console.WriteLine(u"VelnorPlatformConfig");
    EXPECT_EQ(Window.Shown(), "GetVariable:VariableName=\nVelnorPlatformConfig\n");
  }
  EXPECT_EQ(Window.Frees, 1);
  EXPECT_EQ(Window.Closed, (std::vector<sys::FileHandle>{sim::FakeConsoleWindow::kOutputHandle}));
}

TEST_F(DebugconsoleTest, SetColorAnswersThePreviousAttributesOrSevenForZero) {
  TDebugConsole console(true);
  Window.Attributes = 0x1F;
  EXPECT_EQ(console.SetColor(10), 0x1F);
  EXPECT_EQ(Window.Attributes, 10);
  EXPECT_EQ(console.SetColor(0), 7);
  EXPECT_EQ(Window.Attributes, 0);
}

TEST_F(DebugconsoleTest, WriteStatusColoursOnlyTheStatusThenRestoresGrey) {
  TDebugConsole console(true);
  console.WriteStatus("DecodeEZOCTable", "Enter", 14);
  ASSERT_EQ(Window.Written.size(), 3u);
  EXPECT_EQ(Window.Written[0].Text, u"DecodeEZOCTable ... [");
  EXPECT_EQ(Window.Written[0].Attributes, 7);
  EXPECT_EQ(Window.Written[1].Text, u"Enter");
  EXPECT_EQ(Window.Written[1].Attributes, 14);
  EXPECT_EQ(Window.Written[2].Text, u"]\n");
  EXPECT_EQ(Window.Written[2].Attributes, 7);

  Window.Written.clear();
  console.WriteStatus(u"Table", u"Found", 10);
  EXPECT_EQ(Window.Shown(), "Table ... [Found]\n");
  EXPECT_EQ(Window.Written[1].Attributes, 10);
}

TEST_F(DebugconsoleTest, WriteLastErrorWritesTheSystemText) {
  Window.LastError = 5;
  Window.Messages[5] = "Access is denied.\r\n";
  TDebugConsole console(true);
  console.WriteLastError(14);
  EXPECT_EQ(Window.Shown(), "LastError ... [Access is denied.\r\n]\n");
  ASSERT_GE(Window.Written.size(), 3u);
  EXPECT_EQ(Window.Written[2].Attributes, 14);
}

TEST_F(DebugconsoleTest, WriteLastErrorOnAnInactiveConsoleShowsNothing) {
  Window.LastError = 5;
  Window.Messages[5] = "Access is denied.";
  TDebugConsole console(false);
  console.WriteLastError(14);
  // The writes go to the invalid handle.
  EXPECT_TRUE(Window.Written.empty());
  ASSERT_FALSE(Window.Attempts.empty());
  for (const auto& attempt : Window.Attempts) {
    EXPECT_EQ(attempt.Handle, sys::kInvalidHandleValue);
  }
}

}  // namespace
}  // namespace kestrune
