#pragma once

#include "sys/Wmi.h"

struct tagVARIANT;

namespace kestrune::sys::win32 {

// The content of a VARIANT as the adapter hands it on: arrays whose bounds
// an index loop cannot walk come out without elements.
Variant FromVariant(const tagVARIANT& variant);

class Win32Wmi : public IWmi {
 public:
  HResult CreateWbemLocator(Dword clsContext, std::unique_ptr<WbemLocator>* locator) override;
  Dword GetThreadLocale() override;
  HResult VariantChangeTypeEx(Variant* value, Dword lcid, std::uint16_t flags, VarType type) override;
};

}  // namespace kestrune::sys::win32
