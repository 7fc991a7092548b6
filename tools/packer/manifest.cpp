#include "manifest.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <dirent.h>
#endif

#include "agent_header.h"
#include "crypto.h"
#include "package/lang.h"
#include "package/pkgfile.h"
#include "package/signature.h"
#include "paths/utf8.h"
#include "paths/pathio.h"
#include "paths/utils.h"
#include "publish.h"
#include "textcodec.h"

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::FILE* f = OpenSharedRead(path);
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

namespace {
// The path and why it cannot be read, absolute so that a publisher sees
// which file was looked for whatever the working folder.
std::string Unreadable(const std::string& path) {
  std::error_code ec;
  std::string shown = std::filesystem::absolute(path, ec).string();
  return (ec ? path : shown) + " (" + WhyUnreadable(path) + ")";
}
}  // namespace

std::string WhyUnreadable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? "no such file" : std::strerror(errno);
  if ((st.st_mode & S_IFMT) == S_IFDIR) return "it is a folder";
  std::FILE* f = OpenSharedRead(path);
  if (!f) return std::strerror(errno);
  std::fclose(f);
  return "a read failed";
}

static bool IsAbsolute(const std::string& p) {
  return (!p.empty() && (p[0] == '/' || p[0] == '\\')) || (p.size() >= 2 && p[1] == ':');
}

std::string DirOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& path) {
  if (dir.empty() || IsAbsolute(path)) return path;
  return dir + "/" + path;
}

bool SourceDateEpoch(int64_t& seconds, bool* malformed) {
  if (malformed) *malformed = false;
  const char* v = std::getenv("SOURCE_DATE_EPOCH");
  if (!v || !*v) return false;
  // Digits only: a sign, blanks or a fraction is a mistake in the pipeline.
  bool digits = std::strlen(v) <= 15;
  for (const char* c = v; *c; ++c) digits = digits && *c >= '0' && *c <= '9';
  if (!digits) {
    if (malformed) *malformed = true;
    return false;
  }
  seconds = std::strtoll(v, nullptr, 10);
  return true;
}

uint32_t FileDosTime(const std::string& path) {
#ifdef _WIN32
  struct _stat64 st;
  std::wstring wide;
  if ((WidePathFor(path, wide) ? _wstat64(wide.c_str(), &st) : _stat64(path.c_str(), &st)) != 0) return 0;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
#endif
  std::time_t t = std::time_t(st.st_mtime);
  int64_t epoch;
  std::tm* tm;
  if (SourceDateEpoch(epoch)) {
    // Reproducible: no file is newer than the epoch, and the build machine's
    // time zone stays out. DOS times start in 1980.
    const int64_t kDosFirst = 315532800;  // 1980-01-01 00:00:00 UTC
    if (int64_t(t) > epoch) t = std::time_t(epoch);
    if (int64_t(t) < kDosFirst) t = std::time_t(kDosFirst);
    tm = std::gmtime(&t);
  } else {
    tm = std::localtime(&t);
  }
  if (!tm) return 0;
  return DosTimeOf(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec);
}

std::string DosDateText(uint32_t dos, char sep) {
  unsigned date = dos >> 16, time = dos & 0xFFFF;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u%c%02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                sep, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return buf;
}

namespace {

struct Parser {
  std::string file;
  int line = 0;
  std::string error;

  bool Fail(const std::string& msg) {
    if (error.empty()) error = file + ":" + std::to_string(line) + ": " + msg;
    return false;
  }

  bool Bool(const std::string& key, const std::string& v, bool& out) {
    std::string u = UpperCase(v);
    if (u == "1" || u == "YES" || u == "TRUE" || u == "ON") {
      out = true;
      return true;
    }
    if (u == "0" || u == "NO" || u == "FALSE" || u == "OFF") {
      out = false;
      return true;
    }
    return Fail(key + ": expected 1 or 0, not \"" + v + "\"");
  }

