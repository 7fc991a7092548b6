// The extraction engine over real files in a temporary folder (C-library
// environment): volumes, items, checksums, prompts, the agent copy and the
// handling of damaged packages.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>

#include "package/item_name.h"
#include "package_fixture.h"
#include "package/package_writer.h"
#include "package/pkgfile.h"
#include "package/checksum.h"
#include "setup/unpack.h"
#include "setup/unpack_stdio.h"
#include "setup/zlibopen.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  // Through the path rule (UTF-8, wide on Windows), as the engine wrote it.
  std::u8string u = p.u8string();
  return pkgtest::ReadAll(std::string(u.begin(), u.end()));
}

void WriteAll(const fs::path& p, const std::string& data) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
}

std::string Stub() {
  std::string s(0x400, '\0');
  s[0] = 'M';
  s[1] = 'Z';
  s[0x100] = 'P';
  s[0x101] = 'E';
  return s;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng() & 0xFF);
  return s;
}

// Text that compresses well but still spans many inflate pieces.
std::string TextBytes(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + std::string(1, '\0') + "\n";
  s.resize(n);
  return s;
}

std::string Deflate(const std::string& plain) {
  uLongf size = compressBound(uLong(plain.size()));
  std::string z(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(plain.data()), uLong(plain.size()), 9);
  z.resize(size);
  return z;
}

const std::string kHeaderItems = RawItem("\x02\x01" "English\x01\x02", false) + RawItem("|http://|.info|.exe||0|", false);

enum class Sum { Computed, Unchecked, Wrong };

struct VolumeSpec {
  bool exe = true;
  std::vector<std::string> items;  // raw items, header items included
  uint32_t fileCount = 0;
  uint8_t headerItems = 2;
  uint8_t flags = 0;
  uint32_t signature = kPackageSignature;
  Sum sum = Sum::Computed;
  std::string appended;  // bytes after the package (a signature, say)
};

// Writes a volume the way the packer lays it out and stores its checksum.
void WriteVolume(const fs::path& p, const VolumeSpec& v) {
  std::string data = v.exe ? Stub() : "";
  PackageTrailer t;
  t.Reserved0 = 1;
  t.HeaderItemCount = v.headerItems;
  t.FirstItemOffset = uint32_t(data.size());
  t.FileCount = v.fileCount;
  t.PackageSignature = v.signature;
  t.PackageFlags = v.flags;
  t.TrailerLength = kTrailerSize;
  for (const auto& item : v.items) data += item;
  data += EncodeTrailer(t);
  if (v.exe) {
    ASSERT_TRUE(StampStub(data, data.size()));
  }
  WriteAll(p, data);
  uint32_t sum = PackageChecksum(p.string(), kTrailerSize);
  uint32_t stored = v.sum == Sum::Computed ? sum : v.sum == Sum::Unchecked ? kUncheckedVolume : sum + 1;
  PutU32(reinterpret_cast<uint8_t*>(&data[data.size() - kTrailerSize + 16]), stored);
  WriteAll(p, data + v.appended);
}

// Records every progress call of the run under test.
std::vector<std::pair<int, int>> g_progress;
void RecordProgress(int kind, int, int maximum, int, int, const std::string&) { g_progress.push_back({kind, maximum}); }

int Count(const std::vector<std::pair<int, int>>& v, int kind) {
  int n = 0;
  for (auto& e : v) n += e.first == kind;
  return n;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& needle) {
  for (auto& l : lines)
    if (l.find(needle) != std::string::npos) return true;
  return false;
}

// The C-library environment with a code page for unmarked names and a
// record of the names the engine skipped.
// A disk that takes `room` more bytes (-1: any number), and a file system
// that may refuse to set dates.
class LimitedTarget : public UnpackTarget {
 public:
  LimitedTarget(std::unique_ptr<UnpackTarget> inner, int64_t& room, bool failDates)
      : inner_(std::move(inner)), room_(room), failDates_(failDates) {}
  bool Write(const void* data, size_t size) override {
    if (room_ >= 0 && int64_t(size) > room_) {
      inner_->Write(data, size_t(room_));  // a short write, as a full disk gives
      room_ = 0;
      return false;
    }
    if (room_ >= 0) room_ -= int64_t(size);
    return inner_->Write(data, size);
  }
  bool SetDosTime(uint32_t t) override { return !failDates_ && inner_->SetDosTime(t); }
  void Abandon() override { inner_->Abandon(); }
  std::string LastError() override { return room_ == 0 ? "There is not enough space on the disk." : "Refused."; }

 private:
  std::unique_ptr<UnpackTarget> inner_;
  int64_t& room_;
  bool failDates_;
};

class TestEnv : public StdioUnpackEnv {
 public:
  std::string AnsiNameToPath(const std::string& name) override { return ansiToPath ? ansiToPath(name) : name; }
  void UnsafeNameSkipped(const std::string& name) override { skipped.push_back(name); }
  std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, TargetMode mode, bool& existed) override {
    std::unique_ptr<UnpackTarget> t = StdioUnpackEnv::OpenTarget(path, mode, existed);
    if (!t || (room < 0 && !failDates)) return t;
    return std::unique_ptr<UnpackTarget>(new LimitedTarget(std::move(t), room, failDates));
  }
  std::function<std::string(const std::string&)> ansiToPath;
  std::vector<std::string> skipped;
  int64_t room = -1;
  bool failDates = false;
};

