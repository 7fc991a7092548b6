#include "publish.h"

#include <cstdio>

#include "crypto.h"
#include "manifest.h"
#include "package/signature.h"
#include "paths/utils.h"

namespace {
int Fail(const std::string& problem) {
  std::fprintf(stderr, "packer: %s\n", problem.c_str());
  return 1;
}
int Usage(const std::string& problem) {
  std::fprintf(stderr, "packer: %s (see packer --help)\n", problem.c_str());
  return 2;
}

bool Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// Writes under a temporary name, then replaces the file.
bool WriteReplacing(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
#ifdef _WIN32
  if (ok) std::remove(path.c_str());
#endif
  if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}

struct Line {
  std::string text, end;
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    Line l;
    if (nl == std::string::npos) {
      l.text = text.substr(pos);
      pos = text.size();
    } else {
      l.text = text.substr(pos, nl - pos);
      l.end.push_back('\n');
      pos = nl + 1;
    }
    if (!l.text.empty() && l.text.back() == '\r') {
      l.text.pop_back();
      l.end.insert(l.end.begin(), '\r');
    }
    lines.push_back(l);
  }
  return lines;
}

bool IsSection(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  if (name) *name = Trim(t.substr(1, close - 1));
  return true;
}

bool IsKey(const std::string& line, const std::string& key) {
  size_t eq = line.find('=');
  return eq != std::string::npos && SameText(Trim(line.substr(0, eq)), key);
}

// [first, last) lines of the first section of that name; false when absent.
bool FindSection(const std::vector<Line>& lines, const std::string& section, size_t& first, size_t& last) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    if (!IsSection(lines[i].text, &name) || !SameText(name, section)) continue;
    first = i + 1;
    last = first;
    while (last < lines.size() && !IsSection(lines[last].text, nullptr)) ++last;
    return true;
  }
  return false;
}

std::string Join(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& l : lines) out += l.text + l.end;
  return out;
}

std::string ReadText(const std::string& path, bool& ok) {
  std::string bytes;
  ok = ReadWholeFile(path, bytes);
  return bytes;
}

struct Published {
  const char* what;     // "update" or "inform"
  const char* section;  // of the INFO file
  const char* nameKey;
  const char* sizeKey;
  const char* hashKey;
};
const Published kUpdate{"update", "NewSetup", "NameOfUpdateFile", "SizeOfUpdateFile", "Sha256OfUpdateFile"};
const Published kInform{"inform", "AutoInform", "NameOfInformFile", "SizeOfInformFile", "Sha256OfInformFile"};

// Writes name (when the INFO file names none), size and hash of one file.
bool PublishFile(std::string& info, const Published& p, const std::string& path, std::string& error) {
  std::string name = ExtractFileName(path);
  std::string named = Trim(IniGet(info, p.section, p.nameKey));
  if (named.empty()) {
    info = IniSet(info, p.section, p.nameKey, name);
  } else if (!SameText(ExtractFileName(named), name)) {
    error = std::string(p.section) + " " + p.nameKey + " names \"" + named + "\", but the " + p.what + " file is \"" +
            name + "\"";
    return false;
  }
  std::string digest;
  if (!Sha256OfFile(path, digest, error)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  long long size = -1;
  if (f && std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (f) std::fclose(f);
  if (size < 0 || size > 0x7FFFFFFF) {
    error = "cannot size " + path + " (or it is 2 GB or more)";
    return false;
  }
  info = IniSet(info, p.section, p.sizeKey, std::to_string(size));
  info = IniSet(info, p.section, p.hashKey, HexText(digest));
  std::printf("%s file %s: %lld bytes, SHA-256 %s\n", p.what, name.c_str(), size, HexText(digest).c_str());
  return true;
}

// Options of the form --name value.
bool Options(const std::vector<std::string>& args, const std::vector<std::string>& names,
             std::vector<std::string>& values, std::string& problem) {
  values.assign(names.size(), "");
  for (size_t i = 0; i < args.size(); ++i) {
    size_t k = 0;
    while (k < names.size() && args[i] != names[k]) ++k;
    if (k == names.size()) {
      problem = "unexpected argument \"" + args[i] + "\"";
      return false;
    }
    if (i + 1 >= args.size()) {
      problem = names[k] + " needs a value";
      return false;
    }
    values[k] = args[++i];
  }
  return true;
}
}  // namespace

std::string IniGet(const std::string& text, const std::string& section, const std::string& key) {
  std::vector<Line> lines = SplitLines(text);
  size_t first, last;
  if (!FindSection(lines, section, first, last)) return "";
  for (size_t i = first; i < last; ++i)
    if (IsKey(lines[i].text, key)) return Trim(lines[i].text.substr(lines[i].text.find('=') + 1));
  return "";
}

std::string IniSet(const std::string& text, const std::string& section, const std::string& key,
                   const std::string& value) {
  std::vector<Line> lines = SplitLines(text);
  std::string eol = text.find("\r\n") != std::string::npos || text.empty() ? "\r\n" : "\n";
  size_t first, last;
  if (!FindSection(lines, section, first, last)) {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
    lines.push_back({"[" + section + "]", eol});
    lines.push_back({key + "=" + value, eol});
    return Join(lines);
  }
  bool done = false;
  for (size_t i = first; i < last;) {
    if (IsKey(lines[i].text, key)) {
      if (!done) {
        lines[i].text = key + "=" + value;
        if (lines[i].end.empty()) lines[i].end = eol;
        done = true;
      } else {
        // A second copy would contradict the one that is signed.
        lines.erase(lines.begin() + long(i));
        --last;
        continue;
      }
    }
    ++i;
  }
  if (!done) {
    size_t at = last;
    while (at > first && Trim(lines[at - 1].text).empty()) --at;
    if (at > 0 && lines[at - 1].end.empty()) lines[at - 1].end = eol;
    lines.insert(lines.begin() + long(at), {key + "=" + value, eol});
  }
  return Join(lines);
}

bool ReadPublicKeyFile(const std::string& path, std::string& point, std::string& error) {
  bool ok;
  std::string text = ReadText(path, ok);
  if (!ok) {
    error = "cannot read the public key " + path;
    return false;
  }
  if (!ParsePublisherKey(text, point)) {
    error = path + ": not a public key (one line of base64 of a 64-byte P-256 point)";
    return false;
  }
  return true;
}

int KeygenCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("keygen needs a private-key file and a public-key file");
  const std::string &privPath = args[0], &pubPath = args[1];
  for (const std::string& p : args)
    if (Exists(p)) return Fail(p + " exists; a publisher key is never overwritten");
  std::string pem, point, error;
  if (!MakeKeyPair(pem, point, error)) return Fail("keygen: " + error);
  if (!WriteSecretFile(privPath, pem, error)) return Fail(error);
  if (!WriteReplacing(pubPath, Base64Encode(point) + "\n")) {
    std::remove(privPath.c_str());
    return Fail("cannot write " + pubPath);
  }
  std::printf("wrote %s (private, owner only)\nwrote %s: %s\n", privPath.c_str(), pubPath.c_str(),
              Base64Encode(point).c_str());
  return 0;
}

