// Authenticode signatures of files: WinVerifyTrust with the generic verify
// action (WINTRUST_ACTION_GENERIC_VERIFY_V2), and the certificate of the
// signature's signer as the verification found it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sys/WinTypes.h"

namespace kestrune::sys {

// WinVerifyTrust's answers that the program and its fakes meet.
inline constexpr Long kTrustENoSignature = static_cast<Long>(0x800B0100u);
inline constexpr Long kTrustESubjectNotTrusted = static_cast<Long>(0x800B0004u);
inline constexpr Long kTrustEBadDigest = static_cast<Long>(0x80096010u);
inline constexpr Long kCertEExpired = static_cast<Long>(0x800B0101u);
inline constexpr Long kCertEUntrustedRoot = static_cast<Long>(0x800B0109u);
inline constexpr Long kCertERevoked = static_cast<Long>(0x800B010Cu);
inline constexpr Long kCertERevocationFailure = static_cast<Long>(0x800B010Eu);
inline constexpr Long kTrustEExplicitDistrust = static_cast<Long>(0x800B0111u);

// fdwRevocationChecks: WTD_REVOKE_NONE, or WTD_REVOKE_WHOLECHAIN (every
// certificate of the chain, with WTD_REVOCATION_CHECK_CHAIN).
enum class Revocation { None, WholeChain };

struct FileTrust {
  // WinVerifyTrust's answer: 0 when the file's hash matches its signature
  // and the signer's chain ends in a trusted root (and, as asked, none of
  // its certificates is revoked).
  Long Result = kTrustENoSignature;
  // The first signer's certificate, when the verification got as far as
  // reading it (also for an answer other than 0).
  bool HasSigner = false;
  // CertGetNameStringW with CERT_NAME_SIMPLE_DISPLAY_TYPE (the subject's
  // common name, or its first other name part), as UTF-8.
  std::string SignerName;
  // SHA-256 of the certificate's encoded bytes.
  std::array<std::uint8_t, 32> SignerThumbprint{};
};

class ITrust {
 public:
  virtual ~ITrust() = default;
  // Verifies the file at path (8-bit text in the ANSI code page): no user
  // interface (WTD_UI_NONE), the whole chain, revocation as asked.
  virtual FileTrust VerifyFile(const std::string& path, Revocation revocation) = 0;
};

}  // namespace kestrune::sys