class Unpack : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("unpack_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "pkg");
    out = root / "out";
    g_progress.clear();
    ResetWriteFailureCount();
    env.onPrompt = [](const std::string&) { return true; };
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path Pkg(const std::string& name) const { return root / "pkg" / name; }

  void Extract(const fs::path& package, const std::string& agent = "", bool force = false, bool hidden = false) {
    ExtractRequest r;
    r.packagePath = package.string();
    r.targetFolder = out.string();
    r.agentFileName = agent;
    r.progress = RecordProgress;
    r.promptText = "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue";
    r.promptTitle = "Attention";
    r.forcePrompt = force;
    r.hidden = hidden;
    checksumOk = !checksumOk;  // the engine must set it either way
    entry = "stale";
    outcome = ExtractOutcome::Cancelled;
    zlibError = EZLibError();
    RunExtraction(env, r, checksumOk, entry, &outcome, &zlibError);
  }

  std::vector<std::string> OutFiles() const {
    std::vector<std::string> names;
    if (!fs::exists(out)) return names;
    for (auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path root, out;
  TestEnv env;
  bool checksumOk = false;
  std::string entry;
  ExtractOutcome outcome = ExtractOutcome::Done;
  EZLibError zlibError;
};

using Names = std::vector<std::string>;

// ---- whole packages from the package writer ----

TEST_F(Unpack, SingleVolumeWritesEveryFileWithItsContentAndDate) {
  PackagePlan plan;
  plan.stub = Stub();
  uint32_t date = DosTimeOf(2002, 9, 8, 13, 45, 30);
  std::string big = RandomBytes(300000, 1);  // stored: several read pieces
  std::string text = TextBytes(500000);      // compressed: many inflate pieces
  plan.files = {{"Engine.exe", "MZengine", "", date, 9, true, ""},
                {"Big.bin", big, "", date, kStoredLevel},
                {"Text.txt", text, "", 0, 6},
                {"Empty.dat", "", "", date, 9}};
  PackResult pr = WritePackage(plan, Pkg("Setup.exe").string());
  ASSERT_EQ(pr.error, "");
  Extract(Pkg("Setup.exe"));

  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(entry, "Engine.exe*");
  EXPECT_EQ(OutFiles(), (Names{"Big.bin", "Empty.dat", "Engine.exe", "Text.txt"}));
  EXPECT_EQ(ReadAll(out / "Engine.exe"), "MZengine");
  EXPECT_EQ(ReadAll(out / "Big.bin"), big);
  EXPECT_EQ(ReadAll(out / "Text.txt"), text);
  EXPECT_EQ(fs::file_size(out / "Empty.dat"), 0u);
  EXPECT_EQ(env.FileDosTime((out / "Big.bin").string()), date);
  EXPECT_EQ(env.FileDosTime((out / "Empty.dat").string()), date);
  // Date 0 keeps the time of writing.
  EXPECT_NE(env.FileDosTime((out / "Text.txt").string()), 0u);
  EXPECT_NE(env.FileDosTime((out / "Text.txt").string()), date);

  // Reset, reset to the file count, one step per new file.
  std::vector<std::pair<int, int>> expect{{0, 0}, {0, 4}, {1, 0}, {1, 0}, {1, 0}, {1, 0}};
  EXPECT_EQ(g_progress, expect);
  EXPECT_TRUE(HasLine(env.debug, "FileInfo.FilesCount=4"));
  EXPECT_TRUE(HasLine(env.debug, "FileLen=" + std::to_string(fs::file_size(Pkg("Setup.exe")))));
  EXPECT_TRUE(HasLine(env.debug, "UnCompressTime: "));
  EXPECT_TRUE(env.prompts.empty());
  EXPECT_TRUE(env.errors.empty());
}

TEST_F(Unpack, MultiVolumePackagesJoinSplitFiles) {
  struct Case {
    const char* out;      // name given to the writer
    bool first001;        // first volume named .001
    const char* first;    // first volume as the engine gets it
    const char* second;   // the volume that must follow
  } cases[] = {{"Setup.exe", false, "Setup.exe", "Setup.exe.002"},
               {"Setup.exe", true, "Setup.exe.001", "Setup.exe.002"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    fs::remove_all(root / "pkg");
    fs::create_directories(root / "pkg");
    fs::remove_all(out);
    g_progress.clear();
    PackagePlan plan;
    plan.stub = Stub();
    plan.volumeSize = 40000;
    plan.firstVolume001 = c.first001;
    std::string a = RandomBytes(70000, 2), b = RandomBytes(5000, 3);
    plan.files = {{"Engine.exe", "E", "", 0, 9, true, " /x"}, {"A.bin", a, "", 0, kStoredLevel}, {"B.bin", b, "", 0, 9}};
    PackResult pr = WritePackage(plan, Pkg(c.out).string());
    ASSERT_EQ(pr.error, "");
    ASSERT_GE(pr.volumes.size(), 2u);
    ASSERT_TRUE(fs::exists(Pkg(c.second)));
    Extract(Pkg(c.first));
    EXPECT_TRUE(checksumOk);
    EXPECT_EQ(entry, "Engine.exe* /x");
    EXPECT_EQ(ReadAll(out / "A.bin"), a);
    EXPECT_EQ(ReadAll(out / "B.bin"), b);
    EXPECT_TRUE(env.prompts.empty());
    // One step per file plus one per change of volume.
    EXPECT_EQ(Count(g_progress, 1), 3 + int(pr.volumes.size()) - 1);
    EXPECT_EQ(env.autoPlayCancels, int(pr.volumes.size()) - 1);
    env.autoPlayCancels = 0;
  }
}

// ---- items ----

TEST_F(Unpack, ItemsWithTheSameNameAreJoinedButAFileFoundThereIsNeverWrittenInto) {
  uint32_t d1 = DosTimeOf(2001, 1, 1, 10, 0, 0), d2 = DosTimeOf(2003, 3, 3, 12, 0, 0);
  std::string first(1000, 'a'), second(500, 'b');
  WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("Data.bin", d1, first, 9),
                                        FileItem("Data.bin", d2, second, kStoredLevel)}, 1});
  // A file already in the folder (planted, or a link) is not this run's.
  fs::create_directories(out);
  WriteAll(out / "Old.txt", "old;");
  WriteVolume(Pkg("More.exe"), {true, {kHeaderItems, FileItem("Old.txt", 0, "new", 9)}, 1});

  Extract(Pkg("Setup.exe"));
  EXPECT_EQ(ReadAll(out / "Data.bin"), first + second);
  EXPECT_EQ(env.FileDosTime((out / "Data.bin").string()), d2);  // set after every write
  EXPECT_EQ(Count(g_progress, 1), 1);
  g_progress.clear();
  Extract(Pkg("More.exe"));
  EXPECT_EQ(ReadAll(out / "Old.txt"), "old;");
  EXPECT_EQ(outcome, ExtractOutcome::WriteFailed);
}

