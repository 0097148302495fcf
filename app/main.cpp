// Kestrune: prepares a Velnor board for Intel Optane memory, one step of
// the installation per start.
#include "BuildConfig.h"
#include "app/ProductCollaborators.h"
#include "install/InstallRun.h"
#include "sys/win32/Adapters.h"

int main() {
  kestrune::sys::win32::InstallAdapters();
  kestrune::app::ProductCollaborators platform(kestrune::SignerList(
      kestrune::config::kFlashSigners,
      kestrune::config::kFlashRevocation ? kestrune::sys::Revocation::WholeChain : kestrune::sys::Revocation::None));
  kestrune::InstallRun run(platform, {kestrune::config::kWebServerBase, kestrune::config::kPackageServerBase});
  return run.Run();
}
