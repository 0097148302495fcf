#include "hw/DriverImages.h"

#include "DriverImageData.h"

namespace kestrune {

// The driver's kernel images for x64 and x86, built from driver/ by the
// project's own build. No toolchain for IA-64 or for a Windows 9x VxD
// exists here, and the program's gates refuse those systems: their slots
// stay empty.
const DriverImages& CarriedDriverImages() {
  static const DriverImages images{kDriverImageX86, {}, kDriverImageX64, {}};
  return images;
}

}  // namespace kestrune
