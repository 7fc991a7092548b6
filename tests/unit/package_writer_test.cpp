#include <gtest/gtest.h>

#include <map>

#include "package/gfileinfo.h"
#include "package/package_items.h"
#include "package/pkgfile.h"
#include "package_fixture.h"
#include "paths/utils.h"
#include "package/checksum.h"

using namespace pkgtest;

namespace {
struct Extracted {
  std::map<std::string, std::string> files;  // joined like the engine joins same-name items
  std::map<std::string, uint32_t> times;
  std::vector<bool> stored;                  // per file item
  std::string engineEntry;                   // header name field of the starred file
  int headerItems = 0;
  int emptyItems = 0;                        // file items without content
};

// Walks every volume the way the extraction engine does.
Extracted ExtractAll(const std::string& first, std::vector<VolumeContents>* volumesOut = nullptr) {
  Extracted x;
  int count = 0;
  for (int k = 1;; ++k) {
    std::string path = k == 1 ? first : VolumePath(first, k);
    VolumeContents v;
    std::string error;
    EXPECT_TRUE(ReadVolumeItems(path, v, error)) << path << ": " << error;
    EXPECT_TRUE(ChecksumAccepted(PackageChecksum(path, v.trailer.TrailerLength), v.trailer.VolumeChecksum)) << path;
    for (const ChainItem& item : v.items) {
      if (++count <= v.trailer.HeaderItemCount) {
        ++x.headerItems;
        continue;
      }
      std::string plain = item.payload;
      if (item.length > 0) {
        EXPECT_TRUE(InflateBytes(item.payload, plain, error)) << error;
      }
      FileItemInfo fi;
      EXPECT_TRUE(SplitFileItem(plain, fi));
      x.files[fi.name] += fi.content;
      if (fi.content.empty()) ++x.emptyItems;
      x.times[fi.name] = fi.dosTime;
      x.stored.push_back(item.length < 0);
      if (fi.engine) x.engineEntry = ListItem(fi.header, 0, "");
    }
    if (volumesOut) volumesOut->push_back(v);
    if (!(v.trailer.PackageFlags & kFlagMoreVolumes) || k > 200) break;
  }
  return x;
}
}  // namespace

TEST(PackageWriter, SingleVolumeRoundTrip) {
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.files.push_back({"Engine.exe", "MZ engine bytes", "", DosTimeOf(2024, 5, 17, 13, 45, 30), 9, true, "/LANG=DE"});
  plan.files.push_back({"data.bin", RandomBytes(70000, 1), "", 0, kStoredLevel});
  plan.files.push_back({"empty.txt", "", "", 0, 6});
  plan.files.push_back({"zeros.bin", std::string(200000, '\0'), "", 0, 0});  // level 0: still a zlib stream
  WriteAll(dir.Path("source.dat"), RandomBytes(5000, 2));
  PackFile fromDisk;
  fromDisk.name = "fromdisk.dat";
  fromDisk.sourcePath = dir.Path("source.dat");
  plan.files.push_back(fromDisk);

  PackResult r = WritePackage(plan, dir.Path("Setup.exe"));
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.volumes, std::vector<std::string>{dir.Path("Setup.exe")});
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"Setup.exe", "source.dat"}));  // no temporary left

  std::string image = ReadAll(dir.Path("Setup.exe"));
  for (int i = 0x90; i < 0xD0; ++i) EXPECT_TRUE(image[i] >= 'A' && image[i] <= 'Z') << i;
  EXPECT_EQ(GetU32(reinterpret_cast<const uint8_t*>(image.data()) + 0xFC), image.size());
  EXPECT_EQ(GetU32(reinterpret_cast<const uint8_t*>(image.data()) + 0xF8), 0u);
  EXPECT_EQ(image.compare(0x100, 0x300, plan.stub, 0x100, 0x300), 0);  // the stub is otherwise unchanged

  PackageTrailer t = ReadPackageTrailer(dir.Path("Setup.exe"));
  EXPECT_EQ(t.PackageSignature, kPackageSignature);
  EXPECT_EQ(t.FirstItemOffset, plan.stub.size());
  EXPECT_EQ(t.FileCount, 5u);
  EXPECT_EQ(t.TrailerLength, 74u);
  EXPECT_NE(t.VolumeChecksum, kUncheckedVolume);
  EXPECT_EQ(t.VolumeChecksum, PackageChecksum(dir.Path("Setup.exe"), 74));
  EXPECT_FALSE(t.PackageFlags & kFlagMoreVolumes);

  Extracted x = ExtractAll(dir.Path("Setup.exe"));
  EXPECT_EQ(x.headerItems, 2);
  EXPECT_EQ(x.files["Engine.exe"], "MZ engine bytes");
  EXPECT_EQ(x.times["Engine.exe"], DosTimeOf(2024, 5, 17, 13, 45, 30));
  EXPECT_EQ(x.engineEntry, "Engine.exe*/LANG=DE");
  EXPECT_EQ(x.files["data.bin"], plan.files[1].content);
  EXPECT_EQ(x.files["zeros.bin"], plan.files[3].content);
  EXPECT_EQ(x.files["fromdisk.dat"], ReadAll(dir.Path("source.dat")));
  EXPECT_TRUE(x.files.count("empty.txt"));
  EXPECT_EQ(x.stored, (std::vector<bool>{false, true, false, false, false}));
}

