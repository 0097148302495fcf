// Owners for COM resources in the adapters: interface pointers, BSTRs,
// VARIANTs and SAFEARRAYs, each released when its owner goes.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <string>
#include <utility>

namespace kestrune::sys::win32 {

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
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For a call that hands out a new reference.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  void Reset() {
    if (pointer_ != nullptr) {
      std::exchange(pointer_, nullptr)->Release();
    }
  }

 private:
  Interface* pointer_ = nullptr;
};

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(const std::u16string& text)
      : bstr_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
  ~UniqueBstr() { ::SysFreeString(bstr_); }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;

  BSTR Get() const { return bstr_; }
  BSTR* Receive() {
    ::SysFreeString(std::exchange(bstr_, nullptr));
    return &bstr_;
  }
  std::u16string Text() const { return BstrText(bstr_); }
  // Gives up ownership (to a VARIANT that takes it over).
  BSTR Release() { return std::exchange(bstr_, nullptr); }

 private:
  BSTR bstr_ = nullptr;
};

class UniqueVariant {
 public:
  UniqueVariant() { ::VariantInit(&variant_); }
  ~UniqueVariant() { ::VariantClear(&variant_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* Get() { return &variant_; }
  const VARIANT& operator*() const { return variant_; }
  void SetText(const std::u16string& text) {
    ::VariantClear(&variant_);
    variant_.vt = VT_BSTR;
    variant_.bstrVal = UniqueBstr(text).Release();
  }

 private:
  VARIANT variant_;
};

class UniqueSafeArray {
 public:
  UniqueSafeArray() = default;
  ~UniqueSafeArray() {
    if (array_ != nullptr) {
      ::SafeArrayDestroy(array_);
    }
  }
  UniqueSafeArray(const UniqueSafeArray&) = delete;
  UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;

  SAFEARRAY* Get() const { return array_; }
  SAFEARRAY** Receive() { return &array_; }

 private:
  SAFEARRAY* array_ = nullptr;
};

}  // namespace kestrune::sys::win32
