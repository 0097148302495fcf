#include "platform/HardwareSession.h"

#include "common/Debugconsole.h"
#include "hw/Aaft.h"
#include "hw/Acpibase.h"
#include "hw/Loaddriver.h"
#include "hw/Readwrite.h"
#include "hw/Rwconfig.h"
#include "platform/Smbiosbase.h"

namespace kestrune {

void ReleaseHardwareLayer() {
  ReleaseAaftInstance();
  ReleaseAcpiBaseInstance();
  ReleaseSmbiosInstance();
  ReleaseReadWriteInstance();  // with the loader and the settings it holds
  ReleaseRwConfigInstance();   // when they were made without it
  ReleaseLoadDriverInstance();
  ReleaseDebugConsoleInstance();
}

}  // namespace kestrune
