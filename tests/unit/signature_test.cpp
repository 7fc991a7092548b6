#include <gtest/gtest.h>

#include <cctype>

#include "package/gfileinfo.h"
#include "package/signature.h"
#include "package_fixture.h"
#include "paths/utils.h"

using namespace pkgtest;

namespace {
struct B64Case {
  const char* text;
  bool ok;
  const char* bytes;
  size_t size;
};

TEST(Base64, DecodesOnlyCanonicalText) {
  const B64Case cases[] = {
      {"", true, "", 0},
      {"Zg==", true, "f", 1},
      {"Zm8=", true, "fo", 2},
      {"Zm9v", true, "foo", 3},
      {"AP8A", true, "\x00\xff\x00", 3},
      {"+/+/", true, "\xfb\xff\xbf", 3},
      {"Zm9", false, "", 0},      // not a multiple of four
      {"Zg=", false, "", 0},
      {"Z===", false, "", 0},     // three pads
      {"Zg=a", false, "", 0},     // data after a pad
      {"Zg==Zg==", false, "", 0}, // pad before the last group
      {"Zh==", false, "", 0},     // spare bits set: a second text for "f"
      {"Zm9=", false, "", 0},
      {"Zm9v\n", false, "", 0},   // no line ends inside the value
      {"Zm-v", false, "", 0},     // URL alphabet is not ours
      {"Zm 9", false, "", 0},
  };
  for (const B64Case& c : cases) {
    std::string out = "junk";
    EXPECT_EQ(Base64Decode(c.text, out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, std::string(c.bytes, c.size)) << c.text;
      EXPECT_EQ(Base64Encode(out), c.text);
    }
  }
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
  for (size_t n = 0; n < 70; ++n) {
    std::string bytes = RandomBytes(n, unsigned(n));
    std::string back;
    ASSERT_TRUE(Base64Decode(Base64Encode(bytes), back)) << n;
    EXPECT_EQ(back, bytes) << n;
  }
}

TEST(SignatureText, OneLineOfExactlyTheRightSize) {
  std::string sig = RandomBytes(64, 7), out;
  std::string line = Base64Encode(sig);
  EXPECT_TRUE(ParseSignatureText(line, out));
  EXPECT_EQ(out, sig);
  EXPECT_TRUE(ParseSignatureText("  " + line + "\r\n", out));  // as editors and servers leave it
  EXPECT_EQ(out, sig);
  EXPECT_FALSE(ParseSignatureText(Base64Encode(sig.substr(0, 63)), out));  // truncated
  EXPECT_FALSE(ParseSignatureText(Base64Encode(sig + "x"), out));          // too long
  EXPECT_FALSE(ParseSignatureText(line.substr(0, 40) + "\n" + line.substr(40), out));
  EXPECT_FALSE(ParseSignatureText(line + "\n" + line, out));
  EXPECT_FALSE(ParseSignatureText("", out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(ParsePublisherKey(Base64Encode(RandomBytes(64, 8)), out));
  EXPECT_FALSE(ParsePublisherKey(Base64Encode("\x04" + RandomBytes(64, 8)), out));  // 65-byte point form
}

TEST(Sha256Hex, SixtyFourDigitsEitherCase) {
  std::string digest = RandomBytes(32, 9), out;
  std::string hex = HexText(digest);
  ASSERT_EQ(hex.size(), 64u);
  EXPECT_TRUE(ParseSha256Hex(hex, out));
  EXPECT_EQ(out, digest);
  std::string upper = hex;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(ParseSha256Hex(" " + upper + " ", out));
  EXPECT_EQ(out, digest);
  EXPECT_FALSE(ParseSha256Hex(hex.substr(1), out));
  EXPECT_FALSE(ParseSha256Hex(hex + "0", out));
  EXPECT_FALSE(ParseSha256Hex("g" + hex.substr(1), out));
  EXPECT_FALSE(ParseSha256Hex(hex.substr(0, 32) + " " + hex.substr(33), out));
}

// A stand-in for the cryptography: valid exactly for one (key, data, signature).
struct FakeVerifier {
  std::string point = RandomBytes(64, 1), data = "[NewSetup]\r\nVersionNew=101\r\n", sig = RandomBytes(64, 2);
  CryptoCheck answer = CryptoCheck::Valid;
  static FakeVerifier* current;
  static CryptoCheck Verify(const std::string& p, const std::string& d, const std::string& s) {
    const FakeVerifier& f = *current;
    if (f.answer == CryptoCheck::Unavailable) return f.answer;
    return p == f.point && d == f.data && s == f.sig ? CryptoCheck::Valid : CryptoCheck::Invalid;
  }
};
FakeVerifier* FakeVerifier::current = nullptr;

TEST(InfoSignature, Verdicts) {
  FakeVerifier f;
  FakeVerifier::current = &f;
  std::string key = Base64Encode(f.point), sig = Base64Encode(f.sig) + "\n";
  std::string otherData = f.data;
  otherData[12] ^= 1;
  struct Case {
    const char* what;
    std::string key, data;
    bool fetched;
    std::string sigText;
    CryptoCheck crypto;
    InfoVerdict want;
  } cases[] = {
      {"no key: unsigned files pass", "", f.data, false, "", CryptoCheck::Valid, InfoVerdict::Unsigned},
      {"signed", key, f.data, true, sig, CryptoCheck::Valid, InfoVerdict::Valid},
      {"one byte of the INFO changed", key, otherData, true, sig, CryptoCheck::Valid, InfoVerdict::SignatureWrong},
      {"another key", Base64Encode(RandomBytes(64, 3)), f.data, true, sig, CryptoCheck::Valid,
       InfoVerdict::SignatureWrong},
      {"no signature file", key, f.data, false, "", CryptoCheck::Valid, InfoVerdict::SignatureMissing},
      {"empty signature file", key, f.data, true, "", CryptoCheck::Valid, InfoVerdict::SignatureMalformed},
      {"not base64", key, f.data, true, "not base64 at all!", CryptoCheck::Valid, InfoVerdict::SignatureMalformed},
      {"truncated", key, f.data, true, Base64Encode(f.sig.substr(0, 48)), CryptoCheck::Valid,
       InfoVerdict::SignatureMalformed},
      {"a server's error page", key, f.data, true, "<html>404</html>", CryptoCheck::Valid,
       InfoVerdict::SignatureMalformed},
      {"malformed key in the package", "abc", f.data, true, sig, CryptoCheck::Valid, InfoVerdict::KeyMalformed},
      {"no cryptography: fail closed", key, f.data, true, sig, CryptoCheck::Unavailable, InfoVerdict::Unavailable},
  };
  for (const Case& c : cases) {
    f.answer = c.crypto;
    InfoVerdict v = CheckInfoSignature(c.key, c.data, c.fetched, c.sigText, FakeVerifier::Verify);
    EXPECT_EQ(v, c.want) << c.what;
    EXPECT_EQ(InfoAccepted(v), c.want == InfoVerdict::Unsigned || c.want == InfoVerdict::Valid) << c.what;
  }
}

TEST(InfoSignature, EitherOfTwoKeysSigns) {
  FakeVerifier f;
  FakeVerifier::current = &f;
  std::string signer = Base64Encode(f.point), other = Base64Encode(RandomBytes(64, 4)), sig = Base64Encode(f.sig);
  struct Case {
    const char* what;
    std::string field;
    InfoVerdict want;
    int index;
  } cases[] = {
      {"current key signed", signer + "," + other, InfoVerdict::Valid, 0},
      {"next key signed", other + "," + signer, InfoVerdict::Valid, 1},
      {"neither", other + "," + Base64Encode(RandomBytes(64, 5)), InfoVerdict::SignatureWrong, -1},
      {"three keys", signer + "," + other + "," + other, InfoVerdict::KeyMalformed, -1},
      {"empty second key", signer + ",", InfoVerdict::KeyMalformed, -1},
      {"one malformed key spoils the field", signer + ",abc", InfoVerdict::KeyMalformed, -1},
  };
  for (const Case& c : cases) {
    int index = 7;
    EXPECT_EQ(CheckInfoSignature(c.field, f.data, true, sig, FakeVerifier::Verify, &index), c.want) << c.what;
    EXPECT_EQ(index, c.index) << c.what;
  }
  std::vector<std::string> points;
  ASSERT_TRUE(ParsePublisherKeys(signer + "," + other, points));
  EXPECT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0], f.point);
  EXPECT_NE(KeyFingerprint(points[0]), KeyFingerprint(points[1]));
  EXPECT_EQ(KeyFingerprint(points[0]).size(), 16u);
}

TEST(InfoTrust, AnUpdateKeepsTheSigningKeyAndMayRotate) {
  std::string k1 = Base64Encode(RandomBytes(64, 11)), k2 = Base64Encode(RandomBytes(64, 12)),
              k3 = Base64Encode(RandomBytes(64, 13));
  std::string p1, p2;
  Base64Decode(k1, p1);
  Base64Decode(k2, p2);
  const struct {
    const char* what;
    std::string agent, package, signer;
    bool ok;
  } cases[] = {
      {"the same key", k1, k1, p1, true},
      {"adds the next key", k1, k1 + "," + k2, p1, true},
      {"drops the old key, signed with the next", k1 + "," + k2, k2, p2, true},
      {"drops the key that signed", k1 + "," + k2, k2, p1, false},
      {"no key: an agent that takes anything", k1, "", p1, false},
      {"a foreign key", k1, k3, p1, false},
      {"malformed", k1, k1 + ",abc", p1, false},
      {"signer unknown: shares a key", k1 + "," + k2, k2 + "," + k3, "", true},
      {"signer unknown: shares none", k1, k3, "", false},
      {"an agent without keys requires nothing", "", "", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(UpdateKeepsKeys(c.agent, c.package, c.signer), c.ok) << c.what;
}

TEST(InfoTrust, SerialAndExpiryTexts) {
  struct Case {
    const char* text;
    bool serialOk;
    int64_t serial;
  } serials[] = {
      {"1765432100", true, 1765432100}, {" 7 \r\n", true, 7},   {"0", true, 0},
      {"999999999999999999", true, 999999999999999999}, {"1000000000000000000", false, 0},
      {"-5", false, 0}, {"12a", false, 0}, {"", false, 0}, {"0x10", false, 0}, {"1 2", false, 0},
  };
  for (const Case& c : serials) {
    int64_t v = -1;
    EXPECT_EQ(ParseInfoSerial(c.text, v), c.serialOk) << c.text;
    if (c.serialOk) {
      EXPECT_EQ(v, c.serial) << c.text;
    }
  }
  struct Day {
    const char* text;
    bool ok;
    int64_t day;
  } days[] = {
      {"1970-01-01", true, 0},     {"2026-12-11", true, 20798}, {" 2024-02-29 ", true, 19782},
      {"2023-02-29", false, 0},    {"2026-13-01", false, 0},    {"2026-04-31", false, 0},
      {"2026-1-05", false, 0},     {"26-12-11", false, 0},      {"1969-12-31", false, 0},
      {"2026/12/11", false, 0},    {"", false, 0},              {"2026-12-11T00:00", false, 0},
  };
  for (const Day& d : days) {
    int64_t v = -1;
    EXPECT_EQ(ParseInfoExpiry(d.text, v), d.ok) << d.text;
    if (d.ok) {
      EXPECT_EQ(v, d.day) << d.text;
    }
  }
  for (int64_t n : {int64_t(0), int64_t(59), int64_t(20798), int64_t(2932896)})
    EXPECT_EQ(DaysFromCivil(std::stoi(CivilText(n).substr(0, 4)), std::stoi(CivilText(n).substr(5, 2)),
                            std::stoi(CivilText(n).substr(8, 2))),
              n);
}

TEST(InfoTrust, FreshnessVerdicts) {
  const int64_t today = 20798;  // 2026-12-11
  struct Case {
    const char* what;
    bool signedInfo;
    const char* serial;
    const char* expires;
    bool recorded;
    int64_t recordedSerial;
    FreshVerdict want;
  } cases[] = {
      {"higher serial", true, "200", "", true, 100, FreshVerdict::Fresh},
      {"equal serial: the same file again", true, "100", "", true, 100, FreshVerdict::Fresh},
      {"lower serial: replayed", true, "99", "", true, 100, FreshVerdict::SerialLower},
      {"first serial ever", true, "5", "", false, 0, FreshVerdict::Fresh},
      {"no serial before any was recorded", true, "", "", false, 0, FreshVerdict::Fresh},
      {"no serial after one was recorded", true, "", "", true, 100, FreshVerdict::SerialMissing},
      {"malformed serial", true, "1e9", "", false, 0, FreshVerdict::SerialMalformed},
      {"expires in the future", true, "1", "2027-01-01", false, 0, FreshVerdict::Fresh},
      {"expires today: still good", true, "1", "2026-12-11", false, 0, FreshVerdict::Fresh},
      {"expired yesterday", true, "1", "2026-12-10", false, 0, FreshVerdict::Expired},
      {"malformed expiry", true, "1", "11.12.2026", false, 0, FreshVerdict::ExpiresMalformed},
      {"a replay is named before its age", true, "1", "2020-01-01", true, 2, FreshVerdict::SerialLower},
      {"unsigned: nothing to hold it to", false, "1", "2020-01-01", true, 2, FreshVerdict::Fresh},
  };
  for (const Case& c : cases) {
    FreshFacts f;
    f.signedInfo = c.signedInfo;
    f.serialText = c.serial;
    f.expiresText = c.expires;
    f.serialRecorded = c.recorded;
    f.recordedSerial = c.recordedSerial;
    f.todayUtc = today;
    FreshVerdict v = CheckInfoFreshness(f);
    EXPECT_EQ(v, c.want) << c.what;
    EXPECT_EQ(FreshAccepted(v), c.want == FreshVerdict::Fresh) << c.what;
  }
}

TEST(PublishedHash, Verdicts) {
  std::string digest = RandomBytes(32, 4), other = RandomBytes(32, 5);
  std::string hex = HexText(digest);
  struct Case {
    const char* what;
    bool key;
    std::string published;
    bool hashed;
    std::string digest;
    HashVerdict want;
  } cases[] = {
      {"no key, no hash: as before", false, "", false, "", HashVerdict::Unchecked},
      {"no key, hash matches", false, hex, true, digest, HashVerdict::Match},
      {"no key, damaged download", false, hex, true, other, HashVerdict::Mismatch},
      {"no key, malformed hash", false, hex.substr(2), true, digest, HashVerdict::Malformed},
      {"no key, no CNG: not checked", false, hex, false, "", HashVerdict::Unchecked},
      {"key, hash matches", true, hex, true, digest, HashVerdict::Match},
      {"key, swapped file", true, hex, true, other, HashVerdict::Mismatch},
      {"key, no published hash", true, "", true, digest, HashVerdict::Missing},
      {"key, blank published hash", true, "  ", true, digest, HashVerdict::Missing},
      {"key, no CNG: fail closed", true, hex, false, "", HashVerdict::Unavailable},
  };
  for (const Case& c : cases) {
    // The file is hashed whenever a key is pinned or a hash is published.
    EXPECT_EQ(HashNeeded(c.key, c.published), c.key || !c.published.empty()) << c.what;
    HashVerdict v = CheckPublishedHash(c.key, c.published, c.hashed, c.digest);
    EXPECT_EQ(v, c.want) << c.what;
    EXPECT_EQ(HashAccepted(v), c.want == HashVerdict::Unchecked || c.want == HashVerdict::Match) << c.what;
  }
}

TEST(SignatureFields, SixthHeaderFieldsAreOptional) {
  HookGuard guard;
  TempDir dir;
  PackagePlan plan;
  plan.stub = FakeStub();
  plan.updateUrl = "http://example.test/upd";
  plan.infoFileName = "Product.info";
  plan.agentExeName = "Agent.exe";
  plan.token = "PRODUCT-1";
  plan.hasWebSetup = true;
  plan.webFileName = "Real.exe";
  plan.webSize = "10";
  EXPECT_EQ(ListCount(BuildHeaderString(plan)), 5);
  EXPECT_EQ(ListCount(BuildWebSetupString(plan)), 5);
  ASSERT_EQ(WritePackage(plan, dir.Path("old.exe")).error, "");
  TGFileInfo old(dir.Path("old.exe"));
  EXPECT_EQ(old.UpdatePublicKey(), "");
  EXPECT_EQ(old.WebSha256(), "");

  plan.updatePublicKey = Base64Encode(RandomBytes(64, 6));
  plan.webSha256 = HexText(RandomBytes(32, 6));
  ASSERT_EQ(WritePackage(plan, dir.Path("new.exe")).error, "");
  TGFileInfo fi(dir.Path("new.exe"));
  EXPECT_EQ(fi.UpdatePublicKey(), plan.updatePublicKey);
  EXPECT_EQ(fi.WebSha256(), plan.webSha256);
  // Every field a five-field reader knows is where it was.
  EXPECT_EQ(fi.UpdateUrl(), "http://example.test/upd");
  EXPECT_EQ(fi.InfoFileName(), "Product.info");
  EXPECT_EQ(fi.AgentExeName(), "Agent.exe");
  EXPECT_EQ(fi.PackageToken(true), "PRODUCT-1");
  EXPECT_FALSE(fi.Silent());
  EXPECT_EQ(fi.WebFileName(), "Real.exe");
  EXPECT_EQ(fi.WebSize(), "10");
}
}  // namespace
