#include <gtest/gtest.h>
#include <zlib.h>

#include "package/gfileinfo.h"
#include "package/checksum.h"
#include "package/lang.h"
#include "package/package_items.h"
#include "package/pkgfile.h"
#include "package_fixture.h"

using namespace pkgtest;

namespace {
// A plain (non-executable) volume: header items from offset 0, then the trailer.
std::string PlainVolume(const std::vector<std::string>& items, PackageTrailer t) {
  std::string body;
  for (const std::string& i : items) body += i;
  t.TrailerLength = kTrailerSize;
  return body + EncodeTrailer(t);
}

PackageTrailer GoodTrailer() {
  PackageTrailer t;
  t.HeaderItemCount = 2;
  t.PackageSignature = kPackageSignature;
  t.PackageFlags = kFlagDebugLog;
  return t;
}

std::string Item(const std::string& payload) { return RawItem(payload, false); }

std::string BuildOne(const TempDir& dir, const PackagePlan& plan, const std::string& name = "Setup.exe") {
  PackResult r = WritePackage(plan, dir.Path(name));
  EXPECT_EQ(r.error, "");
  return dir.Path(name);
}

bool AnyFlag(const TGFileInfo& fi) {
  return fi.TempDriveNotice() || fi.MoreVolumes() || fi.CdSpanning() || fi.ActivityBar() || fi.DebugLog() ||
         fi.WebSetup() || fi.ConfirmDownload() || fi.WriteAgentCopy() || fi.IsUpdateAgent();
}
}  // namespace

TEST(PackageReader, EachFlagReadsBackAlone) {
  struct Case {
    const char* name;
    void (*set)(PackagePlan&);
    bool (TGFileInfo::*get)() const;
  } cases[] = {
      {"TempDriveNotice", [](PackagePlan& s) { s.flags = kFlagTempDriveNotice; }, &TGFileInfo::TempDriveNotice},
      {"CdSpanning", [](PackagePlan& s) { s.flags = kFlagCdSpanning; }, &TGFileInfo::CdSpanning},
      {"ActivityBar", [](PackagePlan& s) { s.flags = kFlagActivityBar; }, &TGFileInfo::ActivityBar},
      {"DebugLog", [](PackagePlan& s) { s.flags = kFlagDebugLog; }, &TGFileInfo::DebugLog},
      {"WebSetup", [](PackagePlan& s) { s.webSetup = true; }, &TGFileInfo::WebSetup},
      {"ConfirmDownload", [](PackagePlan& s) { s.confirmDownload = true; }, &TGFileInfo::ConfirmDownload},
      {"WriteAgentCopy", [](PackagePlan& s) { s.writeAgentCopy = true; }, &TGFileInfo::WriteAgentCopy},
      {"IsUpdateAgent", [](PackagePlan& s) { s.isUpdateAgent = true; }, &TGFileInfo::IsUpdateAgent},
  };
  TempDir dir;
  TGFileInfo plain(BuildOne(dir, BasicSpec(), "Plain.exe"));
  EXPECT_FALSE(AnyFlag(plain));
  for (const Case& c : cases) {
    PackagePlan plan = BasicSpec();
    c.set(plan);
    TGFileInfo fi(BuildOne(dir, plan));
    ASSERT_TRUE(fi.HasPackage()) << c.name;
    EXPECT_TRUE((fi.*c.get)()) << c.name;
    int set = 0;
    for (const Case& other : cases) set += (fi.*other.get)() ? 1 : 0;
    EXPECT_EQ(set, 1) << c.name;
  }
}

