// Benchmark driver for the extraction engine.
//   benchextract pack <folder> <package> <level>   package every file of a folder
//   benchextract engine <package> <outdir>          extract with the engine
//   benchextract floor <package> <outdir>           bare inflate-and-write loop over the same items
//   benchextract floor-dates <package> <outdir>     the same, also giving each file its stored date
// engine and the floors print "<milliseconds> <peak RSS KiB>" on one line.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/gfileinfo.h"
#include "package/package_writer.h"
#include "package/pkgfile.h"
#include "setup/unpack.h"
#include "setup/unpack_stdio.h"

namespace {

using Clock = std::chrono::steady_clock;

long PeakRssKiB() {
  struct rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

int Pack(const std::string& folder, const std::string& package, int level) {
  PackagePlan plan;
  plan.stub.assign(0x400, '\0');
  plan.stub[0] = 'M';
  plan.stub[1] = 'Z';
  plan.stub[0x100] = 'P';
  plan.stub[0x101] = 'E';
  DIR* d = opendir(folder.c_str());
  if (!d) {
    std::fprintf(stderr, "cannot open %s\n", folder.c_str());
    return 1;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  for (const auto& n : names) {
    PackFile f;
    f.name = n;
    f.sourcePath = folder + "/" + n;
    f.level = level;
    f.dosTime = DosTimeOf(2020, 1, 2, 3, 4, 6);
    plan.files.push_back(f);
  }
  PackResult r = WritePackage(plan, package);
  if (!r.error.empty()) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return 1;
  }
  return 0;
}

int Engine(const std::string& package, const std::string& out) {
  StdioUnpackEnv env;
  env.keepDebug = false;
  ExtractRequest req;
  req.packagePath = package;
  req.targetFolder = out;
  bool ok = false;
  std::string entry;
  auto t0 = Clock::now();
  RunExtraction(env, req, ok, entry);
  auto ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  if (!ok) {
    std::fprintf(stderr, "extraction failed\n");
    return 1;
  }
  std::printf("%.1f %ld\n", ms, PeakRssKiB());
  return 0;
}

// The least any extractor must do: read each item, inflate it, write the
// content after the header to its file. No checks; dates only when asked,
// as the engine must set them.
int Floor(const std::string& package, const std::string& out, bool dates) {
  auto t0 = Clock::now();
  PackageTrailer t;
  if (!ReadPackageTrailer(package, t)) return 1;
  int64_t end = PackageLogicalEnd(package);
  std::FILE* f = OpenSharedRead(package);
  if (!f || !SeekTo(f, t.FirstItemOffset)) return 1;
  mkdir(out.c_str(), 0777);
  std::vector<unsigned char> in(65536), buf(65536);
  int64_t pos = t.FirstItemOffset;
  int count = 0;
  while (end - pos > 74) {
    uint8_t lb[4];
    if (!ReadExact(f, lb, 4)) return 1;
    int32_t n = int32_t(GetU32(lb));
    int64_t size = n < 0 ? -int64_t(n) : n;
    pos += 4 + size;
    if (++count <= t.HeaderItemCount || n <= 0) {
      SeekTo(f, pos);
      continue;
    }
    z_stream z{};
    inflateInit(&z);
    int64_t left = size;
    std::string header;
    bool inHeader = true;
    std::FILE* o = nullptr;
    int r = Z_OK;
    while (r != Z_STREAM_END) {
      if (z.avail_in == 0) {
        size_t want = size_t(std::min<int64_t>(left, int64_t(in.size())));
        if (want == 0 || !ReadExact(f, in.data(), want)) return 1;
        left -= int64_t(want);
        z.next_in = in.data();
        z.avail_in = uInt(want);
      }
      z.next_out = buf.data();
      z.avail_out = uInt(buf.size());
      r = inflate(&z, Z_NO_FLUSH);
      if (r < 0 && r != Z_BUF_ERROR) return 1;
      size_t got = buf.size() - z.avail_out;
      const unsigned char* p = buf.data();
      if (inHeader && got > 0) {
        const void* zero = std::memchr(p, 0, got);
        if (!zero) {
          header.append(reinterpret_cast<const char*>(p), got);
          continue;
        }
        size_t h = size_t(static_cast<const unsigned char*>(zero) - p);
        header.append(reinterpret_cast<const char*>(p), h);
        p += h + 1;
        got -= h + 1;
        inHeader = false;
        size_t a = header.find('|', 1);
        o = std::fopen((out + "/" + header.substr(1, a - 1)).c_str(), "wb");
        if (!o) return 1;
      }
      if (o && got > 0) std::fwrite(p, 1, got, o);
    }
    inflateEnd(&z);
    if (o && dates) {
      size_t a = header.find('|', 1);
      int64_t t = DosTimeToUnix(uint32_t(std::strtoul(header.c_str() + a + 1, nullptr, 10)));
      std::fflush(o);
      struct timespec ts[2] = {{time_t(t), 0}, {time_t(t), 0}};
      if (t >= 0) futimens(fileno(o), ts);
    }
    if (o) std::fclose(o);
    if (left > 0) SeekTo(f, pos);
  }
  std::fclose(f);
  auto ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  std::printf("%.1f %ld\n", ms, PeakRssKiB());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "pack" && argc == 5) return Pack(argv[2], argv[3], std::atoi(argv[4]));
  if (cmd == "engine" && argc == 4) return Engine(argv[2], argv[3]);
  if (cmd == "floor" && argc == 4) return Floor(argv[2], argv[3], false);
  if (cmd == "floor-dates" && argc == 4) return Floor(argv[2], argv[3], true);
  std::fprintf(stderr,
               "usage: benchextract pack <folder> <package> <level>\n"
               "       benchextract engine|floor|floor-dates <package> <outdir>\n");
  return 2;
}
