#include "package/signature.h"


namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Only blanks and line ends around the value; nothing inside it.
std::string TrimBlanks(const std::string& s) {
  const char* ws = " \t\r\n";
  size_t a = s.find_first_not_of(ws);
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(ws) - a + 1);
}
}  // namespace

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int pad = 0;
    uint32_t v = 0;
    for (int j = 0; j < 4; ++j) {
      char c = text[i + j];
      if (c == '=') {
        // Padding only in the last group, only at its end, at most two.
        if (!last || j < 2) return false;
        ++pad;
        v <<= 6;
        continue;
      }
      int s = Sextet(c);
      if (s < 0 || pad) return false;
      v = (v << 6) | uint32_t(s);
    }
    // The bits that padding leaves over must be zero, so that every byte
    // string has exactly one accepted text.
    if ((pad == 1 && (v & 0xFF)) || (pad == 2 && (v & 0xFFFF))) return false;
    bytes += char(v >> 16);
    if (pad < 2) bytes += char((v >> 8) & 0xFF);
    if (pad < 1) bytes += char(v & 0xFF);
  }
  return true;
}

bool ParseBase64Line(const std::string& text, size_t size, std::string& bytes) {
  bytes.clear();
  std::string decoded;
  if (!Base64Decode(TrimBlanks(text), decoded) || decoded.size() != size) return false;
  bytes = decoded;
  return true;
}

