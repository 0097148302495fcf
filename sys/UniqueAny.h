// The one owner of every handle: a move-only object that holds a handle and
// closes it when it goes. It is parameterised by the handle's type, its
// invalid value and its close call, so that each owner is one line:
//
//   using UniqueFileHandle = UniqueAny<FileHandle, kInvalidHandleValue, CloseFileHandle>;
//
// For a handle that is a record rather than a number or a pointer (a
// VARIANT), the invalid value is a predicate that tells an empty record; the
// empty record is then the value-initialised one.
//
// Get     the handle, still owned
// Put     closes the handle and hands out its slot, for a call that returns a new one
// Reset   closes the handle and takes another (or none)
// Release gives the handle up without closing it
// Valid   whether a handle is held
#pragma once

#include <type_traits>
#include <utility>

namespace kestrune::sys {

template <class Handle, auto Invalid, auto Close>
class UniqueAny {
  static constexpr bool kInvalidIsPredicate = std::is_invocable_r_v<bool, decltype(Invalid), const Handle&>;

 public:
  UniqueAny() = default;
  explicit UniqueAny(Handle handle) : handle_(handle) {}
  ~UniqueAny() { Reset(); }
  UniqueAny(UniqueAny&& other) noexcept : handle_(other.Release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  static Handle InvalidValue() {
    if constexpr (kInvalidIsPredicate) {
      return Handle{};
    } else {
      return Handle(Invalid);
    }
  }

  Handle Get() const { return handle_; }
  Handle* Put() {
    Reset();
    return &handle_;
  }
  void Reset(Handle handle = InvalidValue()) {
    if (Valid()) {
      Close(handle_);
    }
    handle_ = handle;
  }
  Handle Release() { return std::exchange(handle_, InvalidValue()); }
  bool Valid() const {
    if constexpr (kInvalidIsPredicate) {
      return !Invalid(handle_);
    } else {
      return handle_ != Handle(Invalid);
    }
  }
  // For owners of interface pointers.
  Handle operator->() const requires std::is_pointer_v<Handle> { return handle_; }

 private:
  Handle handle_ = InvalidValue();
};

}  // namespace kestrune::sys
