#include "sim/os/FakeMutexes.h"

namespace kestrune::sim {

namespace {

constexpr std::size_t kMaxPath = 260;
constexpr std::u16string_view kGlobal = u"Global\\";
constexpr std::u16string_view kLocal = u"Local\\";

// The name the object manager keeps for a mutex name: "Global\\X", or
// "Session<n>\\X" for a local one. None for a name it refuses, the reason
// in *error.
std::optional<std::u16string> ObjectName(const std::u16string& name, sys::Dword session, sys::Dword* error) {
  if (name.size() > kMaxPath) {
    *error = sys::kErrorFilenameExcedRange;
    return std::nullopt;
  }
  std::u16string_view rest = name;
  std::string directory = "Session" + std::to_string(session);
  if (rest.substr(0, kGlobal.size()) == kGlobal) {
    rest.remove_prefix(kGlobal.size());
    directory = "Global";
  } else if (rest.substr(0, kLocal.size()) == kLocal) {
    rest.remove_prefix(kLocal.size());
  }
  // The only directories of the namespace are those two: any other
  // backslash names a directory that does not exist.
  if (rest.find(u'\\') != std::u16string_view::npos) {
    *error = sys::kErrorPathNotFound;
    return std::nullopt;
  }
  return std::u16string(directory.begin(), directory.end()) + u"\\" + std::u16string(rest);
}

}  // namespace

sys::MutexHandle FakeMutexes::CreateMutexW(bool initialOwner, const std::u16string& name) {
  if (Log != nullptr) {
    Log->Add("mutex " + RecordText(name));
  }
  if (FailNextCreate) {
    LastError = *FailNextCreate;
    FailNextCreate.reset();
    return sys::kNoMutexHandle;
  }
  const sys::MutexHandle handle = NextHandle;
  if (name.empty()) {
    Unnamed[handle] = {1, initialOwner ? this : nullptr};
    Handles[handle] = u"";
    NextHandle += 4;
    LastError = sys::kErrorSuccess;
    return handle;
  }
  const std::optional<std::u16string> full = ObjectName(name, Session, &LastError);
  if (!full) {
    return sys::kNoMutexHandle;
  }
  const auto existing = Machine.Mutexes.find(*full);
  if (existing != Machine.Mutexes.end()) {
    ++existing->second.Handles;
    LastError = sys::kErrorAlreadyExists;
  } else {
    Machine.Mutexes[*full] = {1, initialOwner ? this : nullptr};
    LastError = sys::kErrorSuccess;
  }
  Handles[handle] = *full;
  NextHandle += 4;
  return handle;
}

bool FakeMutexes::CloseHandle(sys::MutexHandle handle) {
  const auto open = Handles.find(handle);
  if (open == Handles.end()) {
    LastError = sys::kErrorInvalidHandle;
    return false;
  }
  if (open->second.empty()) {
    Unnamed.erase(handle);
  } else {
    const auto mutex = Machine.Mutexes.find(open->second);
    if (--mutex->second.Handles == 0) {
      Machine.Mutexes.erase(mutex);
    }
  }
  Handles.erase(open);
  return true;
}

void FakeMutexes::End() {
  while (!Handles.empty()) {
    CloseHandle(Handles.begin()->first);
  }
  for (auto& [name, mutex] : Machine.Mutexes) {
    if (mutex.Owner == this) {
      mutex.Owner = nullptr;  // abandoned
    }
  }
}

bool FakeMutexes::Owns(const std::u16string& name) const {
  sys::Dword error = 0;
  const std::optional<std::u16string> full = ObjectName(name, Session, &error);
  const auto mutex = full ? Machine.Mutexes.find(*full) : Machine.Mutexes.end();
  return mutex != Machine.Mutexes.end() && mutex->second.Owner == this;
}

}  // namespace kestrune::sim
