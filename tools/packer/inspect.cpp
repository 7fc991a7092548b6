// "packer inspect": prints what a package holds and checks every volume, as
// text for people or as one JSON document for release pipelines. Both forms
// print the same report.
#include "inspect.h"

#include <cstdio>

#include "agent_header.h"
#include "manifest.h"
#include "package/checksum.h"
#include "package/gfileinfo.h"
#include "package/item_name.h"
#include "package/item_name_shown.h"
#include "package/package_items.h"
#include "package/pkgfile.h"
#include "paths/utf8.h"
#include "paths/utils.h"
#include "setup/unpack.h"

namespace {

enum class ChecksumState { Ok, NotChecked, Mismatch };

struct VolumeReport {
  int index = 0;
  std::string path;
  bool exists = false;
  bool executable = false;
  int64_t logicalEnd = 0;
  bool hasTrailer = false;
  PackageTrailer trailer{};
  uint32_t computed = 0;
  ChecksumState checksum = ChecksumState::NotChecked;
  std::string chainError;
  std::vector<std::string> itemProblems;
  std::string notFirst;  // for a file that is no first volume: what it is and what to inspect instead
};

struct FileRow {
  int volume = 0;
  int64_t offset = 0;
  bool hasHeader = false;  // items without one are skipped on extraction
  uint64_t size = 0;
  uint32_t dosTime = 0;
  bool stored = false;
  std::string name;
  bool engine = false;
  std::string engineArgs;
  NameEncoding encoding = NameEncoding::Ansi;
  bool brokenUtf8 = false;  // marked, but the header is not strict UTF-8
  bool unsafe = false;      // the stub skips the item (see IsPlainFileName)
};

struct Report {
  std::vector<VolumeReport> volumes;
  bool headerShown = false;  // volume 1 carries a package signature
  bool headerProblem = false;
  int keyCount = 0;          // of the header's key field; -1 when malformed
  std::vector<FileRow> files;
};

bool Exists(const std::string& path) {
  std::FILE* f = OpenSharedRead(path);
  if (f) std::fclose(f);
  return f != nullptr;
}

bool SignatureOk(const VolumeReport& v) { return v.trailer.PackageSignature == kPackageSignature; }

// A file given as the first volume that is not one: a later volume (its
// items start at offset 0, where a first volume has its stub) or no package.
std::string NotAFirstVolume(const VolumeReport& v) {
  if (!v.hasTrailer || !SignatureOk(v)) return "not a setup file (no package found in it)";
  if (v.trailer.FirstItemOffset != 0) return "";
  // Setup.exe.002 follows Setup.exe or Setup.exe.001; Data.002 follows Data.001.
  std::string what = "a later volume of a split package";
  size_t dot = v.path.find_last_of('.');
  std::string digits = dot == std::string::npos ? "" : v.path.substr(dot + 1);
  bool numbered =
      digits.size() >= 3 && digits.size() <= 6 && digits.find_first_not_of("0123456789") == std::string::npos;
  if (!numbered) return what + "; inspect its first volume instead";
  what = "volume " + std::to_string(std::stoi(digits)) + " of a split package";
  std::string base = v.path.substr(0, dot);
  std::string first = EndsWith(".exe", base, true) && Exists(base) ? base : base + ".001";
  return what + "; inspect its first volume " + first;
}

void Gather(const std::string& first, const TGFileInfo& fi, Report& r) {
  int items = 0;
  int headerItems = 2;
  for (int k = 1;; ++k) {
    r.volumes.emplace_back();
    VolumeReport& v = r.volumes.back();
    v.index = k;
    v.path = k == 1 ? first : VolumePath(first, k);
    v.exists = Exists(v.path);
    if (!v.exists) break;
    v.logicalEnd = PackageLogicalEnd(v.path);
    v.executable = HasExeHeader(v.path);
    v.hasTrailer = ReadPackageTrailer(v.path, v.trailer);
    if (k == 1) v.notFirst = NotAFirstVolume(v);
    if (!v.notFirst.empty()) break;
    if (!v.hasTrailer) break;
    v.computed = PackageChecksum(v.path, v.trailer.TrailerLength);
    if (v.trailer.VolumeChecksum == kUncheckedVolume || v.computed == kUncheckedVolume)
      v.checksum = ChecksumState::NotChecked;
    else
      v.checksum = v.computed == v.trailer.VolumeChecksum ? ChecksumState::Ok : ChecksumState::Mismatch;
    if (k == 1) headerItems = v.trailer.HeaderItemCount;
    if (k == 1 && SignatureOk(v)) {
      r.headerProblem = !fi.HasPackage();
      r.headerShown = true;
      r.keyCount = KeyCount(fi.UpdatePublicKey());
    }
    VolumeContents contents;
    if (!ReadVolumeItems(v.path, contents, v.chainError) && v.chainError.empty())
      v.chainError = "cannot read the items";
    for (const ChainItem& item : contents.items) {
      if (++items <= headerItems) continue;
      std::string plain = item.payload;
      std::string error;
      if (item.length > 0 && !InflateBytes(item.payload, plain, error)) {
        v.itemProblems.push_back("item at offset " + std::to_string(item.offset) + ": " + error);
        continue;
      }
      FileRow row;
      row.volume = k;
      row.offset = item.offset;
      row.stored = item.length < 0;
      FileItemInfo f;
      if (SplitFileItem(plain, f)) {
        row.hasHeader = true;
        row.size = f.content.size();
        row.dosTime = f.dosTime;
        row.name = f.name;
        row.engine = f.engine;
        row.engineArgs = f.engineArgs;
        // As the stub judges it. An unmarked name is judged by its bytes, as
        // `packer extract` writes it; the one-byte superscripts of COM1-3
        // count as devices there too.
        row.encoding = ItemNameEncoding(f.header);
        row.brokenUtf8 = row.encoding == NameEncoding::Utf8 && !IsValidUtf8(f.header);
        row.unsafe = row.brokenUtf8 || !IsPlainFileName(f.name);
      }
      r.files.push_back(row);
    }
    if (!(v.trailer.PackageFlags & kFlagMoreVolumes)) break;
  }
}

// The volume's problems in the order the text form shows them.
std::vector<std::string> Problems(const Report& r, const VolumeReport& v) {
  std::vector<std::string> p;
  if (!v.exists) return {v.index == 1 ? "file missing" : "volume file missing"};
  if (!v.notFirst.empty()) return {v.notFirst};
  if (!v.hasTrailer) return {"no package trailer"};
  if (!SignatureOk(v)) p.push_back("PackageSignature is not 0x4A3B2C1D");
  if (v.checksum == ChecksumState::Mismatch) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "VolumeChecksum 0x%08X does not match the computed 0x%08X", v.trailer.VolumeChecksum,
                  v.computed);
    p.push_back(buf);
  }
  if (v.index == 1 && r.headerShown && r.headerProblem) p.push_back("the header items cannot be read");
  if (v.index == 1 && r.headerShown && r.keyCount < 0)
    p.push_back("UpdatePublicKey is not one key or two separated by a comma; the agent refuses every update");
  if (!v.chainError.empty()) p.push_back(v.chainError);
  p.insert(p.end(), v.itemProblems.begin(), v.itemProblems.end());
  return p;
}