TEST(PackageWriter, ChecksumSwitchedOffStores1234) {
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.checksum = false;
  plan.files.push_back({"a.txt", "abc"});
  ASSERT_EQ(WritePackage(plan, dir.Path("Setup.exe")).error, "");
  EXPECT_EQ(ReadPackageTrailer(dir.Path("Setup.exe")).VolumeChecksum, kUncheckedVolume);
}

TEST(PackageWriter, SplitsAcrossVolumes) {
  struct Case {
    const char* what;
    int level;
    bool first001;
  } cases[] = {{"compressed", 9, false}, {"stored", kStoredLevel, false}, {"compressed, .001 naming", 6, true}};
  for (const Case& c : cases) {
    TempDir dir;
    PackagePlan plan = BasicSpec();
    plan.volumeSize = 4000;
    plan.firstVolume001 = c.first001;
    plan.flags = kFlagActivityBar;
    plan.files.push_back({"setup.exe", "engine", "", 0, c.level, true});
    plan.files.push_back({"big.bin", RandomBytes(15000, 3), "", 0, c.level});
    plan.files.push_back({"text.txt", std::string(30000, 'x') + "end", "", 0, c.level});
    PackResult r = WritePackage(plan, dir.Path("Setup.exe"));
    ASSERT_EQ(r.error, "") << c.what;
    ASSERT_GE(r.volumes.size(), 4u) << c.what;
    std::string first = dir.Path(c.first001 ? "Setup.exe.001" : "Setup.exe");
    EXPECT_EQ(r.volumes[0], first);
    EXPECT_EQ(r.volumes[1], dir.Path("Setup.exe.002"));

    std::vector<VolumeContents> vols;
    Extracted x = ExtractAll(first, &vols);
    ASSERT_EQ(vols.size(), r.volumes.size()) << c.what;
    for (size_t i = 0; i < vols.size(); ++i) {
      std::string path = r.volumes[i];
      EXPECT_LE(ReadAll(path).size(), 4000u) << c.what << " " << path;
      EXPECT_EQ(bool(vols[i].trailer.PackageFlags & kFlagMoreVolumes), i + 1 < vols.size()) << c.what << i;
      EXPECT_TRUE(vols[i].trailer.PackageFlags & kFlagActivityBar);
      EXPECT_EQ(vols[i].trailer.FileCount, 3u);
      EXPECT_NE(vols[i].trailer.VolumeChecksum, kUncheckedVolume);
      if (i > 0) {
        EXPECT_FALSE(HasExeHeader(path)) << c.what << i;
        EXPECT_EQ(vols[i].trailer.FirstItemOffset, 0u) << c.what << i;
      }
    }
    EXPECT_EQ(x.files["big.bin"], plan.files[1].content) << c.what;
    EXPECT_EQ(x.files["text.txt"], plan.files[2].content) << c.what;
    EXPECT_EQ(x.engineEntry, "setup.exe*") << c.what;
    EXPECT_EQ(x.emptyItems, 0) << c.what;  // no piece is split off without content
    // The reader of the first volume sees the whole package's totals.
    TGFileInfo fi(first);
    EXPECT_TRUE(fi.HasPackage());
    EXPECT_TRUE(fi.MoreVolumes());
  }
}

