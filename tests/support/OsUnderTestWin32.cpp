#include "sys/win32/Win32CodePage.h"
#include "sys/win32/Win32Registry.h"
#include "tests/support/OsUnderTest.h"

namespace kestrune::test {

sys::IRegistry& RegistryUnderTest() {
  static sys::win32::Win32Registry registry;
  return registry;
}

sys::ICodePage& CodePageUnderTest() {
  static sys::win32::Win32CodePage codePage;
  return codePage;
}

bool UsesSystemRegistry() { return true; }

}  // namespace kestrune::test
