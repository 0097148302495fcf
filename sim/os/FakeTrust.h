// Authenticode signatures in memory: what WinVerifyTrust answers for each
// file, by path. A file that is not listed does not exist
// (TRUST_E_NOSIGNATURE with no signer, as WinVerifyTrust answers for a file
// it cannot open as a signed one). Records each call.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/Trust.h"

namespace kestrune::sim {

class FakeTrust : public sys::ITrust {
 public:
  explicit FakeTrust(EventLog* log = nullptr) : Log(log) {}

  sys::FileTrust VerifyFile(const std::string& path, sys::Revocation revocation) override {
    Calls.push_back({path, revocation});
    if (Log != nullptr) {
      Log->Add("verify " + path);
    }
    const auto file = Files.find(path);
    return file != Files.end() ? file->second : sys::FileTrust{};
  }

  // A file signed by a certificate of that name and thumbprint, with
  // WinVerifyTrust's answer (0: the hash matches and the chain is trusted).
  static sys::FileTrust SignedBy(std::string name, std::uint8_t thumbprintByte, sys::Long result = 0) {
    sys::FileTrust trust;
    trust.Result = result;
    trust.HasSigner = true;
    trust.SignerName = std::move(name);
    trust.SignerThumbprint.fill(thumbprintByte);
    return trust;
  }

  struct Call {
    std::string Path;
    sys::Revocation Revocation;
  };
  std::map<std::string, sys::FileTrust> Files;
  std::vector<Call> Calls;

 private:
  EventLog* Log;
};

}  // namespace kestrune::sim