TEST_F(Unpack, EngineEntryRules) {
  struct Case {
    std::vector<std::string> headers;  // header texts of the file items, in order
    std::string entry;
    Names files;
  } cases[] = {
      {{"|Engine.exe*|0|"}, "Engine.exe*", {"Engine.exe"}},
      {{"|Engine.exe* /LANG=DE|0|"}, "Engine.exe* /LANG=DE", {"Engine.exe"}},
      {{"|A.exe*|0|", "|B.txt|0|", "|C.exe* -q|0|"}, "C.exe* -q", {"A.exe", "B.txt", "C.exe"}},
      // A star outside the name field reports the whole header.
      {{"|Setup.txt|0|*|"}, "|Setup.txt|0|*|", {"Setup.txt"}},
      // ... unless the text before that star, which the setup flow would
      // start, leaves the target folder.
      {{"\\Setup.txt\\..\\..\\cmd.exe*\\"}, "", {"Setup.txt"}},
      {{"|Plain.txt|0|"}, "", {"Plain.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    fs::remove_all(out);
    std::vector<std::string> items{kHeaderItems};
    for (auto& h : c.headers) items.push_back(RawItem(h + std::string(1, '\0') + "x", true));
    WriteVolume(Pkg("Setup.exe"), {true, items, uint32_t(c.headers.size())});
    Extract(Pkg("Setup.exe"));
    EXPECT_EQ(entry, c.entry);
    EXPECT_EQ(OutFiles(), c.files);
  }
}

TEST_F(Unpack, ItemsWithoutAUsableHeaderAreSkipped) {
  std::vector<std::string> items{kHeaderItems,
                                 RawItem("", false),                        // length 0
                                 RawItem("no zero byte here", true),        // no header end
                                 RawItem(std::string(1, '\0') + "x", true),  // empty header
                                 FileItem("Kept.txt", 0, "k", 9)};
  // A header that never ends within the limit is no header, however long the item.
  std::string noZero(kMaxItemHeader + 70000, 'h');
  items.push_back(RawItem(Deflate(noZero), false));
  items.push_back(RawItem(noZero + std::string(1, '\0') + "tail", true));
  WriteVolume(Pkg("Setup.exe"), {true, items, 1});
  Extract(Pkg("Setup.exe"));
  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(OutFiles(), Names{"Kept.txt"});
}

TEST_F(Unpack, NamesThatLeaveTheTargetFolderAreNeverWritten) {
  const char* bad[] = {"..\\evil.txt", "../evil.txt", "sub/evil.txt", "C:evil.txt", ".", "..", "..*", ". ."};
  std::vector<std::string> items{kHeaderItems};
  for (const char* name : bad) items.push_back(FileItem(name, 0, "evil", 9));
  items.push_back(FileItem("Fine.txt", 0, "fine", 9));
  items.push_back(FileItem("|x|", 0, "empty name", 9));  // header "||x||0|": name field empty
  items.push_back(FileItem("..\\Engine.exe*", 0, "evil", 9));
  fs::create_directories(out / "sub");
  WriteVolume(Pkg("Setup.exe"), {true, items, 1});
  Extract(Pkg("Setup.exe"));
  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(OutFiles(), (Names{"Fine.txt", "sub"}));
  EXPECT_TRUE(fs::is_empty(out / "sub"));
  EXPECT_FALSE(fs::exists(root / "evil.txt"));
  EXPECT_FALSE(fs::exists(root / "..\\evil.txt"));
  // A skipped file never becomes the engine to start.
  EXPECT_EQ(entry, "");
  EXPECT_TRUE(HasLine(env.debug, "unsafe name: ..\\evil.txt"));
}

// Latin-1, except for a few bytes that become a dot and separators: a code
// page whose conversion makes names unsafe that were not so as bytes.
std::string HostileCodePage(const std::string& s) {
  std::string out;
  for (char c : s) {
    const uint8_t b = uint8_t(c);
    if (b == 0xAE)
      out += '.';
    else if (b == 0xAF)
      out += '/';
    else if (b == 0xA5)
      out += '\\';
    else if (b < 0x80)
      out += c;
    else
      out += {char(0xC0 | (b >> 6)), char(0x80 | (b & 0x3F))};
  }
  return out;
}

TEST_F(Unpack, TheUnsafeNameRuleJudgesDecodedNames) {
  env.ansiToPath = HostileCodePage;
  const NameEncoding U = NameEncoding::Utf8, A = NameEncoding::Ansi;
  struct Case {
    const char* what;
    std::string field;  // name field as stored
    NameEncoding encoding;
    std::string written;  // the file's name on disk; empty when skipped
    std::string entry;
  } cases[] = {
      {"2-byte", "M\xC3\xBCller.txt", U, "M\xC3\xBCller.txt", ""},
      {"3-byte", "\xE6\x97\xA5\xE6\x9C\xAC.txt", U, "\xE6\x97\xA5\xE6\x9C\xAC.txt", ""},
      {"4-byte", "\xF0\x9F\x98\x80.txt", U, "\xF0\x9F\x98\x80.txt", ""},
      {"engine", "Set\xC3\xBCp.exe* /N=\xCE\xA9", U, "Set\xC3\xBCp.exe", "Set\xC3\xBCp.exe* /N=\xCE\xA9"},
      {"dots", "..", U, "", ""},
      {"backslash", "a\\b", U, "", ""},
      {"device", "CON.txt", U, "", ""},
      {"superscript device", "COM\xC2\xB9", U, "", ""},
      {"superscript device with extension", "lpt\xC2\xB2.log", U, "", ""},
      {"overlong '.'", "\xC0\xAE", U, "", ""},
      {"overlong '..'", "\xC0\xAE\xC0\xAE", U, "", ""},
      {"overlong '/'",
       "a\xC0\xAF"
       "b.txt",
       U, "", ""},
      {"surrogate", "\xED\xA0\x80.txt", U, "", ""},
      {"above U+10FFFF", "\xF4\x90\x80\x80.txt", U, "", ""},
      {"truncated", "M\xC3", U, "", ""},
      {"ANSI byte in a marked name", "M\xFCller.txt", U, "", ""},
      {"engine that is not UTF-8", "Set\xFCp.exe*", U, "", ""},  // never the entry either
      {"unmarked, converted", "M\xFCller.txt", A, "M\xC3\xBCller.txt", ""},
      {"unmarked engine, converted", "Set\xFCp.exe* /N=\xFC", A, "Set\xC3\xBCp.exe", "Set\xC3\xBCp.exe* /N=\xC3\xBC"},
      {"unmarked, becomes '..'", "\xAE\xAE", A, "", ""},
      {"unmarked, becomes a path",
       "a\xAF"
       "b.txt",
       A, "", ""},
      {"unmarked, becomes a path upwards",
       "\xAE\xAE\xA5"
       "evil.txt",
       A, "", ""},
      {"unmarked superscript device", "COM\xB9", A, "", ""},
      {"unmarked engine, becomes a path", "\xAE\xAE\xA5x.exe*", A, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(out);
    env.skipped.clear();
    env.debug.clear();
    WriteVolume(Pkg("Setup.exe"),
                {true, {kHeaderItems, FileItem(c.field, 0, "x", 9, c.encoding), FileItem("Fine.txt", 0, "f", 9)}, 2});
    Extract(Pkg("Setup.exe"));
    EXPECT_TRUE(checksumOk);
    EXPECT_EQ(entry, c.entry);
    if (c.written.empty()) {
      EXPECT_EQ(OutFiles(), Names{"Fine.txt"});
      // Reported with the name the rule judged: a marked one as stored, an unmarked one converted.
      std::string judged = c.encoding == U ? c.field : HostileCodePage(c.field);
      judged.erase(std::min(judged.find('*'), judged.size()));
      EXPECT_EQ(env.skipped, Names{judged});
      EXPECT_TRUE(HasLine(env.debug, "Skipped file item with unsafe name: " + judged));
    } else {
      EXPECT_EQ(OutFiles(), (Names{"Fine.txt", c.written}));
      EXPECT_EQ(ReadAll(out / std::u8string(c.written.begin(), c.written.end())), "x");
      EXPECT_TRUE(env.skipped.empty());
    }
  }
}

TEST_F(Unpack, DamagedCompressedItemRaisesZlibErrorAndLeavesNoPartFile) {
  std::string content = RandomBytes(200000, 4);
  std::string good = FileItem("Good.bin", 0, "good", 9);
  std::string item = FileItem("Bad.bin", 0, content, 1);
  std::string damaged = item;
  damaged[damaged.size() - 9] ^= 0x55;  // inside the deflate data near its end
  // A stream cut short but framed with a consistent length.
  std::string payload = item.substr(4, item.size() - 4 - 3000);
  std::string truncated = RawItem(payload, false);
  struct Case {
    std::string item;
    const char* message;
  } cases[] = {{damaged, "data error"}, {truncated, "buffer error"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    fs::remove_all(out);
    fs::create_directories(out);
    WriteAll(out / "Bad.bin", "before");
    WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, good, c.item, FileItem("Later.txt", 0, "l", 9)}, 3});
    Extract(Pkg("Setup.exe"));
    EXPECT_EQ(outcome, ExtractOutcome::Decompression);
    EXPECT_STREQ(zlibError.what(), c.message);
    EXPECT_FALSE(checksumOk);
    EXPECT_EQ(entry, "");
    EXPECT_EQ(ReadAll(out / "Good.bin"), "good");
    // The file the broken item went to is as it was before.
    EXPECT_EQ(ReadAll(out / "Bad.bin"), "before");
    EXPECT_FALSE(fs::exists(out / "Later.txt"));
  }
  // A broken item into a new file leaves no file behind.
  fs::remove_all(out);
  WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, damaged}, 1});
  Extract(Pkg("Setup.exe"));
  EXPECT_EQ(outcome, ExtractOutcome::Decompression);
  EXPECT_EQ(zlibError.Code(), Z_DATA_ERROR);
  EXPECT_EQ(OutFiles(), Names{});
}

