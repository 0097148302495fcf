// Kestrune: prepares a Velnor board for Intel Optane memory, one step of
// the installation per start.
#include "BuildConfig.h"
#include "app/ProductCollaborators.h"
#include "app/ProductStart.h"
#include "install/InstallRun.h"
#include "sys/win32/Adapters.h"
#include "sys/win32/Win32LibraryLoading.h"

int main() {
  using namespace kestrune;
  sys::win32::Win32LibraryLoading libraries;
  return app::ProductStart(libraries, sys::win32::InstallAdapters).Run([] {
    const sys::Revocation revocation = config::kFlashRevocation ? sys::Revocation::WholeChain : sys::Revocation::None;
    app::ProductCollaborators platform(SignerList(config::kFlashSigners, revocation),
                                       SignerList(config::kSetupSigners, revocation));
    InstallRun run(platform, {config::kWebServerBase, config::kPackageServerBase});
    return run.Run();
  });
}
