// Publisher signatures: the text forms that tie a download to the key its
// publisher pinned in the package (base64 key and signature lines, SHA-256
// hex texts) and the rules that decide whether a downloaded file may be used.
// The cryptography itself is the system's (cng_win) or, in the tools,
// OpenSSL's; it is handed in, so that the rules are tested with either.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// The package's key field: one key, or two separated by a comma (the current
// key and the next one, so that a publisher can move to a new key without
// stranding installed agents). False for none, more than two or any
// malformed one.
constexpr size_t kMaxPublisherKeys = 2;
bool ParsePublisherKeys(const std::string& field, std::vector<std::string>& points);
// A short stable name of a key (hex of the first 8 bytes of its point): the
// ORIGINAL file keeps the highest serial seen per key under it.
std::string KeyFingerprint(const std::string& point);

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
// signature file, when signatureFetched. With Valid, *keyIndex (when given)
// tells which key of the field signed.
InfoVerdict CheckInfoSignature(const std::string& keyField, const std::string& infoBytes, bool signatureFetched,
                               const std::string& signatureText, const P256Verifier& verify,
                               int* keyIndex = nullptr);
inline bool InfoAccepted(InfoVerdict v) { return v == InfoVerdict::Unsigned || v == InfoVerdict::Valid; }
const char* InfoVerdictText(InfoVerdict v);

// What a keyed agent requires of the key field of an update package (the
// agent copy the update writes is cut from it): well-formed, and holding the
// key that signed the release (signerPoint; when unknown, "" = any of the
// agent's keys). The package may add the next key or drop the old one: that
// is how keys rotate. An agent without keys requires nothing.
bool UpdateKeepsKeys(const std::string& agentKeyField, const std::string& packageKeyField,
                     const std::string& signerPoint);

// ---- roll-back and freeze: the serial and the expiry of a signed INFO file ----
// Written by the publisher's tool into section General before signing.
constexpr char kInfoTrustSection[] = "General";
constexpr char kInfoSerialKey[] = "Serial";
constexpr char kInfoExpiresKey[] = "Expires";
// Decimal digits only (blanks around allowed), at most 18 of them.
bool ParseInfoSerial(const std::string& text, int64_t& serial);
// "YYYY-MM-DD" (blanks around allowed), a real date of years 1970..9999, as
// days since 1 January 1970.
bool ParseInfoExpiry(const std::string& text, int64_t& day);
// Days since 1 January 1970 of a date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, int month, int day);
// "YYYY-MM-DD" of such a day number.
std::string CivilText(int64_t day);

enum class FreshVerdict {
  Fresh,             // nothing against it (or not signed: nothing to hold it to)
  SerialMalformed,
  SerialMissing,     // this key has given a serial before, this file has none
  SerialLower,       // an older INFO file replayed: a roll-back
  ExpiresMalformed,
  Expired,           // past its last day: a frozen view of the releases
};
struct FreshFacts {
  bool signedInfo = false;        // accepted by its signature (not Unsigned)
  std::string serialText;         // General Serial ("" when absent)
  std::string expiresText;        // General Expires ("" when absent)
  bool serialRecorded = false;    // the agent has recorded a serial for the signing key
  int64_t recordedSerial = 0;
  int64_t todayUtc = 0;           // days since 1970 (UTC)
};
// An equal serial is the same INFO file fetched again and passes.
FreshVerdict CheckInfoFreshness(const FreshFacts& f);
inline bool FreshAccepted(FreshVerdict v) { return v == FreshVerdict::Fresh; }
const char* FreshVerdictText(FreshVerdict v);

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
