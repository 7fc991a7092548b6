// The publisher's private key file: PEM of an ECDSA P-256 key, as OpenSSL
// writes it (PKCS#8 "PRIVATE KEY", or the older "EC PRIVATE KEY"). The
// Windows packer reads and writes it itself; the native packer leaves the
// file format to OpenSSL.
#pragma once
#include <string>

// PKCS#8 PEM of the 32-byte scalar d and its 64-byte public point.
std::string EncodeP256PrivateKeyPem(const std::string& d, const std::string& point);
// Either PEM form of a P-256 key that carries its public point.
bool DecodeP256PrivateKeyPem(const std::string& pem, std::string& d, std::string& point, std::string& error);
