#include "hw/Ioobject.h"

#include "common/Debugconsole.h"
#include "hw/Readwrite.h"

namespace kestrune {

TIoObject::TIoObject() : ReadWrite(ReadWriteInstance()), Console(DebugConsoleInstance(false)) {}

}  // namespace kestrune
