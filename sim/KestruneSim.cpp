// KestruneSim: the real program with a simulated board as its machine, for
// the end-to-end scenarios and the demo. Everything but the machine is the
// system's own: registry, WinInet, processes, WMI, dialogs, the Task
// Scheduler. The board comes from the file that KESTRUNE_BOARD names; the
// two server bases from KESTRUNE_WEB_BASE and KESTRUNE_PACKAGE_BASE; the
// flash tool's signers from KESTRUNE_FLASH_SIGNERS, Intel's setup
// program's from KESTRUNE_SETUP_SIGNERS, and their revocation check from
// KESTRUNE_FLASH_REVOCATION ("0" none, "1" the whole chain). The
// board keeps no state between runs, as a real board keeps none but its
// firmware: a board that was flashed is another board file.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "BuildConfig.h"
#include "app/ProductCollaborators.h"
#include "install/InstallRun.h"
#include "sim/board/Board.h"
#include "sim/board/BoardSession.h"
#include "sys/win32/Adapters.h"
#include "sys/win32/Win32LibraryLoading.h"

namespace {

std::string Setting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

int main() {
  using namespace kestrune;
  // As the product starts: no library but the system's own.
  sys::win32::Win32LibraryLoading().RestrictToSystemFolder();
  sys::win32::InstallAdapters();

  const std::string boardFile = Setting("KESTRUNE_BOARD", "");
  if (boardFile.empty()) {
    std::fprintf(stderr, "KestruneSim: KESTRUNE_BOARD must name a board file\n");
    return 1;
  }
  sim::Board board;
  std::string error;
  if (!sim::LoadBoardFile(boardFile, board, error)) {
    std::fprintf(stderr, "KestruneSim: %s: %s\n", boardFile.c_str(), error.c_str());
    return 1;
  }
  const std::unique_ptr<sim::BoardSession> session = sim::BoardSession::Create(board, error);
  if (!session) {
    std::fprintf(stderr, "KestruneSim: %s: %s\n", boardFile.c_str(), error.c_str());
    return 1;
  }

  const std::string revocation = Setting("KESTRUNE_FLASH_REVOCATION", config::kFlashRevocation ? "1" : "0");
  const sys::Revocation revocationCheck = revocation == "1" ? sys::Revocation::WholeChain : sys::Revocation::None;
  app::ProductCollaborators platform(
      SignerList(Setting("KESTRUNE_FLASH_SIGNERS", config::kFlashSigners), revocationCheck),
      SignerList(Setting("KESTRUNE_SETUP_SIGNERS", config::kSetupSigners), revocationCheck));
  InstallRun run(platform, {Setting("KESTRUNE_WEB_BASE", config::kWebServerBase),
                            Setting("KESTRUNE_PACKAGE_BASE", config::kPackageServerBase)});
  return run.Run();
}
