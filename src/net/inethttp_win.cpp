// HTTP client over WinINet. WinINet is bound at run time from the system
// folder, so the program starts (and fails softly) where it is missing and
// it never appears in the import table.
#include "net/inethttp_win.h"

#include <wininet.h>

#include <vector>

#include "net/http.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "paths/zdebug.h"

namespace {

// ---- WinINet binding ----

using FnConnectedState = BOOL(WINAPI*)(LPDWORD, DWORD);
using FnOpen = HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
using FnCrackUrl = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPURL_COMPONENTSA);
using FnConnect = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
using FnOpenRequest = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR);
using FnSendRequest = BOOL(WINAPI*)(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD);
using FnQueryInfo = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using FnReadFile = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using FnCloseHandle = BOOL(WINAPI*)(HINTERNET);
using FnSetOption = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD);

HMODULE g_winInet = nullptr;
FARPROC g_connectedState, g_open, g_crackUrl, g_connect, g_openRequest, g_sendRequest, g_queryInfo, g_readFile,
    g_closeHandle, g_setOption;
HttpTimeouts g_timeouts;

// Loads the library when needed (a failed load is tried again on the next
// call) and looks the function up once.
FARPROC Bind(FARPROC& slot, const char* name) {
  if (slot) return slot;
  if (!g_winInet) g_winInet = LoadSystemLibrary("WinINet.dll");
  if (!g_winInet) return nullptr;
  slot = GetProcAddress(g_winInet, name);
  return slot;
}

// Through void(*)(): the generic function type the compiler accepts as a go-between.
template <typename Fn>
Fn Get(FARPROC& slot, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(Bind(slot, name)));
}

BOOL WConnectedState(DWORD* flags) {
  auto fn = Get<FnConnectedState>(g_connectedState, "InternetGetConnectedState");
  return fn ? fn(flags, 0) : FALSE;
}

// Every handle gets the client's own timeouts: the system's may be endless,
// and a stalled server must end the call, not hang it.
void SetTimeouts(HINTERNET h) {
  auto fn = Get<FnSetOption>(g_setOption, "InternetSetOptionA");
  if (!fn || !h) return;
  const struct {
    DWORD option, ms;
  } waits[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, g_timeouts.connectMs},
               {INTERNET_OPTION_SEND_TIMEOUT, g_timeouts.sendMs},
               {INTERNET_OPTION_RECEIVE_TIMEOUT, g_timeouts.receiveMs}};
  for (const auto& w : waits) {
    DWORD ms = w.ms;
    fn(h, w.option, &ms, sizeof ms);
  }
}

HINTERNET WOpen(const char* agent) {
  auto fn = Get<FnOpen>(g_open, "InternetOpenA");
  HINTERNET h = fn ? fn(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0) : nullptr;
  SetTimeouts(h);
  return h;
}

BOOL WQueryInfo(HINTERNET h, DWORD level, void* buf, DWORD* len) {
  auto fn = Get<FnQueryInfo>(g_queryInfo, "HttpQueryInfoA");
  return fn ? fn(h, level, buf, len, nullptr) : FALSE;
}

BOOL WReadFile(HINTERNET h, void* buf, DWORD size, DWORD* read) {
  auto fn = Get<FnReadFile>(g_readFile, "InternetReadFile");
  return fn ? fn(h, buf, size, read) : FALSE;
}

void WClose(HINTERNET h) {
  if (!h) return;
  auto fn = Get<FnCloseHandle>(g_closeHandle, "InternetCloseHandle");
  if (fn) fn(h);
}

// Owns one WinINet handle.
class InetHandle {
 public:
  explicit InetHandle(HINTERNET h = nullptr) : h_(h) {}
  ~InetHandle() { WClose(h_); }
  InetHandle(const InetHandle&) = delete;
  InetHandle& operator=(const InetHandle&) = delete;
  void Reset(HINTERNET h = nullptr) {
    WClose(h_);
    h_ = h;
  }
  HINTERNET get() const { return h_; }

