// The packer's progress line on a terminal and its closing summary line.
// Long builds and extractions show files and bytes done and the rate on
// standard error; piped or with --quiet nothing is drawn.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// True when standard error is a terminal.
bool StderrIsTerminal();

class ProgressLine {
 public:
  // `show` false draws nothing; the clock runs anyway for the summary.
  ProgressLine(bool show, const std::string& verb, size_t totalFiles, uint64_t totalBytes);
  ~ProgressLine() { Finish(); }
  // Redraws at most ten times a second (the first call at once).
  void Update(size_t files, uint64_t bytes);
  void Finish();  // removes the line
  double Seconds() const;

 private:
  bool show_;
  std::string verb_;
  size_t totalFiles_;
  uint64_t totalBytes_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  bool drawn_ = false;
  size_t width_ = 0;
};

// "12.3 MiB"
std::string ByteText(uint64_t bytes);
// The closing line of build and extract:
// "<verb>: 4 volumes, 2 files, 30014 bytes in, 31342 bytes out, ratio 104.4%, 0.03 s".
// The ratio is the package's size as a share of the files' size.
std::string SummaryLine(const std::string& verb, size_t volumes, size_t files, uint64_t bytesIn, uint64_t bytesOut,
                        uint64_t packageBytes, uint64_t fileBytes, double seconds);
