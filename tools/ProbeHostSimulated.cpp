// The probe's machine on Linux: a board file over in-memory fakes of a
// 64-bit Windows 10.
#include <memory>

#include "sim/board/BoardSession.h"
#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeConsole.h"
#include "sim/os/FakeConsoleWindow.h"
#include "sim/os/FakeDialogs.h"
#include "sim/os/FakeDirectoryListing.h"
#include "sim/os/FakeFileVersion.h"
#include "sim/os/FakeFiles.h"
#include "sim/os/FakeFirmwareTable.h"
#include "sim/os/FakeProcessEnvironment.h"
#include "sim/os/FakeRegistry.h"
#include "sim/os/FakeSystemFolders.h"
#include "sim/os/FakeSystemVersion.h"
#include "sys/Seam.h"
#include "tools/LinuxCapture.h"
#include "tools/ProbeHost.h"

namespace kestrune::tools {

namespace {

class SimulatedHost : public ProbeHost {
 public:
  SimulatedHost() {
    sys::Install<sys::IRegistry>(Registry);
    sys::Install<sys::IConsole>(Console);
    sys::Install<sys::IDialogs>(Dialogs);
    sys::Install<sys::IProcessEnvironment>(Environment);
    sys::Install<sys::IFileVersion>(FileVersion);
    sys::Install<sys::IDirectoryListing>(Directories);
    sys::Install<sys::ICodePage>(CodePage);
    sys::Install<sys::ISystemVersion>(SystemVersion);
    sys::Install<sys::IFiles>(Files);
    sys::Install<sys::ISystemFolders>(Folders);
    sys::Install<sys::IConsoleWindow>(ConsoleWindow);
    sys::Install<sys::IFirmwareTable>(FirmwareTable);
  }

  sim::FakeRegistry Registry;
  sim::FakeConsole Console;
  sim::FakeDialogs Dialogs;
  sim::FakeProcessEnvironment Environment;
  sim::FakeFileVersion FileVersion;
  sim::FakeDirectoryListing Directories;
  sim::FakeCodePage CodePage;
  sim::FakeSystemVersion SystemVersion = sim::FakeSystemVersion::Windows10Pro64();
  sim::FakeFiles Files;
  sim::FakeSystemFolders Folders;
  sim::FakeConsoleWindow ConsoleWindow;
  // A Windows 10 whose firmware-table call finds no SMBIOS: the board has none.
  sim::FakeFirmwareTable FirmwareTable = [] {
    sim::FakeFirmwareTable table;
    table.Present = true;
    return table;
  }();
  std::unique_ptr<sim::BoardSession> Session;
};

}  // namespace

std::unique_ptr<ProbeHost> ProbeHost::Start(const std::string& boardFile, std::string& error) {
  if (boardFile.empty()) {
    error = "a board file is needed here: kestrune-probe BOARD.json";
    return nullptr;
  }
  sim::Board board;
  if (!sim::LoadBoardFile(boardFile, board, error)) {
    return nullptr;
  }
  auto host = std::make_unique<SimulatedHost>();
  host->Session = sim::BoardSession::Create(board, host->Files, sim::BoardSession::FilesIn(host->Files), error);
  if (!host->Session) {
    return nullptr;
  }
  return host;
}

std::optional<sim::Board> ProbeHost::CaptureLiveMachine(const CaptureOptions& options) {
  return CaptureLinuxMachine(options);
}

}  // namespace kestrune::tools