TEST_F(Unpack, ItemRunningPastTheVolumeEndStopsTheRun) {
  uint8_t len[4];
  std::vector<std::string> lengthWords;
  for (int32_t n : {1000000, -1000000, INT32_MIN, 0x7FFFFFFF}) {
    PutU32(len, uint32_t(n));
    lengthWords.push_back(std::string(reinterpret_cast<char*>(len), 4));
  }
  for (size_t i = 0; i < lengthWords.size(); ++i) {
    SCOPED_TRACE(i);
    fs::remove_all(out);
    // The lying length word is followed by a well-formed item that must not be reached.
    std::string filler = FileItem("After.txt", 0, std::string(200, 'a'), kStoredLevel);
    WriteVolume(Pkg("Setup.exe"),
                {true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9), lengthWords[i] + filler}, 2});
    Extract(Pkg("Setup.exe"), "Agent.exe");
    EXPECT_FALSE(checksumOk);
    EXPECT_EQ(entry, "");
    EXPECT_EQ(OutFiles(), Names{"Engine.exe"});  // nothing after the damage, no agent copy
  }
}

// A volume whose reads fail after a given offset, as on a bad disk.
class FailingVolume : public UnpackVolume {
 public:
  FailingVolume(std::unique_ptr<UnpackVolume> inner, int64_t failFrom) : inner_(std::move(inner)), failFrom_(failFrom) {}
  int64_t Size() override { return inner_->Size(); }
  int64_t ReadAt(int64_t offset, void* buffer, size_t count) override {
    if (offset >= failFrom_) return -1;
    return inner_->ReadAt(offset, buffer, size_t(std::min<int64_t>(int64_t(count), failFrom_ - offset)));
  }