TEST(PackageReader, HeaderFields) {
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.updateUrl = "http://example.test/updates";
  plan.infoFileName = "http://example.test/updates/App.v2.info";
  plan.agentExeName = "AppAgent.exe";
  plan.token = "PRODUCT-7";
  plan.silent = true;
  TGFileInfo fi(BuildOne(dir, plan));
  EXPECT_EQ(fi.UpdateUrl(), "http://example.test/updates");
  EXPECT_EQ(fi.InfoFileName(), "App.v2.info");
  EXPECT_EQ(fi.OriginalFileName(), "App.original");
  EXPECT_EQ(fi.AgentExeName(), "AppAgent.exe");
  EXPECT_EQ(fi.PackageToken(true), "PRODUCT-7");
  EXPECT_EQ(fi.PackageToken(false).size(), 50u);
  EXPECT_TRUE(fi.Silent());
  EXPECT_EQ(fi.WebBase(), "");  // two header items: no web-setup string

  plan.silent = false;
  plan.hasWebSetup = true;
  plan.webBase = "http://example.test/dl";
  plan.webFileName = "Full.exe";
  plan.webAlwaysDownload = true;
  plan.webToken = "WEB-1";
  plan.webSize = "123456";
  TGFileInfo web(BuildOne(dir, plan));
  EXPECT_FALSE(web.Silent());
  EXPECT_EQ(web.Trailer().HeaderItemCount, 3);
  EXPECT_EQ(web.WebBase(), "http://example.test/dl");
  EXPECT_EQ(web.WebFileName(), "Full.exe");
  EXPECT_TRUE(web.WebAlwaysDownload());
  EXPECT_EQ(web.WebToken(true), "WEB-1");
  EXPECT_EQ(web.WebSize(), "123456");
}

TEST(PackageReader, SpaceRequiredFollowsClusterSize) {
  HookGuard guard;
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.files.push_back({"a.bin", std::string(1, 'a')});
  plan.files.push_back({"b.bin", std::string(600, 'b')});
  plan.files.push_back({"c.bin", std::string(5000, 'c')});
  TGFileInfo fi(BuildOne(dir, plan));
  static uint32_t cluster;
  static std::string askedRoot;
  Platform().clusterSize = [](const std::string& root) {
    askedRoot = root;
    return cluster;
  };
  struct Case {
    uint32_t cluster, expected;
  } cases[] = {
      {0, 256 + 768 + 5120},        // unknown: entry 0
      {511, 256 + 768 + 5120},      // under 512: entry 0
      {512, 512 + 1024 + 5120},     // entry 1
      {4096, 4096 + 4096 + 8192},   // entry 4
      {65536, 3 * 65536},           // entry 8
      {1u << 20, 3 * 65536},        // larger clusters stay on entry 8
  };
  for (const Case& c : cases) {
    cluster = c.cluster;
    EXPECT_EQ(fi.SpaceRequired("D:\\Temp\\x"), c.expected) << c.cluster;
    EXPECT_EQ(askedRoot, "D:\\");
  }
  Platform().clusterSize = nullptr;
  EXPECT_EQ(fi.SpaceRequired("D:\\"), 256u + 768u + 5120u);
}

TEST(PackageReader, PackageEndHidesAppendedData) {
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.flags = kFlagActivityBar;
  std::string path = BuildOne(dir, plan);
  std::string image = ReadAll(path);
  std::string cleared = image;
  std::fill(cleared.begin() + 0xF8, cleared.begin() + 0x100, '\0');

  struct Case {
    const char* what;
    std::string bytes;
    bool found;
  } cases[] = {
      {"as built", image, true},
      {"signature appended", image + std::string(3000, '\x5A'), true},
      {"PackageEnd cleared", cleared, true},
      {"PackageEnd cleared and data appended", cleared + std::string(3000, '\x5A'), false},
  };
  for (const Case& c : cases) {
    WriteAll(path, c.bytes);
    TGFileInfo fi(path);
    EXPECT_EQ(fi.HasPackage(), c.found) << c.what;
    EXPECT_EQ(fi.ActivityBar(), c.found) << c.what;
  }
}

TEST(PackageReader, PeMarkElsewhereIsAPlainVolume) {
  TempDir dir;
  std::string path = BuildOne(dir, BasicSpec());
  std::string image = ReadAll(path);
  image[0x100] = 'X';  // PackageEnd is no longer consulted
  WriteAll(path, image);
  EXPECT_FALSE(HasExeHeader(path));
  EXPECT_TRUE(TGFileInfo(path).HasPackage());  // the trailer is still at the end
  WriteAll(path, image + "tail");
  EXPECT_FALSE(TGFileInfo(path).HasPackage());
}

