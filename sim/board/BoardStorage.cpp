#include "sim/board/BoardStorage.h"

#include <string>

namespace kestrune::sim {

namespace {

// "C:" for the volume \\.\C:.
std::string SystemDrive() {
  const std::string volume = kSystemVolumePath;
  return volume.substr(std::string("\\\\.\\").size());
}

}  // namespace

BoardStorage::BoardStorage(const BoardMachine& machine)
    : interfaces_(machine.DiskDevicePaths()), interfacesSeam_(interfaces_), environmentSeam_(environment_) {
  environment_.Variables = {{"SystemDrive", SystemDrive()}};
}

}  // namespace kestrune::sim
