// The system's error and status codes that the program and its fakes meet:
// system error codes (GetLastError, the registry's answers) and HRESULTs,
// with the values the system gives them.
#pragma once

#include "sys/WinTypes.h"

namespace kestrune::sys {

// System error codes.
inline constexpr Long kErrorSuccess = 0;
inline constexpr Long kErrorInvalidFunction = 1;
inline constexpr Long kErrorFileNotFound = 2;
inline constexpr Long kErrorPathNotFound = 3;
inline constexpr Long kErrorAccessDenied = 5;
inline constexpr Long kErrorInvalidHandle = 6;
inline constexpr Long kErrorNotEnoughMemory = 8;
inline constexpr Long kErrorNotReady = 21;
inline constexpr Long kErrorSharingViolation = 32;
inline constexpr Long kErrorFileExists = 80;
inline constexpr Long kErrorInvalidParameter = 87;
inline constexpr Long kErrorDiskFull = 112;
inline constexpr Long kErrorInsufficientBuffer = 122;
inline constexpr Long kErrorInvalidName = 123;
inline constexpr Long kErrorDirNotEmpty = 145;
inline constexpr Long kErrorAlreadyExists = 183;
inline constexpr Long kErrorFilenameExcedRange = 206;
inline constexpr Long kErrorMoreData = 234;
inline constexpr Long kErrorNoMoreItems = 259;
inline constexpr Long kErrorDirectory = 267;
inline constexpr Long kErrorInvalidImageHash = 577;  // not a driver this system would load
inline constexpr Long kErrorNoAccess = 998;
inline constexpr Long kErrorServiceAlreadyRunning = 1056;
inline constexpr Long kErrorServiceDoesNotExist = 1060;
inline constexpr Long kErrorServiceNotActive = 1062;
inline constexpr Long kErrorServiceMarkedForDelete = 1072;
inline constexpr Long kErrorServiceExists = 1073;

// HRESULTs.
inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kWbemSFalse = 1;
inline constexpr HResult kENotImpl = static_cast<HResult>(0x80004001u);
inline constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kEAccessDenied = static_cast<HResult>(0x80070005u);
inline constexpr HResult kHResultFileNotFound = static_cast<HResult>(0x80070002u);     // from ERROR_FILE_NOT_FOUND
inline constexpr HResult kHResultAlreadyExists = static_cast<HResult>(0x800700B7u);    // from ERROR_ALREADY_EXISTS
inline constexpr HResult kHResultOnlyIfConnected = static_cast<HResult>(0x800704E3u);  // from ERROR_ONLY_IF_CONNECTED
inline constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);
inline constexpr HResult kRpcETooLate = static_cast<HResult>(0x80010119u);
inline constexpr HResult kRpcENoGoodSecurityPackages = static_cast<HResult>(0x8001011Au);
inline constexpr HResult kDispETypeMismatch = static_cast<HResult>(0x80020005u);
inline constexpr HResult kRegdbEClassNotReg = static_cast<HResult>(0x80040154u);
inline constexpr HResult kCoENotInitialized = static_cast<HResult>(0x800401F0u);
inline constexpr HResult kWbemEFailed = static_cast<HResult>(0x80041001u);
inline constexpr HResult kWbemENotFound = static_cast<HResult>(0x80041002u);
inline constexpr HResult kWbemEAccessDenied = static_cast<HResult>(0x80041003u);
inline constexpr HResult kWbemEInvalidParameter = static_cast<HResult>(0x80041008u);
inline constexpr HResult kWbemEInvalidNamespace = static_cast<HResult>(0x8004100Eu);
inline constexpr HResult kWbemEInvalidClass = static_cast<HResult>(0x80041010u);
inline constexpr HResult kWbemEInvalidMethod = static_cast<HResult>(0x8004102Eu);

inline constexpr bool Succeeded(HResult hr) { return hr >= 0; }

// The one check of a call that hands out an object (a COM interface, a
// WMI object, a shell folder): it succeeded and the object is there. A call
// may succeed without one (the shell's S_FALSE for a missing folder).
template <class Object>
bool Obtained(HResult hr, const Object& object) {
  if constexpr (requires { object.Valid(); }) {
    return Succeeded(hr) && object.Valid();
  } else {
    return Succeeded(hr) && object != nullptr;
  }
}

}  // namespace kestrune::sys