int PublishCommand(const std::vector<std::string>& args) {
  std::vector<std::string> v;
  std::string problem;
  if (!Options(args, {"--key", "--info", "--update", "--inform"}, v, problem)) return Usage(problem);
  const std::string &keyPath = v[0], &infoPath = v[1], &update = v[2], &inform = v[3];
  if (infoPath.empty()) return Usage("publish needs --info <INFO file>");
  bool ok;
  std::string info = ReadText(infoPath, ok);
  if (!ok) return Fail("cannot read " + infoPath);
  std::string pem;
  if (!keyPath.empty()) {
    pem = ReadText(keyPath, ok);
    if (!ok) return Fail("cannot read the private key " + keyPath);
  }
  std::string error;
  if (!update.empty() && !PublishFile(info, kUpdate, update, error)) return Fail(error);
  if (!inform.empty() && !PublishFile(info, kInform, inform, error)) return Fail(error);
  // Sign before anything is written, so that a bad key leaves the old release.
  std::string signature, point;
  if (!pem.empty() && !SignWithKey(pem, info, signature, point, error)) return Fail(keyPath + ": " + error);
  if (!WriteReplacing(infoPath, info)) return Fail("cannot write " + infoPath);
  std::printf("wrote %s\n", infoPath.c_str());
  if (!pem.empty()) {
    std::string sigPath = SignatureFileName(infoPath);
    if (!WriteReplacing(sigPath, Base64Encode(signature) + "\n")) return Fail("cannot write " + sigPath);
    std::printf("wrote %s (key %s)\n", sigPath.c_str(), Base64Encode(point).c_str());
    for (const Published* p : {&kUpdate, &kInform})
      if (!Trim(IniGet(info, p->section, p->nameKey)).empty() && Trim(IniGet(info, p->section, p->hashKey)).empty())
        std::fprintf(stderr, "packer: warning: %s names a file without %s; agents with a key will refuse it\n",
                     p->nameKey, p->hashKey);
  }
  return 0;
}

int VerifyCommand(const std::vector<std::string>& args) {
  std::vector<std::string> v;
  std::string problem;
  if (!Options(args, {"--key", "--info", "--sig"}, v, problem)) return Usage(problem);
  const std::string &keyPath = v[0], &infoPath = v[1];
  if (infoPath.empty()) return Usage("verify needs --info <INFO file>");
  std::string sigPath = v[2].empty() ? SignatureFileName(infoPath) : v[2];
  bool ok;
  std::string info = ReadText(infoPath, ok);
  if (!ok) return Fail("cannot read " + infoPath);
  std::string keyField, point, error;
  if (!keyPath.empty()) {
    if (!ReadPublicKeyFile(keyPath, point, error)) return Fail(error);
    keyField = Base64Encode(point);
  }
  bool sigOk = false;
  std::string sigText = keyPath.empty() ? "" : ReadText(sigPath, sigOk);
  InfoVerdict iv = CheckInfoSignature(keyField, info, !keyPath.empty() && sigOk, sigText, VerifyWithKey);
  bool good = InfoAccepted(iv);
  std::printf("signature: %s\n", InfoVerdictText(iv));
  for (const Published* p : {&kUpdate, &kInform}) {
    std::string name = ExtractFileName(Trim(IniGet(info, p->section, p->nameKey)));
    if (name.empty()) continue;
    std::string path = JoinPath(DirOf(infoPath), name);
    if (!Exists(path)) {
      std::printf("%s file %s: not beside the INFO file, not checked\n", p->what, name.c_str());
      continue;
    }
    std::string published = IniGet(info, p->section, p->hashKey), digest;
    bool hashed = HashNeeded(!keyField.empty(), published) && Sha256OfFile(path, digest, error);
    HashVerdict hv = CheckPublishedHash(!keyField.empty(), published, hashed, digest);
    std::printf("%s file %s: %s\n", p->what, name.c_str(), HashVerdictText(hv));
    good = good && HashAccepted(hv);
  }
  return good ? 0 : 1;
}
