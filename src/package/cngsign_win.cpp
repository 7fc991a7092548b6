// Key generation and signing for the publisher's tools; the agent and the
// web stub never link this part.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "package/cng_win.h"
#include "package/cngapi_win.h"

namespace {
bool Ok(NTSTATUS s) { return s >= 0; }
constexpr ULONG kBlobHead = sizeof(BCRYPT_ECCKEY_BLOB);

bool Refuse(std::string& error) {
  error = "this system's CNG (bcrypt.dll) cannot create or use ECDSA P-256 keys";
  return false;
}
}  // namespace

bool CngGenerateP256(std::string& d, std::string& point, std::string& error) {
  d.clear();
  point.clear();
  if (!Cng().signReady) return Refuse(error);
  CngAlgorithm alg(BCRYPT_ECDSA_P256_ALGORITHM);
  CngKey key;
  if (!alg.handle || !Ok(Cng().generateKeyPair(alg.handle, &key.handle, 256, 0))) {
    key.handle = nullptr;
    return Refuse(error);
  }
  unsigned char blob[kBlobHead + 96];
  ULONG n = 0;
  if (!Ok(Cng().finalizeKeyPair(key.handle, 0)) ||
      !Ok(Cng().exportKey(key.handle, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob, &n, 0)) ||
      n != sizeof blob)
    return Refuse(error);
  point.assign(reinterpret_cast<char*>(blob + kBlobHead), 64);
  d.assign(reinterpret_cast<char*>(blob + kBlobHead + 64), 32);
  SecureZeroMemory(blob, sizeof blob);
  return true;
}

bool CngSignP256(const std::string& d, const std::string& point, const std::string& data, std::string& signature,
                 std::string& error) {
  signature.clear();
  if (!Cng().signReady) return Refuse(error);
  if (d.size() != 32 || point.size() != kP256PointSize) {
    error = "malformed private key";
    return false;
  }
  std::string digest;
  if (!CngSha256(data, digest)) return Refuse(error);
  CngAlgorithm alg(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!alg.handle) return Refuse(error);
  BCRYPT_ECCKEY_BLOB head{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  std::string blob = std::string(reinterpret_cast<const char*>(&head), sizeof head) + point + d;
  CngKey key;
  NTSTATUS s = Cng().importKeyPair(alg.handle, nullptr, BCRYPT_ECCPRIVATE_BLOB, &key.handle,
                                   reinterpret_cast<PUCHAR>(blob.data()), ULONG(blob.size()), 0);
  SecureZeroMemory(blob.data(), blob.size());
  if (!Ok(s)) {
    key.handle = nullptr;
    error = "the private key does not match its public point";
    return false;
  }
  unsigned char sig[kP256SignatureSize];
  ULONG n = 0;
  if (!Ok(Cng().signHash(key.handle, nullptr, reinterpret_cast<PUCHAR>(digest.data()), ULONG(digest.size()), sig,
                         sizeof sig, &n, 0)) ||
      n != sizeof sig)
    return Refuse(error);
  signature.assign(reinterpret_cast<char*>(sig), sizeof sig);
  return true;
}
