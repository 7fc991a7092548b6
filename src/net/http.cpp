#include "net/http.h"

#include <climits>

#include "paths/utils.h"

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// 1-based position of the first occurrence ignoring ASCII case, 0 when absent.
size_t PosCI(const std::string& part, const std::string& text) {
  if (part.empty() || part.size() > text.size()) return 0;
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < part.size() && UpperAscii(text[i + k]) == UpperAscii(part[k])) ++k;
    if (k == part.size()) return i + 1;
  }
  return 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads a run of digits at p into v; false when there is none or it overflows.
bool ReadNumber(const std::string& s, size_t& p, int64_t& v) {
  size_t start = p;
  v = 0;
  while (p < s.size() && IsDigit(s[p])) {
    int d = s[p] - '0';
    if (v > (INT64_MAX - d) / 10) return false;
    v = v * 10 + d;
    ++p;
  }
  return p > start;
}

void SkipBlanks(const std::string& s, size_t& p) {
  while (p < s.size() && IsBlank(s[p])) ++p;
}

}  // namespace

std::string PartialFileName(const std::string& localFile, int64_t size, uint32_t modified) {
  return localFile + "." + std::to_string(size + int64_t(modified));
}

bool IsPartialFileName(const std::string& baseName, const std::string& name) {
  if (baseName.empty() || name.size() < baseName.size() + 2) return false;
  for (size_t i = 0; i < baseName.size(); ++i)
    if (UpperAscii(name[i]) != UpperAscii(baseName[i])) return false;
  if (name[baseName.size()] != '.') return false;
  for (size_t i = baseName.size() + 1; i < name.size(); ++i)
    if (!IsDigit(name[i])) return false;
  return true;
}

int64_t HttpChunkSize(int64_t size) {
  int64_t chunk = size / 10;
  if (chunk > kHttpStepCap) chunk = kHttpStepCap;
  return chunk < 1 ? 1 : chunk;
}

int64_t RoundHalfEven(int64_t num, int64_t den) {
  if (den <= 0 || num < 0) return 0;
  int64_t q = num / den, r = num % den;
  if (r > den - r || (r == den - r && (q & 1))) ++q;
  return q;
}

void HttpProgressRange(int64_t size, int64_t done, int64_t chunk, int& maximum, int& position) {
  if (chunk < 1) chunk = 1;
  int64_t steps = RoundHalfEven(size < 0 ? 0 : size, chunk);
  int64_t pos = RoundHalfEven(done < 0 ? 0 : done, chunk);
  maximum = steps >= INT_MAX ? INT_MAX : int(steps + 1);
  position = int(pos > maximum ? maximum : pos);
}

int64_t HttpProgressSteps(int64_t before, int64_t after, int64_t chunk) {
  if (chunk < 1 || after <= before || before < 0) return 0;
  return after / chunk - before / chunk;
}

uint32_t NextReadSize(uint32_t current, uint32_t elapsedMs) {
  if (elapsedMs < 20) return current >= kHttpReadMax / 2 ? kHttpReadMax : current * 2;
  if (elapsedMs > 250) return current <= kHttpReadMin * 2 ? kHttpReadMin : current / 2;
  return current;
}

void SpeedMeterStart(SpeedMeter& m, uint32_t tick) {
  for (int i = 0; i < 5; ++i) {
    m.ticks[i] = tick;
    m.sizes[i] = 0;
  }
}

void SpeedMeterAdd(SpeedMeter& m, uint32_t tick, uint32_t bytes) {
  for (int i = 0; i < 4; ++i) {
    m.ticks[i] = m.ticks[i + 1];
    m.sizes[i] = m.sizes[i + 1];
  }
  m.ticks[4] = tick;
  m.sizes[4] = bytes;
}

std::string SpeedText(const SpeedMeter& m, int64_t done, int64_t size) {
  std::string text = std::to_string(done) + "/" + std::to_string(size) + " Bytes   ";
  uint32_t elapsed = m.ticks[4] - m.ticks[0];  // unsigned: survives the tick counter's wrap
  if (elapsed > 0) {
    double bytes = 0;
    for (uint32_t s : m.sizes) bytes += s;
    text += FixedText(bytes / (elapsed / 1000.0) / 1024.0, 2) + " KB/Sec";
  }
  return text;
}

uint32_t DosDateTimeOf(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59)
    return 0;
  uint32_t date = uint32_t((year - 1980) << 9 | month << 5 | day);
  uint32_t time = uint32_t(hour << 11 | minute << 5 | second / 2);
  return date << 16 | time;
}

int64_t ParseContentLength(const std::string& value) {
  size_t p = 0;
  int64_t v = 0;
  SkipBlanks(value, p);
  if (!ReadNumber(value, p, v)) return -1;
  SkipBlanks(value, p);
  return p == value.size() ? v : -1;
}

bool ParseContentRange(const std::string& value, int64_t& first, int64_t& last, int64_t& total) {
  first = last = total = -1;
  size_t p = 0;
  SkipBlanks(value, p);
  if (PosCI("bytes", value.substr(p, 5)) != 1) return false;
  p += 5;
  if (p >= value.size() || !IsBlank(value[p])) return false;
  SkipBlanks(value, p);
  if (p < value.size() && value[p] == '*') {
    ++p;
  } else {
    if (!ReadNumber(value, p, first) || p >= value.size() || value[p] != '-') return false;
    ++p;
    if (!ReadNumber(value, p, last) || last < first) return false;
  }
  if (p >= value.size() || value[p] != '/') return false;
  ++p;
  if (p < value.size() && value[p] == '*') {
    if (first < 0) return false;  // "*/*" says nothing
    ++p;
  } else if (!ReadNumber(value, p, total)) {
    return false;
  }
  SkipBlanks(value, p);
  if (p != value.size()) return false;
  return total < 0 || last < total;
}

