// Owners for COM resources in the adapters: interface pointers, BSTRs,
// VARIANTs and SAFEARRAYs, each released when its owner goes.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <string>
#include <utility>

#include "sys/UniqueAny.h"

namespace kestrune::sys::win32 {

using sys::UniqueAny;

// A BSTR's text. It ends at the first NUL: some WMI providers allocate
// their strings longer than the text they hold.
inline std::u16string BstrText(BSTR bstr) {
  if (bstr == nullptr) {
    return {};
  }
  std::u16string text(reinterpret_cast<const char16_t*>(bstr), ::SysStringLen(bstr));
  text.resize(std::min(text.size(), text.find(u'\0')));
  return text;
}

template <class Interface>
void ReleaseInterface(Interface* pointer) {
  pointer->Release();
}

inline bool IsEmptyVariant(const VARIANT& variant) { return variant.vt == VT_EMPTY; }

inline void ClearVariant(VARIANT& variant) { ::VariantClear(&variant); }

// An interface pointer, released when the owner goes.
template <class Interface>
using ComPtr = UniqueAny<Interface*, nullptr, ReleaseInterface<Interface>>;

using UniqueBstr = UniqueAny<BSTR, nullptr, ::SysFreeString>;

// A VARIANT, cleared when the owner goes; Get() hands it to calls that take
// it by value, Put() to calls that fill one in.
using UniqueVariant = UniqueAny<VARIANT, IsEmptyVariant, ClearVariant>;

using UniqueSafeArray = UniqueAny<SAFEARRAY*, nullptr, ::SafeArrayDestroy>;

// A new BSTR holding text.
inline UniqueBstr MakeBstr(const std::u16string& text) {
  return UniqueBstr(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())));
}

// A VT_BSTR VARIANT holding text.
inline UniqueVariant MakeTextVariant(const std::u16string& text) {
  VARIANT variant{};
  variant.vt = VT_BSTR;
  variant.bstrVal = MakeBstr(text).Release();
  return UniqueVariant(variant);
}

}  // namespace kestrune::sys::win32