  bool Number(const std::string& key, const std::string& v, int64_t& out, int64_t low, int64_t high) {
    if (!TryStrToInt64(v, out) || out < low || out > high)
      return Fail(key + ": expected a number from " + std::to_string(low) + " to " + std::to_string(high) +
                  ", not \"" + v + "\"");
    return true;
  }
};

// Outer double quotes keep blanks at the ends of a value.
std::string Unquote(const std::string& v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
  return v;
}

bool SplitLine(const std::string& raw, std::string& key, std::string& value) {
  size_t eq = raw.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(raw.substr(0, eq));
  value = Unquote(Trim(raw.substr(eq + 1)));
  return !key.empty();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

bool IsComment(const std::string& t) { return t.empty() || t[0] == '#' || t[0] == ';'; }

bool ParseTime(const std::string& v, uint32_t& out) {
  int64_t n;
  if (TryStrToInt64(v, n)) {
    if (n < 0 || n > 0xFFFFFFFFll) return false;
    out = uint32_t(n);
    return true;
  }
  int y, mo, d, h = 0, mi = 0, s = 0;
  char extra;
  int got = std::sscanf(v.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &extra);
  if (got != 3 && got != 6) return false;
  out = DosTimeOf(y, mo, d, h, mi, s);
  return out != 0;
}

// One [file] section while it is being read.
struct FileDraft {
  PackFile file;
  int line = 0;  // of "[file]"; the keys' own lines below once given
  int sourceLine = 0, nameLine = 0, engineLine = 0;
  bool timeFromFile = true;
  bool hasSource = false;
  std::string sourceText;  // as written, for messages
  bool recursive = false;
};

// ---- folder and wildcard sources ----

// "*" and "?" against a file name, ignoring the case of ASCII letters on
// every system, so a manifest gives the same package on Linux and Windows.
bool WildMatch(const char* pat, const char* s) {
  const char* star = nullptr;
  const char* resume = nullptr;
  auto up = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
  while (*s) {
    if (*pat == '*') {
      star = pat++;
      resume = s;
    } else if (*pat == '?' || (*pat && up(*pat) == up(*s))) {
      ++pat;
      ++s;
    } else if (star) {
      pat = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*pat == '*') ++pat;
  return *pat == 0;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

struct DirItem {
  std::string name;
  bool isFile = false;  // a regular file (a link to one counts)
  bool isDir = false;   // a real sub-folder (links to folders are not walked)
};

bool ListFolder(const std::string& dir, std::vector<DirItem>& out) {
#ifdef _WIN32
  // Listed wide, names in UTF-8 like every path; a folder given in the ANSI
  // code page is widened byte by byte only when it is ASCII.
  std::wstring wdir;
  if (!WidePathFor(dir, wdir)) wdir.assign(dir.begin(), dir.end());
  struct _wfinddata64_t fd;
  intptr_t h = _wfindfirst64((wdir + L"\\*").c_str(), &fd);
  if (h == -1) return false;
  do {
    std::string name = Utf16ToUtf8(std::u16string(fd.name, fd.name + wcslen(fd.name)));
    if (name == "." || name == "..") continue;
    DirItem item;
    item.name = name;
    item.isDir = (fd.attrib & _A_SUBDIR) != 0;
    item.isFile = !item.isDir;
    out.push_back(item);
  } while (_wfindnext64(h, &fd) == 0);
  _findclose(h);
  return true;
#else
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    DirItem item;
    item.name = name;
    item.isDir = lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    item.isFile = !item.isDir && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    out.push_back(item);
  }
  closedir(d);
  return true;
#endif
}

struct Found {
  std::string name, path;
};

// Matching files of a folder, and of its sub-folders when recursive; depth is
// bounded in case a folder link leads back up.
bool Collect(const std::string& dir, const std::string& pattern, bool recursive, int depth, std::vector<Found>& out,
             std::string& error) {
  std::vector<DirItem> items;
  if (!ListFolder(dir, items)) {
    error = "cannot read the folder " + dir;
    return false;
  }
  for (const DirItem& item : items) {
    std::string path = dir + "/" + item.name;
    if (item.isFile && (pattern.empty() || WildMatch(pattern.c_str(), item.name.c_str())))
      out.push_back({item.name, path});
    if (item.isDir && recursive && depth < 64 && !Collect(path, pattern, recursive, depth + 1, out, error))
      return false;
  }
  return true;
}

// The files of a [file] section: several for a folder or wildcard source
// (`multi`), in name order, else the one source file.
bool ExpandSource(const FileDraft& d, std::vector<Found>& found, bool& multi, std::string& error) {
  const std::string& path = d.file.sourcePath;
  std::string pattern = ExtractFileName(path);
  std::string dir;
  bool endsWithSlash = !path.empty() && (path.back() == '/' || path.back() == '\\');
  if (HasWildcard(DirOf(path))) {
    error = "wildcards are allowed only in the file-name part: " + d.sourceText;
    return false;
  }
  if (HasWildcard(pattern)) {
    dir = DirOf(path);
    if (dir.empty()) dir = ".";
  } else if (endsWithSlash || IsFolder(path)) {
    dir = path;
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
    pattern.clear();
  } else {
    multi = false;
    found.push_back({d.file.name, path});
    return true;
  }
  multi = true;
  if (!IsFolder(dir)) {
    error = "cannot read the folder " + dir;
    return false;
  }
  if (!Collect(dir, pattern, d.recursive, 0, found, error)) return false;
  // Name order as a file list shows it, letter case aside; ties in byte order.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    std::string ua = UpperCase(a.name), ub = UpperCase(b.name);
    return ua != ub ? ua < ub : a.path < b.path;
  });
  // The package has no folders: two files of one name would become one.
  std::map<std::string, const Found*> seen;
  for (const Found& f : found) {
    auto [it, added] = seen.emplace(UpperCase(f.name), &f);
    if (!added) {
      error = "two files named \"" + f.name + "\": " + it->second->path + " and " + f.path +
              " (the package has no folders)";
      return false;
    }
  }
  return true;
}

// ---- text encoding ----
// Manifests and language files are UTF-8; the texts of a language go into
// the package in the code page of its Charset, converted once the whole
// section (Charset, encoding) is known.

const char kUtf8Mark[] = "\xEF\xBB\xBF";  // editors' UTF-8 mark at the start of a file

// Where a language text came from, for messages.
struct TextOrigin {
  std::string file;
  int line = 0;
  bool included = false;  // from an include file
};

struct IncludedFile {
  std::string path;
  int badLine = 0;  // first line that is not UTF-8; 0 when every line is
  std::string badWhere;
  bool utf8Mark = false;
};

// One [language] section while it is being read.
struct LanguageDraft {
  int line = 0;                     // of "[language ...]"
  bool codePageFiles = false;       // encoding = codepage: include files are in the code page already
  std::vector<TextOrigin> origins;  // one per text of the PackLanguage
  std::vector<IncludedFile> includes;
};

// The first line (1-based) of text that is not strict UTF-8, 0 when there is
// none, and in `where` the byte and its column (in characters).
int FirstNonUtf8Line(const std::string& text, std::string& where) {
  int line = 1;
  for (size_t start = 0;; ++line) {
    size_t end = std::min(text.find('\n', start), text.size());
    std::string_view l(text.data() + start, end - start);
    int column = 1;
    for (size_t i = 0; i < l.size(); ++column) {
      size_t n = Utf8CharLength(l, i);
      if (n == 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "byte 0x%02X at column %d", unsigned(uint8_t(l[i])), column);
        where = buf;
        return line;
      }
      i += n;
    }
    if (end == text.size()) return 0;
    start = end + 1;
  }
}

