// The package appended to a setup executable (or held by a volume file):
// the 74-byte trailer, the item chain's header items, and the reader class
// TGFileInfo that every other unit uses to query one package file.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

constexpr uint32_t kPackageSignature = 0x4A3B2C1D;
constexpr int kTrailerSize = 74;
constexpr int kSpaceEntries = 9;

// Bits of PackageTrailer::PackageFlags.
constexpr uint8_t kFlagTempDriveNotice = 0x01;
constexpr uint8_t kFlagMoreVolumes = 0x02;
constexpr uint8_t kFlagCdSpanning = 0x04;
constexpr uint8_t kFlagActivityBar = 0x08;
constexpr uint8_t kFlagDebugLog = 0x10;

// Byte offsets inside the 74-byte trailer.
constexpr int kTrailerOffIsUpdateAgent = 69;
constexpr int kTrailerOffTrailerLength = 70;

// The trailer record as fields; reserved bytes are kept so that a record can
// be written back unchanged.
struct PackageTrailer {
  uint8_t Reserved0 = 0;
  uint8_t HeaderItemCount = 0;
  uint8_t Reserved2[2] = {};
  uint32_t FirstItemOffset = 0;
  uint32_t FileCount = 0;
  uint32_t PackageSignature = 0;
  uint32_t VolumeChecksum = 0;
  uint8_t Reserved20[8] = {};
  uint32_t SpaceRequired[kSpaceEntries] = {};
  uint8_t Reserved64 = 0;
  uint8_t PackageFlags = 0;
  uint8_t WebSetup = 0;
  uint8_t ConfirmDownload = 0;
  uint8_t WriteAgentCopy = 0;
  uint8_t IsUpdateAgent = 0;
  uint32_t TrailerLength = 0;
};

PackageTrailer DecodeTrailer(const uint8_t* bytes74);
std::string EncodeTrailer(const PackageTrailer& t);  // exactly 74 bytes

// "MZ" at 0 and "PE" at the fixed offset 0x100.
bool HasExeHeader(const std::string& path);
bool HasExeHeader(std::FILE* f);

// Where the package of a file ends: PackageEnd of an executable when it is
// greater than 0 (never beyond the physical size), otherwise the physical
// size. -1 when the file is unreadable.
int64_t PackageLogicalEnd(const std::string& path);
int64_t PackageLogicalEnd(std::FILE* f);

// Reads the trailer record. A file without a readable package (too short, a
// length word below 4 or pointing before the start, PackageEnd beyond the
// file) gives the all-zero record and false. HeaderItemCount 0 reads as 2.
bool ReadPackageTrailer(const std::string& path, PackageTrailer& out);
bool ReadPackageTrailer(std::FILE* f, PackageTrailer& out);
PackageTrailer ReadPackageTrailer(const std::string& path);

// Recovers a token from the builder's scrambled form. Any text that does not
// unscramble validly gives a random number text (display only: never compare
// its result, use TokensMatch).
std::string TokenUnscramble(const std::string& scrambled);
// Strict form: true and the plain token only for a validly scrambled text.
bool TryTokenUnscramble(const std::string& scrambled, std::string& plain);
// True only when both texts unscramble validly to the same non-empty token.
bool TokensMatch(const std::string& scrambledA, const std::string& scrambledB);

struct InformText {
  std::string token;       // TokenUnscramble of the token field
  std::string tokenField;  // the token field as stored (for TokensMatch)
  std::string body;
};
// Undoes the "Scrambled=01" text scrambling and splits an inform file.
InformText DecodeInformText(const std::string& text);

class TGFileInfo {
 public:
  explicit TGFileInfo(const std::string& path);
  // Reads from a file that is already open (left open); any FILE works,
  // including one over memory.
  explicit TGFileInfo(std::FILE* f);

  const PackageTrailer& Trailer() const { return trailer_; }
  const std::string& LangBlock() const { return langBlock_; }
  const std::string& HeaderString() const { return header_; }
  const std::string& WebSetupString() const { return webSetup_; }
  // True when the signature matched and the header items were read.
  bool HasPackage() const { return hasPackage_; }

  // SpaceRequired entry for the cluster size of the drive of the path.
  uint32_t SpaceRequired(const std::string& drivePath) const;
  static int SpaceEntryForCluster(uint32_t clusterSize);

  bool TempDriveNotice() const { return trailer_.PackageFlags & kFlagTempDriveNotice; }
  bool MoreVolumes() const { return trailer_.PackageFlags & kFlagMoreVolumes; }
  bool CdSpanning() const { return trailer_.PackageFlags & kFlagCdSpanning; }
  bool ActivityBar() const { return trailer_.PackageFlags & kFlagActivityBar; }
  bool DebugLog() const { return trailer_.PackageFlags & kFlagDebugLog; }
  bool WebSetup() const { return trailer_.WebSetup != 0; }
  bool ConfirmDownload() const { return trailer_.ConfirmDownload != 0; }
  bool WriteAgentCopy() const { return trailer_.WriteAgentCopy != 0; }
  bool IsUpdateAgent() const { return trailer_.IsUpdateAgent != 0; }

  std::string UpdateUrl() const;
  std::string AgentExeName() const;
  std::string InfoFileName() const;      // file-name part of header field 1
  std::string OriginalFileName() const;  // that name without extensions + ".original"
  std::string PackageToken(bool unscramble) const;
  bool Silent() const;

  std::string WebBase() const;
  std::string WebFileName() const;
  bool WebAlwaysDownload() const;
  std::string WebToken(bool unscramble) const;
  std::string WebSize() const;

  std::string GetLangText(const std::string& key, const std::string& def) const;
  int Charset() const;
  int FontSize() const;
  std::string FontName() const;

 private:
  void Read(std::FILE* f);

  PackageTrailer trailer_;
  std::string langBlock_;
  std::string header_;
  std::string webSetup_;
  bool hasPackage_ = false;
};
