// Installs in-memory fakes of every small operating-system service for the
// length of a test; the fakes share one event log.
#pragma once

#include <gtest/gtest.h>

#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeConsole.h"
#include "sim/os/FakeConsoleWindow.h"
#include "sim/os/FakeDialogs.h"
#include "sim/os/FakeDirectoryListing.h"
#include "sim/os/FakeFileVersion.h"
#include "sim/os/FakeMutexes.h"
#include "sim/os/FakeProcessEnvironment.h"
#include "sim/os/FakeRegistry.h"
#include "sim/os/FakeSystemVersion.h"
#include "sys/Seam.h"

namespace kestrune::test {

class FakeOsFixture : public ::testing::Test {
 public:
  sim::EventLog Log;
  sim::FakeRegistry Registry{&Log};
  sim::FakeConsole Console{&Log};
  sim::FakeDialogs Dialogs{&Log};
  sim::FakeProcessEnvironment Environment;
  sim::FakeFileVersion FileVersion;
  sim::FakeDirectoryListing Directories;
  sim::FakeCodePage CodePage;
  sim::FakeSystemVersion SystemVersion = sim::FakeSystemVersion::Windows10Pro64();
  sim::FakeConsoleWindow ConsoleWindow;
  // The machine's names, and this test's process on it.
  sim::FakeMutexNamespace MutexNames;
  sim::FakeMutexes Mutexes{MutexNames};

 private:
  sys::ScopedSeam<sys::IRegistry> RegistrySeam{Registry};
  sys::ScopedSeam<sys::IConsole> ConsoleSeam{Console};
  sys::ScopedSeam<sys::IDialogs> DialogsSeam{Dialogs};
  sys::ScopedSeam<sys::IProcessEnvironment> EnvironmentSeam{Environment};
  sys::ScopedSeam<sys::IFileVersion> FileVersionSeam{FileVersion};
  sys::ScopedSeam<sys::IDirectoryListing> DirectoriesSeam{Directories};
  sys::ScopedSeam<sys::ICodePage> CodePageSeam{CodePage};
  sys::ScopedSeam<sys::ISystemVersion> SystemVersionSeam{SystemVersion};
  sys::ScopedSeam<sys::IConsoleWindow> ConsoleWindowSeam{ConsoleWindow};
  sys::ScopedSeam<sys::IMutexes> MutexesSeam{Mutexes};
};

}  // namespace kestrune::test
