// A test on a simulated board: the small OS fakes, an in-memory file
// system, the system folders and a console window, plus a board that a test
// fills in code (Board) or from a board file, then boots. Tear-down releases
// every process-wide object of the hardware layer, so the next test starts
// on a fresh machine.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/Debugconsole.h"
#include "common/LittleEndian.h"
#include "hw/Readwrite.h"
#include "platform/HardwareSession.h"
#include "sim/board/Board.h"
#include "sim/board/BoardSession.h"
#include "sim/os/FakeConsoleWindow.h"
#include "sim/os/FakeFiles.h"
#include "sim/os/FakeSystemFolders.h"
#include "sys/Seam.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune::test {

// A FADT of ACPI 2.0's length that names the SMI command port.
inline sim::Bytes FadtNaming(std::uint16_t smiPort) {
  sim::Bytes body(244 - 36, 0);
  PutLe16(&body[48 - 36], smiPort);
  return sim::MakeAcpiTable("FACP", body, 3);
}

class BoardFixture : public FakeOsFixture {
 protected:
  ~BoardFixture() override { ReleaseHardwareLayer(); }

  // Lays the board out and installs it; fails the test when it cannot.
  void Boot() {
    std::string error;
    Session = sim::BoardSession::Create(Board, Files, sim::BoardSession::FilesIn(Files), error);
    ASSERT_NE(Session, nullptr) << error;
  }
  // Powers the machine off: the hardware layer's process-wide objects go,
  // and so does the board's session.
  void PowerOff() {
    ReleaseHardwareLayer();
    Session.reset();
  }
  // Powers the machine off and boots the board as it stands now.
  void Reboot() {
    PowerOff();
    Boot();
  }
  void BootFile(const std::string& path) {
    std::string error;
    ASSERT_TRUE(sim::LoadBoardFile(path, Board, error)) << error;
    Boot();
  }
  sim::BoardMachine& Machine() { return Session->Machine(); }

  sim::Board Board;
  sim::FakeFiles Files{&Log};
  sim::FakeSystemFolders Folders;
  sim::FakeConsoleWindow ConsoleWindow;
  std::unique_ptr<sim::BoardSession> Session;

 private:
  sys::ScopedSeam<sys::IFiles> FilesSeam{Files};
  sys::ScopedSeam<sys::ISystemFolders> FoldersSeam{Folders};
  sys::ScopedSeam<sys::IConsoleWindow> ConsoleWindowSeam{ConsoleWindow};
};

}  // namespace kestrune::test
