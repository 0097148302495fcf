// Win32 vocabulary for the seams, without <windows.h>: the same widths and
// the same handle values as the system's; its error and status codes are in
// sys/Errors.h, which this header brings along.
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

// Message box styles and answers.
inline constexpr Dword kMbOk = 0x00;
inline constexpr Dword kMbYesNo = 0x04;
inline constexpr Dword kMbIconError = 0x10;
inline constexpr Dword kMbIconQuestion = 0x20;
inline constexpr Dword kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

}  // namespace kestrune::sys

#include "sys/Errors.h"  // IWYU pragma: export
