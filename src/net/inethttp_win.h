// HTTP downloads through WinINet (loaded on first use from the system folder).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "net/http.h"
#include "paths/progress.h"

void SetHttpAbort(bool on);
bool HttpAborted();
// Whether the last HttpDownload heard from a server at all (any status, a
// refused redirect included); false when it could not connect, the server
// said nothing before the timeouts, or WinINet was missing.
bool HttpLastAnswered();
void ReleaseWinInet();
// How long each WinINet wait may last (connect, send, receive); the defaults
// are the kHttp...TimeoutMs constants. Tests shorten them (httpget /timeouts=);
// the stub itself never changes them.
void SetHttpTimeouts(const HttpTimeouts& t);

// Show targets of HttpDownload; a value above 10 is a window handle that is
// shown once the download has a size.
constexpr uintptr_t kHttpShowNothing = 0;
constexpr uintptr_t kHttpShowReload = 1;  // no window; fetch afresh from the server, never from a cache

// What a download may take. fresh: past every cache (the request reloads,
// asks proxies not to answer from theirs, and nothing is cached). maxSize:
// a file announced larger is refused before its body is read (-1: no bound).
struct HttpLimits {
  bool fresh = false;
  int64_t maxSize = -1;
};
// Redirects are followed only to http and https, never from https to http;
// with this on (the signed update channel), only to the scheme they left.
void SetHttpSameSchemeRedirects(bool on);

// Downloads url into localFile (through a partial file that a later call
// resumes) or, when localFile is empty, into content. error is empty on
// success; otherwise it holds the message for the user ("Download Aborted"
// after SetHttpAbort(true) or a close request of the main window).
void HttpDownload(uintptr_t showTarget, const std::string& url, const std::string& localFile, std::string& content,
                  ProgressProc progress, std::string& error);
void HttpDownload(uintptr_t showTarget, const std::string& url, const std::string& localFile, std::string& content,
                  ProgressProc progress, std::string& error, const HttpLimits& limits);
// The server's Content-Length of url, -1 when unknown or the server answers an error.
int64_t HttpFileSize(const std::string& url);
// Asks the system whether a connection exists; error gets the system's text when not.
bool InternetConnected(std::string& error);
// The "404 File Not Found..." message when the local file (its first 10,000
// bytes; when it exists it replaces content, even when it cannot be read) or
// content is a web server's error page, otherwise defaultText.
std::string DescribeHttpErrorPage(const std::string& localFile, const std::string& content, const std::string& url,
                                  const std::string& defaultText, bool iisHint);