// The language's charset as the stub reads it: its first Charset text as a
// number; 0 (ANSI) when it is missing or no number.
int CharsetOf(const PackLanguage& lang) {
  std::string section = ChooseLanguageSection(BuildLanguageBlock({lang}), lang.name);
  return int(StrToInt64Def(SectionText(section, "Charset", "0"), 0));
}

// One text of a language in its code page; false with "file:line: problem".
bool EncodeText(std::string& text, const TextOrigin& at, int charset, const std::string& section, std::string& error) {
  // Every one of these code pages keeps ASCII as it is.
  if (IsAscii(text)) return true;
  std::string place = at.file + ":" + std::to_string(at.line) + ": ";
  auto shown = [](const std::string& ch) { return "\"" + ch + "\" (" + CodePointLabel(ch) + ")"; };
  int codePage = CodePageOfCharset(charset);
  std::string cs = "Charset " + std::to_string(charset);
  if (codePage == 0) {
    size_t i = 0;
    while (uint8_t(text[i]) < 0x80) ++i;
    error = place + shown(text.substr(i, std::max<size_t>(1, Utf8CharLength(text, i)))) + ": " + cs + " of " + section +
            " has no code page of its own, so its texts must be ASCII (or an include file in the " +
            "bytes its font shows, with encoding = codepage)";
    return false;
  }
  std::string out, bad;
  if (!ConvertUtf8ToCodePage(text, codePage, out, bad)) {
    std::string page = "code page " + std::to_string(codePage) + " (" + cs + " of " + section + ")";
    error = place + (bad.empty() ? "this system cannot convert texts to " + page : shown(bad) + " is not in " + page);
    return false;
  }
  text = out;
  return true;
}