int ProblemCount(const Report& r) {
  size_t n = 0;
  for (const VolumeReport& v : r.volumes) n += Problems(r, v).size();
  return int(n);
}

const char* TokenState(const std::string& scrambled) {
  if (scrambled.empty()) return "none";
  std::string plain;
  return TryTokenUnscramble(scrambled, plain) && !plain.empty() ? "valid" : "invalid";
}

const char* ChecksumText(ChecksumState s) {
  return s == ChecksumState::Ok ? "ok" : s == ChecksumState::NotChecked ? "not checked" : "mismatch";
}

struct Flag {
  const char* name;
  bool (*get)(const PackageTrailer&);
};
const Flag kFlags[] = {
    {"TempDriveNotice", [](const PackageTrailer& t) { return (t.PackageFlags & kFlagTempDriveNotice) != 0; }},
    {"MoreVolumes", [](const PackageTrailer& t) { return (t.PackageFlags & kFlagMoreVolumes) != 0; }},
    {"CdSpanning", [](const PackageTrailer& t) { return (t.PackageFlags & kFlagCdSpanning) != 0; }},
    {"ActivityBar", [](const PackageTrailer& t) { return (t.PackageFlags & kFlagActivityBar) != 0; }},
    {"DebugLog", [](const PackageTrailer& t) { return (t.PackageFlags & kFlagDebugLog) != 0; }},
    {"WebSetup", [](const PackageTrailer& t) { return t.WebSetup != 0; }},
    {"ConfirmDownload", [](const PackageTrailer& t) { return t.ConfirmDownload != 0; }},
    {"WriteAgentCopy", [](const PackageTrailer& t) { return t.WriteAgentCopy != 0; }},
    {"IsUpdateAgent", [](const PackageTrailer& t) { return t.IsUpdateAgent != 0; }},
};

