// The agent's decisions over hostile INFO values and the signature formats:
// the offer status, the size test, the dialog texts, the download name an
// INFO file may ask for, and the key, signature and hash texts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fields.h"
#include "package/signature.h"
#include "paths/utils.h"
#include "update/audecide.h"

namespace {
void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_decide: %s\n", what);
  std::abort();
}

int64_t Number(const std::string& text) { return StrToInt64Def(text, 0); }

// A stand-in for the cryptography: valid only for one fixed signature.
CryptoCheck Verify(const std::string& point, const std::string&, const std::string& signature) {
  return point.size() == 64 && signature == std::string(64, 'S') ? CryptoCheck::Valid : CryptoCheck::Invalid;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFields in(data, size, 4);
  const std::string& a = in.Text(0);
  const std::string& b = in.Text(1);
  const std::string& c = in.Text(2);
  const std::string& d = in.Text(3);

  ShotFacts shot;
  shot.probingEnabled = in.Byte(0) & 1;
  shot.forceRequest = in.Byte(0) & 2;
  shot.testMode = in.Byte(0) & 4;
  shot.probeInterval = Number(a);
  shot.probeLast = Number(b);
  shot.now = Number(c);
  int s = ShotTimeStatus(shot);
  Check(s >= 0 && s <= 2, "shot status range");
  if (shot.forceRequest) Check(s == 1, "a forced check is due");

  OfferFacts offer;
  offer.infoDownloaded = in.Byte(1) & 1;
  offer.reAskDue = in.Byte(1) & 2;
  offer.userRequested = in.Byte(1) & 4;
  offer.sizeOk = in.Byte(1) & 8;
  offer.versionOriginal = int32_t(Number(a));
  offer.versionNew = int32_t(Number(b));
  offer.newStamp = int32_t(in.Byte(2));
  offer.originalStamp = int32_t(in.Byte(3));
  offer.validVersions = d;
  int status = OfferStatus(offer);
  Check(status >= 0 && status <= 6, "offer status range");
  Check(!OfferReason(status).empty(), "every status has a reason");
  if (status == 6) Check(offer.versionNew > offer.versionOriginal && offer.versionOriginal > 0, "offer only newer");

  int64_t actual = Number(a), expected = Number(b);
  if (actual < 0) Check(!SizeTestHolds(actual, expected), "an unknown size never passes");

  AgentFileNames own{"Agent.exe", "Product.info", "Product.original", "X_Agent.log"};
  std::string name = SafeDownloadName(a, own);
  if (!name.empty()) {
    Check(name.find_first_of("\\/:*?\"<>|") == std::string::npos, "download name is a plain name");
    Check(name != "." && name != "..", "download name is no folder");
    Check(!SameText(name, "Agent.exe") && !SameText(name, "X_Agent.exe"), "download name is not the agent");
  }
  AskBeforeCheckText(a, b, c, d, in.Byte(0) & 8, b);
  AnnouncementText({a, b, c, d, a}, in.Byte(2) & 1, in.Byte(2) & 2, c);
  DownloadFailureText(in.Byte(2) & 4, a, b, c, d);
  ParseShutDownMethod(a);
  RestartAgentCommandLine(a, b, c);

  // Signature formats.
  std::string bytes, point, signature, digest;
  if (Base64Decode(a, bytes)) Check(Base64Encode(bytes) == a, "base64 reads back");
  if (ParsePublisherKey(b, point)) Check(point.size() == 64, "key is a 64-byte point");
  if (ParseSignatureText(c, signature)) Check(signature.size() == 64, "signature is r||s");
  if (ParseSha256Hex(d, digest)) Check(digest.size() == 32 && HexText(digest).size() == 64, "hash is 32 bytes");
  InfoVerdict v = CheckInfoSignature(b, d, in.Byte(3) & 1, c, Verify);
  if (b.empty()) Check(v == InfoVerdict::Unsigned, "no key: unsigned");
  if (!b.empty() && InfoAccepted(v)) Check(v == InfoVerdict::Valid, "a pinned key needs a valid signature");
  HashVerdict h = CheckPublishedHash(in.Byte(3) & 2, d, in.Byte(3) & 4, digest);
  if ((in.Byte(3) & 2) && HashAccepted(h)) Check(h == HashVerdict::Match, "a pinned key needs the matching hash");
  return 0;
}
