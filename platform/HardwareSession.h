// The hardware layer's process-wide objects as one session: the AAFT and
// ACPI tables, SMBIOS, the access object with its driver loader and
// settings record, and the debug console. The program keeps them until it
// ends (the run releases only the AAFT and ACPI objects); tests and tools
// that power a machine off release them all at once.
#pragma once

namespace kestrune {

// Releases every object of the session, in that order; the next hardware
// object starts on a fresh machine, with the driver not yet opened.
void ReleaseHardwareLayer();

}  // namespace kestrune