// ---- text ----

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

void PrintTrailer(const PackageTrailer& t) {
  std::printf("  HeaderItemCount: %u\n", t.HeaderItemCount);
  std::printf("  FirstItemOffset: %u\n", t.FirstItemOffset);
  std::printf("  FileCount: %u\n", t.FileCount);
  std::printf("  PackageSignature: %s\n", Hex(t.PackageSignature).c_str());
  std::printf("  SpaceRequired:");
  for (int i = 0; i < kSpaceEntries; ++i) std::printf(" %u", t.SpaceRequired[i]);
  std::printf("\n");
  for (const Flag& f : kFlags) std::printf("  %s: %d\n", f.name, f.get(t) ? 1 : 0);
  std::printf("  TrailerLength: %u\n", t.TrailerLength);
}

// Whether an agent with this header takes only signed updates, and with how many keys.
std::string SignedText(int keyCount) {
  if (keyCount < 0) return "malformed key field";
  if (keyCount == 0) return "no (takes unsigned updates)";
  return keyCount == 1 ? "yes (1 key)" : "yes (" + std::to_string(keyCount) + " keys)";
}

void PrintHeader(const TGFileInfo& fi, const Report& r) {
  std::printf("header:\n");
  std::printf("  UpdateUrl: %s\n", fi.UpdateUrl().c_str());
  std::printf("  InfoFileName: %s\n", ListItem(fi.HeaderString(), 1, "").c_str());
  std::printf("  AgentExeName: %s\n", fi.AgentExeName().c_str());
  std::printf("  PackageToken: %s\n", TokenState(fi.PackageToken(false)));
  std::printf("  Silent: %d\n", fi.Silent() ? 1 : 0);
  std::printf("  UpdatePublicKey: %s\n", fi.UpdatePublicKey().empty() ? "(none: unsigned updates)" : fi.UpdatePublicKey().c_str());
  std::printf("  Signed: %s\n", SignedText(r.keyCount).c_str());
  if (fi.Trailer().HeaderItemCount > 2) {
    std::printf("web setup:\n");
    std::printf("  Base: %s\n", fi.WebBase().c_str());
    std::printf("  FileName: %s\n", fi.WebFileName().c_str());
    std::printf("  AlwaysDownload: %d\n", fi.WebAlwaysDownload() ? 1 : 0);
    std::printf("  WebToken: %s\n", TokenState(fi.WebToken(false)));
    std::printf("  Size: %s\n", fi.WebSize().c_str());
    std::printf("  Sha256: %s\n", fi.WebSha256().empty() ? "(none: not checked)" : fi.WebSha256().c_str());
    std::printf("  Pinned: %s\n", fi.WebSha256().empty() ? "no (only the web token is checked)" : "yes (SHA-256)");
  }
  std::printf("languages:\n");
  const std::string& block = fi.LangBlock();
  int count = ListCount(block);
  for (int i = 0; i < count; ++i) {
    std::string section = ListItem(block, i, "");
    std::printf("  %s (%d texts)\n", ListItem(section, 0, "").c_str(), ListCount(section) > 0 ? ListCount(section) - 1 : 0);
  }
}

