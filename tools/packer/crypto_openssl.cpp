// The native packer's cryptography over OpenSSL's libcrypto.
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "crypto.h"
#include "package/pkgfile.h"

namespace {
template <typename T, void (*F)(T*)>
struct Free {
  void operator()(T* p) const { F(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY, EVP_PKEY_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Free<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Free<BIO, BIO_free_all>>;
using Sig = std::unique_ptr<ECDSA_SIG, Free<ECDSA_SIG, ECDSA_SIG_free>>;
using Bn = std::unique_ptr<BIGNUM, Free<BIGNUM, BN_free>>;

std::string OpenSslError(const std::string& what) {
  unsigned long e = ERR_get_error();
  char buf[256] = "";
  if (e) ERR_error_string_n(e, buf, sizeof buf);
  ERR_clear_error();
  return what + (e ? std::string(": ") + buf : std::string());
}

bool IsP256(EVP_PKEY* k) {
  char group[64] = "";
  size_t n = 0;
  return EVP_PKEY_is_a(k, "EC") && EVP_PKEY_get_utf8_string_param(k, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &n) &&
         std::strcmp(group, "prime256v1") == 0;
}

// X || Y of an EC key.
bool PointOf(EVP_PKEY* k, std::string& point) {
  unsigned char buf[65];
  size_t n = 0;
  if (!EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, buf, sizeof buf, &n) || n != 65 || buf[0] != 4)
    return false;
  point.assign(reinterpret_cast<char*>(buf + 1), 64);
  return true;
}

Pkey PublicKeyOf(const std::string& point) {
  std::string encoded = "\x04" + point;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded.data(), encoded.size()),
      OSSL_PARAM_construct_end()};
  std::unique_ptr<EVP_PKEY_CTX, Free<EVP_PKEY_CTX, EVP_PKEY_CTX_free>> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* k = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
      EVP_PKEY_fromdata(ctx.get(), &k, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
    ERR_clear_error();
    return nullptr;
  }
  return Pkey(k);
}
}  // namespace

bool MakeKeyPair(std::string& privatePem, std::string& point, std::string& error) {
  Pkey k(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!k || !PointOf(k.get(), point)) {
    error = OpenSslError("cannot create a P-256 key");
    return false;
  }
  Bio mem(BIO_new(BIO_s_mem()));
  if (!mem || !PEM_write_bio_PrivateKey(mem.get(), k.get(), nullptr, nullptr, 0, nullptr, nullptr)) {
    error = OpenSslError("cannot write the private key");
    return false;
  }
  char* p = nullptr;
  long n = BIO_get_mem_data(mem.get(), &p);
  privatePem.assign(p, size_t(n));
  return true;
}

bool SignWithKey(const std::string& privatePem, const std::string& data, std::string& signature, std::string& point,
                 std::string& error) {
  Bio in(BIO_new_mem_buf(privatePem.data(), int(privatePem.size())));
  Pkey k(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!k) {
    error = OpenSslError("not an unencrypted PEM private key");
    return false;
  }
  if (!IsP256(k.get()) || !PointOf(k.get(), point)) {
    error = "not an ECDSA P-256 key";
    return false;
  }
  MdCtx ctx(EVP_MD_CTX_new());
  size_t n = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, k.get()) <= 0 ||
      EVP_DigestSign(ctx.get(), nullptr, &n, reinterpret_cast<const unsigned char*>(data.data()), data.size()) <= 0) {
    error = OpenSslError("cannot sign");
    return false;
  }
  std::string der(n, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(der.data()), &n,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) <= 0) {
    error = OpenSslError("cannot sign");
    return false;
  }
  // The DER signature becomes the fixed-size r || s that CNG uses.
  const unsigned char* q = reinterpret_cast<const unsigned char*>(der.data());
  Sig sig(d2i_ECDSA_SIG(nullptr, &q, long(n)));
  unsigned char rs[64];
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs, 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs + 32, 32) != 32) {
    error = OpenSslError("cannot convert the signature");
    return false;
  }
  signature.assign(reinterpret_cast<char*>(rs), 64);
  return true;
}

CryptoCheck VerifyWithKey(const std::string& point, const std::string& data, const std::string& signature) {
  if (point.size() != kP256PointSize || signature.size() != kP256SignatureSize) return CryptoCheck::Invalid;
  Pkey k = PublicKeyOf(point);
  if (!k) return CryptoCheck::Invalid;
  const unsigned char* rs = reinterpret_cast<const unsigned char*>(signature.data());
  Sig sig(ECDSA_SIG_new());
  Bn r(BN_bin2bn(rs, 32, nullptr)), s(BN_bin2bn(rs + 32, 32, nullptr));
  if (!sig || !r || !s || !ECDSA_SIG_set0(sig.get(), r.get(), s.get())) return CryptoCheck::Invalid;
  r.release();
  s.release();
  unsigned char* der = nullptr;
  int len = i2d_ECDSA_SIG(sig.get(), &der);
  if (len <= 0) return CryptoCheck::Invalid;
  MdCtx ctx(EVP_MD_CTX_new());
  int ok = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, k.get()) > 0
               ? EVP_DigestVerify(ctx.get(), der, size_t(len), reinterpret_cast<const unsigned char*>(data.data()),
                                  data.size())
               : -1;
  OPENSSL_free(der);
  ERR_clear_error();
  return ok == 1 ? CryptoCheck::Valid : CryptoCheck::Invalid;
}

bool Sha256OfFile(const std::string& path, std::string& digest, std::string& error) {
  std::FILE* f = OpenSharedRead(path);
  if (!f) {
    error = "cannot read " + path;
    return false;
  }
  MdCtx ctx(EVP_MD_CTX_new());
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) > 0;
  char buf[65536];
  size_t n;
  while (ok && (n = std::fread(buf, 1, sizeof buf, f)) > 0) ok = EVP_DigestUpdate(ctx.get(), buf, n) > 0;
  ok = ok && !std::ferror(f);
  std::fclose(f);
  unsigned char out[32];
  unsigned int len = 0;
  if (!ok || EVP_DigestFinal_ex(ctx.get(), out, &len) <= 0 || len != 32) {
    error = "cannot hash " + path;
    return false;
  }
  digest.assign(reinterpret_cast<char*>(out), 32);
  return true;
}

bool WriteSecretFile(const std::string& path, const std::string& text, std::string& error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = ::fchmod(fd, 0600) == 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    error = "cannot write " + path;
    ::unlink(path.c_str());
  }
  return ok;
}
