// The publisher's cryptography: key pairs, signatures and SHA-256. The native
// packer uses OpenSSL's libcrypto, the Windows packer the system's CNG; both
// write the same key and signature formats.
#pragma once
#include <string>

#include "package/signature.h"

// privatePem: the private key file's text; point: the 64-byte public point.
bool MakeKeyPair(std::string& privatePem, std::string& point, std::string& error);
// Signs data (ECDSA P-256 over SHA-256); signature = r || s. point gets the
// key's public point, so that callers can show which key signed.
bool SignWithKey(const std::string& privatePem, const std::string& data, std::string& signature, std::string& point,
                 std::string& error);
CryptoCheck VerifyWithKey(const std::string& point, const std::string& data, const std::string& signature);
bool Sha256OfFile(const std::string& path, std::string& digest, std::string& error);
// Writes a new file readable by its owner only; refuses to replace one.
bool WriteSecretFile(const std::string& path, const std::string& text, std::string& error);
