// Round trip of random file sets through the package writer and the
// extraction engine: every file comes out byte-identical with its date,
// whatever the sizes, compression levels and volume splits.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "package/package_writer.h"
#include "package_fixture.h"
#include "setup/unpack.h"
#include "setup/unpack_stdio.h"

namespace {

using pkgtest::ReadAll;
using pkgtest::TempDir;

// Text-like bytes (compress well) or random bytes (do not compress at all).
std::string Content(std::mt19937& rng, size_t size) {
  std::string s(size, '\0');
  if (rng() % 2) {
    for (char& c : s) c = char(rng() & 0xFF);
  } else {
    static const char kWords[] = "setup\0engine data \r\nZelkan 0123456789 ";
    for (size_t i = 0; i < size; ++i) s[i] = kWords[(i * 7 + rng() % 3) % (sizeof kWords - 1)];
  }
  return s;
}

size_t FileSize(std::mt19937& rng) {
  switch (rng() % 40) {
    case 0: case 1: return 0;
    case 2: return (1u << 20) + rng() % (2u << 20);  // 1 to 3 MiB
    case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10: return 2000 + rng() % 150000;
    default: return rng() % 2000;
  }
}

// A DOS time of 1980..2099, hours away from daylight-saving switches; 0
// (keep the time of writing) now and then. (The Windows C runtime cannot
// set file times after February 2106, the end of unsigned 32-bit seconds.)
uint32_t DosTime(std::mt19937& rng) {
  if (rng() % 8 == 0) return 0;
  return DosTimeOf(1980 + int(rng() % 120), 1 + int(rng() % 12), 1 + int(rng() % 28), 4 + int(rng() % 19),
                   int(rng() % 60), int(rng() % 30) * 2);
}

struct Expected {
  std::string content;
  uint32_t dosTime = 0;
};

TEST(PackageRoundTrip, RandomFileSetsComeOutByteIdenticalWithTheirDates) {
  std::mt19937 rng(20240517);
  // Repeated names are joined into one file.
  const char* const kNames[] = {"Setup.exe", "Data.bin", "read me.txt", "a", "Program.cab", "x.y.z"};
  for (int c = 0; c < 300; ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    TempDir dir;
    PackagePlan plan = pkgtest::BasicSpec();
    plan.checksum = rng() % 2;
    plan.firstVolume001 = rng() % 4 == 0;
    std::map<std::string, Expected> expected;
    size_t total = 0;
    int files = int(rng() % 6);
    for (int i = 0; i < files; ++i) {
      PackFile f;
      f.name = kNames[rng() % (sizeof kNames / sizeof kNames[0])];
      f.content = Content(rng, FileSize(rng));
      f.dosTime = DosTime(rng);
      // Large files at fast levels keep the test quick; small ones get every level.
      int level = f.content.size() > (1u << 20) ? int(rng() % 3) - 1 : int(rng() % 11) - 1;
      f.level = level < 0 ? kStoredLevel : level;
      f.engine = i == 0 && rng() % 2;
      if (f.engine) f.engineArgs = "/LANG=DE";
      Expected& e = expected[f.name];
      e.content += f.content;
      e.dosTime = f.dosTime;  // the last item's write decides the time of a joined file
      total += f.content.size();
      plan.files.push_back(std::move(f));
    }
    if (rng() % 3) plan.volumeSize = 1400 + int64_t(total / (1 + rng() % 6)) + int64_t(rng() % 512);

    PackResult pr = WritePackage(plan, dir.Path("Setup.exe"));
    ASSERT_EQ(pr.error, "") << "volume size " << plan.volumeSize;
    StdioUnpackEnv env;
    env.keepDebug = false;
    ExtractRequest req;
    req.packagePath = pr.volumes.front();
    req.targetFolder = dir.Path("out");
    bool checksumOk = false;
    std::string entry;
    RunExtraction(env, req, checksumOk, entry);

    EXPECT_TRUE(checksumOk);
    EXPECT_TRUE(env.prompts.empty()) << pr.volumes.size() << " volumes";
    EXPECT_EQ(entry, !plan.files.empty() && plan.files[0].engine ? plan.files[0].name + "*/LANG=DE" : "");
    std::vector<std::string> names;
    for (const auto& [name, e] : expected) names.push_back(name);
    std::vector<std::string> written;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path("out")))
      written.push_back(e.path().filename().string());
    std::sort(written.begin(), written.end());
    ASSERT_EQ(written, names);
    for (const auto& [name, e] : expected) {
      std::string path = dir.Path("out") + "/" + name;
      EXPECT_TRUE(ReadAll(path) == e.content) << name << ": " << e.content.size() << " bytes expected";
      if (e.dosTime != 0) {
        EXPECT_EQ(env.FileDosTime(path), e.dosTime) << name;
      }
    }
  }
}

}  // namespace
