// Win32 vocabulary for the seams, without <windows.h>: the same widths, the
// same handle values and the same error and status codes as the system's.
#pragma once

#include <cstdint>

namespace kestrune::sys {

using Dword = std::uint32_t;
using Long = std::int32_t;
using HResult = std::int32_t;

// Registry key handles. The predefined roots carry the system's values,
// sign-extended as the system does on 64-bit builds.
using RegKey = std::uintptr_t;
inline constexpr RegKey kHkeyCurrentUser = static_cast<RegKey>(static_cast<std::intptr_t>(std::int32_t(0x80000001u)));
inline constexpr RegKey kHkeyLocalMachine = static_cast<RegKey>(static_cast<std::intptr_t>(std::int32_t(0x80000002u)));

// Access masks.
inline constexpr Dword kKeyRead = 0x20019;
inline constexpr Dword kKeyAllAccess = 0xF003F;
inline constexpr Dword kKeyWow64_64Key = 0x0100;
inline constexpr Dword kKeyWow64_32Key = 0x0200;

// Registry value types.
inline constexpr Dword kRegSz = 1;
inline constexpr Dword kRegExpandSz = 2;
inline constexpr Dword kRegBinary = 3;
inline constexpr Dword kRegDword = 4;

// System error codes.
inline constexpr Long kErrorSuccess = 0;
inline constexpr Long kErrorFileNotFound = 2;
inline constexpr Long kErrorPathNotFound = 3;
inline constexpr Long kErrorAccessDenied = 5;
inline constexpr Long kErrorInvalidHandle = 6;
inline constexpr Long kErrorInvalidParameter = 87;
inline constexpr Long kErrorInsufficientBuffer = 122;
inline constexpr Long kErrorMoreData = 234;
inline constexpr Long kErrorNoMoreItems = 259;

// Message box styles and answers.
inline constexpr Dword kMbOk = 0x00;
inline constexpr Dword kMbYesNo = 0x04;
inline constexpr Dword kMbIconError = 0x10;
inline constexpr Dword kMbIconQuestion = 0x20;
inline constexpr Dword kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// COM status codes.
inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kENotImpl = static_cast<HResult>(0x80004001u);
inline constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kEAccessDenied = static_cast<HResult>(0x80070005u);
inline constexpr HResult kHResultFileNotFound = static_cast<HResult>(0x80070002u);
inline constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);
inline constexpr HResult kRpcETooLate = static_cast<HResult>(0x80010119u);

inline constexpr bool Succeeded(HResult hr) { return hr >= 0; }

}  // namespace kestrune::sys
