#include "package/cng_win.h"

#include <windows.h>
// Types and constants only: every function is bound at run time.
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "package/cngapi_win.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"

namespace {
bool Ok(NTSTATUS s) { return s >= 0; }
}  // namespace

const CngApi& Cng() {
  static CngApi api = [] {
    CngApi a{};
    HMODULE lib = LoadSystemLibrary("bcrypt.dll");
    if (reinterpret_cast<uintptr_t>(lib) <= 32) return a;
    a.open = BindFunction<CngApi::OpenFn>(lib, "BCryptOpenAlgorithmProvider");
    a.close = BindFunction<CngApi::CloseFn>(lib, "BCryptCloseAlgorithmProvider");
    a.createHash = BindFunction<CngApi::CreateHashFn>(lib, "BCryptCreateHash");
    a.hashData = BindFunction<CngApi::HashDataFn>(lib, "BCryptHashData");
    a.finishHash = BindFunction<CngApi::FinishHashFn>(lib, "BCryptFinishHash");
    a.destroyHash = BindFunction<CngApi::DestroyHashFn>(lib, "BCryptDestroyHash");
    a.importKeyPair = BindFunction<CngApi::ImportKeyPairFn>(lib, "BCryptImportKeyPair");
    a.verify = BindFunction<CngApi::VerifyFn>(lib, "BCryptVerifySignature");
    a.destroyKey = BindFunction<CngApi::DestroyKeyFn>(lib, "BCryptDestroyKey");
    a.generateKeyPair = BindFunction<CngApi::GenerateKeyPairFn>(lib, "BCryptGenerateKeyPair");
    a.finalizeKeyPair = BindFunction<CngApi::FinalizeKeyPairFn>(lib, "BCryptFinalizeKeyPair");
    a.exportKey = BindFunction<CngApi::ExportKeyFn>(lib, "BCryptExportKey");
    a.signHash = BindFunction<CngApi::SignHashFn>(lib, "BCryptSignHash");
    a.verifyReady = a.open && a.close && a.createHash && a.hashData && a.finishHash && a.destroyHash &&
                    a.importKeyPair && a.verify && a.destroyKey;
    a.signReady = a.verifyReady && a.generateKeyPair && a.finalizeKeyPair && a.exportKey && a.signHash;
    return a;
  }();
  return api;
}

CngAlgorithm::CngAlgorithm(const wchar_t* id) {
  if (Cng().verifyReady && !Ok(Cng().open(&handle, id, nullptr, 0))) handle = nullptr;
}
CngAlgorithm::~CngAlgorithm() {
  if (handle) Cng().close(handle, 0);
}
CngKey::~CngKey() {
  if (handle) Cng().destroyKey(handle);
}

bool CngAvailable() { return Cng().verifyReady; }

CngHash::CngHash() : alg_(BCRYPT_SHA256_ALGORITHM) {
  ok_ = alg_.handle && Ok(Cng().createHash(alg_.handle, &hash_, nullptr, 0, nullptr, 0, 0));
  if (!ok_) hash_ = nullptr;
}
CngHash::~CngHash() {
  if (hash_) Cng().destroyHash(hash_);
}
bool CngHash::Add(const char* p, size_t n) {
  ok_ = ok_ && Ok(Cng().hashData(hash_, reinterpret_cast<PUCHAR>(const_cast<char*>(p)), ULONG(n), 0));
  return ok_;
}
bool CngHash::Finish(std::string& digest) {
  unsigned char out[kSha256Size];
  ok_ = ok_ && Ok(Cng().finishHash(hash_, out, sizeof out, 0));
  digest = ok_ ? std::string(reinterpret_cast<char*>(out), sizeof out) : std::string();
  return ok_;
}

bool CngSha256(const std::string& bytes, std::string& digest) {
  CngHash h;
  return h.Add(bytes.data(), bytes.size()) && h.Finish(digest);
}

bool CngSha256File(const std::string& path, std::string& digest, std::string& error) {
  digest.clear();
  CngHash h;
  if (!h.Add("", 0)) {
    error = "no CNG on this system";
    return false;
  }
  HANDLE f = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path + ": " + LastErrorText();
    return false;
  }
  std::vector<char> buf(65536);
  bool readOk = true, ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(f, buf.data(), DWORD(buf.size()), &got, nullptr)) {
      readOk = false;
      break;
    }
    if (got == 0 || !(ok = h.Add(buf.data(), got))) break;
  }
  if (!readOk) error = "cannot read " + path + ": " + LastErrorText();
  CloseHandle(f);
  if (!readOk) return false;
  if (!ok || !h.Finish(digest)) {
    error = "SHA-256 failed";
    return false;
  }
  return true;
}

CryptoCheck CngVerifyP256(const std::string& point, const std::string& data, const std::string& signature) {
  if (!CngAvailable()) return CryptoCheck::Unavailable;
  if (point.size() != kP256PointSize || signature.size() != kP256SignatureSize) return CryptoCheck::Invalid;
  std::string digest;
  if (!CngSha256(data, digest)) return CryptoCheck::Unavailable;
  CngAlgorithm alg(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!alg.handle) return CryptoCheck::Unavailable;
  std::string blob = P256PublicBlob(point);
  CngKey key;
  if (!Ok(Cng().importKeyPair(alg.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key.handle,
                              reinterpret_cast<PUCHAR>(blob.data()), ULONG(blob.size()), 0))) {
    // A point that is not on the curve verifies nothing.
    key.handle = nullptr;
    return CryptoCheck::Invalid;
  }
  std::string sig = signature;
  NTSTATUS s = Cng().verify(key.handle, nullptr, reinterpret_cast<PUCHAR>(digest.data()), ULONG(digest.size()),
                            reinterpret_cast<PUCHAR>(sig.data()), ULONG(sig.size()), 0);
  return Ok(s) ? CryptoCheck::Valid : CryptoCheck::Invalid;
}

std::string P256PublicBlob(const std::string& point) {
  BCRYPT_ECCKEY_BLOB head{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  return std::string(reinterpret_cast<const char*>(&head), sizeof head) + point;
}
