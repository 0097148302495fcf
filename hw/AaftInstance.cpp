// TAAFT's own search for its table, and the process-wide instance.
#include "common/Debugconsole.h"
#include "hw/Aaft.h"
#include "hw/AcpiTables.h"
#include "hw/Acpibase.h"
#include "hw/ConsoleTrace.h"
#include "hw/Readwrite.h"

namespace kestrune {

namespace {

TAAFT* instance = nullptr;

}  // namespace

TAAFT::TAAFT() : ReadWrite(ReadWriteInstance()), AcpiBase(AcpiBaseInstance()) {
  ConsoleTrace trace(DebugConsoleInstance(false));
  trace.WriteLine("TAAFT::TAAFT");
  if (!AcpiBase->FindTable("AAFT")) {
    return;
  }
  // The length the ACPI walk found in the header; a table that it could not
  // trust has length 0 there and is not copied.
  const std::uint32_t length = AcpiBase->Current->Length;
  if (!acpi::IsUsableTableLength(length)) {
    return;
  }
  Table.resize(length);
  if (!ReadWrite->ReadPhysicalMemory(Table.data(), length, AcpiBase->Current->Address)) {
    Table.clear();
    return;
  }
  DecodeTable(trace);
}

TAAFT* AaftInstance() {
  if (instance == nullptr) {
    instance = new TAAFT();
  }
  return instance;
}

void ReleaseAaftInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace kestrune
