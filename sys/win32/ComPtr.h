// Owners of COM references and of the BSTR and VARIANT arguments passed to
// COM methods.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <utility>

namespace kestrune::sys::win32 {

// One reference to a COM object, released when the owner goes.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // Releases the current reference and receives a new one.
  T** Receive() {
    Reset();
    return &ptr_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (ptr_ != nullptr) {
      ptr_->Release();
      ptr_ = nullptr;
    }
  }

 private:
  T* ptr_ = nullptr;
};

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is wchar_t on Windows");

// A BSTR owned for the length of a call; null when made from no text.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(const std::u16string& text)
      : bstr_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
  ~UniqueBstr() { ::SysFreeString(bstr_); }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  BSTR Get() const { return bstr_; }
  // Gives up ownership (for a VARIANT that takes it over).
  BSTR Release() { return std::exchange(bstr_, nullptr); }

 private:
  BSTR bstr_ = nullptr;
};

// A VARIANT cleared when the owner goes.
class UniqueVariant {
 public:
  UniqueVariant() { ::VariantInit(&variant_); }
  ~UniqueVariant() { ::VariantClear(&variant_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  VARIANT& Get() { return variant_; }
  void SetText(const std::u16string& text) {
    ::VariantClear(&variant_);
    variant_.vt = VT_BSTR;
    variant_.bstrVal = UniqueBstr(text).Release();
  }

 private:
  VARIANT variant_;
};

}  // namespace kestrune::sys::win32
