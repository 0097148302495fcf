#include "hw/Rwconfig.h"

namespace kestrune {

namespace {
TRwConfig* instance = nullptr;
}

TRwConfig* RwConfigInstance() {
  if (instance == nullptr) {
    instance = new TRwConfig();
  }
  return instance;
}

void ReleaseRwConfigInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace kestrune
