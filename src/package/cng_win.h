// SHA-256 and ECDSA P-256 verification through the system's CNG (bcrypt.dll,
// loaded from the system folder on first use). Systems without it (before
// Vista) report Unavailable, and callers that need a check fail closed.
#pragma once
#include <string>

#include "package/signature.h"

// True when bcrypt.dll offers everything the checks below need.
bool CngAvailable();
// SHA-256 of bytes or of a whole file; false when CNG is missing or the file
// cannot be read (error says which).
bool CngSha256(const std::string& bytes, std::string& digest);
bool CngSha256File(const std::string& path, std::string& digest, std::string& error);
// ECDSA P-256 over SHA-256 of data: point = X || Y, signature = r || s.
CryptoCheck CngVerifyP256(const std::string& point, const std::string& data, const std::string& signature);

// ---- publisher side (the Windows packer): key generation and signing ----
// d = the 32-byte private scalar. False with a reason when CNG cannot do it.
bool CngGenerateP256(std::string& d, std::string& point, std::string& error);
bool CngSignP256(const std::string& d, const std::string& point, const std::string& data, std::string& signature,
                 std::string& error);