TEST(PackageReader, TrailerLengthWords) {
  TempDir dir;
  std::string path = dir.Path("vol.bin");
  // A longer trailer is read only for its first 70 bytes; a shorter one leaves the rest zero.
  std::string rec = EncodeTrailer(GoodTrailer());
  std::string body = Item("\x02\x01" "English\x01s0=Hi\x01\x02") + Item("|u|i|a||0|");
  uint8_t len[4];
  PutU32(len, 80);
  WriteAll(path, body + rec.substr(0, 70) + "012345" + std::string(reinterpret_cast<char*>(len), 4));
  PackageTrailer t;
  ASSERT_TRUE(ReadPackageTrailer(path, t));
  EXPECT_EQ(t.TrailerLength, 74u);
  EXPECT_EQ(t.PackageSignature, kPackageSignature);
  EXPECT_TRUE(TGFileInfo(path).HasPackage());

  PutU32(len, 20);
  WriteAll(path, rec.substr(0, 16) + std::string(reinterpret_cast<char*>(len), 4));
  ASSERT_TRUE(ReadPackageTrailer(path, t));
  EXPECT_EQ(t.TrailerLength, 20u);
  EXPECT_EQ(t.PackageSignature, kPackageSignature);
  EXPECT_EQ(t.VolumeChecksum, 0u);
  EXPECT_EQ(t.HeaderItemCount, 2);  // read from the record

  PackageTrailer zeroCount = GoodTrailer();
  zeroCount.HeaderItemCount = 0;
  WriteAll(path, PlainVolume({}, zeroCount));
  EXPECT_EQ(ReadPackageTrailer(path).HeaderItemCount, 2);  // 0 reads as 2
}

TEST(PackageReader, DamagedFilesHaveNoPackage) {
  TempDir dir;
  const std::string lang = Item("\x02\x01" "English\x01s0=Hi\x01\x02");
  const std::string header = Item("|u|i|a||0|");
  auto withLength = [](std::string bytes, uint32_t n) {
    uint8_t b[4];
    PutU32(b, n);
    bytes.replace(bytes.size() - 4, 4, reinterpret_cast<char*>(b), 4);
    return bytes;
  };
  PackageTrailer farOffset = GoodTrailer();
  farOffset.FirstItemOffset = 1u << 30;
  PackageTrailer nearEnd = GoodTrailer();
  nearEnd.FirstItemOffset = uint32_t(lang.size() + header.size() + 10);
  PackageTrailer webCount = GoodTrailer();
  webCount.HeaderItemCount = 3;  // promises a third item that is not there
  std::string good = PlainVolume({lang, header}, GoodTrailer());
  std::string negativeItem = good;
  negativeItem[3] = '\xFF';  // length word of the language block turns negative

  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"three bytes", "abc"},
      {"length word 2", withLength(good, 2)},
      {"length word 0", withLength(good, 0)},
      {"length beyond the start", withLength(good, uint32_t(good.size() + 1))},
      {"length 0xFFFFFFFF", withLength(good, 0xFFFFFFFFu)},
      {"first item beyond the file", PlainVolume({lang, header}, farOffset)},
      {"first item inside the trailer", PlainVolume({lang, header}, nearEnd)},
      {"item length beyond the trailer", PlainVolume({lang, Item("|u|i|").substr(0, 6)}, GoodTrailer())},
      {"negative item length", negativeItem},
      {"web-setup item missing", PlainVolume({lang, header}, webCount)},
  };
  for (const Case& c : cases) {
    std::string path = dir.Path("bad.bin");
    WriteAll(path, c.bytes);
    TGFileInfo fi(path);
    EXPECT_FALSE(fi.HasPackage()) << c.what;
    EXPECT_FALSE(AnyFlag(fi)) << c.what;
    EXPECT_EQ(fi.LangBlock(), "") << c.what;
    EXPECT_EQ(fi.HeaderString(), "") << c.what;
    EXPECT_EQ(fi.AgentExeName(), "") << c.what;
  }

  std::string exe = FakeStub() + good;
  uint8_t end[4];
  PutU32(end, uint32_t(exe.size() + 100));  // PackageEnd beyond the file (truncated copy)
  exe.replace(0xFC, 4, reinterpret_cast<char*>(end), 4);
  WriteAll(dir.Path("cut.exe"), exe);
  EXPECT_FALSE(TGFileInfo(dir.Path("cut.exe")).HasPackage());
  EXPECT_EQ(PackageLogicalEnd(dir.Path("cut.exe")), int64_t(exe.size()));

  EXPECT_FALSE(TGFileInfo(dir.Path("missing.exe")).HasPackage());
  EXPECT_FALSE(HasExeHeader(dir.Path("missing.exe")));
}

