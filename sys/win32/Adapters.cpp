#include "sys/win32/Adapters.h"

#include "sys/Seam.h"
#include "sys/win32/Win32Files.h"
#include "sys/win32/Win32Os.h"
#include "sys/win32/Win32Registry.h"
#include "sys/win32/Win32SystemVersion.h"
#include "sys/win32/Win32Update.h"

namespace kestrune::sys::win32 {

void InstallAdapters() {
  // Process-wide adapters: they live until the process ends.
  static Win32Registry registry;
  static Win32Console console;
  static Win32Dialogs dialogs;
  static Win32ProcessEnvironment environment;
  static Win32FileVersion fileVersion;
  static CrtDirectoryListing directoryListing;
  static Win32CodePage codePage;
  static Win32Files files;
  static HostCpuid cpuid;
  static Win32SystemVersion systemVersion;
  static Win32Internet internet;
  static Win32FileSystem fileSystem;
  static Win32Shell shell;
  static Win32Locale locale;
  Install<IRegistry>(registry);
  Install<IConsole>(console);
  Install<IDialogs>(dialogs);
  Install<IProcessEnvironment>(environment);
  Install<IFileVersion>(fileVersion);
  Install<IDirectoryListing>(directoryListing);
  Install<ICodePage>(codePage);
  Install<IFiles>(files);
  Install<ICpuid>(cpuid);
  Install<ISystemVersion>(systemVersion);
  Install<IInternet>(internet);
  Install<IFileSystem>(fileSystem);
  Install<IShell>(shell);
  Install<ILocale>(locale);
}

}  // namespace kestrune::sys::win32