void PrintText(const Report& r, const TGFileInfo& fi) {
  for (const VolumeReport& v : r.volumes) {
    std::printf("volume %d: %s\n", v.index, v.path.c_str());
    std::vector<std::string> problems = Problems(r, v);
    size_t next = 0;
    auto problem = [&]() { std::printf("  PROBLEM: %s\n", problems[next++].c_str()); };
    if (!v.exists) {
      problem();
      break;
    }
    std::printf("  Executable: %d\n  LogicalEnd: %lld\n", v.executable ? 1 : 0, (long long)v.logicalEnd);
    if (!v.hasTrailer || !v.notFirst.empty()) {
      problem();
      break;
    }
    PrintTrailer(v.trailer);
    if (!SignatureOk(v)) problem();
    if (v.checksum == ChecksumState::NotChecked)
      std::printf("  VolumeChecksum: %s (not checked)\n", Hex(v.trailer.VolumeChecksum).c_str());
    else if (v.checksum == ChecksumState::Ok)
      std::printf("  VolumeChecksum: %s (ok)\n", Hex(v.trailer.VolumeChecksum).c_str());
    else
      problem();
    if (v.index == 1 && r.headerShown) {
      if (r.headerProblem) problem();
      PrintHeader(fi, r);
    }
    while (next < problems.size()) problem();
  }
  if (!r.headerShown) std::printf("header: (none)\n");
  std::printf("files (volume, size, DOS date, method, name):\n");
  for (const FileRow& f : r.files) {
    if (!f.hasHeader) {
      std::printf("  %d  (item at offset %lld has no file header; skipped on extraction)\n", f.volume,
                  (long long)f.offset);
      continue;
    }
    std::string date = f.dosTime == 0 ? "0 (time of extraction)"
                                      : DosDateText(f.dosTime, ' ') + " (" + std::to_string(f.dosTime) + ")";
    const std::string args = ShownItemName(f.engineArgs, f.encoding);
    std::string row = "  " + std::to_string(f.volume) + "  " + std::to_string(f.size) + "  " + date + "  " +
                      (f.stored ? "stored" : "compressed") + "  " + ShownItemName(f.name, f.encoding);
    if (f.engine) row += "  [engine" + (args.empty() ? "" : " " + args) + "]";
    // ASCII names read the same in every encoding: their rows stay as they were.
    if (f.encoding == NameEncoding::Utf8 || !IsAscii(f.name) || !IsAscii(f.engineArgs))
      row += f.encoding == NameEncoding::Utf8 ? "  (utf8)" : "  (ansi)";
    if (f.brokenUtf8)
      row += "  (UNSAFE: marked as UTF-8 but not valid UTF-8; skipped on extraction)";
    else if (f.unsafe)
      row += "  (UNSAFE: not a plain file name; skipped on extraction)";
    std::printf("%s\n", row.c_str());
  }
  int problems = ProblemCount(r);
  if (problems == 0)
    std::printf("result: OK\n");
  else
    std::printf("result: FAILED (%d problem%s)\n", problems, problems == 1 ? "" : "s");
}

// ---- JSON ----

// Texts are 8-bit in the setup's code page; each byte above 0x7F becomes the
// code point of the same number, so the document is plain ASCII and always valid.
std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// A marked name that is strict UTF-8: its characters, as \uXXXX escapes
// (surrogate pairs above U+FFFF), so the document stays plain ASCII. Any other
// name keeps the byte-per-code-point rule above.
std::string JsonName(const std::string& s, const FileRow& f) {
  std::u16string units;
  if (f.encoding != NameEncoding::Utf8 || f.brokenUtf8 || !Utf8ToUtf16(s, units)) return Json(s);
  std::string out = "\"";
  for (char16_t u : units) {
    if (u == '"' || u == '\\') {
      out += '\\';
      out += char(u);
    } else if (u < 0x20 || u >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(u));
      out += buf;
    } else {
      out += char(u);
    }
  }
  return out + "\"";
}