 private:
  HINTERNET h_;
};

// One GET request and the connection handle it lives under; the request is
// closed first. refused: why a redirect was not followed.
struct UrlRequest {
  InetHandle session;
  InetHandle request;
  std::string refused;
  HINTERNET get() const { return request.get(); }
};

bool g_sameSchemeRedirects = false;

std::string QueryText(HINTERNET h, DWORD level, size_t max = 256);

// Sends one GET for url with the extra headers and flags. Built from
// connection, request and send rather than one open-URL call because the
// request handle must carry the timeouts before it is sent: an open-URL call
// creates it out of reach, and not every WinINet passes the root handle's
// timeouts down.
bool SendOnce(HINTERNET root, const std::string& url, const std::string& headers, DWORD flags, UrlRequest& r) {
  auto crack = Get<FnCrackUrl>(g_crackUrl, "InternetCrackUrlA");
  auto connect = Get<FnConnect>(g_connect, "InternetConnectA");
  auto open = Get<FnOpenRequest>(g_openRequest, "HttpOpenRequestA");
  auto send = Get<FnSendRequest>(g_sendRequest, "HttpSendRequestA");
  if (!crack || !connect || !open || !send || !root) return false;
  URL_COMPONENTSA uc = {};
  uc.dwStructSize = sizeof uc;
  uc.dwHostNameLength = uc.dwUserNameLength = uc.dwPasswordLength = uc.dwUrlPathLength = uc.dwExtraInfoLength = 1;
  if (!crack(url.c_str(), DWORD(url.size()), 0, &uc) || !uc.lpszHostName || !uc.dwHostNameLength ||
      (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS)) {
    DebugLinePid(" HTTP_OpenUrl: not an HTTP address");
    return false;
  }
  auto part = [](const char* p, DWORD n) { return p ? std::string(p, n) : std::string(); };
  std::string host = part(uc.lpszHostName, uc.dwHostNameLength);
  std::string user = part(uc.lpszUserName, uc.dwUserNameLength);
  std::string password = part(uc.lpszPassword, uc.dwPasswordLength);
  std::string object = part(uc.lpszUrlPath, uc.dwUrlPathLength) + part(uc.lpszExtraInfo, uc.dwExtraInfoLength);
  size_t fragment = object.find('#');
  if (fragment != std::string::npos) object.resize(fragment);
  if (object.empty()) object = "/";
  if (uc.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  // Redirects are followed here, hop by hop, so that each one is checked;
  // WinINet's own would go anywhere, https to http included.
  flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;

  r.request.Reset();
  r.session.Reset(connect(root, host.c_str(), uc.nPort, user.empty() ? nullptr : user.c_str(),
                          password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
  SetTimeouts(r.session.get());
  const char* accept[] = {"*/*", nullptr};
  if (r.session.get()) r.request.Reset(open(r.session.get(), "GET", object.c_str(), nullptr, nullptr, accept, flags, 0));
  SetTimeouts(r.request.get());
  if (r.request.get() &&
      send(r.request.get(), headers.empty() ? nullptr : headers.c_str(), DWORD(headers.size()), nullptr, 0))
    return true;
  DebugLinePid(" HTTP_OpenUrl: WinINet error " + std::to_string(GetLastError()));
  r.request.Reset();
  r.session.Reset();
  return false;
}

// Sends a GET for url and follows up to kHttpMaxRedirects redirects that
// the rule allows; false when no answer came (no connection, or silence
// until a timeout) or a redirect was refused (r.refused says why).
bool OpenUrl(HINTERNET root, const std::string& urlIn, const std::string& headers, DWORD flags, UrlRequest& r) {
  std::string url = urlIn;
  r.refused.clear();
  for (int hop = 0;; ++hop) {
    if (!SendOnce(root, url, headers, flags, r)) return false;
    DWORD status = 0, len = sizeof status;
    if (!WQueryInfo(r.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len) ||
        !IsRedirectStatus(int(status)))
      return true;
    std::string to = ResolveRedirect(url, QueryText(r.get(), HTTP_QUERY_LOCATION, 4096));
    RedirectVerdict v = CheckRedirect(url, to, g_sameSchemeRedirects);
    if (to.empty() || v != RedirectVerdict::Allowed || hop >= kHttpMaxRedirects) {
      r.refused = to.empty()                  ? std::string("redirect without a usable address")
                  : hop >= kHttpMaxRedirects ? std::string("too many redirects")
                                              : RedirectVerdictText(v);
      r.refused += " <P>URL: " + url + (to.empty() ? "" : " <P>To: " + to);
      DebugLinePid(" HTTP_OpenUrl: " + r.refused);
      r.request.Reset();
      r.session.Reset();
      return false;
    }
    DebugLinePid(" HTTP_OpenUrl: redirected to " + to);
    url = to;
  }
}

// ---- process-wide state ----

volatile bool g_abort = false;
SpeedMeter g_meter;

// ---- answers ----

std::string QueryText(HINTERNET h, DWORD level, size_t max) {
  std::vector<char> buf(max);
  DWORD len = DWORD(max);
  if (!WQueryInfo(h, level, buf.data(), &len) || len >= max) return std::string();
  return std::string(buf.data(), len);
}

HttpAnswer ReadAnswer(HINTERNET h, bool askedRange) {
  HttpAnswer a;
  DWORD status = 0, len = sizeof status;
  if (WQueryInfo(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len)) a.status = int(status);
  // As text, not as a number: the numeric form is 32 bits wide.
  a.contentLength = ParseContentLength(QueryText(h, HTTP_QUERY_CONTENT_LENGTH));
  SYSTEMTIME st = {};
  len = sizeof st;
  if (WQueryInfo(h, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &len))
    a.modified = DosDateTimeOf(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
  if (askedRange)
    a.hasRange = ParseContentRange(QueryText(h, HTTP_QUERY_CONTENT_RANGE), a.rangeFirst, a.rangeLast, a.rangeTotal);
  return a;
}

// ---- partial files ----

std::string NameOf(const std::string& path) {
  size_t p = path.find_last_of("\\/:");
  return p == std::string::npos ? path : path.substr(p + 1);
}

// Calls fn(path as localFile + "." + digits, size) for each partial file of
// localFile. Only names of that form count: a wildcard "name.*" also matches
// "name" itself and unrelated files such as "name.log".
template <typename Fn>
void ForEachPartial(const std::string& localFile, Fn fn) {
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(WidePath(localFile + ".*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  std::string base = NameOf(localFile);
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string name = PathFromWide(fd.cFileName);
    if (!IsPartialFileName(base, name)) continue;
    int64_t size = int64_t(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
    fn(localFile + name.substr(base.size()), size);
  } while (FindNextFileW(find, &fd));
  FindClose(find);
}

void DeletePartials(const std::string& localFile) {
  ForEachPartial(localFile, [](const std::string& path, int64_t) { DeleteFileW(WidePath(path).c_str()); });
}

// The partial file to resume: the largest non-empty one.
void FindResumable(const std::string& localFile, std::string& path, int64_t& size) {
  path.clear();
  size = 0;
  ForEachPartial(localFile, [&](const std::string& p, int64_t s) {
    if (s > size) {
      path = p;
      size = s;
    }
  });
}

bool WriteAll(HANDLE file, const char* data, DWORD n) {
  DWORD written = 0;
  return WriteFile(file, data, n, &written, nullptr) && written == n;
}

// Keeps the window responsive without sleeping: a pause before every read
// lasts a whole scheduler tick on Windows and caps the rate. Messages are
// handled at most once per tick count; reading the flag stays per read.
void PumpWhileReading(DWORD& lastPump) {
  DWORD now = GetTickCount();
  if (now == lastPump) return;
  lastPump = now;
  ProcessPendingMessages(0);
}

// A blocked WinINet call handles no window messages: a close request that
// arrived while it waited is seen only when the wait has ended.
bool AbortedAfterWait() {
  ProcessPendingMessages(0);
  return g_abort;
}

const char kAborted[] = "Download Aborted";

// The first contact of the last download heard from the server.
bool g_lastAnswered = false;

std::string SaveError(const std::string& path) {
  return "Unable to save File <P>File: " + PathInCodePage(path, CP_ACP);
}

// Reads the body of h into the partial file (or content) as planned.
void Transfer(HINTERNET h, HttpPlan plan, int64_t size, const std::string& localFile, const std::string& partial,
              int64_t have, const std::string& url, std::string& content, ProgressProc progress,
              std::string& error) {
  HANDLE file = INVALID_HANDLE_VALUE;
  int64_t done = 0;
  if (!localFile.empty()) {
    if (plan == HttpPlan::Fresh) {
      DeletePartials(localFile);  // stale partial files of other versions go
    } else {
      done = have;
    }
    if (plan != HttpPlan::Complete) {
      file = CreateFileW(WidePath(partial).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         plan == HttpPlan::Resume ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      LARGE_INTEGER end = {};
      if (file != INVALID_HANDLE_VALUE && plan == HttpPlan::Resume &&
          (!SetFilePointerEx(file, end, &end, FILE_END) || end.QuadPart != have)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
      }
      if (file == INVALID_HANDLE_VALUE) {
        error = SaveError(partial);
        return;
      }
    }
  } else if (size > 0) {
    content.reserve(size_t(size));  // at most kHttpMemoryMax
  }

  int64_t chunk = HttpChunkSize(size);
  SpeedMeterStart(g_meter, GetTickCount());
  if (progress) {
    int maximum = 0, position = 0;
    HttpProgressRange(size, done, chunk, maximum, position);
    progress(0, 0, maximum, position, 1, SpeedText(g_meter, done, size));
  }

  if (plan != HttpPlan::Complete) {
    std::vector<char> buf(kHttpReadMax);
    uint32_t readSize = kHttpReadStart;
    DWORD lastPump = GetTickCount() - 1;
    DWORD n = 0;
    BOOL ok = FALSE;
    do {
      PumpWhileReading(lastPump);
      if (g_abort) break;  // a close request that came during the last read: no further wait
      n = 0;
      // Never more than the rest of the file: a body longer than announced
      // must not grow the partial file past its size.
      DWORD want = size - done < int64_t(readSize) ? DWORD(size - done) : readSize;
      DWORD started = GetTickCount();
      ok = WReadFile(h, buf.data(), want, &n);
      DWORD now = GetTickCount();
      if (!ok) {
        // A read that timed out may still hand over what came before the
        // silence (Wine's does): it belongs in the partial file.
        if (n > want) n = 0;
        DebugLinePid(" HTTP_ReadFile: WinINet error " + std::to_string(GetLastError()));
      }
      readSize = NextReadSize(readSize, now - started);
      int64_t before = done;
      if (n > 0) {
        if (file != INVALID_HANDLE_VALUE) {
          if (!WriteAll(file, buf.data(), n)) {
            error = SaveError(partial);
            break;
          }
        } else {
          content.append(buf.data(), n);
        }
        done += n;
      }
      SpeedMeterAdd(g_meter, now, n);
      if (progress && n > 0) {
        int64_t steps = HttpProgressSteps(before, done, chunk);
        if (steps > 0) {
          std::string text = SpeedText(g_meter, done, size);
          for (int64_t i = 0; i < steps; ++i) progress(1, 0, 0, 0, 0, text);
        }
      }
    } while (ok && n > 0 && done < size && !g_abort);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }

  if (AbortedAfterWait()) error = kAborted;  // what arrived stays in the partial file
  if (done == size) {
    if (!localFile.empty()) {
      DeleteFileW(WidePath(localFile).c_str());
      if (!MoveFileW(WidePath(partial).c_str(), WidePath(localFile).c_str()) && error.empty())
        error = SaveError(localFile);
    }
  } else if (error.empty()) {
    // A broken connection must not pass for success: the partial file stays
    // for the next call to resume.
    error = "Download Incomplete (" + std::to_string(done) + " of " + std::to_string(size) +
            " Bytes) <P>URL: " + url;
  }
}

// The first contact with the server: asks for one byte, which tells the
// file's size and date. A whole body would cost dearly here, because closing
// a request whose body is unread makes WinINet read the rest first. Any
// HTTP answer counts, an error status included; only a server that cannot be
// reached, or that says nothing before the timeout, gives NoAnswer.
enum class ProbeResult { NoWinInet, NoAnswer, Refused, Answered };
ProbeResult Probe(const std::string& url, DWORD cacheFlags, HttpAnswer& a, std::string& refused) {
  a = HttpAnswer();
  InetHandle root(WOpen("HTTP_Connect_2"));
  if (!root.get()) return ProbeResult::NoWinInet;
  UrlRequest r;
  bool answered = OpenUrl(root.get(), url, "Range: bytes=0-0\r\n", INTERNET_FLAG_NO_CACHE_WRITE | cacheFlags, r);
  refused = r.refused;
  if (!answered) return refused.empty() ? ProbeResult::NoAnswer : ProbeResult::Refused;
  a = ReadAnswer(r.get(), true);
  return ProbeResult::Answered;
}

int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &fa) ||
      (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return int64_t(fa.nFileSizeHigh) << 32 | fa.nFileSizeLow;
}

}  // namespace

void SetHttpAbort(bool on) { g_abort = on; }
bool HttpAborted() { return g_abort; }
bool HttpLastAnswered() { return g_lastAnswered; }

void ReleaseWinInet() {
  if (g_winInet) FreeLibrary(g_winInet);
  g_winInet = nullptr;
  // The entry points die with the library: never call into an unloaded module.
  g_connectedState = g_open = g_crackUrl = g_connect = g_openRequest = g_sendRequest = g_queryInfo = g_readFile =
      g_closeHandle = g_setOption = nullptr;
}

void SetHttpTimeouts(const HttpTimeouts& t) { g_timeouts = t; }

void SetHttpSameSchemeRedirects(bool on) { g_sameSchemeRedirects = on; }

void HttpDownload(uintptr_t showTarget, const std::string& url, const std::string& localFile, std::string& content,
                  ProgressProc progress, std::string& error) {
  HttpLimits limits;
  limits.fresh = showTarget == kHttpShowReload;
  HttpDownload(showTarget, url, localFile, content, progress, error, limits);
}

void HttpDownload(uintptr_t showTarget, const std::string& url, const std::string& localFile, std::string& content,
                  ProgressProc progress, std::string& error, const HttpLimits& limits) {
  PumpMessagesFor(100);
  error.clear();
  content.clear();
  // Past every cache: the server's current answer, nothing kept of it.
  const DWORD fresh = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  HttpAnswer probe;
  std::string refused;
  ProbeResult probed = Probe(url, limits.fresh ? fresh : 0, probe, refused);
  g_lastAnswered = probed == ProbeResult::Answered || probed == ProbeResult::Refused;
  InetHandle root(probed == ProbeResult::NoWinInet ? nullptr : WOpen("HTTP_Connect_3"));
  if (!root.get()) {
    error = "Unable to initialize \"WinINet.dll\"";
  } else if (AbortedAfterWait()) {
    error = kAborted;
  } else if (probed == ProbeResult::Refused) {
    error = "Download refused: " + refused;
  } else if (probed == ProbeResult::NoAnswer) {
    // A server that did not answer the first contact will not answer the
    // second one either: asking again would double the wait.
    error = "Unable to open Internet Connection <P>URL: " + url;
  } else {
    DWORD flags = 0;
    if (!localFile.empty()) flags = INTERNET_FLAG_RESYNCHRONIZE;
    if (limits.fresh) flags = fresh;
    // The local file is the copy: a second one in the system's cache costs
    // time and space, and a range answer there would pass for the whole file.
    if (!localFile.empty()) flags |= INTERNET_FLAG_NO_CACHE_WRITE;

    // The rest of a partial file is asked for with a Range header: moving the
    // read position of an open request is not dependable.
    std::string resumeFrom;
    int64_t have = 0;
    if (!localFile.empty()) {
      int64_t size = AnswerFileSize(probe);
      if (size > 0) {
        std::string p = PartialFileName(localFile, size, probe.modified);
        have = FileSizeOf(p);
        if (have > 0) resumeFrom = p;
      } else {
        FindResumable(localFile, resumeFrom, have);
      }
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::string headers;
      if (!resumeFrom.empty()) headers = "Range: bytes=" + std::to_string(have) + "-\r\n";
      UrlRequest r;
      bool answered = OpenUrl(root.get(), url, headers, flags, r);
      if (AbortedAfterWait()) {
        error = kAborted;
        break;
      }
      if (!answered) {
        error = r.refused.empty() ? "Unable to open Internet Connection <P>URL: " + url
                                  : "Download refused: " + r.refused;
        break;
      }
      HttpAnswer answer = ReadAnswer(r.get(), !resumeFrom.empty());
      int64_t size = -1;
      std::string partial;
      HttpPlan plan = PlanTransfer(answer, localFile, resumeFrom, have, size, partial);
      if (plan == HttpPlan::Retry) {
        // The server's file is not the one the partial file came from (or it
        // sent something else): the next round asks for the whole file.
        resumeFrom.clear();
        have = 0;
        continue;
      }
      DebugLine("HTTP_DownloadFile_Incremental FileSize=" + std::to_string(size) + "  " + url);
      if (plan == HttpPlan::NotFound) {
        error = url + "<P><P>File Not Found !";
      } else if (localFile.empty() && size > kHttpMemoryMax) {
        error = "File too large (" + std::to_string(size) + " bytes) <P>URL: " + url;
      } else if (limits.maxSize >= 0 && size > limits.maxSize) {
        // Reads never go past the announced size, so this bounds the file.
        error = "File larger than published (" + std::to_string(size) + " bytes, published " +
                std::to_string(limits.maxSize) + ") <P>URL: " + url;
      } else {
        if (showTarget > 10) ShowWindow(reinterpret_cast<HWND>(showTarget), SW_SHOW);
        Transfer(r.get(), plan, size, localFile, partial, have, url, content, progress, error);
      }
      break;
    }
  }
  if (!error.empty()) DebugLinePid(" HTTP_DownloadFile_Incremental: " + error);
}

int64_t HttpFileSize(const std::string& url) {
  // One byte is enough to learn the size; a server that ignores the range
  // answers with the whole file and its Content-Length. The length of an
  // error page is not the size of the file. One request only: a second one
  // would double the wait on a server that does not answer.
  HttpAnswer a;
  std::string refused;
  if (Probe(url, 0, a, refused) != ProbeResult::Answered) return -1;
  int64_t size = AnswerFileSize(a);
  DebugLine("HTTP_GetFileSize=" + std::to_string(size) + "  " + url);
  return size;
}

bool InternetConnected(std::string& error) {
  error.clear();
  DWORD flags = 0;
  if (!WConnectedState(&flags)) {
    error = LastErrorText();
    return false;
  }
  return true;
}

std::string DescribeHttpErrorPage(const std::string& localFile, const std::string& content, const std::string& url,
                                  const std::string& defaultText, bool iisHint) {
  std::string text = content;
  DWORD attributes = localFile.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(WidePath(localFile).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // An existing file stands for what was downloaded even when it cannot
    // be read: the caller's content says nothing about it.
    text.clear();
    HANDLE f = CreateFileW(WidePath(localFile).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      // The head of the file is enough to recognise a page.
      char buf[10000];
      DWORD n = 0;
      if (!ReadFile(f, buf, sizeof buf, &n, nullptr)) n = 0;
      text.assign(buf, n);
      CloseHandle(f);
    }
  }
  return HttpErrorPageMessage(text, url, defaultText, iisHint);
}
