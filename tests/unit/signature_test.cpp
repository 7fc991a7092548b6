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
