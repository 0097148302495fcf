#include "hw/DriverImages.h"

namespace kestrune {

// The program carries no driver image of its own yet: every slot is empty,
// and the loader behaves as it does when no image fits the platform.
const DriverImages& CarriedDriverImages() {
  static const DriverImages images{};
  return images;
}

}  // namespace kestrune
