// Publisher signatures: the text forms that tie a download to the key its
// publisher pinned in the package (base64 key and signature lines, SHA-256
// hex texts) and the rules that decide whether a downloaded file may be used.
// The cryptography itself is the system's (cng_win) or, in the tools,
// OpenSSL's; it is handed in, so that the rules are tested with either.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kP256PointSize = 64;      // X || Y, big-endian
constexpr size_t kP256SignatureSize = 64;  // r || s, big-endian
constexpr size_t kSha256Size = 32;

// Standard base64 with padding; decoding refuses anything else (other
// characters, missing or misplaced padding, non-zero spare bits).
std::string Base64Encode(const std::string& bytes);
bool Base64Decode(const std::string& text, std::string& bytes);

// A one-line text (surrounding blanks and line ends allowed) holding base64
// of exactly `size` bytes.
bool ParseBase64Line(const std::string& text, size_t size, std::string& bytes);
inline bool ParsePublisherKey(const std::string& text, std::string& point) {
  return ParseBase64Line(text, kP256PointSize, point);
}
inline bool ParseSignatureText(const std::string& text, std::string& signature) {
  return ParseBase64Line(text, kP256SignatureSize, signature);
}

// 64 hex digits (either case, surrounding blanks allowed) to the 32 bytes.
bool ParseSha256Hex(const std::string& text, std::string& digest);
std::string HexText(const std::string& bytes);  // lower case

// The detached signature of the INFO file lies beside it under this name.
inline std::string SignatureFileName(const std::string& infoName) { return infoName + ".sig"; }

enum class CryptoCheck { Valid, Invalid, Unavailable };
using P256Verifier = CryptoCheck (*)(const std::string& point, const std::string& data, const std::string& signature);

// ---- the INFO file ----
enum class InfoVerdict {
  Unsigned,            // no key pinned: the file is used as it is
  Valid,               // signed with the pinned key
  KeyMalformed,        // the pinned key field is not a 64-byte point
  SignatureMissing,    // no signature file could be fetched
  SignatureMalformed,  // not one line of base64 of 64 bytes
  SignatureWrong,      // does not verify over these bytes with this key
  Unavailable,         // no cryptography on this system: fail closed
};
// keyField: the package's key field ("" = none). signatureText: the fetched
// signature file, when signatureFetched.
InfoVerdict CheckInfoSignature(const std::string& keyField, const std::string& infoBytes, bool signatureFetched,
                               const std::string& signatureText, const P256Verifier& verify);
inline bool InfoAccepted(InfoVerdict v) { return v == InfoVerdict::Unsigned || v == InfoVerdict::Valid; }
const char* InfoVerdictText(InfoVerdict v);

// ---- update and inform files ----
enum class HashVerdict {
  Unchecked,    // no key and no published hash (or no way to hash without a key)
  Match,
  Missing,      // a key is pinned but the INFO file publishes no hash
  Malformed,    // the published hash is not 64 hex digits
  Mismatch,
  Unavailable,  // a key is pinned but the file could not be hashed
};
// published: the INFO value ("" when the key is absent). digest: the file's
// SHA-256 when hashed is true.
HashVerdict CheckPublishedHash(bool keyPinned, const std::string& published, bool hashed, const std::string& digest);
// Whether the file has to be hashed at all.
inline bool HashNeeded(bool keyPinned, const std::string& published) {
  return keyPinned || published.find_first_not_of(" \t\r\n") != std::string::npos;
}
inline bool HashAccepted(HashVerdict v) { return v == HashVerdict::Unchecked || v == HashVerdict::Match; }
const char* HashVerdictText(HashVerdict v);
