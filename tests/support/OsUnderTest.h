// The registry and code page that a test program runs against: in-memory
// fakes in the native build, the real Win32 adapters in the Windows builds
// (run under wine64). CMake links the matching definition.
#pragma once

#include "sys/CodePage.h"
#include "sys/Registry.h"

namespace kestrune::test {

sys::IRegistry& RegistryUnderTest();
sys::ICodePage& CodePageUnderTest();
// True when the registry under test is the system's own.
bool UsesSystemRegistry();

}  // namespace kestrune::test
