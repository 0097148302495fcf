// Installs the Win32 adapter of every seam: the product's wiring.
#pragma once

namespace kestrune::sys::win32 {

void InstallAdapters();

}  // namespace kestrune::sys::win32
