// Path-macro expansion over arbitrary texts, suffixes and machine facts, and
// the path helpers it builds on (slash collapsing with double-byte lead
// bytes, trailing backslashes, file-name parts).
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

// Machine facts taken from the input; every value is a field of it.
class FuzzSource : public PathMacroSource {
 public:
  explicit FuzzSource(const FuzzFields& in) : in_(in) {}
  std::string LoggedUserName() override { return in_.Text(2); }
  std::string UserName() override { return in_.Text(3); }
  std::string CompanyName() override { return in_.Text(3); }
  std::string ComputerName() override { return in_.Text(2); }
  std::string DomainName() override { return in_.Text(4); }
  int LastExitCode() override { return int8_t(in_.Byte(2)); }
  std::string EnteredValue(const std::string& name) override { return in_.Byte(3) & 1 ? in_.Text(4) + name : ""; }
  // Any day from 1899 to 2118, any time of day.
  double LocalNow() override { return double(in_.Byte(4) | in_.Byte(5) << 8) * 1.23 + in_.Byte(6) / 256.0; }
  char DateSeparator() override { return char(in_.Byte(7)); }
  std::string InstallFolder() override { return in_.Text(5); }
  std::string CommonFolder() override { return in_.Text(6); }
  std::string AuxiliaryFolder() override { return in_.Text(7); }
  std::string WindowsFolder() override { return in_.Text(8); }
  std::string SystemFolder() override { return in_.Text(8) + "\\system32"; }
  std::string System16Folder() override { return System16Candidate(SystemFolder()); }
  std::string TempFolder() override { return in_.Text(9); }
  std::string OwnFolder() override { return in_.Text(9); }
  std::string OriginFolder() override { return in_.Text(7); }
  std::string RunTimeFolder(int n) override { return in_.Text(5) + "\\rt" + std::to_string(n); }
  std::string SpecialFolder(const std::string& macro) override { return in_.Text(6) + "\\" + macro; }
  std::string RegistryText(const std::string& keyPath, const std::string& valueName) override {
    return in_.Byte(3) & 2 ? in_.Text(4) : "";
  }
  bool FolderExists(const std::string& path) override { return in_.Byte(3) & 4; }
  std::string FullPath(const std::string& path) override {
    return in_.Byte(3) & 8 ? "" : CollapseDoubleSlashes("C:\\cwd\\" + path);
  }

 private:
  const FuzzFields& in_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFields in(data, size, 8);
  const std::string& text = in.Text(0);
  const std::string& suffix = in.Text(1);
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
