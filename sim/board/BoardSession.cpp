#include "sim/board/BoardSession.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "common/DriverContract.h"
#include "hw/Loaddriver.h"

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

using sys::kErrorFileNotFound;
using sys::kErrorInvalidImageHash;

}  // namespace

std::optional<Bytes> BoardSession::ReadHostFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

BoardSession::DriverFileReader BoardSession::FilesIn(const FakeFiles& files) {
  return [&files](const std::string& path) -> std::optional<Bytes> {
    if (!files.Exists(path)) {
      return std::nullopt;
    }
    return files.Content(path);
  };
}

std::unique_ptr<BoardSession> BoardSession::Create(const Board& board, sys::IFiles& inner, DriverFileReader reader,
                                                   std::string& error) {
  std::unique_ptr<BoardMachine> machine = BoardMachine::Create(board, inner, error);
  if (!machine) {
    return nullptr;
  }
  return std::unique_ptr<BoardSession>(new BoardSession(std::move(machine), std::move(reader)));
}

std::unique_ptr<BoardSession> BoardSession::Create(const Board& board, std::string& error) {
  return Create(board, sys::Use<sys::IFiles>(), ReadHostFile, error);
}

sys::Dword BoardSession::LoadDriverFrom(const std::string& imagePath) {
  const std::optional<Bytes> file = reader_(imagePath);
  if (!file) {
    return kErrorFileNotFound;
  }
  const TRwDrvData image = ChooseDriverImage(ProcessOsPlatform(), CarriedDriverImages());
  if (image.Image == nullptr || file->size() != image.ImageSize ||
      !std::equal(file->begin(), file->end(), image.Image)) {
    return kErrorInvalidImageHash;
  }
  machine_->LoadDriver();
  return 0;
}

BoardSession::BoardSession(std::unique_ptr<BoardMachine> machine, DriverFileReader reader)
    : machine_(std::move(machine)),
      reader_(std::move(reader)),
      files_(*machine_),
      cpuid_(*machine_),
      ports_(*machine_),
      services_(scm_),
      storage_(*machine_) {
  const Board& board = machine_->GetBoard();
  if (board.Smbios && !board.Smbios->FirmwareTable.empty()) {
    firmwareTable_.Present = true;
    firmwareTable_.RawSmbios = board.Smbios->FirmwareTable;
    firmwareSeam_.emplace(firmwareTable_);
  }
  scm_.OnStart = [this](const std::string& name) {
    if (!IsDriverService(name)) {
      return true;
    }
    const FakeServiceControl::Service* service = scm_.Find(name);
    scm_.StartError = service == nullptr ? kErrorFileNotFound : LoadDriverFrom(service->BinaryPath);
    return scm_.StartError == 0;
  };
  scm_.OnStop = [this](const std::string& name) {
    if (IsDriverService(name)) {
      machine_->UnloadDriver();
    }
  };
}

}  // namespace kestrune::sim
