#include "sys/win32/Adapters.h"

#include "sys/Seam.h"
#include "sys/win32/CrtDirectoryListing.h"
#include "sys/win32/CrtEnvironmentVariables.h"
#include "sys/win32/HostCpuid.h"
#include "sys/win32/Win32CodePage.h"
#include "sys/win32/Win32Com.h"
#include "sys/win32/Win32Console.h"
#include "sys/win32/Win32ConsoleWindow.h"
#include "sys/win32/Win32Dialogs.h"
#include "sys/win32/Win32FileSystem.h"
#include "sys/win32/Win32FileVersion.h"
#include "sys/win32/Win32Files.h"
#include "sys/win32/Win32FirmwareTable.h"
#include "sys/win32/Win32Internet.h"
#include "sys/win32/Win32Locale.h"
#include "sys/win32/Win32ProcessEnvironment.h"
#include "sys/win32/Win32Processes.h"
#include "sys/win32/Win32Registry.h"
#include "sys/win32/Win32ServiceControl.h"
#include "sys/win32/Win32SetupDi.h"
#include "sys/win32/Win32Shell.h"
#include "sys/win32/Win32SystemFolders.h"
#include "sys/win32/Win32SystemVersion.h"
#include "sys/win32/Win32TaskScheduler.h"
#include "sys/win32/Win32Wmi.h"
#include "sys/win32/X86PortIo.h"

namespace kestrune::sys::win32 {

void InstallAdapters() {
  // Process-wide adapters: they live until the process ends.
  static Win32Registry registry;
  static Win32Com com;
  static Win32Console console;
  static Win32Dialogs dialogs;
  static Win32ProcessEnvironment environment;
  static Win32FileVersion fileVersion;
  static CrtDirectoryListing directoryListing;
  static Win32CodePage codePage;
  static Win32Files files;
  static HostCpuid cpuid;
  static Win32Processes processes;
  static Win32SetupDi setupDi;
  static CrtEnvironmentVariables environmentVariables;
  static Win32Wmi wmi;
  static Win32ServiceControl serviceControl;
  static Win32SystemFolders systemFolders;
  static X86PortIo portIo;
  static Win32ConsoleWindow consoleWindow;
  static Win32SystemVersion systemVersion;
  static Win32TaskScheduler taskScheduler;
  static Win32FirmwareTable firmwareTable;
  static Win32Internet internet;
  static Win32FileSystem fileSystem;
  static Win32Shell shell;
  static Win32Locale locale;
  Install<IRegistry>(registry);
  Install<ICom>(com);
  Install<IConsole>(console);
  Install<IDialogs>(dialogs);
  Install<IProcessEnvironment>(environment);
  Install<IFileVersion>(fileVersion);
  Install<IDirectoryListing>(directoryListing);
  Install<ICodePage>(codePage);
  Install<IFiles>(files);
  Install<ICpuid>(cpuid);
  Install<IProcesses>(processes);
  Install<ISetupDi>(setupDi);
  Install<IEnvironmentVariables>(environmentVariables);
  Install<IWmi>(wmi);
  Install<IServiceControl>(serviceControl);
  Install<ISystemFolders>(systemFolders);
  Install<IPortIo>(portIo);
  Install<IConsoleWindow>(consoleWindow);
  Install<ISystemVersion>(systemVersion);
  Install<ITaskScheduler>(taskScheduler);
  Install<IFirmwareTable>(firmwareTable);
  Install<IInternet>(internet);
  Install<IFileSystem>(fileSystem);
  Install<IShell>(shell);
  Install<ILocale>(locale);
}

}  // namespace kestrune::sys::win32
