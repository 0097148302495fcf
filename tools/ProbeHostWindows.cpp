// The probe's machine on Windows: the real system, and the real machine
// unless a board file stands in for it.
#include <memory>

#include "sim/board/BoardSession.h"
#include "sys/Seam.h"
#include "sys/win32/Adapters.h"
#include "tools/ProbeHost.h"

namespace kestrune::tools {

namespace {

class WindowsHost : public ProbeHost {
 public:
  std::unique_ptr<sim::BoardSession> Session;
};

}  // namespace

std::unique_ptr<ProbeHost> ProbeHost::Start(const std::string& boardFile, std::string& error) {
  sys::win32::InstallAdapters();
  auto host = std::make_unique<WindowsHost>();
  if (!boardFile.empty()) {
    sim::Board board;
    if (!sim::LoadBoardFile(boardFile, board, error)) {
      return nullptr;
    }
    host->Session = sim::BoardSession::Create(board, error);
    if (!host->Session) {
      return nullptr;
    }
  }
  return host;
}

std::optional<sim::Board> ProbeHost::CaptureLiveMachine(const CaptureOptions&) { return std::nullopt; }

}  // namespace kestrune::tools
