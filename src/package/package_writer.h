// Writing packages: the building blocks (trailer, header items, file items,
// scrambled tokens, inform texts) and a complete writer with volume
// splitting and checksums. Used by the packer tool and by tests that need
// real packages (including deliberately damaged ones built from the blocks).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "package/gfileinfo.h"
#include "package/item_name.h"

constexpr int kStoredLevel = -1;  // PackFile::level: store the bytes as they are

struct PackLanguage {
  std::string name;                                         // section name, e.g. "English"
  std::vector<std::pair<std::string, std::string>> texts;  // key, value
};

struct PackFile {
  std::string name;        // name in the setup folder (no folders), UTF-8
  std::string content;     // the bytes, unless sourcePath is set
  std::string sourcePath;  // read from this file when not empty
  uint32_t dosTime = 0;    // DOS date (high 16 bits) and time; 0 = time of extraction
  int level = 9;           // zlib level 0..9, or kStoredLevel
  bool engine = false;     // the setup engine: name + "*" + engineArgs
  std::string engineArgs;
};

struct PackagePlan {
  std::string stub;  // bytes of the stub executable ("MZ" at 0, "PE" at 0x100)
  std::vector<PackLanguage> languages;
  // Header string.
  std::string updateUrl = "http://";
  std::string infoFileName = ".info";
  std::string agentExeName = ".exe";
  std::string token;  // plain; empty = no token
  bool silent = false;
  std::string updatePublicKey;  // base64 of the 64-byte point; a sixth field when set
  // Web-setup string (third header item) when hasWebSetup.
  bool hasWebSetup = false;
  std::string webBase;
  std::string webFileName;
  bool webAlwaysDownload = false;
  std::string webToken;  // plain
  std::string webSize;   // decimal text
  std::string webSha256;  // hex SHA-256 of the setup file; a sixth field when set
  // Trailer.
  uint8_t flags = 0;  // kFlagTempDriveNotice | kFlagCdSpanning | kFlagActivityBar | kFlagDebugLog
  bool webSetup = false;
  bool confirmDownload = false;
  bool writeAgentCopy = false;
  bool isUpdateAgent = false;
  // Volumes: 0 = one file; otherwise the largest size of each volume file.
  int64_t volumeSize = 0;
  bool firstVolume001 = false;  // name the first volume <output>.001
  bool checksum = true;         // false stores 1234 ("not checked")
  std::vector<PackFile> files;
  // The letters at 0x90 and the token scrambling take their randomness from
  // a seed derived from the contents and values above (never from paths), so
  // the same inputs give the same bytes.
  bool reproducible = false;
  int jobs = 0;  // compression threads; 0 = one per core; 1 = all on the caller's thread
};

struct PackResult {
  std::vector<std::string> volumes;  // paths written, first volume first
  std::string error;                 // empty on success
};

// Told how far the writer is: files finished and bytes of file content read.
using PackProgress = std::function<void(size_t filesDone, uint64_t bytesDone)>;

// Writes the package to outPath (and its further volumes). Every volume is
// written under a temporary name and renamed at the end; on failure nothing
// of the new output is left behind.
PackResult WritePackage(const PackagePlan& plan, const std::string& outPath, const PackProgress& progress = nullptr);
// The smallest volume size with which the plan can be written: the first
// volume must hold the stub, the header items and the trailer, and every
// later one a piece of the file that is hardest to start.
int64_t SmallestVolumeSize(const PackagePlan& plan);

// ---- building blocks ----
// 50-character scrambled form of a token of at most 20 bytes; empty on error.
std::string ScrambleToken(const std::string& plain);
constexpr size_t kMaxTokenLength = 20;
std::string BuildLanguageBlock(const std::vector<PackLanguage>& languages);
std::string BuildHeaderString(const PackagePlan& plan);    // "|url|info|agent|token|silent|" [+ "key|"]
std::string BuildWebSetupString(const PackagePlan& plan);  // "|base|file|always|token|size|" [+ "sha256|"]
// One item of the chain: signed length word + payload.
std::string RawItem(const std::string& payload, bool stored);
// A file item: "|name|dosdate|" (with "utf8|" when marked, see item_name.h)
// + 0x00 + content, zlib-compressed (level 0..9) or stored (kStoredLevel).
// headerName may carry "*" and engine arguments; its bytes are taken as they
// are, so tests can make any name (WritePackage marks non-ASCII names itself).
std::string FileItem(const std::string& headerName, uint32_t dosTime, const std::string& content, int level,
                     NameEncoding encoding = NameEncoding::Ansi);
// The seed of a reproducible build: a hash of the stub, the header, web and
// trailer values, the language texts and every file's name, time, level,
// engine arguments and contents. Paths do not count. False when a source
// cannot be read.
bool PackageSeed(const PackagePlan& plan, uint64_t& seed, std::string& error);
// Writes the 64 random upper-case letters at 0x90 and PackageEnd at 0xF8/0xFC.
// False when the stub has no "MZ" at 0 or no "PE" at 0x100.
bool StampStub(std::string& image, uint64_t packageEnd);
bool StubLooksValid(const std::string& image, std::string* why = nullptr);
// The nine SpaceRequired entries for the given extracted file sizes.
void ComputeSpaceRequired(const std::vector<uint64_t>& fileSizes, uint32_t out[kSpaceEntries]);
// The text of an inform file; scrambled with the "Scrambled=01" form when asked.
std::string BuildInformText(const std::string& plainToken, const std::string& body, bool scrambled,
                            const std::string& prefix = "INFORM", const std::string& field2 = "",
                            const std::string& field3 = "");
// DOS date and time of a calendar date (local time); 0 for years outside 1980..2107.
uint32_t DosTimeOf(int year, int month, int day, int hour, int minute, int second);
