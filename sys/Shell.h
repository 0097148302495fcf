// Windows shell automation through COM: the Shell.Application object, its
// folder objects and their item collections.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sys/Com.h"
#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

// A COM interface pointer; 0 is null.
using ComObject = std::uintptr_t;
using Guid = std::array<std::uint8_t, 16>;  // in memory order

// {13709620-C279-11CE-A49E-444553540000}
inline constexpr Guid kClsidShell = {0x20, 0x96, 0x70, 0x13, 0x79, 0xC2, 0xCE, 0x11,
                                     0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};
// {D8F015C0-C278-11CE-A49E-444553540000}
inline constexpr Guid kIidIShellDispatch = {0xC0, 0x15, 0xF0, 0xD8, 0x78, 0xC2, 0xCE, 0x11,
                                            0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};

// FOF_SILENT, FOF_NOCONFIRMATION, FOF_NOCONFIRMMKDIR, FOF_NOERRORUI.
inline constexpr std::int32_t kFofSilent = 0x4;
inline constexpr std::int32_t kFofNoConfirmation = 0x10;
inline constexpr std::int32_t kFofNoConfirmMkdir = 0x200;
inline constexpr std::int32_t kFofNoErrorUi = 0x400;

class IShell {
 public:
  virtual ~IShell() = default;
  // CoCreateInstance without an outer object; the object answers to iid.
  virtual HResult CoCreateInstance(const Guid& clsid, Dword context, const Guid& iid, ComObject* object) = 0;
  // IShellDispatch::NameSpace with a VT_BSTR VARIANT holding path; *folder
  // is 0 when the shell has no folder for it (S_FALSE).
  virtual HResult NameSpace(ComObject shellDispatch, const std::u16string& path, ComObject* folder) = 0;
  // Folder::Items.
  virtual HResult Items(ComObject folder, ComObject* items) = 0;
  // Folder::CopyHere with a VT_DISPATCH VARIANT of the items and a VT_I4
  // VARIANT of the options.
  virtual HResult CopyHere(ComObject folder, ComObject items, std::int32_t options) = 0;
  // IUnknown::Release.
  virtual void Release(ComObject object) = 0;
};

inline void ReleaseComObject(ComObject object) { Use<IShell>().Release(object); }

// A COM reference, released when the object goes.
using UniqueComObject = UniqueAny<ComObject, ComObject{0}, ReleaseComObject>;

}  // namespace kestrune::sys
