#include "package/cng_win.h"

#include <windows.h>
// Types and constants only: every function is bound at run time.
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "package/cngapi_win.h"
#include "paths/utils_win.h"

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

bool Sha256Pieces(const std::function<bool(const std::function<bool(const char*, size_t)>&)>& feed,
                  std::string& digest) {
  digest.clear();
  CngAlgorithm alg(BCRYPT_SHA256_ALGORITHM);
  if (!alg.handle) return false;
  BCRYPT_HASH_HANDLE h = nullptr;
  if (!Ok(Cng().createHash(alg.handle, &h, nullptr, 0, nullptr, 0, 0))) return false;
  bool ok = feed([&](const char* p, size_t n) {
    return Ok(Cng().hashData(h, reinterpret_cast<PUCHAR>(const_cast<char*>(p)), ULONG(n), 0));
  });
  unsigned char out[kSha256Size];
  ok = ok && Ok(Cng().finishHash(h, out, sizeof out, 0));
  Cng().destroyHash(h);
  if (ok) digest.assign(reinterpret_cast<char*>(out), sizeof out);
  return ok;
}

bool CngSha256(const std::string& bytes, std::string& digest) {
  return Sha256Pieces([&](const std::function<bool(const char*, size_t)>& put) { return put(bytes.data(), bytes.size()); },
                      digest);
}

bool CngSha256File(const std::string& path, std::string& digest, std::string& error) {
  digest.clear();
  if (!CngAvailable()) {
    error = "no CNG on this system";
    return false;
  }
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path + ": " + LastErrorText();
    return false;
  }
  bool readOk = true;
  bool ok = Sha256Pieces(
      [&](const std::function<bool(const char*, size_t)>& put) {
        std::vector<char> buf(65536);
        for (;;) {
          DWORD got = 0;
          if (!ReadFile(f, buf.data(), DWORD(buf.size()), &got, nullptr)) return readOk = false;
          if (got == 0) return true;
          if (!put(buf.data(), got)) return false;
        }
      },
      digest);
  CloseHandle(f);
  if (!ok) error = readOk ? "SHA-256 failed" : "cannot read " + path + ": " + LastErrorText();
  return ok;
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