// The name as a path (UTF-8): null for an unmarked non-ASCII name, whose
// characters depend on the code page of the machine that extracts it, and
// for a broken marked one.
std::string JsonPath(const FileRow& f) {
  if (f.brokenUtf8 || (f.encoding == NameEncoding::Ansi && !IsAscii(f.name))) return "null";
  return JsonName(f.name, f);
}

std::string Json(bool b) { return b ? "true" : "false"; }
std::string Json(int64_t n) { return std::to_string(n); }
std::string Json(const char* s) { return Json(std::string(s)); }

// Members of one object, joined with commas.
class Obj {
 public:
  Obj& Add(const std::string& key, const std::string& rawJson) {
    body_ += (body_.empty() ? "" : ", ") + Json(key) + ": " + rawJson;
    return *this;
  }
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

std::string Array(const std::vector<std::string>& rawItems, const std::string& indent) {
  if (rawItems.empty()) return "[]";
  std::string out = "[";
  for (size_t i = 0; i < rawItems.size(); ++i) out += (i ? ",\n" : "\n") + indent + "  " + rawItems[i];
  return out + "\n" + indent + "]";
}

std::string TrailerJson(const PackageTrailer& t) {
  std::vector<std::string> space;
  for (int i = 0; i < kSpaceEntries; ++i) space.push_back(std::to_string(t.SpaceRequired[i]));
  std::string spaceText = "[";
  for (size_t i = 0; i < space.size(); ++i) spaceText += (i ? ", " : "") + space[i];
  spaceText += "]";
  Obj o;
  o.Add("HeaderItemCount", Json(int64_t(t.HeaderItemCount)))
      .Add("FirstItemOffset", Json(int64_t(t.FirstItemOffset)))
      .Add("FileCount", Json(int64_t(t.FileCount)))
      .Add("PackageSignature", Json(int64_t(t.PackageSignature)))
      .Add("VolumeChecksum", Json(int64_t(t.VolumeChecksum)))
      .Add("SpaceRequired", spaceText);
  for (const Flag& f : kFlags) o.Add(f.name, Json(f.get(t)));
  o.Add("TrailerLength", Json(int64_t(t.TrailerLength)));
  return o.Text();
}

std::string LanguagesJson(const TGFileInfo& fi) {
  std::vector<std::string> langs;
  const std::string& block = fi.LangBlock();
  int count = ListCount(block);
  for (int i = 0; i < count; ++i) {
    std::string section = ListItem(block, i, "");
    int n = ListCount(section);
    Obj texts;
    std::vector<std::string> seen;
    for (int j = 1; j < n; ++j) {
      std::string item = ListItem(section, j, "");
      size_t eq = item.find('=');
      std::string key = item.substr(0, eq);
      std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
      // The stub's lookup finds the first of repeated keys.
      bool again = false;
      for (const std::string& s : seen) again = again || SameText(s, key);
      if (again) continue;
      seen.push_back(key);
      texts.Add(key, Json(value));
    }
    langs.push_back(Obj()
                        .Add("name", Json(ListItem(section, 0, "")))
                        .Add("count", Json(int64_t(n > 0 ? n - 1 : 0)))
                        .Add("texts", texts.Text())
                        .Text());
  }
  return Array(langs, "  ");
}

void PrintJson(const std::string& first, const Report& r, const TGFileInfo& fi) {
  std::vector<std::string> volumes;
  for (const VolumeReport& v : r.volumes) {
    Obj o;
    o.Add("volume", Json(int64_t(v.index))).Add("path", Json(v.path)).Add("exists", Json(v.exists));
    if (v.exists) o.Add("executable", Json(v.executable)).Add("logicalEnd", Json(v.logicalEnd));
    if (v.hasTrailer && v.notFirst.empty())
      o.Add("trailer", TrailerJson(v.trailer))
          .Add("checksum", Json(ChecksumText(v.checksum)))
          .Add("computedChecksum", Json(int64_t(v.computed)));
    std::vector<std::string> problems;
    for (const std::string& p : Problems(r, v)) problems.push_back(Json(p));
    o.Add("problems", Array(problems, "    "));
    volumes.push_back(o.Text());
  }
  std::string header = "null", web = "null", languages = "[]";
  if (r.headerShown) {
    header = Obj()
                 .Add("UpdateUrl", Json(fi.UpdateUrl()))
                 .Add("InfoFileName", Json(ListItem(fi.HeaderString(), 1, "")))
                 .Add("AgentExeName", Json(fi.AgentExeName()))
                 .Add("PackageToken", Json(TokenState(fi.PackageToken(false))))
                 .Add("Silent", Json(fi.Silent()))
                 .Add("UpdatePublicKey", Json(fi.UpdatePublicKey()))
                 .Add("Signed", Json(r.keyCount > 0))
                 .Add("KeyCount", Json(int64_t(r.keyCount < 0 ? 0 : r.keyCount)))
                 .Text();
    if (fi.Trailer().HeaderItemCount > 2)
      web = Obj()
                .Add("Base", Json(fi.WebBase()))
                .Add("FileName", Json(fi.WebFileName()))
                .Add("AlwaysDownload", Json(fi.WebAlwaysDownload()))
                .Add("WebToken", Json(TokenState(fi.WebToken(false))))
                .Add("Size", Json(fi.WebSize()))
                .Add("Sha256", Json(fi.WebSha256()))
                .Add("Pinned", Json(!fi.WebSha256().empty()))
                .Text();
    languages = LanguagesJson(fi);
  }
  std::vector<std::string> files, headerless;
  for (const FileRow& f : r.files) {
    const VolumeReport& v = r.volumes[size_t(f.volume - 1)];
    if (!f.hasHeader) {
      headerless.push_back(Obj().Add("volume", Json(int64_t(f.volume))).Add("offset", Json(f.offset)).Text());
      continue;
    }
    files.push_back(Obj()
                        .Add("volume", Json(int64_t(f.volume)))
                        .Add("offset", Json(f.offset))
                        .Add("name", JsonName(f.name, f))
                        .Add("size", Json(int64_t(f.size)))
                        .Add("date", f.dosTime == 0 ? "null" : Json(DosDateText(f.dosTime, 'T')))
                        .Add("dosTime", Json(int64_t(f.dosTime)))
                        .Add("method", Json(f.stored ? "stored" : "compressed"))
                        .Add("engine", Json(f.engine))
                        .Add("engineArgs", f.engine ? JsonName(f.engineArgs, f) : "null")
                        .Add("checksum", Json(ChecksumText(v.checksum)))
                        .Add("encoding", Json(f.encoding == NameEncoding::Utf8 ? "utf8" : "ansi"))
                        .Add("path", JsonPath(f))
                        .Add("unsafe", Json(f.unsafe))
                        .Text());
  }
  int problems = ProblemCount(r);
  std::printf("{\n");
  std::printf("  \"package\": %s,\n", Json(first).c_str());
  std::printf("  \"result\": %s,\n", Json(problems == 0 ? "OK" : "FAILED").c_str());
  std::printf("  \"problemCount\": %d,\n", problems);
  std::printf("  \"volumes\": %s,\n", Array(volumes, "  ").c_str());
  std::printf("  \"header\": %s,\n", header.c_str());
  std::printf("  \"webSetup\": %s,\n", web.c_str());
  std::printf("  \"languages\": %s,\n", languages.c_str());
  std::printf("  \"files\": %s,\n", Array(files, "  ").c_str());
  std::printf("  \"itemsWithoutHeader\": %s\n", Array(headerless, "  ").c_str());
  std::printf("}\n");
}
}  // namespace

std::vector<std::string> PackageProblems(const std::string& first) {
  TGFileInfo fi(first);
  Report r;
  Gather(first, fi, r);
  std::vector<std::string> out;
  for (const VolumeReport& v : r.volumes)
    for (const std::string& p : Problems(r, v)) out.push_back("volume " + std::to_string(v.index) + ": " + p);
  return out;
}

int InspectPackage(const std::string& first, bool json) {
  TGFileInfo fi(first);
  Report r;
  Gather(first, fi, r);
  if (json)
    PrintJson(first, r, fi);
  else
    PrintText(r, fi);
  return ProblemCount(r) == 0 ? 0 : 1;
}