 private:
  std::unique_ptr<UnpackVolume> inner_;
  int64_t failFrom_;
};

class FailingEnv : public StdioUnpackEnv {
 public:
  std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) override {
    return std::unique_ptr<UnpackVolume>(new FailingVolume(StdioUnpackEnv::OpenVolume(path), failFrom));
  }
  int64_t failFrom = 0;
};

TEST_F(Unpack, PayloadThatCannotBeReadWholeStopsTheRun) {
  std::string big = RandomBytes(300000, 5);
  for (int level : {kStoredLevel, 1}) {
    SCOPED_TRACE(level);
    fs::remove_all(out);
    WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9),
                                          FileItem("Big.bin", 0, big, level), FileItem("Last.txt", 0, "l", 9)}, 3});
    FailingEnv failing;
    failing.failFrom = int64_t(fs::file_size(Pkg("Setup.exe"))) / 2;  // inside Big.bin
    ExtractRequest r;
    r.packagePath = Pkg("Setup.exe").string();
    r.targetFolder = out.string();
    RunExtraction(failing, r, checksumOk, entry);
    EXPECT_FALSE(checksumOk);
    EXPECT_EQ(entry, "");
    EXPECT_EQ(OutFiles(), Names{"Engine.exe"});  // the half-written Big.bin is gone
  }
}

TEST_F(Unpack, AFailedWriteEndsTheRunAndLeavesNothingHalfWritten) {
  const std::string big(20000, 'x');
  struct Case {
    const char* what;
    std::function<void()> prepare;
    const char* why;
  };
  const Case cases[] = {
      {"a folder where the file goes", [&] { fs::create_directories(out / "Busy.txt"); }, ""},
      {"a file planted at the name",
       [&] {
         fs::create_directories(out);
         std::ofstream(out / "Busy.txt") << "planted";
       },
       "A file of this name was there before the setup wrote it."},
      {"the disk fills", [&] { env.room = 5000; }, "There is not enough space on the disk."},
      {"the date cannot be set", [&] { env.failDates = true; }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(out);
    env.errors.clear();
    env.room = -1;
    env.failDates = false;
    WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9),
                                          FileItem("Busy.txt", DosTimeOf(2003, 3, 3, 12, 0, 0), big, 9),
                                          FileItem("Later.txt", 0, "l", 9)}, 3});
    c.prepare();
    Extract(Pkg("Setup.exe"));
    EXPECT_EQ(outcome, ExtractOutcome::WriteFailed);
    EXPECT_TRUE(checksumOk);       // the package is fine: the setup failed
    EXPECT_EQ(entry, "");          // nothing starts from a folder that lacks a file
    EXPECT_FALSE(fs::exists(out / "Later.txt"));
    ASSERT_EQ(env.errors.size(), 1u);  // every failed run says so
    EXPECT_NE(env.errors[0].find("Busy.txt<P><P>Unable to save Extracted File!<P><P>" + std::string(c.why)),
              std::string::npos)
        << env.errors[0];
    if (std::string(c.what) == "a file planted at the name") {
      EXPECT_EQ(ReadAll(out / "Busy.txt"), "planted");  // never appended to
    } else if (!fs::is_directory(out / "Busy.txt")) {
      EXPECT_FALSE(fs::exists(out / "Busy.txt"));  // the half-written file went
    }
  }
}

TEST_F(Unpack, DeviceNamedItemsAreSkippedAndNoted) {
  WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("CON.txt", 0, "c", 9), FileItem("NUL", 0, "n", 9),
                                        FileItem("Fine.txt", 0, "f", 9)}, 3});
  Extract(Pkg("Setup.exe"));
  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(OutFiles(), Names{"Fine.txt"});
  EXPECT_TRUE(HasLine(env.debug, "Skipped file item with unsafe name: CON.txt"));
  EXPECT_TRUE(HasLine(env.debug, "Skipped file item with unsafe name: NUL"));
}

TEST_F(Unpack, AbortStopsBeforeTheNextItemAndClearsTheEngineEntry) {
  WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("Engine.exe*", 0, "e", 9),
                                        FileItem("A.txt", 0, "a", 9), FileItem("B.txt", 0, "b", 9)}, 3});
  env.abortWhen = [&] { return fs::exists(out / "A.txt"); };
  Extract(Pkg("Setup.exe"), "Agent.exe");
  EXPECT_EQ(OutFiles(), (Names{"A.txt", "Engine.exe"}));  // no agent copy either
  EXPECT_EQ(entry, "");
  EXPECT_TRUE(checksumOk) << "an abort is no checksum failure";
  EXPECT_TRUE(env.errors.empty());
}

