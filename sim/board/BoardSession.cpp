#include "sim/board/BoardSession.h"

#include <cctype>

#include "hw/DriverContract.h"

namespace kestrune::sim {

namespace {

bool IsDriverService(const std::string& name) {
  if (name.size() != std::char_traits<char>::length(kDriverName)) {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(kDriverName[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<BoardSession> BoardSession::Create(const Board& board, sys::IFiles& inner, std::string& error) {
  std::unique_ptr<BoardMachine> machine = BoardMachine::Create(board, inner, error);
  if (!machine) {
    return nullptr;
  }
  return std::unique_ptr<BoardSession>(new BoardSession(std::move(machine)));
}

std::unique_ptr<BoardSession> BoardSession::Create(const Board& board, std::string& error) {
  return Create(board, sys::Use<sys::IFiles>(), error);
}

BoardSession::BoardSession(std::unique_ptr<BoardMachine> machine)
    : machine_(std::move(machine)), files_(*machine_), cpuid_(*machine_), ports_(*machine_), services_(scm_) {
  scm_.OnStart = [this](const std::string& name) {
    if (IsDriverService(name)) {
      machine_->LoadDriver();
    }
    return true;
  };
  scm_.OnStop = [this](const std::string& name) {
    if (IsDriverService(name)) {
      machine_->UnloadDriver();
    }
  };
}

}  // namespace kestrune::sim
