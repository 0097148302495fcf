#include "sys/win32/Win32SetupDi.h"

#include <windows.h>

#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace kestrune::sys::win32 {

namespace {

GUID ToGuid(const DeviceClassGuid& guid) {
  GUID native{};
  native.Data1 = guid.Data1;
  native.Data2 = guid.Data2;
  native.Data3 = guid.Data3;
  std::memcpy(native.Data4, guid.Data4, sizeof native.Data4);
  return native;
}

DeviceClassGuid FromGuid(const GUID& native) {
  DeviceClassGuid guid;
  guid.Data1 = native.Data1;
  guid.Data2 = native.Data2;
  guid.Data3 = native.Data3;
  std::memcpy(guid.Data4, native.Data4, sizeof guid.Data4);
  return guid;
}

HDEVINFO ToSet(DevInfoSet set) { return reinterpret_cast<HDEVINFO>(set); }

SP_DEVICE_INTERFACE_DATA ToInterfaceData(const DeviceInterfaceData& data) {
  SP_DEVICE_INTERFACE_DATA native{};
  native.cbSize = sizeof native;
  native.InterfaceClassGuid = ToGuid(data.InterfaceClassGuid);
  native.Flags = data.Flags;
  native.Reserved = data.Reserved;
  return native;
}

struct FreeDetail {
  void operator()(SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail) const { ::operator delete(detail); }
};

}  // namespace

DevInfoSet Win32SetupDi::SetupDiGetClassDevsA(const DeviceClassGuid& classGuid, Dword flags) {
  const GUID guid = ToGuid(classGuid);
  const HDEVINFO set = ::SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
  return set == INVALID_HANDLE_VALUE ? kInvalidDevInfoSet : reinterpret_cast<DevInfoSet>(set);
}

bool Win32SetupDi::SetupDiEnumDeviceInterfaces(DevInfoSet set, const DeviceClassGuid& interfaceClassGuid,
                                               Dword memberIndex, DeviceInterfaceData* data) {
  const GUID guid = ToGuid(interfaceClassGuid);
  SP_DEVICE_INTERFACE_DATA native{};
  native.cbSize = sizeof native;
  if (!::SetupDiEnumDeviceInterfaces(ToSet(set), nullptr, &guid, memberIndex, &native)) {
    return false;
  }
  data->InterfaceClassGuid = FromGuid(native.InterfaceClassGuid);
  data->Flags = native.Flags;
  data->Reserved = native.Reserved;
  return true;
}

bool Win32SetupDi::SetupDiGetDeviceInterfaceDetailA(DevInfoSet set, const DeviceInterfaceData& data,
                                                    std::string* devicePath, Dword detailSize, Dword* requiredSize) {
  SP_DEVICE_INTERFACE_DATA native = ToInterfaceData(data);
  DWORD required = 0;
  if (devicePath == nullptr) {
    const BOOL ok = ::SetupDiGetDeviceInterfaceDetailA(ToSet(set), &native, nullptr, 0, &required, nullptr);
    if (requiredSize != nullptr) {
      *requiredSize = required;
    }
    return ok != FALSE;
  }
  if (detailSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::unique_ptr<SP_DEVICE_INTERFACE_DETAIL_DATA_A, FreeDetail> detail(
      static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(::operator new(detailSize, std::nothrow)));
  if (!detail) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  std::memset(detail.get(), 0, detailSize);
  // The size of the fixed part: 5 on 32-bit Windows, 8 on 64-bit.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!::SetupDiGetDeviceInterfaceDetailA(ToSet(set), &native, detail.get(), detailSize, &required, nullptr)) {
    return false;
  }
  if (requiredSize != nullptr) {
    *requiredSize = required;
  }
  // The path ends at its terminator or at the end of the record.
  const std::size_t capacity = detailSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const char* path = detail->DevicePath;
  devicePath->assign(path, strnlen(path, capacity));
  return true;
}

bool Win32SetupDi::SetupDiDestroyDeviceInfoList(DevInfoSet set) {
  return ::SetupDiDestroyDeviceInfoList(ToSet(set)) != FALSE;
}

Dword Win32SetupDi::GetLastError() { return ::GetLastError(); }

}  // namespace kestrune::sys::win32
