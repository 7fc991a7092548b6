// The reading pass that decides whether a downloaded update package is whole
// before anything is shut down for it.
#include "setup/verify.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "package_fixture.h"
#include "setup/unpack_stdio.h"

namespace {

using pkgtest::ReadAll;
using pkgtest::WriteAll;

struct Damage {
  const char* what;
  bool checksum;       // the volume carries a real checksum
  int64_t volumeSize;  // 0 = one file
  void (*change)(const std::vector<std::string>& volumes);
  bool whole;
  const char* why;
};

void CutLastByte(const std::vector<std::string>& v) {
  std::string b = ReadAll(v[0]);
  b.pop_back();
  WriteAll(v[0], b);
}
// A byte in the middle of the compressed payload (well after the stub and header).
void FlipPayloadByte(const std::vector<std::string>& v) {
  std::string b = ReadAll(v[0]);
  b[b.size() / 2] ^= 0x5A;
  WriteAll(v[0], b);
}
void RemoveSecondVolume(const std::vector<std::string>& v) { std::filesystem::remove(v.at(1)); }

TEST(VerifyPackageWhole, AcceptsOnlyAWholePackageWithAnEngine) {
  const Damage cases[] = {
      {"untouched", true, 0, nullptr, true, ""},
      {"untouched, three volumes", true, 150000, nullptr, true, ""},
      {"one byte short", true, 0, CutLastByte, false, "bad checksum or a broken item"},
      {"payload byte changed", true, 0, FlipPayloadByte, false, "bad checksum or a broken item"},
      // Without a checksum the damage shows only when the item is inflated.
      {"payload byte changed, no checksum", false, 0, FlipPayloadByte, false, nullptr},
      {"second volume missing", true, 150000, RemoveSecondVolume, false, "a volume is missing"},
  };
  for (const Damage& c : cases) {
    pkgtest::TempDir dir;
    PackagePlan plan = pkgtest::BasicSpec();
    plan.checksum = c.checksum;
    plan.volumeSize = c.volumeSize;
    plan.files.push_back({"Engine.exe", pkgtest::RandomBytes(1000, 1), "", 0, 9, true, ""});
    plan.files.push_back({"Data.bin", pkgtest::RandomBytes(300000, 2), "", 0, 0});
    PackResult r = WritePackage(plan, dir.Path("Update.exe"));
    ASSERT_EQ(r.error, "") << c.what;
    if (c.change) c.change(r.volumes);
    StdioUnpackEnv env;
    int prompts = 0;
    env.onPrompt = [&prompts](const std::string&) { return ++prompts, true; };
    std::string why;
    EXPECT_EQ(VerifyPackageWhole(env, r.volumes[0], why), c.whole) << c.what;
    if (c.why) {
      EXPECT_EQ(why, c.why) << c.what;
    }
    if (!c.whole) {
      EXPECT_NE(why, "") << c.what;
    }
    EXPECT_EQ(prompts, 0) << c.what << ": a missing volume is never asked for";
    // Nothing was written beside the package.
    EXPECT_EQ(dir.Names().size(), r.volumes.size() - (c.change == RemoveSecondVolume ? 1 : 0)) << c.what;
  }
}

TEST(VerifyPackageWhole, PackageWithoutEngineIsRefused) {
  pkgtest::TempDir dir;
  PackagePlan plan = pkgtest::BasicSpec();
  plan.files.push_back({"Readme.txt", "hello", "", 0, 9});
  PackResult r = WritePackage(plan, dir.Path("Update.exe"));
  ASSERT_EQ(r.error, "");
  StdioUnpackEnv env;
  std::string why;
  EXPECT_FALSE(VerifyPackageWhole(env, r.volumes[0], why));
  EXPECT_EQ(why, "no engine in the package");
}

}  // namespace