// Every language's texts into its code page: the name, the keys and the
// values, except those of include files that say they are in it already.
bool EncodeLanguages(std::vector<PackLanguage>& langs, const std::vector<LanguageDraft>& drafts,
                     const std::string& manifest, std::string& error) {
  for (size_t i = 0; i < langs.size(); ++i) {
    PackLanguage& lang = langs[i];
    const LanguageDraft& d = drafts[i];
    std::string section = "[language " + lang.name + "]";
    for (const IncludedFile& f : d.includes) {
      if (d.codePageFiles && f.utf8Mark) {
        error = f.path + ":1: the file starts with a UTF-8 mark, but " + section + " says encoding = codepage";
        return false;
      }
      if (!d.codePageFiles && f.badLine) {
        error = f.path + ":" + std::to_string(f.badLine) + ": not UTF-8 (" + f.badWhere +
                "); save the file as UTF-8, or set encoding = codepage in " + section +
                " if it is written in the language's code page";
        return false;
      }
    }
    int charset = CharsetOf(lang);
    if (!EncodeText(lang.name, {manifest, d.line, false}, charset, section, error)) return false;
    for (size_t j = 0; j < lang.texts.size(); ++j) {
      const TextOrigin& at = d.origins[j];
      if (at.included && d.codePageFiles) continue;
      if (!EncodeText(lang.texts[j].first, at, charset, section, error) ||
          !EncodeText(lang.texts[j].second, at, charset, section, error))
        return false;
    }
  }
  return true;
}

// Texts of a language from a separate file of key=value lines.
bool IncludeLanguage(const std::string& path, PackLanguage& lang, LanguageDraft& draft, Parser& outer) {
  std::string text;
  if (!ReadWholeFile(path, text))
    return outer.Fail("cannot read language file " + Unreadable(path));
  IncludedFile inc;
  inc.path = path;
  inc.utf8Mark = text.compare(0, 3, kUtf8Mark) == 0;
  if (inc.utf8Mark) text.erase(0, 3);
  // Judged once the section's encoding is known, after the whole manifest.
  inc.badLine = FirstNonUtf8Line(text, inc.badWhere);
  draft.includes.push_back(inc);
  Parser p;
  p.file = path;
  for (const std::string& raw : Lines(text)) {
    ++p.line;
    std::string t = Trim(raw);
    if (IsComment(t)) continue;
    std::string key, value;
    if (!SplitLine(t, key, value)) {
      p.Fail("expected key = value");
      break;
    }
    if (SameText(key, "encoding")) {
      p.Fail("encoding belongs in the [language] section of the manifest, beside include =");
      break;
    }
    lang.texts.emplace_back(key, value);
    draft.origins.push_back({path, p.line, true});
  }
  if (!p.error.empty()) {
    outer.error = p.error;
    return false;
  }
  return true;
}

