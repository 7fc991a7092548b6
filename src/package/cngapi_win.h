// The CNG functions bound at run time, shared by the checks (cng_win.cpp)
// and the publisher's signing (cngsign_win.cpp).
#pragma once
#include <windows.h>
#include <bcrypt.h>

#include <string>

struct CngApi {
  using OpenFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
  using CloseFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
  using CreateHashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
  using HashDataFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  using FinishHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  using DestroyHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
  using ImportKeyPairFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE*, PUCHAR,
                                            ULONG, ULONG);
  using VerifyFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
  using DestroyKeyFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE);
  using GenerateKeyPairFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE*, ULONG, ULONG);
  using FinalizeKeyPairFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, ULONG);
  using ExportKeyFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG);
  using SignHashFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG*, ULONG);

  OpenFn open;
  CloseFn close;
  CreateHashFn createHash;
  HashDataFn hashData;
  FinishHashFn finishHash;
  DestroyHashFn destroyHash;
  ImportKeyPairFn importKeyPair;
  VerifyFn verify;
  DestroyKeyFn destroyKey;
  GenerateKeyPairFn generateKeyPair;
  FinalizeKeyPairFn finalizeKeyPair;
  ExportKeyFn exportKey;
  SignHashFn signHash;
  bool verifyReady;  // hashing and verification
  bool signReady;    // also key generation and signing
};
const CngApi& Cng();

// Handles that close themselves.
struct CngAlgorithm {
  explicit CngAlgorithm(const wchar_t* id);
  ~CngAlgorithm();
  CngAlgorithm(const CngAlgorithm&) = delete;
  CngAlgorithm& operator=(const CngAlgorithm&) = delete;
  BCRYPT_ALG_HANDLE handle = nullptr;
};
struct CngKey {
  CngKey() = default;
  ~CngKey();
  CngKey(const CngKey&) = delete;
  CngKey& operator=(const CngKey&) = delete;
  BCRYPT_KEY_HANDLE handle = nullptr;
};

// SHA-256 fed in pieces.
class CngHash {
 public:
  CngHash();
  ~CngHash();
  CngHash(const CngHash&) = delete;
  CngHash& operator=(const CngHash&) = delete;
  bool Add(const char* p, size_t n);
  bool Finish(std::string& digest);  // once

 private:
  CngAlgorithm alg_;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
  bool ok_ = false;
};
// BCRYPT_ECCPUBLIC_BLOB of a 64-byte point.
std::string P256PublicBlob(const std::string& point);
