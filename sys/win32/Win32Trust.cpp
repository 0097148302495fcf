#include "sys/win32/Win32Trust.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

#include "sys/win32/AnsiText.h"
#include "sys/win32/SystemLibrary.h"

namespace kestrune::sys::win32 {

namespace {

// WinTrust and CryptoAPI, loaded from the system folder at the first
// verification, after the program has restricted where libraries come from;
// kept until the process ends.
struct Functions {
  SystemLibrary WinTrust{L"wintrust.dll"};
  SystemLibrary Crypt32{L"crypt32.dll"};
  decltype(&::WinVerifyTrust) VerifyTrust = WinTrust.Function<decltype(&::WinVerifyTrust)>("WinVerifyTrust");
  decltype(&::WTHelperProvDataFromStateData) ProvDataFromStateData =
      WinTrust.Function<decltype(&::WTHelperProvDataFromStateData)>("WTHelperProvDataFromStateData");
  decltype(&::WTHelperGetProvSignerFromChain) GetProvSignerFromChain =
      WinTrust.Function<decltype(&::WTHelperGetProvSignerFromChain)>("WTHelperGetProvSignerFromChain");
  decltype(&::WTHelperGetProvCertFromChain) GetProvCertFromChain =
      WinTrust.Function<decltype(&::WTHelperGetProvCertFromChain)>("WTHelperGetProvCertFromChain");
  decltype(&::CryptHashCertificate2) HashCertificate2 =
      Crypt32.Function<decltype(&::CryptHashCertificate2)>("CryptHashCertificate2");
  decltype(&::CertGetNameStringW) GetNameStringW =
      Crypt32.Function<decltype(&::CertGetNameStringW)>("CertGetNameStringW");

  bool Complete() const {
    return VerifyTrust != nullptr && ProvDataFromStateData != nullptr && GetProvSignerFromChain != nullptr &&
           GetProvCertFromChain != nullptr && HashCertificate2 != nullptr && GetNameStringW != nullptr;
  }
};

const Functions& Trust() {
  static const Functions functions;
  return functions;
}

std::string Utf8FromWide(const std::wstring& text) {
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
  }
  return narrow;
}

// The verification's state, kept for reading the signer and closed (a
// second WinVerifyTrust with WTD_STATEACTION_CLOSE) when the object goes.
class VerifiedState {
 public:
  VerifiedState(GUID action, WINTRUST_DATA& data) : Action(action), Data(data) {}
  ~VerifiedState() {
    if (Data.hWVTStateData != nullptr) {
      Data.dwStateAction = WTD_STATEACTION_CLOSE;
      Trust().VerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &Action, &Data);
    }
  }
  VerifiedState(const VerifiedState&) = delete;
  VerifiedState& operator=(const VerifiedState&) = delete;

 private:
  GUID Action;
  WINTRUST_DATA& Data;
};

void ReadSigner(HANDLE state, FileTrust* trust) {
  CRYPT_PROVIDER_DATA* provider = Trust().ProvDataFromStateData(state);
  CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? Trust().GetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* certificate = signer != nullptr ? Trust().GetProvCertFromChain(signer, 0) : nullptr;
  if (certificate == nullptr || certificate->pCert == nullptr) {
    return;
  }
  PCCERT_CONTEXT context = certificate->pCert;
  DWORD size = static_cast<DWORD>(trust->SignerThumbprint.size());
  if (!Trust().HashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, context->pbCertEncoded, context->cbCertEncoded,
                                trust->SignerThumbprint.data(), &size) ||
      size != trust->SignerThumbprint.size()) {
    trust->SignerThumbprint.fill(0);
    return;
  }
  const DWORD length = Trust().GetNameStringW(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  std::vector<wchar_t> name(length > 0 ? length : 1, L'\0');
  Trust().GetNameStringW(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                         static_cast<DWORD>(name.size()));
  trust->SignerName = Utf8FromWide(name.data());
  trust->HasSigner = true;
}

}  // namespace

FileTrust Win32Trust::VerifyFile(const std::string& path, Revocation revocation) {
  if (!Trust().Complete()) {
    return FileTrust{};  // nothing verified: refused as unsigned
  }
  const std::wstring widePath = WideFromAnsi(path);
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = widePath.c_str();

  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = revocation == Revocation::WholeChain ? WTD_REVOKE_WHOLECHAIN : WTD_REVOKE_NONE;
  data.dwProvFlags = revocation == Revocation::WholeChain ? WTD_REVOCATION_CHECK_CHAIN : WTD_REVOCATION_CHECK_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  FileTrust trust;
  const VerifiedState state(action, data);
  trust.Result = Trust().VerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (data.hWVTStateData != nullptr) {
    ReadSigner(data.hWVTStateData, &trust);
  }
  return trust;
}

}  // namespace kestrune::sys::win32
