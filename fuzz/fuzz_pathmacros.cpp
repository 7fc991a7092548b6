// Path-macro expansion over arbitrary texts and machine facts, and
// the path helpers it builds on (slash collapsing with double-byte lead
// bytes, trailing backslashes, file-name parts).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fields.h"
#include "paths/pathmacros.h"
#include "paths/platform.h"
#include "paths/utils.h"

namespace {
void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_pathmacros: %s\n", what);
  std::abort();
}

bool g_dbcs = false;

// Machine facts taken from the input. Like real folder and user names they
// hold no angle brackets (Windows forbids them in paths) and at most 260
// characters: a value full of macros would let every step multiply the text.
class FuzzSource : public PathMacroSource {
 public:
  explicit FuzzSource(const FuzzFields& in) {
    for (size_t i = 0; i < kValues; ++i) {
      std::string v = in.Text(2 + i).substr(0, 260);
      v.erase(std::remove_if(v.begin(), v.end(), [](char c) { return c == '<' || c == '>'; }), v.end());
      values_[i] = v;
    }
    for (int i = 0; i < 8; ++i) bytes_[i] = in.Byte(i);
  }
  std::string LoggedUserName() override { return Value(2); }
  std::string UserName() override { return Value(3); }
  std::string CompanyName() override { return Value(3); }
  std::string ComputerName() override { return Value(2); }
  std::string DomainName() override { return Value(4); }
  int LastExitCode() override { return int8_t(bytes_[2]); }
  std::string EnteredValue(const std::string& name) override { return bytes_[3] & 1 ? Value(4) + name : ""; }
  // Any day from 1899 to 2118, any time of day.
  double LocalNow() override { return double(bytes_[4] | bytes_[5] << 8) * 1.23 + bytes_[6] / 256.0; }
  char DateSeparator() override { return char(bytes_[7]); }
  std::string InstallFolder() override { return Value(5); }
  std::string CommonFolder() override { return Value(6); }
  std::string AuxiliaryFolder() override { return Value(7); }
  std::string WindowsFolder() override { return Value(8); }
  std::string SystemFolder() override { return Value(8) + "\\system32"; }
  std::string System16Folder() override { return System16Candidate(SystemFolder()); }
  std::string TempFolder() override { return Value(9); }
  std::string OwnFolder() override { return Value(9); }
  std::string OriginFolder() override { return Value(7); }
  std::string RunTimeFolder(int n) override { return Value(5) + "\\rt" + std::to_string(n); }
  std::string SpecialFolder(const std::string& macro) override { return Value(6) + "\\" + macro.substr(1, macro.size() - 2); }
  std::string RegistryText(const std::string& keyPath, const std::string& valueName) override {
    return bytes_[3] & 2 ? Value(4) : "";
  }
  bool FolderExists(const std::string& path) override { return bytes_[3] & 4; }
  std::string FullPath(const std::string& path) override {
    return bytes_[3] & 8 ? "" : CollapseDoubleSlashes("C:\\cwd\\" + path);
  }

 private:
  static constexpr size_t kValues = 8;
  std::string Value(size_t field) const { return values_[field - 2]; }
  std::string values_[kValues];
  uint8_t bytes_[8] = {};
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFields in(data, size, 8);
  const std::string& text = in.Text(0);
  // The program passes "\\"; a few other short suffixes keep the rule general.
  static const char* const kSuffixes[] = {"\\", "", "/", "\\\\", "\\x"};
  const std::string suffix = kSuffixes[in.Byte(1) % 5];
  bool fold = in.Byte(0) & 1, pathMacros = in.Byte(0) & 2;
  g_dbcs = in.Byte(0) & 4;
  Platform().isDbcsLeadByte = [](uint8_t c) { return g_dbcs && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)); };

  FuzzSource src(in);
  std::string r = ExpandPathMacros(text, suffix, fold, pathMacros, src);
  if (!fold && text.find('<') == std::string::npos) Check(r == text, "a text without macros changed");
  std::string d = ExpandDateMacro(text, src);
  Check(FolderSuffix(text, in.Text(2), suffix).size() <= suffix.size(), "suffix");
  std::string f = FoldRelativePaths(text, src);

  std::string c = CollapseDoubleSlashes(text, in.Byte(1) & 1);
  Check(c.size() <= text.size(), "collapsing made the text longer");
  Check(text.empty() || c.empty() || c[0] == text[0], "collapsing changed the first character");
  std::string n = NormalizeDirSlash(text, in.Byte(1) & 2);
  std::string t = RemoveTrailingBackslash(text);
  Check(t.size() <= text.size() && n.size() <= text.size() + 1, "trailing backslash");
  std::string name = ExtractFileName(text), dir = ExtractFileDir(text), ext = ExtractFileExt(text);
  Check(name.size() <= text.size() && dir.size() <= text.size() && ext.size() <= name.size() + 1, "file parts");
  std::string changed = ChangeFileExt(text, suffix);
  Check(changed.size() == text.size() - ext.size() + suffix.size(), "changed extension");
  Check(System16Candidate(text).size() <= text.size(), "16-bit folder");
  volatile size_t sink = r.size() + d.size() + f.size();
  (void)sink;
  return 0;
}
