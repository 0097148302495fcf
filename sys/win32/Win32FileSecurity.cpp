#include "sys/win32/Win32FileSecurity.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "sys/UniqueAny.h"
#include "sys/win32/AnsiText.h"

namespace kestrune::sys::win32 {

namespace {

void FreeLocal(HLOCAL memory) { ::LocalFree(memory); }
using UniqueLocal = UniqueAny<HLOCAL, nullptr, FreeLocal>;
void CloseToken(HANDLE token) { ::CloseHandle(token); }
using UniqueToken = UniqueAny<HANDLE, nullptr, CloseToken>;

std::string SidText(PSID sid) {
  LPSTR text = nullptr;
  if (sid == nullptr || !::ConvertSidToStringSidA(sid, &text)) {
    return {};
  }
  const UniqueLocal owner(text);
  return text;
}

AccessEntry EntryOf(const ACE_HEADER* header) {
  AccessEntry entry;
  entry.Flags = header->AceFlags;
  if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
    // Both types share one layout: header, mask, then the SID.
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    entry.Type = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? AccessEntry::Kind::Allow : AccessEntry::Kind::Deny;
    entry.Mask = ace->Mask;
    entry.Sid = SidText(const_cast<DWORD*>(&ace->SidStart));
  } else {
    // Another type: its mask follows the header in every ACE layout; its
    // trustee is not read, so it counts as anyone's.
    entry.Type = AccessEntry::Kind::Other;
    entry.Mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
  }
  return entry;
}

}  // namespace

Dword Win32FileSecurity::ReadFileSecurity(const std::string& path, FileSecurity* security) {
  std::wstring wide = WideFromAnsi(path);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error =
      ::GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor);
  const UniqueLocal held(descriptor);
  if (error != ERROR_SUCCESS) {
    return error;
  }
  *security = FileSecurity{};
  security->OwnerSid = SidText(owner);
  security->HasAccessList = dacl != nullptr;
  if (dacl != nullptr) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace)) {
        return ::GetLastError();
      }
      security->Entries.push_back(EntryOf(static_cast<const ACE_HEADER*>(ace)));
    }
  }
  return 0;
}

std::string Win32FileSecurity::ProcessUserSid() {
  UniqueToken token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) {
    return {};
  }
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

}  // namespace kestrune::sys::win32