// The error text of a target that cannot be opened is the open's, even when
// the progress step in between changes the last error.
std::string g_lastError;
void ClobberingProgress(int, int, int, int, int, const std::string&) { g_lastError = "The operation completed."; }

class RefusingEnv : public StdioUnpackEnv {
 public:
  std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, TargetMode mode, bool& existed) override {
    existed = false;
    g_lastError = "Access is denied.";
    return nullptr;
  }
  std::string LastErrorText() override { return g_lastError; }
};

TEST_F(Unpack, UnableToSaveShowsTheErrorOfTheFailedOpen) {
  WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("A.txt", 0, "a", 9)}, 1});
  RefusingEnv refusing;
  ExtractRequest r;
  r.packagePath = Pkg("Setup.exe").string();
  r.targetFolder = out.string();
  r.progress = ClobberingProgress;
  RunExtraction(refusing, r, checksumOk, entry);
  ASSERT_EQ(refusing.errors.size(), 1u);
  EXPECT_NE(refusing.errors[0].find("Unable to save Extracted File!<P><P>Access is denied.<P>"), std::string::npos)
      << refusing.errors[0];
}

TEST_F(Unpack, TargetFolderThatCannotBeCreatedIsReported) {
  WriteAll(root / "file", "x");
  out = root / "file" / "sub";
  WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("A.txt", 0, "a", 9)}, 1});
  Extract(Pkg("Setup.exe"));
  ASSERT_GE(env.errors.size(), 1u);
  EXPECT_NE(env.errors[0].find("<P><P>Unable to create Directory!<P><P>"), std::string::npos);
  EXPECT_EQ(env.errors[0].rfind(out.string(), 0), 0u);
}

// ---- checksums and signatures ----

TEST_F(Unpack, ChecksumDecidesWhetherAVolumeIsExtracted) {
  struct Case {
    Sum sum;
    bool ok;
  } cases[] = {{Sum::Computed, true}, {Sum::Unchecked, true}, {Sum::Wrong, false}};
  for (const Case& c : cases) {
    fs::remove_all(out);
    VolumeSpec v{true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 1};
    v.sum = c.sum;
    v.appended = "appended after the package, never read";
    WriteVolume(Pkg("Setup.exe"), v);
    Extract(Pkg("Setup.exe"));
    EXPECT_EQ(checksumOk, c.ok);
    EXPECT_EQ(OutFiles(), c.ok ? Names{"Engine.exe"} : Names{});
    EXPECT_EQ(entry, c.ok ? "Engine.exe*" : "");
  }
  // A missing first volume is a failed checksum.
  Extract(Pkg("Missing.exe"));
  EXPECT_FALSE(checksumOk);
  EXPECT_EQ(entry, "");
}

TEST_F(Unpack, BadChecksumInALaterVolumeKeepsEarlierFiles) {
  WriteVolume(Pkg("Data.001"), {false, {kHeaderItems, FileItem("One.txt", 0, "1", 9)}, 2, 2, kFlagMoreVolumes});
  VolumeSpec second{false, {FileItem("Two.txt", 0, "2", 9)}, 2};
  second.sum = Sum::Wrong;
  WriteVolume(Pkg("Data.002"), second);
  Extract(Pkg("Data.001"));
  EXPECT_FALSE(checksumOk);
  EXPECT_EQ(OutFiles(), Names{"One.txt"});
}

TEST_F(Unpack, VolumeWithAnotherSignatureIsSkipped) {
  // Alone: the run ends with a passed checksum and nothing extracted.
  VolumeSpec alone{true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 1};
  alone.signature = 0x11223344;
  WriteVolume(Pkg("Setup.exe"), alone);
  Extract(Pkg("Setup.exe"), "Agent.exe");
  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(entry, "");
  EXPECT_EQ(OutFiles(), Names{});

  // Inside a spanned package a volume without the signature loses its files:
  // the package is broken, whether that volume comes first or later.
  VolumeSpec first{false, {kHeaderItems, FileItem("Skipped.txt", 0, "s", 9)}, 2, 2, kFlagMoreVolumes};
  first.signature = 0x11223344;
  WriteVolume(Pkg("Data.001"), first);
  WriteVolume(Pkg("Data.002"), {false, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 0});
  Extract(Pkg("Data.001"));
  EXPECT_FALSE(checksumOk);
  EXPECT_EQ(entry, "");
  EXPECT_EQ(OutFiles(), Names{});
  EXPECT_TRUE(env.prompts.empty());

  VolumeSpec last{false, {FileItem("Two.txt", 0, "2", 9)}, 0};
  last.signature = 0x11223344;
  WriteVolume(Pkg("Data.001"), {false, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 2, 2, kFlagMoreVolumes});
  WriteVolume(Pkg("Data.002"), last);
  Extract(Pkg("Data.001"));
  EXPECT_FALSE(checksumOk);
  EXPECT_EQ(entry, "");
}

TEST_F(Unpack, EmptyLaterVolumeIsABrokenPackage) {
  // An empty file sums to 0 and so passes a stored checksum of 0; it must
  // still not count as the rest of the package.
  WriteVolume(Pkg("Data.001"), {false, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 2, 2, kFlagMoreVolumes});
  WriteAll(Pkg("Data.002"), "");
  Extract(Pkg("Data.001"));
  EXPECT_FALSE(checksumOk);
  EXPECT_EQ(entry, "");
}

// ---- disk prompts ----

