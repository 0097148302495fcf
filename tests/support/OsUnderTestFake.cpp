#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeRegistry.h"
#include "tests/support/OsUnderTest.h"

namespace kestrune::test {

sys::IRegistry& RegistryUnderTest() {
  static sim::FakeRegistry registry;
  return registry;
}

sys::ICodePage& CodePageUnderTest() {
  static sim::FakeCodePage codePage;
  return codePage;
}

bool UsesSystemRegistry() { return false; }

}  // namespace kestrune::test
