// The on-disk format pinned by bytes typed out by hand, not produced by the
// project's own writer: a writer and a reader that drifted together (swapped
// offsets, flag bits, a changed scrambling or checksum range) fail here.
#include <gtest/gtest.h>

#include <cctype>

#include "package/checksum.h"
#include "package/gfileinfo.h"
#include "package/pkgfile.h"
#include "package_fixture.h"

using namespace pkgtest;

namespace {

// A complete trailer, every field at its own value, little-endian.
const uint8_t kTrailer[kTrailerSize] = {
    0x01,                                            // 0   reserved
    0x03,                                            // 1   HeaderItemCount
    0xA2, 0xA3,                                      // 2   reserved
    0x45, 0x23, 0x01, 0x00,                          // 4   FirstItemOffset 0x00012345
    0x07, 0x01, 0x00, 0x00,                          // 8   FileCount 263
    0x1D, 0x2C, 0x3B, 0x4A,                          // 12  PackageSignature 0x4A3B2C1D
    0xEF, 0xCD, 0xAB, 0x89,                          // 16  VolumeChecksum 0x89ABCDEF
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7,  // 20  reserved
    0xA0, 0xB1, 0xC2, 0xD3,                          // 28  SpaceRequired[0] 0xD3C2B1A0
    0xA1, 0xB1, 0xC2, 0xD3,                          // 32  SpaceRequired[1]
    0xA2, 0xB1, 0xC2, 0xD3,                          // 36
    0xA3, 0xB1, 0xC2, 0xD3,                          // 40
    0xA4, 0xB1, 0xC2, 0xD3,                          // 44
    0xA5, 0xB1, 0xC2, 0xD3,                          // 48
    0xA6, 0xB1, 0xC2, 0xD3,                          // 52
    0xA7, 0xB1, 0xC2, 0xD3,                          // 56
    0xA8, 0xB1, 0xC2, 0xD3,                          // 60  SpaceRequired[8] 0xD3C2B1A8
    0xC4,                                            // 64  reserved
    0x15,                                            // 65  PackageFlags: bits 0, 2, 4
    0x42,                                            // 66  WebSetup
    0x43,                                            // 67  ConfirmDownload
    0x44,                                            // 68  WriteAgentCopy
    0x45,                                            // 69  IsUpdateAgent
    0x4A, 0x00, 0x00, 0x00,                          // 70  TrailerLength 74
};

std::string TrailerBytes() { return std::string(reinterpret_cast<const char*>(kTrailer), kTrailerSize); }

PackageTrailer TrailerFields() {
  PackageTrailer t;
  t.Reserved0 = 0x01;
  t.HeaderItemCount = 3;
  t.Reserved2[0] = 0xA2;
  t.Reserved2[1] = 0xA3;
  t.FirstItemOffset = 0x12345;
  t.FileCount = 263;
  t.PackageSignature = 0x4A3B2C1D;
  t.VolumeChecksum = 0x89ABCDEF;
  for (int i = 0; i < 8; ++i) t.Reserved20[i] = uint8_t(0xB0 + i);
  for (int i = 0; i < kSpaceEntries; ++i) t.SpaceRequired[i] = 0xD3C2B1A0u + uint32_t(i);
  t.Reserved64 = 0xC4;
  t.PackageFlags = 0x15;
  t.WebSetup = 0x42;
  t.ConfirmDownload = 0x43;
  t.WriteAgentCopy = 0x44;
  t.IsUpdateAgent = 0x45;
  t.TrailerLength = 74;
  return t;
}

void ExpectSameTrailer(const PackageTrailer& a, const PackageTrailer& b) {
  EXPECT_EQ(EncodeTrailer(a), EncodeTrailer(b));  // every byte, reserved ones included
  EXPECT_EQ(a.HeaderItemCount, b.HeaderItemCount);
  EXPECT_EQ(a.FirstItemOffset, b.FirstItemOffset);
  EXPECT_EQ(a.FileCount, b.FileCount);
  EXPECT_EQ(a.PackageSignature, b.PackageSignature);
  EXPECT_EQ(a.VolumeChecksum, b.VolumeChecksum);
  for (int i = 0; i < kSpaceEntries; ++i) EXPECT_EQ(a.SpaceRequired[i], b.SpaceRequired[i]) << i;
  EXPECT_EQ(a.PackageFlags, b.PackageFlags);
  EXPECT_EQ(a.WebSetup, b.WebSetup);
  EXPECT_EQ(a.ConfirmDownload, b.ConfirmDownload);
  EXPECT_EQ(a.WriteAgentCopy, b.WriteAgentCopy);
  EXPECT_EQ(a.IsUpdateAgent, b.IsUpdateAgent);
  EXPECT_EQ(a.TrailerLength, b.TrailerLength);
}

bool IsFallbackNumber(const std::string& s) {
  if (s.empty() || s.size() > 5) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string Dword(uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  return std::string(reinterpret_cast<char*>(b), 4);
}

}  // namespace

TEST(FormatVectors, TrailerBytesBothWays) {
  EXPECT_EQ(EncodeTrailer(TrailerFields()), TrailerBytes());
  ExpectSameTrailer(DecodeTrailer(kTrailer), TrailerFields());

  // The same bytes at the end of a plain volume, read from the file.
  TempDir dir;
  std::string path = dir.Path("vol.bin");
  WriteAll(path, std::string(40, 'x') + TrailerBytes());
  PackageTrailer read;
  ASSERT_TRUE(ReadPackageTrailer(path, read));
  ExpectSameTrailer(read, TrailerFields());
}

// Each flag bit and flag byte of the trailer, set alone in the typed vector,
// turns on exactly its own query.
TEST(FormatVectors, FlagTable) {
  struct Case {
    const char* name;
    int offset;
    uint8_t value;
    bool (TGFileInfo::*query)() const;
  } cases[] = {
      {"TempDriveNotice", 65, 0x01, &TGFileInfo::TempDriveNotice},
      {"MoreVolumes", 65, 0x02, &TGFileInfo::MoreVolumes},
      {"CdSpanning", 65, 0x04, &TGFileInfo::CdSpanning},
      {"ActivityBar", 65, 0x08, &TGFileInfo::ActivityBar},
      {"DebugLog", 65, 0x10, &TGFileInfo::DebugLog},
      {"WebSetup", 66, 0x01, &TGFileInfo::WebSetup},
      {"ConfirmDownload", 67, 0x01, &TGFileInfo::ConfirmDownload},
      {"WriteAgentCopy", 68, 0x01, &TGFileInfo::WriteAgentCopy},
      {"IsUpdateAgent", 69, 0x01, &TGFileInfo::IsUpdateAgent},
      {"bits 5 to 7 are not read", 65, 0xE0, nullptr},
  };
  // Header items from offset 0, so the typed vector only needs FirstItemOffset 0.
  const std::string items = RawItem("\x02\x01" "English\x01s0=Hi\x01\x02", false) +
                            RawItem("|http://|.info|.exe||0|", false) + RawItem("|b|f|0||1|", false);
  TempDir dir;
  for (const Case& c : cases) {
    std::string trailer = TrailerBytes();
    trailer.replace(4, 4, std::string(4, '\0'));
    trailer.replace(65, 5, std::string(5, '\0'));
    trailer[c.offset] = char(c.value);
    std::string path = dir.Path("flags.bin");
    WriteAll(path, items + trailer);
    TGFileInfo fi(path);
    ASSERT_TRUE(fi.HasPackage()) << c.name;
    for (const Case& other : cases) {
      if (!other.query) continue;
      EXPECT_EQ((fi.*other.query)(), other.query == c.query) << c.name << " / " << other.name;
    }
  }
}

// Scrambled tokens worked out outside this project from the layout of the
// 25 decoded bytes (p, q, filler, token, filler, check byte, key byte), with
// key k = D[0] XOR D[24]:
//   "ZELKAN-42"  p 5, q 7,   D[0] 5A, k 66, filler 5A
//   ""           p 10, q 11, D[0] 01, k FF, filler 00
//   20 letters   p 0, q 1,   D[0] C3, k 00 (the longest token the packer writes)
TEST(FormatVectors, TokenUnscrambleOfHandMadeTokens) {
  struct Case {
    const char* scrambled;
    const char* plain;  // nullptr: the check byte does not match
  } cases[] = {
      {"gshehcgsgsgsgsgseudedsdvdidjftgdgfgsgsgsgsgsgsdweu", "ZELKAN-42"},
      {"bcxgxfxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxvfxw", ""},
      {"uebbbcfcfdfefffgfhfifjfkfsftfufvfwfxgbgcgdgegfgkue", "ABCDEFGHIJKLMNOPQRST"},
      // The first one with its check byte 2E turned into 2F.
      {"gshehcgsgsgsgsgseudedsdvdidjftgdgfgsgsgsgsgsgsdxeu", nullptr},
  };
  for (const Case& c : cases) {
    std::string strict;
    const bool valid = TryTokenUnscramble(c.scrambled, strict);
    const std::string shown = TokenUnscramble(c.scrambled);
    if (c.plain) {
      EXPECT_TRUE(valid) << c.scrambled;
      EXPECT_EQ(strict, c.plain);
      EXPECT_EQ(shown, c.plain);
    } else {
      EXPECT_FALSE(valid) << c.scrambled;
      EXPECT_TRUE(IsFallbackNumber(shown)) << shown;
    }
  }
  EXPECT_TRUE(TokensMatch(cases[0].scrambled, ScrambleToken("ZELKAN-42")));
}

// An executable volume is summed from offset 512 up to 8 bytes before its
// trailer, and nothing after PackageEnd counts. Fixture: 512 header bytes
// ("MZ", "PE" at 0x100, 0x01 filler from 0x104), body dwords 1..1100, a
// 74-byte trailer and 600 bytes appended after PackageEnd (4986).
TEST(FormatVectors, ChecksumOfAnExecutableVolume) {
  std::string header(512, '\0');
  header[0] = 'M';
  header[1] = 'Z';
  header[0x100] = 'P';
  header[0x101] = 'E';
  for (size_t i = 0x104; i < 512; ++i) header[i] = 0x01;
  std::string body;
  for (uint32_t v = 1; v <= 1100; ++v) body += Dword(v);
  const std::string trailer(74, '\x77');
  const uint32_t packageEnd = uint32_t(header.size() + body.size() + trailer.size());
  ASSERT_EQ(packageEnd, 4986u);
  std::string withEnd = header + body + trailer + std::string(600, '\x5A');
  withEnd.replace(0xFC, 4, Dword(packageEnd));
  const std::string plain = header + body + trailer;

  struct Case {
    const char* what;
    std::string bytes;
    uint32_t sum;
  } cases[] = {
      // Dwords 1..1098 (1098 * 1099 / 2 = 603351), plus 1234 for the one full
      // 4096-byte chunk after which more remains.
      {"PackageEnd set: from 512 to the cut", withEnd, 603351u + 1234u},
      // No PackageEnd: from 0, so the header dwords count too: "MZ" 0x5A4D,
      // "PE" 0x4550, 63 filler dwords 0x01010101, then the same body and chunk.
      {"PackageEnd 0: from 0 to the end", plain, 0x5A4Du + 0x4550u + 63u * 0x01010101u + 603351u + 1234u},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::string path = dir.Path("setup.exe");
    WriteAll(path, c.bytes);
    EXPECT_EQ(PackageChecksum(path, 74), c.sum) << c.what;
  }
}