// update_public_key: one public-key file, or two separated by a comma (the
// current key and the next one), into the header's key field "K1" or "K1,K2".
bool ReadKeyFiles(const std::string& value, const std::string& base, std::string& field, std::string& error) {
  std::vector<std::string> points;
  field.clear();
  size_t start = 0;
  for (;;) {
    size_t comma = value.find(',', start);
    std::string one = Trim(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (one.empty()) {
      error = "update_public_key: expected one public-key file, or two separated by a comma";
      return false;
    }
    std::string point;
    if (!ReadPublicKeyFile(JoinPath(base, one), point, error)) return false;
    for (const std::string& p : points)
      if (p == point) {
        error = "update_public_key names the same key twice";
        return false;
      }
    points.push_back(point);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (points.size() > kMaxPublisherKeys) {
    error = "update_public_key names " + std::to_string(points.size()) +
            " keys; an agent holds at most two (the current one and the next)";
    return false;
  }
  for (const std::string& p : points) field += (field.empty() ? "" : ",") + Base64Encode(p);
  return true;
}

}  // namespace

bool LoadManifest(const std::string& path, Manifest& out, std::string& error) {
  out = Manifest();
  Parser p;
  p.file = path;
  std::string text;
  if (!ReadWholeFile(path, text)) {
    error = path + ": cannot read the manifest " + Unreadable(path);
    return false;
  }
  if (text.compare(0, 3, kUtf8Mark) == 0) text.erase(0, 3);
  // Paths, names and texts alike are UTF-8.
  std::string badWhere;
  if (int badLine = FirstNonUtf8Line(text, badWhere)) {
    error = path + ":" + std::to_string(badLine) + ": not UTF-8 (" + badWhere + "); save the manifest as UTF-8";
    return false;
  }
  const std::string base = DirOf(path);
  PackagePlan& plan = out.plan;
  std::string section;
  std::string stubPath;
  int stubLine = 0;
  int packageLine = 1;
  std::vector<FileDraft> files;
  std::vector<LanguageDraft> langDrafts;  // beside plan.languages
  std::string webSizeOf;
  int webSizeLine = 0;
  int volumeSizeLine = 0;
  bool noEngine = false;
  bool webSizeGiven = false;
  bool allowUnsigned = false;
  int agentLine = 0;  // the first line that makes the package an agent or a setup that writes one
  int webLine = 0;
  std::string updatesAgent;
  int updatesAgentLine = 0;
  // Lines of the header fields that updates_agent checks; 0 when not given.
  int updateUrlLine = 0, infoFileLine = 0, agentExeLine = 0, tokenLine = 0, keyLine = 0;

  auto bad = [&](const std::string& msg) {
    p.Fail(msg);
    error = p.error;
    return false;
  };
  for (const std::string& raw : Lines(text)) {
    ++p.line;
    std::string t = Trim(raw);
    if (IsComment(t)) continue;
    if (t.front() == '[') {
      if (t.back() != ']') return bad("unclosed section header");
      std::string name = Trim(t.substr(1, t.size() - 2));
      std::string word = UpperCase(TextBefore(name + " ", " ", name));
      if (SameText(name, "package") || SameText(name, "web")) {
        section = LowerCase(name);
        if (section == "web" && !plan.hasWebSetup) {
          plan.hasWebSetup = true;
          webLine = p.line;
        }
        if (section == "package") packageLine = p.line;
      } else if (word == "LANGUAGE") {
        std::string langName = Trim(name.substr(8));
        if (langName.empty()) return bad("[language] needs a name, e.g. [language English]");
        section = "language";
        plan.languages.push_back({langName, {}});
        langDrafts.emplace_back();
        langDrafts.back().line = p.line;
      } else if (SameText(name, "file")) {
        section = "file";
        FileDraft d;
        d.line = p.line;
        files.push_back(d);
      } else {
        return bad("unknown section [" + name + "]");
      }
      continue;
    }
    std::string key, value;
    if (!SplitLine(t, key, value)) return bad("expected key = value");
    std::string k = LowerCase(key);
    bool ok = true;
    if (section.empty()) {
      ok = p.Fail("\"" + key + "\" outside a section");
    } else if (section == "package") {
      bool b = false;
      int64_t n = 0;
      if (k == "stub") {
        stubPath = JoinPath(base, value);
        stubLine = p.line;
      } else if (k == "output") {
        out.output = JoinPath(base, value);
      } else if (k == "volume_size") {
        ok = p.Number(key, value, n, 0, int64_t(1) << 40) && (plan.volumeSize = n, true);
        volumeSizeLine = p.line;
      } else if (k == "first_volume_001") {
        ok = p.Bool(key, value, plan.firstVolume001);
      } else if (k == "checksum") {
        ok = p.Bool(key, value, plan.checksum);
      } else if (k == "reproducible") {
        ok = p.Bool(key, value, plan.reproducible);
      } else if (k == "update_url") {
        plan.updateUrl = value;
        updateUrlLine = p.line;
      } else if (k == "info_file") {
        plan.infoFileName = value;
        infoFileLine = p.line;
      } else if (k == "agent_exe") {
        plan.agentExeName = value;
        agentExeLine = p.line;
      } else if (k == "token") {
        plan.token = value;
        tokenLine = p.line;
        if (value.size() > kMaxTokenLength)
          ok = p.Fail("token longer than " + std::to_string(kMaxTokenLength) + " characters");
      } else if (k == "silent") {
        ok = p.Bool(key, value, plan.silent);
      } else if (k == "update_public_key") {
        std::string why;
        ok = ReadKeyFiles(value, base, plan.updatePublicKey, why) || p.Fail(why);
        keyLine = p.line;
      } else if (k == "allow_unsigned") {
        ok = p.Bool(key, value, allowUnsigned);
      } else if (k == "updates_agent") {
        updatesAgent = JoinPath(base, value);
        updatesAgentLine = p.line;
      } else if (k == "temp_drive_notice" || k == "cd_spanning" || k == "activity_bar" || k == "debug_log") {
        uint8_t bit = k == "temp_drive_notice" ? kFlagTempDriveNotice
                      : k == "cd_spanning"     ? kFlagCdSpanning
                      : k == "activity_bar"    ? kFlagActivityBar
                                               : kFlagDebugLog;
        ok = p.Bool(key, value, b);
        if (ok) plan.flags = b ? (plan.flags | bit) : (plan.flags & ~bit);
      } else if (k == "web_setup") {
        ok = p.Bool(key, value, plan.webSetup);
      } else if (k == "confirm_download") {
        ok = p.Bool(key, value, plan.confirmDownload);
      } else if (k == "write_agent_copy") {
        ok = p.Bool(key, value, plan.writeAgentCopy);
        if (ok && plan.writeAgentCopy && !agentLine) agentLine = p.line;
      } else if (k == "is_update_agent") {
        ok = p.Bool(key, value, plan.isUpdateAgent);
        if (ok && plan.isUpdateAgent && !agentLine) agentLine = p.line;
      } else if (k == "no_engine") {
        ok = p.Bool(key, value, noEngine);
      } else {
        ok = p.Fail("unknown key \"" + key + "\" in [package]");
      }
      if (ok && (k == "update_url" || k == "info_file" || k == "agent_exe" || k == "token") &&
          value.find('|') != std::string::npos)
        ok = p.Fail(key + " must not contain \"|\"");
    } else if (section == "web") {
      if (k == "base") {
        plan.webBase = value;
      } else if (k == "file") {
        plan.webFileName = value;
      } else if (k == "always") {
        ok = p.Bool(key, value, plan.webAlwaysDownload);
      } else if (k == "token") {
        plan.webToken = value;
        if (value.size() > kMaxTokenLength)
          ok = p.Fail("token longer than " + std::to_string(kMaxTokenLength) + " characters");
      } else if (k == "size") {
        int64_t n = 0;
        ok = p.Number(key, value, n, 0, INT64_MAX) && (plan.webSize = std::to_string(n), webSizeGiven = true);
      } else if (k == "size_of") {
        webSizeOf = JoinPath(base, value);
        webSizeLine = p.line;
      } else {
        ok = p.Fail("unknown key \"" + key + "\" in [web]");
      }
      if (ok && value.find('|') != std::string::npos) ok = p.Fail(key + " must not contain \"|\"");
    } else if (section == "language") {
      PackLanguage& lang = plan.languages.back();
      LanguageDraft& draft = langDrafts.back();
      if (k == "include") {
        ok = IncludeLanguage(JoinPath(base, value), lang, draft, p);
      } else if (k == "encoding") {
        if (SameText(value, "utf8") || SameText(value, "utf-8"))
          draft.codePageFiles = false;
        else if (SameText(value, "codepage"))
          draft.codePageFiles = true;
        else
          ok = p.Fail("encoding: expected utf8 or codepage, not \"" + value + "\"");
      } else {
        lang.texts.emplace_back(key, value);
        draft.origins.push_back({path, p.line, false});
      }
    } else if (section == "file") {
      FileDraft& d = files.back();
      if (k == "source") {
        d.file.sourcePath = JoinPath(base, value);
        d.sourceText = value;
        d.hasSource = true;
        d.sourceLine = p.line;
        if (d.file.name.empty()) d.file.name = ExtractFileName(value);
      } else if (k == "name") {
        d.file.name = value;
        d.nameLine = p.line;
      } else if (k == "time") {
        if (SameText(value, "file")) {
          d.timeFromFile = true;
        } else {
          d.timeFromFile = false;
          if (!ParseTime(value, d.file.dosTime))
            ok = p.Fail("time: expected \"file\", YYYY-MM-DD [HH:MM:SS] (1980-2107) or a DOS date-time number");
        }
      } else if (k == "compression") {
        int64_t n = 0;
        if (SameText(value, "stored"))
          d.file.level = kStoredLevel;
        else
          ok = p.Number(key, value, n, 0, 9) && (d.file.level = int(n), true);
      } else if (k == "recursive") {
        ok = p.Bool(key, value, d.recursive);
      } else if (k == "engine") {
        d.file.engine = true;
        d.file.engineArgs = value;
        d.engineLine = p.line;
      } else {
        ok = p.Fail("unknown key \"" + key + "\" in [file]");
      }
    }
    if (!ok) {
      error = p.error;
      return false;
    }
  }

  if (!EncodeLanguages(plan.languages, langDrafts, path, error)) return false;

  // Checks that need the whole manifest.
  auto failAt = [&](int line, const std::string& msg) {
    error = path + ":" + std::to_string(line) + ": " + msg;
    return false;
  };
  if (stubPath.empty()) return failAt(packageLine, "no stub given ([package] stub = ...)");
  if (!ReadWholeFile(stubPath, plan.stub))
    return failAt(stubLine, "cannot read the stub " + Unreadable(stubPath));
  std::string why;
  if (!StubLooksValid(plan.stub, &why)) return failAt(stubLine, "stub " + stubPath + ": " + why);
  if (!updatesAgent.empty()) {
    // An agent takes only an update that carries its own header fields, so
    // they are copied from the agent; any also written here must agree.
    AgentHeader a;
    if (!ReadAgentHeader(updatesAgent, a, why)) return failAt(updatesAgentLine, "updates_agent: " + why);
    if (!a.agent)
      return failAt(updatesAgentLine, "updates_agent: " + updatesAgent + " is no update agent (nor a setup that writes one)");
    if (a.token.empty())
      return failAt(updatesAgentLine, "updates_agent: " + updatesAgent +
                                          " has no product token, so it takes no update package");
    struct Copied {
      const char* key;
      int line;
      std::string& mine;
      const std::string& agents;
    };
    Copied fields[] = {{"update_url", updateUrlLine, plan.updateUrl, a.updateUrl},
                       {"info_file", infoFileLine, plan.infoFileName, a.infoFile},
                       {"agent_exe", agentExeLine, plan.agentExeName, a.agentExe},
                       {"token", tokenLine, plan.token, a.token},
                       {"update_public_key", keyLine, plan.updatePublicKey, a.keyField}};
    for (Copied& f : fields) {
      std::string key = f.key;
      // A new server, or the next key beside (or instead of) the old one,
      // is the publisher's to give: the agent takes the update as long as
      // it carries a key the agent knows.
      if (f.line && key == "update_url") continue;
      if (f.line && key == "update_public_key" && UpdateKeepsKeys(a.keyField, f.mine, "")) continue;
      if (f.line && f.mine != f.agents) {
        // Tokens and keys are not repeated in messages: the first is a secret of sorts, the second long.
        bool quiet = key == "token" || key == "update_public_key";
        return failAt(f.line, key + (quiet ? " differs" : " \"" + f.mine + "\" differs") + " from the agent's" +
                                  (quiet ? "" : " \"" + f.agents + "\"") + " (updates_agent = " + updatesAgent +
                                  "); the agent would refuse this update");
      }
      f.mine = f.agents;
    }
  }
  // Signed by default: an agent or web stub that takes whatever its server
  // sends runs, with administrator rights, whatever anyone on the network
  // path serves.
  bool unsignedAgent = (plan.isUpdateAgent || plan.writeAgentCopy) && plan.updatePublicKey.empty();
  bool unpinnedWeb = plan.webSetup && plan.hasWebSetup && webSizeOf.empty();
  const std::string agentWhat = plan.isUpdateAgent ? "is_update_agent = 1" : "write_agent_copy = 1";
  if (unsignedAgent) {
    std::string why = agentWhat + " without update_public_key: the agent would install any update its server "
                      "sends, so anyone on the network path could serve one that runs with administrator rights";
    if (!allowUnsigned)
      return failAt(agentLine, why + "; give update_public_key = <public-key file> (from packer keygen), or set "
                                     "allow_unsigned = 1 in [package] to build it unsigned anyway");
    out.warnings.push_back(path + ":" + std::to_string(agentLine) + ": " + why + " (built unsigned: allow_unsigned = 1)");
  }
  if (unpinnedWeb) {
    std::string why = "[web] without size_of: the web stub would run any setup file its server sends with the web "
                      "token, so anyone on the network path could serve one that runs with administrator rights";
    if (!allowUnsigned)
      return failAt(webLine, why + "; build the real setup first and name it in size_of = <file> (its SHA-256 is then "
                                   "pinned), or set allow_unsigned = 1 in [package] to build it unpinned anyway");
    out.warnings.push_back(path + ":" + std::to_string(webLine) + ": " + why + " (built unpinned: allow_unsigned = 1)");
  }
  if (!webSizeOf.empty()) {
    if (webSizeGiven) return failAt(webSizeLine, "give either size or size_of, not both");
    std::FILE* f = OpenSharedRead(webSizeOf);
    int64_t n = f ? FileSizeOf(f) : -1;
    if (f) std::fclose(f);
    if (n < 0) return failAt(webSizeLine, "cannot read " + Unreadable(webSizeOf));
    plan.webSize = std::to_string(n);
    // The web stub runs only the very file it was built for.
    std::string digest, why;
    if (!Sha256OfFile(webSizeOf, digest, why)) return failAt(webSizeLine, "SHA-256 of " + webSizeOf + ": " + why);
    plan.webSha256 = HexText(digest);
  }
  std::set<std::string> names;
  int engines = 0;
  for (FileDraft& d : files) {
    if (!d.hasSource) return failAt(d.line, "[file] needs source = <path>");
    if (d.file.engineArgs.find('|') != std::string::npos)
      return failAt(d.engineLine, "engine arguments must not contain \"|\"");
    std::vector<Found> found;
    bool multi = false;
    std::string why;
    if (!ExpandSource(d, found, multi, why)) return failAt(d.sourceLine, why);
    if (multi) {
      std::string what = d.recursive ? " (with its sub-folders)" : "";
      if (found.empty()) return failAt(d.sourceLine, "no file matches " + d.sourceText + what);
      std::string count = std::to_string(found.size());
      if (found.size() > 1 && d.file.engine)
        return failAt(d.engineLine, "engine marks one file, but " + d.sourceText + " matches " + count + " files");
      if (found.size() > 1 && d.nameLine)
        return failAt(d.nameLine, "name names one file, but " + d.sourceText + " matches " + count + " files");
    }
    for (const Found& one : found) {
      PackFile file = d.file;
      file.sourcePath = one.path;
      if (multi && !d.nameLine) file.name = one.name;
      const std::string& n = file.name;
      int nameLine = d.nameLine ? d.nameLine : d.sourceLine;
      if (n.empty() || n.find_first_of("|*\\/:") != std::string::npos)
        return failAt(nameLine, "bad name \"" + n + "\" (a plain file name without | * \\ / :)");
      if (!names.insert(UpperCase(n)).second) return failAt(nameLine, "the name \"" + n + "\" is used twice");
      if (file.engine && ++engines > 1) return failAt(d.engineLine, "more than one file is marked as the engine");
      std::FILE* f = OpenSharedRead(file.sourcePath);
      if (!f) return failAt(d.sourceLine, "cannot read " + Unreadable(file.sourcePath));
      std::fclose(f);
      if (d.timeFromFile) file.dosTime = FileDosTime(file.sourcePath);
      plan.files.push_back(file);
    }
  }
  // A setup that starts nothing is almost always a forgotten engine key.
  if (engines == 0 && !noEngine && !plan.webSetup && !plan.isUpdateAgent)
    return failAt(packageLine,
                  "no file is marked as the setup engine: give its [file] section engine = (with the engine's "
                  "arguments, or nothing), or set no_engine = 1 in [package] for a setup that starts nothing");
  if (plan.volumeSize > 0) {
    int64_t least = SmallestVolumeSize(plan);
    if (plan.volumeSize < least)
      return failAt(volumeSizeLine, "volume_size " + std::to_string(plan.volumeSize) +
                                        " is too small for this package: the smallest size that works is " +
                                        std::to_string(least));
  }
  return true;
}