TEST_F(Unpack, ForcePromptAsksEvenWhenTheVolumeIsThere) {
  WriteVolume(Pkg("Data.001"), {false, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 3, 2, kFlagMoreVolumes});
  WriteVolume(Pkg("Data.002"), {false, {FileItem("Two.txt", 0, "2", 9)}, 0, 2, kFlagMoreVolumes});
  WriteVolume(Pkg("Data.003"), {false, {FileItem("Three.txt", 0, "3", 9)}, 0});
  Extract(Pkg("Data.001"), "", true);
  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(entry, "Engine.exe*");
  EXPECT_EQ(env.prompts, (Names{"Please insert <B>DISK #2</B> and press OK to continue",
                                "Please insert <B>DISK #3</B> and press OK to continue"}));
  EXPECT_EQ(env.ejects, (Names{Pkg("Data.002").string(), Pkg("Data.003").string()}));
  EXPECT_EQ(OutFiles(), (Names{"Engine.exe", "Three.txt", "Two.txt"}));

  // Without force the present volumes need no prompt.
  env.prompts.clear();
  fs::remove_all(out);
  Extract(Pkg("Data.001"));
  EXPECT_TRUE(env.prompts.empty());
}

TEST_F(Unpack, CancelInTheDiskPromptClearsTheEngineEntry) {
  WriteVolume(Pkg("Data.001"), {false, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 2, 2, kFlagMoreVolumes});
  env.onPrompt = [](const std::string&) { return false; };
  Extract(Pkg("Data.001"));
  EXPECT_EQ(env.prompts.size(), 1u);
  EXPECT_EQ(entry, "");
  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(OutFiles(), Names{"Engine.exe"});
}

TEST_F(Unpack, MissingVolumeIsAskedForUntilItAppears) {
  WriteVolume(Pkg("Setup.exe"), {true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 2, 2, kFlagMoreVolumes});
  fs::path second = Pkg("Setup.exe.002");
  int asked = 0;
  env.onPrompt = [&](const std::string&) {
    // The user presses OK twice before the disk is really in.
    if (++asked == 3) WriteVolume(second, {false, {FileItem("Two.txt", 0, "2", 9)}, 0});
    return true;
  };
  Extract(Pkg("Setup.exe"));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(env.ejects.size(), 1u);  // once per volume, not per prompt
  EXPECT_TRUE(checksumOk);
  EXPECT_EQ(entry, "Engine.exe*");
  EXPECT_EQ(OutFiles(), (Names{"Engine.exe", "Two.txt"}));
  EXPECT_GE(env.pumpedMs, 3u * 500u);
}

// ---- hidden operation and the outcome of a run ----

TEST_F(Unpack, HiddenOperationNeverPromptsAndEndsAtAMissingVolume) {
  WriteVolume(Pkg("Data.001"), {false, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 3, 2, kFlagMoreVolumes});
  WriteVolume(Pkg("Data.002"), {false, {FileItem("Two.txt", 0, "2", 9)}, 0, 2, kFlagMoreVolumes});
  WriteVolume(Pkg("Data.003"), {false, {FileItem("Three.txt", 0, "3", 9)}, 0});
  // All volumes there: the registry's force prompt is ignored.
  Extract(Pkg("Data.001"), "", true, true);
  EXPECT_TRUE(env.prompts.empty());
  EXPECT_TRUE(env.ejects.empty());
  EXPECT_EQ(outcome, ExtractOutcome::Done);
  EXPECT_EQ(entry, "Engine.exe*");
  EXPECT_EQ(OutFiles(), (Names{"Engine.exe", "Three.txt", "Two.txt"}));

  // The third disk is missing: no question, no engine, the reason told.
  fs::remove(Pkg("Data.003"));
  fs::remove_all(out);
  Extract(Pkg("Data.001"), "", false, true);
  EXPECT_TRUE(env.prompts.empty());
  EXPECT_EQ(outcome, ExtractOutcome::PackageMissing);
  EXPECT_EQ(entry, "");
  EXPECT_TRUE(checksumOk);  // nothing damaged: no checksum message
  EXPECT_TRUE(HasLine(env.debug, "Volume not found (hidden operation, no disk prompt): " + Pkg("Data.003").string()));
}

TEST_F(Unpack, OutcomeTellsWhyNoEngineCanStart) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
    ExtractOutcome outcome;
  };
  auto twoVolumes = [&](Sum secondSum) {
    WriteVolume(Pkg("Data.001"), {false, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 2, 2, kFlagMoreVolumes});
    VolumeSpec second{false, {FileItem("Two.txt", 0, "2", 9)}, 0};
    second.sum = secondSum;
    WriteVolume(Pkg("Data.002"), second);
  };
  const Case cases[] = {
      {"complete", [&] { twoVolumes(Sum::Computed); }, ExtractOutcome::Done},
      {"checksum of volume 2", [&] { twoVolumes(Sum::Wrong); }, ExtractOutcome::Damaged},
      {"first volume missing", [&] { fs::remove(Pkg("Data.001")); }, ExtractOutcome::PackageMissing},
      {"disk prompt cancelled",
       [&] {
         twoVolumes(Sum::Computed);
         fs::remove(Pkg("Data.002"));
         env.onPrompt = [](const std::string&) { return false; };
       },
       ExtractOutcome::Cancelled},
      {"item past the end",
       [&] {
         uint8_t len[4];
         PutU32(len, uint32_t(-1000000));
         WriteVolume(Pkg("Data.001"),
                     {false, {kHeaderItems, std::string(reinterpret_cast<char*>(len), 4) + "xx"}, 1});
       },
       ExtractOutcome::Damaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root / "pkg");
    fs::create_directories(root / "pkg");
    fs::remove_all(out);
    env.onPrompt = [](const std::string&) { return true; };
    c.prepare();
    Extract(Pkg("Data.001"));
    EXPECT_EQ(outcome, c.outcome);
    if (c.outcome != ExtractOutcome::Done) {
      EXPECT_TRUE(entry.empty() || !checksumOk);  // never a startable engine
    }
  }
}

