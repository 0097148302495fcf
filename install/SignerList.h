// The signers a build trusts for a program it starts (the BIOS flash tool;
// the same check serves any other program with its own list): certificate
// names or SHA-256 thumbprints, from a build-time value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sys/Trust.h"

namespace kestrune {

class SignerList {
 public:
  // entries: separated by ";". An entry of 64 hexadecimal digits (in any
  // case; ":" and blanks between them are dropped, as certificate tools
  // print them) is a thumbprint, any other a signer's name, compared
  // exactly with the certificate's simple display name. Blanks around an
  // entry and empty entries are dropped.
  SignerList(const std::string& entries, sys::Revocation revocation);
  // Names no signer.
  SignerList() : RevocationCheck(sys::Revocation::None) {}

  // No signer named: the program is started unchecked, as before signers
  // could be named.
  bool Empty() const { return Names.empty() && Thumbprints.empty(); }
  // Whether the program at path may be started: without a look at the file
  // when the list is empty; otherwise WinVerifyTrust must answer success
  // and the signer must be on the list.
  bool Verify(const std::string& path) const;
  // The signer of a verified file is on the list.
  bool IsListed(const sys::FileTrust& trust) const;

 private:
  std::vector<std::string> Names;
  std::vector<std::array<std::uint8_t, 32>> Thumbprints;
  sys::Revocation RevocationCheck;
};

}  // namespace kestrune