bool ParseSha256Hex(const std::string& text, std::string& digest) {
  digest.clear();
  std::string t = TrimBlanks(text);
  if (t.size() != 2 * kSha256Size) return false;
  std::string out;
  for (size_t i = 0; i < t.size(); i += 2) {
    int hi = HexDigit(t[i]), lo = HexDigit(t[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += char(hi << 4 | lo);
  }
  digest = out;
  return true;
}

std::string HexText(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

bool ParsePublisherKeys(const std::string& field, std::vector<std::string>& points) {
  points.clear();
  std::vector<std::string> found;
  size_t start = 0;
  for (;;) {
    size_t comma = field.find(',', start);
    std::string point;
    if (!ParsePublisherKey(field.substr(start, comma == std::string::npos ? std::string::npos : comma - start),
                           point))
      return false;
    found.push_back(point);
    if (found.size() > kMaxPublisherKeys) return false;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  points = found;
  return true;
}

std::string KeyFingerprint(const std::string& point) { return HexText(point.substr(0, 8)); }

InfoVerdict CheckInfoSignature(const std::string& keyField, const std::string& infoBytes, bool signatureFetched,
                               const std::string& signatureText, const P256Verifier& verify, int* keyIndex) {
  if (keyIndex) *keyIndex = -1;
  if (keyField.empty()) return InfoVerdict::Unsigned;
  std::vector<std::string> points;
  std::string signature;
  if (!ParsePublisherKeys(keyField, points)) return InfoVerdict::KeyMalformed;
  if (!signatureFetched) return InfoVerdict::SignatureMissing;
  if (!ParseSignatureText(signatureText, signature)) return InfoVerdict::SignatureMalformed;
  bool unavailable = false;
  for (size_t i = 0; i < points.size(); ++i) {
    CryptoCheck c = verify(points[i], infoBytes, signature);
    if (c == CryptoCheck::Valid) {
      if (keyIndex) *keyIndex = int(i);
      return InfoVerdict::Valid;
    }
    if (c != CryptoCheck::Invalid) unavailable = true;
  }
  return unavailable ? InfoVerdict::Unavailable : InfoVerdict::SignatureWrong;
}

bool UpdateKeepsKeys(const std::string& agentKeyField, const std::string& packageKeyField,
                     const std::string& signerPoint) {
  if (agentKeyField.empty()) return true;
  std::vector<std::string> agent, package;
  if (!ParsePublisherKeys(packageKeyField, package)) return false;
  if (!signerPoint.empty()) {
    for (const std::string& p : package)
      if (p == signerPoint) return true;
    return false;
  }
  if (!ParsePublisherKeys(agentKeyField, agent)) return false;
  for (const std::string& p : package)
    for (const std::string& a : agent)
      if (p == a) return true;
  return false;
}

namespace {
bool AllDigits(const std::string& t) {
  if (t.empty()) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  return true;
}
}  // namespace

bool ParseInfoSerial(const std::string& text, int64_t& serial) {
  std::string t = TrimBlanks(text);
  if (!AllDigits(t) || t.size() > 18) return false;
  serial = 0;
  for (char c : t) serial = serial * 10 + (c - '0');
  return true;
}

int64_t DaysFromCivil(int64_t y, int m, int d) {
  // Counted from 1 March of year 0, so that the leap day ends a year.
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string CivilText(int64_t z) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  // By hand: a formatting library would cost the stub more than this function.
  auto digits = [](int64_t v, size_t width) {
    std::string t;
    for (; v > 0; v /= 10) t.insert(t.begin(), char('0' + v % 10));
    return t.size() < width ? std::string(width - t.size(), '0') + t : t;
  };
  return digits(y, 4) + "-" + digits(m, 2) + "-" + digits(d, 2);
}

bool ParseInfoExpiry(const std::string& text, int64_t& day) {
  std::string t = TrimBlanks(text);
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
  std::string ys = t.substr(0, 4), ms = t.substr(5, 2), ds = t.substr(8, 2);
  if (!AllDigits(ys) || !AllDigits(ms) || !AllDigits(ds)) return false;
  auto number = [](const std::string& t) {
    int v = 0;
    for (char c : t) v = v * 10 + (c - '0');
    return v;
  };
  int y = number(ys), m = number(ms), d = number(ds);
  if (y < 1970 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  int64_t n = DaysFromCivil(y, m, d);
  // 31 February and the like come back as another date.
  if (CivilText(n) != t) return false;
  day = n;
  return true;
}

FreshVerdict CheckInfoFreshness(const FreshFacts& f) {
  if (!f.signedInfo) return FreshVerdict::Fresh;
  if (!TrimBlanks(f.serialText).empty()) {
    int64_t serial = 0;
    if (!ParseInfoSerial(f.serialText, serial)) return FreshVerdict::SerialMalformed;
    if (f.serialRecorded && serial < f.recordedSerial) return FreshVerdict::SerialLower;
  } else if (f.serialRecorded) {
    return FreshVerdict::SerialMissing;
  }
  if (!TrimBlanks(f.expiresText).empty()) {
    int64_t last = 0;
    if (!ParseInfoExpiry(f.expiresText, last)) return FreshVerdict::ExpiresMalformed;
    if (f.todayUtc > last) return FreshVerdict::Expired;
  }
  return FreshVerdict::Fresh;
}

const char* FreshVerdictText(FreshVerdict v) {
  switch (v) {
    case FreshVerdict::Fresh:
      return "serial and expiry hold";
    case FreshVerdict::SerialMalformed:
      return "serial malformed";
    case FreshVerdict::SerialMissing:
      return "no serial, but a serial was accepted before: an older INFO file";
    case FreshVerdict::SerialLower:
      return "serial lower than the one accepted before: an older INFO file";
    case FreshVerdict::ExpiresMalformed:
      return "expiry date malformed";
    case FreshVerdict::Expired:
      return "INFO file expired";
  }
  return "";
}

const char* InfoVerdictText(InfoVerdict v) {
  switch (v) {
    case InfoVerdict::Unsigned:
      return "no key: not signed";
    case InfoVerdict::Valid:
      return "signature valid";
    case InfoVerdict::KeyMalformed:
      return "the package's public key is malformed; signature not checked";
    case InfoVerdict::SignatureMissing:
      return "signature file missing";
    case InfoVerdict::SignatureMalformed:
      return "signature file malformed";
    case InfoVerdict::SignatureWrong:
      return "signature wrong";
    case InfoVerdict::Unavailable:
      return "signature cannot be checked: no CNG on this system";
  }
  return "";
}

HashVerdict CheckPublishedHash(bool keyPinned, const std::string& published, bool hashed, const std::string& digest) {
  if (!HashNeeded(keyPinned, published)) return HashVerdict::Unchecked;
  std::string expected;
  if (TrimBlanks(published).empty()) return HashVerdict::Missing;
  if (!ParseSha256Hex(published, expected)) return HashVerdict::Malformed;
  if (!hashed) return keyPinned ? HashVerdict::Unavailable : HashVerdict::Unchecked;
  return digest == expected ? HashVerdict::Match : HashVerdict::Mismatch;
}

const char* HashVerdictText(HashVerdict v) {
  switch (v) {
    case HashVerdict::Unchecked:
      return "SHA-256 not checked";
    case HashVerdict::Match:
      return "SHA-256 matches";
    case HashVerdict::Missing:
      return "no SHA-256 published for the file";
    case HashVerdict::Malformed:
      return "published SHA-256 malformed";
    case HashVerdict::Mismatch:
      return "SHA-256 differs from the published one";
    case HashVerdict::Unavailable:
      return "SHA-256 cannot be computed: no CNG on this system";
  }
  return "";
}