TEST(PackageWriter, SpaceTableCountsJoinedFilesOnce) {
  uint32_t space[kSpaceEntries];
  ComputeSpaceRequired({1, 512, 513, 0}, space);
  EXPECT_EQ(space[0], 256u + 512u + 768u);
  EXPECT_EQ(space[1], 512u + 512u + 1024u);
  EXPECT_EQ(space[8], 3u * 65536u);
  ComputeSpaceRequired({uint64_t(1) << 33}, space);
  EXPECT_EQ(space[0], 0xFFFFFFFFu);  // capped, not wrapped

  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.files.push_back({"Data.bin", std::string(1000, 'a')});
  plan.files.push_back({"DATA.BIN", std::string(500, 'b')});  // appended to the same file
  ASSERT_EQ(WritePackage(plan, dir.Path("Setup.exe")).error, "");
  PackageTrailer t = ReadPackageTrailer(dir.Path("Setup.exe"));
  EXPECT_EQ(t.FileCount, 1u);
  EXPECT_EQ(t.SpaceRequired[4], 4096u);
  EXPECT_EQ(t.SpaceRequired[0], 1536u);
}

TEST(PackageWriter, ErrorsLeaveNothingBehind) {
  struct Case {
    const char* what;
    void (*change)(PackagePlan&);
    const char* message;
  } cases[] = {
      {"no PE at 0x100", [](PackagePlan& s) { s.stub[0x100] = 'X'; }, "0x100"},
      {"no MZ", [](PackagePlan& s) { s.stub[0] = 'X'; }, "MZ"},
      {"short stub", [](PackagePlan& s) { s.stub = "MZ"; }, "MZ"},
      {"token too long", [](PackagePlan& s) { s.token = std::string(21, 't'); }, "token"},
      {"bar in a header field", [](PackagePlan& s) { s.agentExeName = "a|b.exe"; }, "|"},
      {"file name with a star", [](PackagePlan& s) { s.files[0].name = "a*b"; }, "a*b"},
      {"volume smaller than the stub", [](PackagePlan& s) { s.volumeSize = 600; }, "the smallest size that works is"},
      {"volume too small for an item",
       [](PackagePlan& s) {
         s.volumeSize = 1200;
         s.files[0].name = std::string(1200, 'n');
       },
       "too small"},
      {"missing source file", [](PackagePlan& s) { s.files[0].sourcePath = "/nonexistent/x.bin"; }, "x.bin"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    PackagePlan plan = BasicSpec();
    plan.files.push_back({"f.bin", RandomBytes(3000, 4), "", 0, kStoredLevel});
    c.change(plan);
    PackResult r = WritePackage(plan, dir.Path("Setup.exe"));
    EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
    EXPECT_TRUE(r.volumes.empty()) << c.what;
    EXPECT_TRUE(dir.Names().empty()) << c.what;
  }
}

TEST(PackageWriter, StampWritesPackageEndHalves) {
  std::string image = FakeStub();
  ASSERT_TRUE(StampStub(image, 0x123456789ull));
  const uint8_t* b = reinterpret_cast<const uint8_t*>(image.data());
  EXPECT_EQ(GetU32(b + 0xF8), 0x1u);
  EXPECT_EQ(GetU32(b + 0xFC), 0x23456789u);
  std::string noPe = FakeStub();
  noPe[0x101] = 'X';
  EXPECT_FALSE(StampStub(noPe, 10));
}

TEST(PackageWriter, LargeFilesBecomeSeveralItems) {
  // The stub inflates one item at a time in memory; big files come in pieces it joins.
  TempDir dir;
  PackagePlan plan = BasicSpec();
  std::string big = RandomBytes(1 << 16, 5);
  while (big.size() < (33u << 20)) big += big.substr(0, std::min<size_t>(big.size(), (33u << 20) - big.size()));
  plan.files.push_back({"big.bin", big, "", 0, kStoredLevel});
  plan.files.push_back({"zeros.bin", std::string(40u << 20, '\0'), "", 0, 1});
  ASSERT_EQ(WritePackage(plan, dir.Path("Setup.exe")).error, "");
  Extracted x = ExtractAll(dir.Path("Setup.exe"));
  EXPECT_EQ(x.stored, (std::vector<bool>{true, true, false, false}));
  EXPECT_TRUE(x.files["big.bin"] == big);
  EXPECT_EQ(x.files["zeros.bin"].size(), 40u << 20);
  EXPECT_EQ(ReadPackageTrailer(dir.Path("Setup.exe")).FileCount, 2u);
}

TEST(PackageWriter, VolumeSizeSweepKeepsLimitsAndContent) {
  // Boundary sweep: every split point must respect the limit and lose nothing.
  const std::string random = RandomBytes(3000, 6);
  std::string text;
  for (int i = 0; text.size() < 5000; ++i) text += "line " + std::to_string(i) + "\r\n";
  for (int level : {9, kStoredLevel}) {
    for (int64_t size = 700; size <= 1400; size += 37) {
      TempDir dir;
      PackagePlan plan = BasicSpec();
      plan.stub = FakeStub(0x200);
      plan.volumeSize = size;
      plan.files.push_back({"r.bin", random, "", 0, level});
      plan.files.push_back({"t.txt", text, "", 0, level});
      PackResult r = WritePackage(plan, dir.Path("S.exe"));
      ASSERT_EQ(r.error, "") << level << " " << size;
      for (const std::string& v : r.volumes) EXPECT_LE(int64_t(ReadAll(v).size()), size) << level << " " << v;
      Extracted x = ExtractAll(dir.Path("S.exe"));
      EXPECT_TRUE(x.files["r.bin"] == random) << level << " " << size;
      EXPECT_TRUE(x.files["t.txt"] == text) << level << " " << size;
      EXPECT_EQ(x.emptyItems, 0) << level << " " << size;
    }
  }
}

TEST(PackageWriter, SmallestVolumeSizeIsExact) {
  // The size the packer names must build, and one byte less must not.
  struct Case {
    const char* what;
    int level;
    std::string name;
    std::string content;
  } cases[] = {
      {"stored", kStoredLevel, "a.bin", RandomBytes(700, 8)},
      {"compressed, long name", 9, std::string(300, 'n'), RandomBytes(700, 9)},
      {"empty file", kStoredLevel, "e.txt", ""},
      {"stub and header decide", kStoredLevel, "s.txt", "s"},
  };
  for (const Case& c : cases) {
    PackagePlan plan = BasicSpec();
    plan.stub = FakeStub(0x200);
    plan.files.push_back({c.name, c.content, "", 0, c.level});
    int64_t least = SmallestVolumeSize(plan);
    plan.volumeSize = least;
    {
      TempDir dir;
      PackResult r = WritePackage(plan, dir.Path("S.exe"));
      ASSERT_EQ(r.error, "") << c.what;
      EXPECT_TRUE(ExtractAll(dir.Path("S.exe")).files[c.name] == c.content) << c.what;
    }
    plan.volumeSize = least - 1;
    TempDir dir;
    PackResult r = WritePackage(plan, dir.Path("S.exe"));
    EXPECT_NE(r.error.find("the smallest size that works is " + std::to_string(least) + " bytes"), std::string::npos)
        << c.what << ": " << r.error;
  }
}

namespace {
// Every volume's bytes, first volume first.
std::vector<std::string> VolumeBytes(const PackResult& r) {
  std::vector<std::string> out;
  for (const std::string& v : r.volumes) out.push_back(ReadAll(v));
  return out;
}

// A mix that the pool must keep in order: files from disk and from memory,
// stored and compressed, empty, and one larger than an item's share.
PackagePlan MixedPlan(const TempDir& dir) {
  PackagePlan plan = BasicSpec();
  plan.token = "PRODUCT-1";
  plan.reproducible = true;
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\r\n";
  WriteAll(dir.Path("text.txt"), text);
  WriteAll(dir.Path("random.bin"), RandomBytes(150000, 7));
  plan.files.push_back({"text.txt", "", dir.Path("text.txt"), 0x58A16B2Cu, 9});
  plan.files.push_back({"empty.txt", "", "", 0, 6});
  plan.files.push_back({"random.bin", "", dir.Path("random.bin"), 0, 1});
  plan.files.push_back({"stored.bin", RandomBytes(5000, 8), "", 0, kStoredLevel});
  for (int i = 0; i < 20; ++i) plan.files.push_back({"small" + std::to_string(i), text.substr(i * 997, 3000), "", 0, 9});
  std::string big(33u << 20, '\0');
  for (size_t i = 0; i < big.size(); i += 4096) big[i] = char(i >> 12);
  plan.files.push_back({"big.bin", big, "", 0, 1});
  return plan;
}
}  // namespace

TEST(PackageWriter, ThreadsWriteTheSameBytesAsOneThread) {
  // Volumes make the writer fall back to its own compression near each
  // volume's end; without them every item comes from the pool.
  TempDir dir;
  for (int64_t volumeSize : {int64_t(0), int64_t(60000), int64_t(200000)}) {
    PackagePlan plan = MixedPlan(dir);
    plan.volumeSize = volumeSize;
    plan.jobs = 1;
    PackResult one = WritePackage(plan, dir.Path("one.exe"));
    ASSERT_EQ(one.error, "") << volumeSize;
    plan.jobs = 4;
    PackResult four = WritePackage(plan, dir.Path("four.exe"));
    ASSERT_EQ(four.error, "") << volumeSize;
    EXPECT_GT(one.volumes.size(), volumeSize ? 1u : 0u);
    EXPECT_TRUE(VolumeBytes(one) == VolumeBytes(four)) << "volume size " << volumeSize;
    Extracted x = ExtractAll(dir.Path("four.exe"));
    EXPECT_EQ(x.files["big.bin"].size(), 33u << 20);
    EXPECT_EQ(x.files["text.txt"], ReadAll(dir.Path("text.txt")));
    EXPECT_EQ(x.times["text.txt"], 0x58A16B2Cu);
  }
}

TEST(PackageWriter, UnreadableSourceFailsWithThreads) {
  TempDir dir;
  PackagePlan plan = BasicSpec();
  WriteAll(dir.Path("a.bin"), "content");
  plan.files.push_back({"a.bin", "", dir.Path("a.bin"), 0, 9});
  plan.files.push_back({"gone.bin", "", dir.Path("gone.bin"), 0, 9});
  plan.jobs = 2;
  PackResult r = WritePackage(plan, dir.Path("Setup.exe"));
  EXPECT_NE(r.error.find("gone.bin"), std::string::npos) << r.error;
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.bin"}));
}

TEST(PackageWriter, ReproducibleSeedComesFromContentsNotPaths) {
  TempDir a, b;
  WriteAll(a.Path("data.bin"), RandomBytes(4000, 9));
  WriteAll(b.Path("renamed source.bin"), RandomBytes(4000, 9));
  auto plan = [](const std::string& source) {
    PackagePlan p = BasicSpec();
    p.token = "PRODUCT-1";
    p.hasWebSetup = true;
    p.webToken = "WEB-1";
    p.reproducible = true;
    p.files.push_back({"Data.bin", "", source, 0x58A16B2Cu, 9});
    return p;
  };
  const PackagePlan base = plan(a.Path("data.bin"));
  ASSERT_EQ(WritePackage(base, a.Path("Setup.exe")).error, "");
  const std::string reference = ReadAll(a.Path("Setup.exe"));
  const TGFileInfo ref(a.Path("Setup.exe"));

  struct Case {
    const char* what;
    PackagePlan plan;
    bool same;
  };
  std::vector<Case> cases;
  cases.push_back({"same inputs from another folder and file name", plan(b.Path("renamed source.bin")), true});
  PackagePlan random = base;
  random.reproducible = false;
  cases.push_back({"without the option", random, false});
  PackagePlan text = base;
  text.languages[0].texts[0].second = "Other Setup";
  cases.push_back({"a language text changed", text, false});
  PackagePlan time = base;
  time.files[0].dosTime += 1;
  cases.push_back({"a file time changed", time, false});
  WriteAll(b.Path("changed.bin"), RandomBytes(4000, 10));
  cases.push_back({"the contents changed", plan(b.Path("changed.bin")), false});
  for (const Case& c : cases) {
    ASSERT_EQ(WritePackage(c.plan, b.Path("Setup.exe")).error, "") << c.what;
    std::string bytes = ReadAll(b.Path("Setup.exe"));
    // The random parts: the letters at 0x90 and the scrambled tokens.
    bool lettersSame = bytes.compare(0x90, 64, reference, 0x90, 64) == 0;
    TGFileInfo got(b.Path("Setup.exe"));
    EXPECT_EQ(bytes == reference, c.same) << c.what;
    EXPECT_EQ(lettersSame, c.same) << c.what;
    EXPECT_EQ(got.PackageToken(false) == ref.PackageToken(false), c.same) << c.what;
    EXPECT_EQ(got.WebSetupString() == ref.WebSetupString(), c.same) << c.what;
    EXPECT_EQ(got.PackageToken(true), "PRODUCT-1") << c.what;
    for (int i = 0x90; i < 0x90 + 64; ++i) EXPECT_TRUE(bytes[i] >= 'A' && bytes[i] <= 'Z') << c.what;
  }
}
