#include "sys/win32/Adapters.h"

#include "sys/Seam.h"
#include "sys/win32/CrtDirectoryListing.h"
#include "sys/win32/CrtEnvironmentVariables.h"
#include "sys/win32/HostCpuid.h"
#include "sys/win32/Win32Clock.h"
#include "sys/win32/Win32CodePage.h"
#include "sys/win32/Win32Com.h"
#include "sys/win32/Win32Console.h"
#include "sys/win32/Win32ConsoleWindow.h"
#include "sys/win32/Win32Dialogs.h"
#include "sys/win32/Win32FileSecurity.h"
#include "sys/win32/Win32FileSystem.h"
#include "sys/win32/Win32FileVersion.h"
#include "sys/win32/Win32Files.h"
#include "sys/win32/Win32FirmwareTable.h"
#include "sys/win32/Win32Internet.h"
#include "sys/win32/Win32Locale.h"
#include "sys/win32/Win32Mutexes.h"
#include "sys/win32/Win32PowerStatus.h"
#include "sys/win32/Win32ProcessEnvironment.h"
#include "sys/win32/Win32Processes.h"
#include "sys/win32/Win32Registry.h"
#include "sys/win32/Win32ServiceControl.h"
#include "sys/win32/Win32SetupDi.h"
#include "sys/win32/Win32Shell.h"
#include "sys/win32/Win32SystemFolders.h"
#include "sys/win32/Win32SystemVersion.h"
#include "sys/win32/Win32TaskScheduler.h"
#include "sys/win32/Win32Trust.h"
#include "sys/win32/Win32Wmi.h"
#include "sys/win32/X86PortIo.h"

namespace kestrune::sys::win32 {

namespace {

// A process-wide adapter: it lives until the process ends.
template <class Interface, class Adapter>
void InstallOne() {
  static Adapter adapter;
  Install<Interface>(adapter);
}

}  // namespace

void InstallAdapters() {
  InstallOne<IRegistry, Win32Registry>();
  InstallOne<ICom, Win32Com>();
  InstallOne<IConsole, Win32Console>();
  InstallOne<IDialogs, Win32Dialogs>();
  InstallOne<IProcessEnvironment, Win32ProcessEnvironment>();
  InstallOne<IFileVersion, Win32FileVersion>();
  InstallOne<IDirectoryListing, CrtDirectoryListing>();
  InstallOne<ICodePage, Win32CodePage>();
  InstallOne<IFiles, Win32Files>();
  InstallOne<ICpuid, HostCpuid>();
  InstallOne<IProcesses, Win32Processes>();
  InstallOne<ISetupDi, Win32SetupDi>();
  InstallOne<IEnvironmentVariables, CrtEnvironmentVariables>();
  InstallOne<IWmi, Win32Wmi>();
  InstallOne<IServiceControl, Win32ServiceControl>();
  InstallOne<ISystemFolders, Win32SystemFolders>();
  InstallOne<IPortIo, X86PortIo>();
  InstallOne<IConsoleWindow, Win32ConsoleWindow>();
  InstallOne<ISystemVersion, Win32SystemVersion>();
  InstallOne<ITaskScheduler, Win32TaskScheduler>();
  InstallOne<IFirmwareTable, Win32FirmwareTable>();
  InstallOne<IInternet, Win32Internet>();
  InstallOne<IFileSystem, Win32FileSystem>();
  InstallOne<IShell, Win32Shell>();
  InstallOne<ILocale, Win32Locale>();
  InstallOne<IClock, Win32Clock>();
  InstallOne<IMutexes, Win32Mutexes>();
  InstallOne<IPowerStatus, Win32PowerStatus>();
  InstallOne<ITrust, Win32Trust>();
  InstallOne<IFileSecurity, Win32FileSecurity>();
}

}  // namespace kestrune::sys::win32
