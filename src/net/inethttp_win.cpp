// HTTP client over WinINet. WinINet is bound at run time from the system
// folder, so the program starts (and fails softly) where it is missing and
// it never appears in the import table.
#include "net/inethttp_win.h"

#include <wininet.h>

#include <vector>

#include "net/http.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"

namespace {

// ---- WinINet binding ----

using FnConnectedState = BOOL(WINAPI*)(LPDWORD, DWORD);
using FnOpen = HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
using FnOpenUrl = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
using FnQueryInfo = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using FnReadFile = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using FnCloseHandle = BOOL(WINAPI*)(HINTERNET);

HMODULE g_winInet = nullptr;
FARPROC g_connectedState, g_open, g_openUrl, g_queryInfo, g_readFile, g_closeHandle;

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

HINTERNET WOpen(const char* agent) {
  auto fn = Get<FnOpen>(g_open, "InternetOpenA");
  return fn ? fn(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0) : nullptr;
}

HINTERNET WOpenUrl(HINTERNET root, const std::string& url, const std::string& headers, DWORD flags) {
  auto fn = Get<FnOpenUrl>(g_openUrl, "InternetOpenUrlA");
  if (!fn || !root) return nullptr;
  return fn(root, url.c_str(), headers.empty() ? nullptr : headers.c_str(), DWORD(headers.size()), flags, 0);
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

// ---- process-wide state ----

volatile bool g_abort = false;
SpeedMeter g_meter;

// ---- answers ----

std::string QueryText(HINTERNET h, DWORD level) {
  char buf[256];
  DWORD len = sizeof buf;
  if (!WQueryInfo(h, level, buf, &len) || len >= sizeof buf) return std::string();
  return std::string(buf, len);
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
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((localFile + ".*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  std::string base = NameOf(localFile);
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string name = fd.cFileName;
    if (!IsPartialFileName(base, name)) continue;
    int64_t size = int64_t(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
    fn(localFile + name.substr(base.size()), size);
  } while (FindNextFileA(find, &fd));
  FindClose(find);
}

void DeletePartials(const std::string& localFile) {
  ForEachPartial(localFile, [](const std::string& path, int64_t) { DeleteFileA(path.c_str()); });
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

std::string SaveError(const std::string& path) { return "Unable to save File <P>File: " + path; }

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
      file = CreateFileA(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
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
  } else if (size < (int64_t(16) << 20)) {
    content.reserve(size_t(size));
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
    do {
      PumpWhileReading(lastPump);
      n = 0;
      DWORD started = GetTickCount();
      BOOL ok = WReadFile(h, buf.data(), readSize, &n);
      DWORD now = GetTickCount();
      if (!ok) n = 0;
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
    } while (n > 0 && !g_abort);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }

  if (g_abort) error = "Download Aborted";  // what arrived stays in the partial file
  if (done == size) {
    if (!localFile.empty()) {
      DeleteFileA(localFile.c_str());
      if (!MoveFileA(partial.c_str(), localFile.c_str()) && error.empty()) error = SaveError(localFile);
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
// a request whose body is unread makes WinINet read the rest first.
HttpAnswer Probe(const std::string& url) {
  HttpAnswer a;
  HINTERNET root = WOpen("HTTP_Connect_2");
  if (!root) return a;
  HINTERNET h = WOpenUrl(root, url, "Range: bytes=0-0\r\n", INTERNET_FLAG_NO_CACHE_WRITE);
  if (h) a = ReadAnswer(h, true);
  WClose(h);
  WClose(root);
  return a;
}

int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fa) || (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return int64_t(fa.nFileSizeHigh) << 32 | fa.nFileSizeLow;
}

}  // namespace

void SetHttpAbort(bool on) { g_abort = on; }
bool HttpAborted() { return g_abort; }

void ReleaseWinInet() {
  if (g_winInet) FreeLibrary(g_winInet);
  g_winInet = nullptr;
  // The entry points die with the library: never call into an unloaded module.
  g_connectedState = g_open = g_openUrl = g_queryInfo = g_readFile = g_closeHandle = nullptr;
}

void HttpDownload(uintptr_t showTarget, const std::string& url, const std::string& localFile, std::string& content,
                  ProgressProc progress, std::string& error) {
  PumpMessagesFor(100);
  error.clear();
  content.clear();
  HttpAnswer probe = Probe(url);
  HINTERNET root = WOpen("HTTP_Connect_3");
  if (!root) {
    error = "Unable to initialize \"WinINet.dll\"";
  } else {
    DWORD flags = 0;
    if (!localFile.empty()) flags = INTERNET_FLAG_RESYNCHRONIZE;
    if (showTarget == kHttpShowReload) flags = INTERNET_FLAG_RELOAD;
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
      HINTERNET h = WOpenUrl(root, url, headers, flags);
      if (!h) {
        error = "Unable to open Internet Connection <P>URL: " + url;
        break;
      }
      HttpAnswer answer = ReadAnswer(h, !resumeFrom.empty());
      int64_t size = -1;
      std::string partial;
      HttpPlan plan = PlanTransfer(answer, localFile, resumeFrom, have, size, partial);
      if (plan == HttpPlan::Retry) {
        // The server's file is not the one the partial file came from (or it
        // sent something else): the next round asks for the whole file.
        WClose(h);
        resumeFrom.clear();
        have = 0;
        continue;
      }
      DebugLine("HTTP_DownloadFile_Incremental FileSize=" + std::to_string(size) + "  " + url);
      if (plan == HttpPlan::NotFound) {
        error = url + "<P><P>File Not Found !";
      } else {
        if (showTarget > 10) ShowWindow(reinterpret_cast<HWND>(showTarget), SW_SHOW);
        Transfer(h, plan, size, localFile, partial, have, url, content, progress, error);
      }
      WClose(h);
      break;
    }
    WClose(root);
  }
  if (!error.empty()) DebugLinePid(" HTTP_DownloadFile_Incremental: " + error);
}

int64_t HttpFileSize(const std::string& url) {
  HINTERNET root = WOpen("HTTP_Connect_2");
  if (!root) return -1;
  int64_t size = -1;
  // One byte is enough to learn the size (see Probe); a server that ignores
  // the range answers with the whole file and its Content-Length. The length
  // of an error page is not the size of the file.
  HINTERNET h = WOpenUrl(root, url, "Range: bytes=0-0\r\n", INTERNET_FLAG_NO_CACHE_WRITE);
  if (h) {
    size = AnswerFileSize(ReadAnswer(h, true));
    DebugLine("HTTP_GetFileSize=" + std::to_string(size) + "  " + url);
    WClose(h);
  }
  WClose(root);
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
  if (!localFile.empty()) {
    HANDLE f = CreateFileA(localFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
