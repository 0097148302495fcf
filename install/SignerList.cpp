#include "install/SignerList.h"

#include <algorithm>
#include <optional>

#include "sys/Seam.h"

namespace kestrune {

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::array<std::uint8_t, 32>> Thumbprint(const std::string& entry) {
  std::string digits;
  for (const char c : entry) {
    if (c != ':' && c != ' ') {
      digits.push_back(c);
    }
  }
  std::array<std::uint8_t, 32> bytes{};
  if (digits.size() != bytes.size() * 2) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(digits[2 * i]);
    const int low = HexDigit(digits[2 * i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return bytes;
}

}  // namespace

SignerList::SignerList(const std::string& entries, sys::Revocation revocation) : RevocationCheck(revocation) {
  std::size_t start = 0;
  while (start <= entries.size()) {
    const std::size_t end = std::min(entries.find(';', start), entries.size());
    const std::string entry = Trimmed(entries.substr(start, end - start));
    if (!entry.empty()) {
      if (const auto thumbprint = Thumbprint(entry)) {
        Thumbprints.push_back(*thumbprint);
      } else {
        Names.push_back(entry);
      }
    }
    start = end + 1;
  }
}

bool SignerList::IsListed(const sys::FileTrust& trust) const {
  if (!trust.HasSigner) {
    return false;
  }
  return std::find(Thumbprints.begin(), Thumbprints.end(), trust.SignerThumbprint) != Thumbprints.end() ||
         std::find(Names.begin(), Names.end(), trust.SignerName) != Names.end();
}

bool SignerList::Verify(const std::string& path) const {
  if (Empty()) {
    return true;
  }
  const sys::FileTrust trust = sys::Use<sys::ITrust>().VerifyFile(path, RevocationCheck);
  return trust.Result == 0 && IsListed(trust);
}

}  // namespace kestrune
