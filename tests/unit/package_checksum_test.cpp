#include <gtest/gtest.h>

#include <filesystem>

#include "package/pkgfile.h"
#include "package_fixture.h"
#include "package/checksum.h"

using namespace pkgtest;

namespace {
std::string Dwords(std::initializer_list<uint32_t> values) {
  std::string s;
  for (uint32_t v : values) {
    uint8_t b[4];
    PutU32(b, v);
    s.append(reinterpret_cast<char*>(b), 4);
  }
  return s;
}
}  // namespace

TEST(PackageChecksum, SumsDwordsUpToEightBytesBeforeTheTrailer) {
  TempDir dir;
  // Six body dwords and a 4-byte trailer: only the first four are counted.
  std::string path = dir.Path("vol.bin");
  WriteAll(path, Dwords({1, 2, 3, 4, 500, 600, 7000}));
  EXPECT_EQ(PackageChecksum(path, 4), 10u);
  // Two more bytes move the counted range by one dword; the partial dword itself is ignored.
  WriteAll(path, Dwords({1, 2, 3, 4, 500, 600, 7000}) + "xy");
  EXPECT_EQ(PackageChecksum(path, 4), 510u);
}

TEST(PackageChecksum, AddsBonusForEveryFullChunkWithMoreToCome) {
  TempDir dir;
  std::string path = dir.Path("zeros.bin");
  // 3 full 4096-byte chunks, each followed by more than 4 counted bytes, and a short tail.
  WriteAll(path, std::string(3 * 4096 + 100, '\0'));
  EXPECT_EQ(PackageChecksum(path, 74), 3u * 1234u);
  // Exactly one chunk: nothing counted remains after it.
  WriteAll(path, std::string(4096, '\0'));
  EXPECT_EQ(PackageChecksum(path, 74), 0u);
}

TEST(PackageChecksum, ExecutableSkipsHeaderAreaAndDataAfterPackageEnd) {
  TempDir dir;
  std::string image = FakeStub(0x800);
  for (size_t i = 0x200; i < image.size(); ++i) image[i] = char(i);
  uint8_t end[4];
  PutU32(end, uint32_t(image.size()));
  image.replace(0xFC, 4, reinterpret_cast<char*>(end), 4);
  std::string path = dir.Path("setup.exe");
  WriteAll(path, image);
  uint32_t base = PackageChecksum(path, 74);
  ASSERT_NE(base, 0u);

  std::string header = image;
  header[0x150] ^= 0x55;  // header area (signing rewrites it)
  WriteAll(path, header);
  EXPECT_EQ(PackageChecksum(path, 74), base);

  WriteAll(path, image + std::string(5000, 'S'));  // appended signature
  EXPECT_EQ(PackageChecksum(path, 74), base);

  std::string body = image;
  body[0x300] ^= 0x55;
  WriteAll(path, body);
  EXPECT_NE(PackageChecksum(path, 74), base);
}

TEST(PackageChecksum, LargeVolumeIsNotChecked) {
  TempDir dir;
  std::string path = dir.Path("big.bin");
  WriteAll(path, "x");
  std::filesystem::resize_file(path, kChecksumSizeLimit + 1);
  EXPECT_EQ(PackageChecksum(path, 74), kUncheckedVolume);
  EXPECT_EQ(PackageChecksum(dir.Path("missing.bin"), 74), 0u);
}

TEST(PackageChecksum, Acceptance) {
  struct Case {
    uint32_t computed, stored;
    bool accepted;
  } cases[] = {{77, 77, true}, {77, 78, false}, {1234, 5, true}, {5, 1234, true}, {0, 0, true}};
  for (const Case& c : cases)
    EXPECT_EQ(ChecksumAccepted(c.computed, c.stored), c.accepted) << c.computed << " vs " << c.stored;
}

TEST(VolumePath, NamesFollowTheFirstVolume) {
  struct Case {
    const char* first;
    int k;
    const char* expected;
  } cases[] = {
      {"C:\\d\\Setup.exe", 2, "C:\\d\\Setup.exe.002"},
      {"C:\\d\\Setup.exe.001", 2, "C:\\d\\Setup.exe.002"},
      {"Data.001", 2, "Data.002"},
      {"Data.001", 10, "Data.010"},
      {"Data.001", 250, "Data.250"},
      {"Data.001", 1000, "Data.1000"},
      {"Data.0010", 2, "Data.0010.002"},  // only an exact ".001" ending is the base rule
  };
  for (const Case& c : cases) EXPECT_EQ(VolumePath(c.first, c.k), c.expected) << c.first << " " << c.k;
}
