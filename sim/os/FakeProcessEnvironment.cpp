#include "sim/os/FakeProcessEnvironment.h"

namespace kestrune::sim {

std::string FakeProcessEnvironment::GetModuleFileNameA(sys::Dword capacity) {
  return ModulePath.substr(0, capacity == 0 ? 0 : capacity - 1);
}

std::string FakeProcessEnvironment::GetCurrentDirectoryA(sys::Dword capacity) {
  return CurrentDirectory.size() < capacity ? CurrentDirectory : std::string();
}

}  // namespace kestrune::sim