TEST(PackageReader, OtherSignatureKeepsRecordButNoTexts) {
  TempDir dir;
  PackageTrailer t = GoodTrailer();
  t.PackageSignature = 0x12345678;
  std::string path = dir.Path("vol.bin");
  WriteAll(path, PlainVolume({Item("\x02\x01" "English\x01\x02"), Item("|u|i|a||1|")}, t));
  TGFileInfo fi(path);
  EXPECT_FALSE(fi.HasPackage());
  EXPECT_TRUE(fi.DebugLog());  // the record is used as read
  EXPECT_EQ(fi.HeaderString(), "");
  EXPECT_FALSE(fi.Silent());
}

// The readers over an open file (any FILE, a file in memory too) read what
// the readers over a path read; each leaves the file open for the next.
TEST(PackageReader, OpenFileOverloadsReadLikeThePathOnes) {
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.hasWebSetup = true;
  plan.webBase = "http://example.test/dl";
  plan.token = "PRODUCT";
  plan.files.push_back({"Data.bin", std::string(5000, 'd'), "", 0, 6});
  std::string path = BuildOne(dir, plan);
  WriteAll(dir.Path("appended.exe"), ReadAll(path) + "signature appended later");
  for (const std::string& p : {path, dir.Path("appended.exe")}) {
    SCOPED_TRACE(p);
    std::FILE* f = OpenSharedRead(p);
    ASSERT_NE(f, nullptr);
    TGFileInfo byPath(p), byFile(f);
    EXPECT_TRUE(byFile.HasPackage());
    EXPECT_EQ(EncodeTrailer(byFile.Trailer()), EncodeTrailer(byPath.Trailer()));
    EXPECT_EQ(byFile.LangBlock(), byPath.LangBlock());
    EXPECT_EQ(byFile.HeaderString(), byPath.HeaderString());
    EXPECT_EQ(byFile.WebSetupString(), byPath.WebSetupString());
    EXPECT_EQ(PackageChecksum(f, kTrailerSize), PackageChecksum(p, kTrailerSize));
    VolumeContents a, b;
    std::string errA, errB;
    EXPECT_TRUE(ReadVolumeItems(f, a, errA)) << errA;
    EXPECT_TRUE(ReadVolumeItems(p, b, errB)) << errB;
    ASSERT_EQ(a.items.size(), b.items.size());
    for (size_t i = 0; i < a.items.size(); ++i) EXPECT_EQ(a.items[i].payload, b.items[i].payload);
    std::fclose(f);
  }
}

// Item payloads are hostile input to inspection: every damaged stream must
// end with an error, never loop.
TEST(PackageReader, InflateBytesEndsOnEveryDamagedStream) {
  std::string good;
  {
    std::string plain = "Name.txt|0" + std::string(1, '\0') + std::string(100000, 'a');
    uLongf n = compressBound(uLong(plain.size()));
    good.resize(n);
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&good[0]), &n, reinterpret_cast<const Bytef*>(plain.data()),
                       uLong(plain.size())),
              Z_OK);
    good.resize(n);
  }
  // Header 78 BB: a valid check, with the flag that asks for a preset dictionary.
  const std::string needsDictionary("\x78\xBB\x00\x00\x00\x01\x4B\x04\x00", 9);
  struct Case {
    const char* what;
    std::string payload;
    bool ok;
    const char* error;
  } cases[] = {
      {"whole", good, true, ""},
      {"cut short", good.substr(0, good.size() / 2), false, "buffer error"},
      {"preset dictionary", needsDictionary, false, "need dictionary"},
      {"no zlib header", "not a stream", false, "incorrect header check"},
      {"empty", "", false, "buffer error"},
  };
  for (const Case& c : cases) {
    std::string out, error;
    EXPECT_EQ(InflateBytes(c.payload, out, error), c.ok) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    if (c.ok) {
      EXPECT_EQ(out.size(), 100011u) << c.what;
    }
  }
}
