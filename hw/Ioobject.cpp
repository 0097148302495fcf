#include "hw/Ioobject.h"

#include "hw/Readwrite.h"
#include "install/Debugconsole.h"

namespace kestrune {

TIoObject::TIoObject() : ReadWrite(ReadWriteInstance()), Console(DebugConsoleInstance(false)) {}

}  // namespace kestrune
