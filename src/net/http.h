// Portable rules of the HTTP client: partial-file names, read sizes and
// progress ranges, the speed text, answer headers and what to do with an
// answer, and the recognition of a web server's error page.
#pragma once
#include <cstdint>
#include <string>

// The progress bar moves one step per chunk of the file: a tenth of the
// file, at most kHttpStepCap bytes, so every file gets at least about ten steps.
constexpr int64_t kHttpStepCap = 10240;
// Reads adapt to the connection: they start small, double while they come
// back quickly and halve when one keeps the window waiting, so a fast link
// is not throttled by the per-read cost and a slow one still lets the
// window answer (and an abort arrive) several times a second.
constexpr uint32_t kHttpReadStart = 16384;
constexpr uint32_t kHttpReadMin = 4096;
constexpr uint32_t kHttpReadMax = 262144;
uint32_t NextReadSize(uint32_t current, uint32_t elapsedMs);

// How long one WinINet wait may last before the download ends with an
// error. A stalled server (a dying proxy, a captive portal, Wi-Fi that lost
// its link) otherwise keeps a read waiting for good, and with it the web
// stub and the agent's tick. Connect: a live server accepts within seconds
// and the system's own connect retries end after about 21 s. Send: a request
// is a few hundred bytes and only waits when the link is dead. Receive: time
// without a single byte, generous enough for a proxy that fetches the file
// before answering and for a Wi-Fi roaming pause.
constexpr uint32_t kHttpConnectTimeoutMs = 30000;
constexpr uint32_t kHttpSendTimeoutMs = 30000;
constexpr uint32_t kHttpReceiveTimeoutMs = 60000;

// The largest body taken into memory (INFO and signature files, a few
// hundred bytes each): a server announcing more is refused before a byte is
// read, so a hostile answer cannot exhaust the agent's memory.
constexpr int64_t kHttpMemoryMax = int64_t(1) << 20;
struct HttpTimeouts {
  uint32_t connectMs = kHttpConnectTimeoutMs;
  uint32_t sendMs = kHttpSendTimeoutMs;
  uint32_t receiveMs = kHttpReceiveTimeoutMs;
};

// local file + "." + (size + modified) in decimal: another size or date on
// the server gives another name, so a stale partial file is never resumed.
std::string PartialFileName(const std::string& localFile, int64_t size, uint32_t modified);
// True when name (a bare file name) is baseName + "." + decimal digits, that is
// a partial file of some version of baseName. Case is ignored.
bool IsPartialFileName(const std::string& baseName, const std::string& name);

// Bytes per progress step for a file of the given size: a tenth of it, at
// most kHttpStepCap, at least 1 (a file below 10 bytes still gets a range).
int64_t HttpChunkSize(int64_t size);
// num / den rounded to the nearest integer, an exact half to the even one
// (num >= 0, den > 0).
int64_t RoundHalfEven(int64_t num, int64_t den);
// The range of the progress bar for a transfer: maximum = size / chunk + 1,
// position = done / chunk (both rounded), clamped to int.
void HttpProgressRange(int64_t size, int64_t done, int64_t chunk, int& maximum, int& position);
// Steps the bar advances when done grows from before to after: the chunk
// boundaries crossed, so short and long reads both keep the bar true.
int64_t HttpProgressSteps(int64_t before, int64_t after, int64_t chunk);

// The transfer rate over the last five reads.
struct SpeedMeter {
  uint32_t ticks[5] = {};  // oldest first
  uint32_t sizes[5] = {};
};
void SpeedMeterStart(SpeedMeter& m, uint32_t tick);
void SpeedMeterAdd(SpeedMeter& m, uint32_t tick, uint32_t bytes);
// "done/size Bytes   " and, once time has passed, the rate as "12.50 KB/Sec".
std::string SpeedText(const SpeedMeter& m, int64_t done, int64_t size);

// DOS date (high word) and time (low word); 0 when the date cannot be
// represented (before 1980, after 2107, or not a date).
uint32_t DosDateTimeOf(int year, int month, int day, int hour, int minute, int second);
// A Content-Length value: decimal digits only (blanks around allowed), else -1.
int64_t ParseContentLength(const std::string& value);
// "bytes first-last/total" or "bytes */total" (first = last = -1 then); the
// total may be "*" (-1). False when the text has neither form.
bool ParseContentRange(const std::string& value, int64_t& first, int64_t& last, int64_t& total);

// What the server answered to the request that carries the body.
struct HttpAnswer {
  int status = 0;              // 0 when unknown (not HTTP)
  int64_t contentLength = -1;  // -1 when not sent
  bool hasRange = false;       // Content-Range present and readable
  int64_t rangeFirst = -1, rangeLast = -1, rangeTotal = -1;
  uint32_t modified = 0;       // Last-Modified as DOS date and time, 0 when none
};

// The whole file's length an answer tells: the total of a range answer, the
// Content-Length of any other answer below 400, otherwise -1.
int64_t AnswerFileSize(const HttpAnswer& answer);

enum class HttpPlan {
  NotFound,  // no usable size or an error status: "File Not Found !"
  Fresh,     // write the whole body into a new partial file (or memory)
  Resume,    // append the body to the partial file that was asked for
  Complete,  // the partial file already holds the whole file
  Retry,     // the range answer does not fit the partial file: ask again without a range
};

// Decides what to do with an answer. localFile is empty for a download into
// memory; resumeFrom is the partial file whose rest was asked for with
// "Range: bytes=<have>-" (empty when no range was asked). Sets size (the
// whole file's length) and partial (the partial file to write) for Fresh,
// Resume and Complete.
HttpPlan PlanTransfer(const HttpAnswer& answer, const std::string& localFile, const std::string& resumeFrom,
                      int64_t have, int64_t& size, std::string& partial);

// The "404 File Not Found..." message when content is a web server's error
// page (an html page, or a title that holds 404), otherwise defaultText.
std::string HttpErrorPageMessage(const std::string& content, const std::string& url,
                                 const std::string& defaultText, bool iisHint);

// ---- redirects ----
// The client follows redirects itself, so that every hop is checked.
constexpr int kHttpMaxRedirects = 5;
bool IsRedirectStatus(int status);  // 301, 302, 303, 307, 308
// The address a Location header names, resolved against the address that
// answered: absolute, scheme-relative ("//host/x"), host-relative ("/x") or
// relative to the answering address's folder. Empty when nothing usable.
std::string ResolveRedirect(const std::string& from, const std::string& location);
enum class RedirectVerdict {
  Allowed,
  NotHttp,       // to another scheme (file:, ftp:, ...)
  Downgrade,     // from https to http
  SchemeChange,  // with a publisher key: to the other of http and https
};
// sameScheme: a download of the signed update channel (an agent with a key).
RedirectVerdict CheckRedirect(const std::string& from, const std::string& to, bool sameScheme);
const char* RedirectVerdictText(RedirectVerdict v);
