#include "progress_line.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

std::string ByteText(uint64_t bytes) {
  static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double v = double(bytes);
  int u = 0;
  while (v >= 1024 && u < 4) {
    v /= 1024;
    ++u;
  }
  char buf[32];
  if (u == 0)
    std::snprintf(buf, sizeof buf, "%llu bytes", (unsigned long long)bytes);
  else
    std::snprintf(buf, sizeof buf, "%.1f %s", v, kUnits[u]);
  return buf;
}

ProgressLine::ProgressLine(bool show, const std::string& verb, size_t totalFiles, uint64_t totalBytes)
    : show_(show), verb_(verb), totalFiles_(totalFiles), totalBytes_(totalBytes),
      start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

double ProgressLine::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressLine::Update(size_t files, uint64_t bytes) {
  if (!show_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  double secs = std::chrono::duration<double>(now - start_).count();
  std::string line = verb_ + ": " + std::to_string(files) + "/" + std::to_string(totalFiles_) + " files, " +
                     ByteText(bytes) + " of " + ByteText(totalBytes_);
  if (secs > 0.05) line += ", " + ByteText(uint64_t(double(bytes) / secs)) + "/s";
  // Blanks over the rest of a longer earlier line; no escape codes, so old consoles show it too.
  size_t len = line.size();
  if (len < width_) line.append(width_ - len, ' ');
  width_ = len;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressLine::Finish() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%s\r", std::string(width_, ' ').c_str());
  std::fflush(stderr);
  drawn_ = false;
}

std::string SummaryLine(const std::string& verb, size_t volumes, size_t files, uint64_t bytesIn, uint64_t bytesOut,
                        uint64_t packageBytes, uint64_t fileBytes, double seconds) {
  char ratio[32] = "-";
  if (fileBytes > 0) std::snprintf(ratio, sizeof ratio, "%.1f%%", 100.0 * double(packageBytes) / double(fileBytes));
  char secs[32];
  std::snprintf(secs, sizeof secs, "%.2f s", seconds);
  return verb + ": " + std::to_string(volumes) + (volumes == 1 ? " volume, " : " volumes, ") + std::to_string(files) +
         (files == 1 ? " file, " : " files, ") + std::to_string(bytesIn) + " bytes in, " + std::to_string(bytesOut) +
         " bytes out, ratio " + ratio + ", " + secs;
}
