#include "install/SignerList.h"

#include <gtest/gtest.h>

#include "sim/os/FakeTrust.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

constexpr const char* kTool = "C:\\Setup\\ROM\\Flash.exe";
// 32 bytes of 0xAB, as a certificate tool prints them.
const std::string kThumbprintAb =
    "AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB:AB";

// The same without colons, in lower case.
const std::string kLowerAb = [] {
  std::string digits;
  for (int i = 0; i < 32; ++i) digits += "ab";
  return digits;
}();

struct VerifyCase {
  const char* name;
  std::string signers;  // the build's value
  sys::FileTrust tool;  // what WinVerifyTrust answers for the tool
  bool verified;        // the tool may start
  bool asksTheSystem;   // WinVerifyTrust is called
};

class SignerListCases : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(SignerListCases, ToolStartsOnlyWhenSignedByAListedSigner) {
  const VerifyCase& c = GetParam();
  sim::FakeTrust trust;
  trust.Files[kTool] = c.tool;
  sys::ScopedSeam<sys::ITrust> seam(trust);
  const SignerList list(c.signers, sys::Revocation::WholeChain);
  EXPECT_EQ(list.Verify(kTool), c.verified);
  ASSERT_EQ(trust.Calls.size(), c.asksTheSystem ? 1u : 0u);
  if (c.asksTheSystem) {
    EXPECT_EQ(trust.Calls[0].Path, kTool);
    EXPECT_EQ(trust.Calls[0].Revocation, sys::Revocation::WholeChain);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Signers, SignerListCases,
    ::testing::Values(
        // A build that names no signer starts what it found, as before.
        VerifyCase{"NoSignerNamed", "", sys::FileTrust{}, true, false},
        VerifyCase{"OnlySeparators", " ; ;", sys::FileTrust{}, true, false},
        VerifyCase{"ListedByName", "Velnor Co., Ltd.", sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB), true, true},
        VerifyCase{"ListedByThumbprint", kThumbprintAb, sim::FakeTrust::SignedBy("Anyone", 0xAB), true, true},
        VerifyCase{"ThumbprintInLowerCaseWithoutColons", kLowerAb, sim::FakeTrust::SignedBy("Anyone", 0xAB), true,
                   true},
        VerifyCase{"SecondOfTwoEntries", "Someone Else ; Velnor Co., Ltd.",
                   sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0x01), true, true},
        VerifyCase{"Unsigned", "Velnor Co., Ltd.", sys::FileTrust{}, false, true},
        VerifyCase{"ChangedAfterSigning", "Velnor Co., Ltd.",
                   sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB, sys::kTrustEBadDigest), false, true},
        // What Wine does not check: a chain to a root that the machine does
        // not trust, a revoked or expired certificate, an explicitly
        // distrusted one. The signer's name alone never makes up for it.
        VerifyCase{"UntrustedRoot", "Velnor Co., Ltd.",
                   sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB, sys::kCertEUntrustedRoot), false, true},
        VerifyCase{"Revoked", kThumbprintAb, sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB, sys::kCertERevoked),
                   false, true},
        VerifyCase{"Expired", kThumbprintAb, sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB, sys::kCertEExpired),
                   false, true},
        VerifyCase{"Distrusted", kThumbprintAb,
                   sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB, sys::kTrustEExplicitDistrust), false, true},
        VerifyCase{"RevocationUnknown", kThumbprintAb,
                   sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB, sys::kCertERevocationFailure), false, true},
        // Trusted, but by another maker.
        VerifyCase{"ForeignSigner", "Velnor Co., Ltd.", sim::FakeTrust::SignedBy("Other Maker Inc.", 0xCD), false,
                   true},
        VerifyCase{"NameDiffersInCase", "Velnor Co., Ltd.", sim::FakeTrust::SignedBy("VELNOR CO., LTD.", 0xAB), false,
                   true},
        VerifyCase{"ThumbprintOfAnother", kThumbprintAb, sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAC), false,
                   true},
        // 63 digits are no thumbprint but a name that no certificate has.
        VerifyCase{"ShortThumbprint", kThumbprintAb.substr(1), sim::FakeTrust::SignedBy("Velnor Co., Ltd.", 0xAB),
                   false, true}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(SignerListTest, RevocationAsTheBuildConfigures) {
  sim::FakeTrust trust;
  trust.Files[kTool] = sim::FakeTrust::SignedBy("Velnor", 0xAB);
  sys::ScopedSeam<sys::ITrust> seam(trust);
  EXPECT_TRUE(SignerList("Velnor", sys::Revocation::None).Verify(kTool));
  ASSERT_EQ(trust.Calls.size(), 1u);
  EXPECT_EQ(trust.Calls[0].Revocation, sys::Revocation::None);
}

}  // namespace
}  // namespace kestrune