// ---- the auto-update agent copy ----

TEST_F(Unpack, AgentCopyOnlyForExePackages) {
  struct Case {
    const char* package;
    const char* agent;
    bool written;
  } cases[] = {{"Setup.exe", "C:\\Program\\Agent.exe", true},
               {"SETUP.EXE.001", "Agent.exe", true},
               {"Setup.bin", "Agent.exe", false},
               {"Data.001", "Agent.exe", false},
               {"Setup.exe", "", false},
               {"Setup.exe", "C:\\Program\\", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.package) + " " + c.agent);
    fs::remove_all(out);
    WriteVolume(Pkg(c.package), {true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9)}, 1});
    Extract(Pkg(c.package), c.agent);
    EXPECT_EQ(fs::exists(out / "Agent.exe"), c.written);
  }
}

TEST_F(Unpack, AgentCopyIsStubAndHeaderItemsWithAgentTrailer) {
  fs::path pkg = Pkg("Setup.exe");
  VolumeSpec v{true, {kHeaderItems, FileItem("Engine.exe*", 0, "E", 9), FileItem("B.txt", 0, "b", 9)}, 2};
  v.flags = kFlagActivityBar;
  WriteVolume(pkg, v);
  std::string package = ReadAll(pkg);
  Extract(pkg, "Agent.exe");
  std::string agent = ReadAll(out / "Agent.exe");
  size_t cut = Stub().size() + kHeaderItems.size();
  ASSERT_EQ(agent.size(), cut + kTrailerSize);
  std::string expectHead = package.substr(0, cut);
  std::memset(&expectHead[0xFC], 0, 4);
  EXPECT_EQ(agent.substr(0, cut), expectHead);
  EXPECT_EQ(agent.substr(0xF8, 4), package.substr(0xF8, 4));  // only the low half is cleared

  std::string trailer = agent.substr(cut);
  std::string original = package.substr(package.size() - kTrailerSize);
  auto u32 = [](const std::string& t, size_t at) { return GetU32(reinterpret_cast<const uint8_t*>(&t[at])); };
  EXPECT_EQ(trailer[69], 1);
  EXPECT_EQ(u32(trailer, 70), uint32_t(kTrailerSize));
  // A package of its own: no files, and the checksum of its own bytes, which
  // a check of the copy accepts.
  EXPECT_EQ(u32(trailer, 8), 0u);
  ASSERT_NE(u32(original, 16), kUncheckedVolume);
  EXPECT_EQ(u32(trailer, 16), PackageChecksum((out / "Agent.exe").string(), kTrailerSize));
  EXPECT_NE(u32(trailer, 16), u32(original, 16));
  for (size_t at = 28; at < 64; at += 4) EXPECT_EQ(u32(trailer, at), 0u) << at;  // no space to ask for
  EXPECT_EQ(uint8_t(trailer[65]), uint8_t(original[65]) & ~(kFlagMoreVolumes | kFlagCdSpanning));
  EXPECT_EQ(trailer[68], 0);  // writes no copy of its own
  trailer[69] = original[69];
  trailer.replace(8, 4, original, 8, 4);
  trailer.replace(16, 4, original, 16, 4);
  trailer.replace(28, 36, original, 28, 36);
  trailer[65] = original[65];
  trailer[68] = original[68];
  EXPECT_EQ(trailer, original);  // everything else carried over
  EXPECT_EQ(env.FileDosTime((out / "Agent.exe").string()), env.FileDosTime(pkg.string()));
  EXPECT_TRUE(HasLine(env.debug, " New AU-Agent: " + (out / "Agent.exe").string()));

  // The copy reads as an update agent with its header items intact.
  TGFileInfo info((out / "Agent.exe").string());
  EXPECT_TRUE(info.IsUpdateAgent());
  EXPECT_EQ(info.HeaderString(), "|http://|.info|.exe||0|");
}

// ---- helpers ----

TEST(UnpackNames, PlainFileNames) {
  struct Case {
    const char* name;
    bool plain;
  } cases[] = {{"Setup.txt", true}, {"a b.c", true}, {".profile", true}, {"", false},       {".", false},
               {"..", false},       {"...", false},  {"a\\b", false},    {"a/b", false}, {"C:x", false},
               // Device names, with or without an extension, in any case.
               {"CON", false}, {"CON.txt", false}, {"nul", false}, {"Nul.tar.gz", false}, {"AUX", false},
               {"PRN.log", false}, {"COM1", false}, {"com9.dat", false}, {"LPT1", false}, {"lpt9.x", false},
               {"CON .txt", false}, {"CONIN$", false}, {"COM\xB9", false}, {"LPT\xB2.txt", false},
               // Names that only begin like one are files.
               {"CONSOLE.txt", true}, {"NULL", true}, {"COM10", true}, {"LPT", true}, {"COMA.txt", true},
               {"x.CON", true}, {"AUX_1.txt", true}};
  for (const Case& c : cases) EXPECT_EQ(IsPlainFileName(c.name), c.plain) << c.name;
}

TEST(UnpackDosTime, RoundTripsThroughUnixTime) {
  uint32_t d = DosTimeOf(2002, 9, 8, 13, 45, 30);
  EXPECT_EQ(UnixToDosTime(DosTimeToUnix(d)), d);
  EXPECT_EQ(DosTimeToUnix(0), -1);  // month 0
}

}  // namespace