int64_t AnswerFileSize(const HttpAnswer& a) {
  if (a.status == 206 || a.status == 416) return a.hasRange ? a.rangeTotal : -1;
  return a.status < 400 ? a.contentLength : -1;
}

HttpPlan PlanTransfer(const HttpAnswer& a, const std::string& localFile, const std::string& resumeFrom, int64_t have,
                      int64_t& size, std::string& partial) {
  size = -1;
  partial.clear();
  bool asked = !localFile.empty() && !resumeFrom.empty();
  if (asked && (a.status == 206 || a.status == 416)) {
    // Only a range answer about exactly this file version continues it; the
    // name holds size and date, so comparing names compares both.
    if (!a.hasRange || a.rangeTotal <= 0 || PartialFileName(localFile, a.rangeTotal, a.modified) != resumeFrom)
      return HttpPlan::Retry;
    size = a.rangeTotal;
    partial = resumeFrom;
    if (a.status == 206) return a.rangeFirst == have ? HttpPlan::Resume : HttpPlan::Retry;
    return have == a.rangeTotal ? HttpPlan::Complete : HttpPlan::Retry;
  }
  // A 206 nobody asked for holds only a part of the file.
  if (a.status >= 400 || a.status == 206 || a.contentLength <= 0) return HttpPlan::NotFound;
  size = a.contentLength;
  if (!localFile.empty()) partial = PartialFileName(localFile, size, a.modified);
  return HttpPlan::Fresh;
}

std::string HttpErrorPageMessage(const std::string& content, const std::string& url, const std::string& defaultText,
                                 bool iisHint) {
  size_t titleOpen = PosCI("<TITLE", content), n404 = PosCI("404", content), titleClose = PosCI("</TITLE>", content);
  bool titlePattern = titleOpen > 0 && titleOpen < n404 && n404 < titleClose;
  size_t html = PosCI("<HTML>", content), head = PosCI("<HEAD>", content), title = PosCI("<TITLE>", content);
  bool pagePattern = html > 0 && html < head && head < title && title < titleClose;
  if (!titlePattern && !pagePattern) return defaultText;
  std::string msg = "<B>404 File Not Found...</B><P><P>URL:  " + url + "." +
                    "<P><P>Please make sure the file is available and access is allowed to this file.";
  if (iisHint && PosCI("IIS", content) > 0)
    msg += "<P><P>If you are using an IIS webserver you must define appropriate MIME-Types.";
  return msg;
}

namespace {
// "http" or "https" (lower case) of an absolute address; "" for any other.
std::string HttpScheme(const std::string& url, std::string* other = nullptr) {
  size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return "";
  std::string scheme;
  for (size_t i = 0; i < colon; ++i) {
    char c = url[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
          c == '.'))
      return "";
    scheme += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  if (other) *other = scheme;
  return scheme == "http" || scheme == "https" ? scheme : "";
}
}  // namespace

bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string ResolveRedirect(const std::string& from, const std::string& locationIn) {
  std::string location = locationIn;
  while (!location.empty() && IsBlank(location.back())) location.pop_back();
  size_t lead = 0;
  while (lead < location.size() && IsBlank(location[lead])) ++lead;
  location = location.substr(lead);
  if (location.empty()) return "";
  std::string scheme;
  HttpScheme(location, &scheme);
  if (!scheme.empty()) return location;  // absolute, whatever its scheme: checked by the caller
  std::string base = HttpScheme(from);
  if (base.empty()) return "";
  if (location.compare(0, 2, "//") == 0) return base + ":" + location;
  size_t hostStart = base.size() + 3;  // after "scheme://"
  if (from.size() < hostStart) return "";
  size_t pathStart = from.find_first_of("/?#", hostStart);
  std::string origin = from.substr(0, pathStart);
  if (location[0] == '/') return origin + location;
  std::string path = pathStart == std::string::npos ? "/" : from.substr(pathStart);
  size_t cut = path.find_first_of("?#");
  if (cut != std::string::npos) path.resize(cut);
  path.resize(path.rfind('/') + 1);
  return origin + path + location;
}

RedirectVerdict CheckRedirect(const std::string& from, const std::string& to, bool sameScheme) {
  std::string a = HttpScheme(from), b = HttpScheme(to);
  if (b.empty()) return RedirectVerdict::NotHttp;
  if (a == "https" && b == "http") return RedirectVerdict::Downgrade;
  if (sameScheme && a != b) return RedirectVerdict::SchemeChange;
  return RedirectVerdict::Allowed;
}

const char* RedirectVerdictText(RedirectVerdict v) {
  switch (v) {
    case RedirectVerdict::Allowed:
      return "redirect allowed";
    case RedirectVerdict::NotHttp:
      return "redirect to an address that is not http or https";
    case RedirectVerdict::Downgrade:
      return "redirect from https to http";
    case RedirectVerdict::SchemeChange:
      return "redirect to another scheme (signed updates stay on the scheme of their address)";
  }
  return "";
}
