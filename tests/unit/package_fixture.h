// Small helpers for the package tests: a fake stub, a private temporary
// folder, whole-file reads and writes, and a guard for the platform hooks.
#pragma once
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "paths/pathio.h"
#include "paths/platform.h"

namespace pkgtest {

// "MZ" at 0 and "PE" at 0x100, like the real stub after its header move.
inline std::string FakeStub(size_t size = 0x400) {
  std::string s(size, '\0');
  s[0] = 'M';
  s[1] = 'Z';
  s[0x100] = 'P';
  s[0x101] = 'E';
  for (size_t i = 0x104; i < size; ++i) s[i] = char(i * 7 + 3);
  return s;
}

inline std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(rng() & 0xFF);
  return s;
}

inline std::string ReadAll(const std::string& path) {
  std::string s;
  std::FILE* f = OpenPath(path, "rb");
  if (!f) return s;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("pkgtest_" + std::to_string(rd()) + "_" + std::to_string(++counter));
    std::filesystem::create_directories(dir_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path dir_;
};

// Restores the process-wide platform hooks at the end of a test.
struct HookGuard {
  PlatformHooks saved = Platform();
  ~HookGuard() { Platform() = saved; }
};

inline PackagePlan BasicSpec() {
  PackagePlan plan;
  plan.stub = FakeStub();
  plan.languages.push_back({"English", {{"s0", "Demo Setup"}, {"Charset", "0"}}});
  return plan;
}

}  // namespace pkgtest
