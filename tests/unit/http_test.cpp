#include <gtest/gtest.h>

#include <climits>

#include "net/http.h"

TEST(HttpPartialFile, NameCarriesSizePlusDate) {
  EXPECT_EQ(PartialFileName("C:\\Temp\\Setup.exe", 1000, 0), "C:\\Temp\\Setup.exe.1000");
  EXPECT_EQ(PartialFileName("C:\\Temp\\Setup.exe", 1000, 0x5D8670A4u), "C:\\Temp\\Setup.exe.1569092748");
  // A date with the top bit set must not turn the sum negative.
  EXPECT_EQ(PartialFileName("a", 5'000'000'000, 0xF0000000u), "a.9026531840");
}

TEST(HttpPartialFile, RecognisesOnlyDigitSuffixes) {
  struct Case {
    const char* name;
    bool partial;
  } cases[] = {
      {"Setup.exe.123", true},  {"SETUP.EXE.9", true},     {"Setup.exe", false},   {"Setup.exe.", false},
      {"Setup.exe.log", false}, {"Setup.exe.12a", false},  {"Setup.exe.-5", false}, {"Setup.exeX123", false},
      {"Other.exe.123", false}, {"Setup.exe.1.2", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPartialFileName("Setup.exe", c.name), c.partial) << c.name;
}

TEST(HttpProgress, ChunkIsATenthCappedAndNeverZero) {
  struct Case {
    int64_t size, chunk;
  } cases[] = {{-1, 1}, {0, 1}, {9, 1}, {10, 1}, {99, 9}, {100, 10}, {102400, 10240}, {1LL << 40, kHttpStepCap}};
  for (const Case& c : cases) EXPECT_EQ(HttpChunkSize(c.size), c.chunk) << c.size;
}

TEST(HttpProgress, RoundingSendsExactHalvesToEven) {
  struct Case {
    int64_t num, den, result;
  } cases[] = {{14, 10, 1}, {15, 10, 2}, {25, 10, 2}, {35, 10, 4}, {16, 10, 2}, {0, 7, 0}, {7, 7, 1}};
  for (const Case& c : cases) EXPECT_EQ(RoundHalfEven(c.num, c.den), c.result) << c.num << "/" << c.den;
}

TEST(HttpProgress, RangeAndResumedPosition) {
  struct Case {
    int64_t size, done, chunk;
    int maximum, position;
  } cases[] = {
      {1048576, 0, 10240, 103, 0},       // 102.4 steps + 1
      {1048576, 522240, 10240, 103, 51}, // resumed at 51 chunks
      {1048576, 527360, 10240, 103, 52}, // 51.5 chunks: the even neighbour
      {5, 0, 1, 6, 0},                   // a file below 10 bytes still gets a range
      {0, 0, 0, 1, 0},                   // no division by zero
      {INT64_MAX, 0, 1, INT_MAX, 0},     // clamped to the bar's int range
  };
  for (const Case& c : cases) {
    int mx = -1, pos = -1;
    HttpProgressRange(c.size, c.done, c.chunk, mx, pos);
    EXPECT_EQ(mx, c.maximum) << c.size << " " << c.done;
    EXPECT_EQ(pos, c.position) << c.size << " " << c.done;
  }
}

TEST(HttpProgress, StepsCountCrossedChunkBoundaries) {
  struct Case {
    int64_t before, after, chunk, steps;
  } cases[] = {
      {0, 10240, 10240, 1},       // one whole chunk
      {0, 262144, 10240, 25},     // a long read moves the bar by every chunk it holds
      {0, 4000, 10240, 0},        // short reads add up...
      {4000, 12000, 10240, 1},    // ...and step once the boundary is passed
      {1048575, 1048576, 1, 1},   // chunk of one byte
      {500, 500, 10240, 0},       // nothing read
      {0, 100, 0, 0},             // no division by zero
  };
  for (const Case& c : cases)
    EXPECT_EQ(HttpProgressSteps(c.before, c.after, c.chunk), c.steps) << c.before << ".." << c.after;
}

TEST(HttpProgress, ReadSizeFollowsTheConnection) {
  // Quick reads double up to the maximum; slow ones halve down to the minimum.
  uint32_t size = kHttpReadStart;
  for (int i = 0; i < 10; ++i) size = NextReadSize(size, 1);
  EXPECT_EQ(size, kHttpReadMax);
  EXPECT_EQ(NextReadSize(kHttpReadMax, 100), kHttpReadMax);  // steady
  for (int i = 0; i < 10; ++i) size = NextReadSize(size, 1000);
  EXPECT_EQ(size, kHttpReadMin);
  EXPECT_EQ(NextReadSize(kHttpReadStart, 300), kHttpReadStart / 2);
}

TEST(HttpSpeed, TextShowsRateOverTheLastFiveReads) {
  SpeedMeter m;
  SpeedMeterStart(m, 1000);
  EXPECT_EQ(SpeedText(m, 0, 1048576), "0/1048576 Bytes   ");  // no time has passed yet
  SpeedMeterAdd(m, 1000, 10240);
  EXPECT_EQ(SpeedText(m, 10240, 1048576), "10240/1048576 Bytes   ");
  SpeedMeterAdd(m, 2600, 10240);
  EXPECT_EQ(SpeedText(m, 20480, 1048576), "20480/1048576 Bytes   12.50 KB/Sec");
  // Three more reads fill the ring; the sixth pushes the first tick and size out.
  SpeedMeterAdd(m, 2700, 1024);
  SpeedMeterAdd(m, 2800, 1024);
  SpeedMeterAdd(m, 2900, 1024);
  SpeedMeterAdd(m, 3000, 2048);
  // ticks 2600..3000 kept: 400 ms; bytes 10240 + 3 * 1024 + 2048 = 15360
  EXPECT_EQ(SpeedText(m, 25600, 1048576), "25600/1048576 Bytes   37.50 KB/Sec");
}

TEST(HttpSpeed, SurvivesTickCounterWrap) {
  SpeedMeter m;
  SpeedMeterStart(m, 0xFFFFFF00u);
  SpeedMeterAdd(m, 0x00000300u, 1024 * 1024);  // 1024 ms later
  EXPECT_EQ(SpeedText(m, 1, 2), "1/2 Bytes   1000.00 KB/Sec");
}

TEST(HttpHeaders, DosDateTime) {
  EXPECT_EQ(DosDateTimeOf(2026, 12, 6, 14, 5, 9), 0x5D8670A4u);  // odd seconds fall to the even one
  EXPECT_EQ(DosDateTimeOf(1980, 1, 1, 0, 0, 0), 0x00210000u);
  EXPECT_EQ(DosDateTimeOf(1979, 12, 31, 23, 59, 59), 0u);
  EXPECT_EQ(DosDateTimeOf(2108, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(DosDateTimeOf(2020, 13, 1, 0, 0, 0), 0u);
}

TEST(HttpHeaders, ContentLength) {
  struct Case {
    const char* text;
    int64_t value;
  } cases[] = {{"1234", 1234},       {" 5000000000 ", 5000000000}, {"", -1},   {"12x", -1},
               {"-5", -1},           {"99999999999999999999", -1},  {"0", 0}};
  for (const Case& c : cases) EXPECT_EQ(ParseContentLength(c.text), c.value) << c.text;
}

TEST(HttpHeaders, ContentRange) {
  struct Case {
    const char* text;
    bool ok;
    int64_t first, last, total;
  } cases[] = {
      {"bytes 100-199/200", true, 100, 199, 200},
      {"Bytes  0-0/1", true, 0, 0, 1},
      {"bytes 5000000000-5000000001/5000000002", true, 5000000000, 5000000001, 5000000002},
      {"bytes */300", true, -1, -1, 300},
      {"bytes 0-9/*", true, 0, 9, -1},
      {"bytes */*", false, -1, -1, -1},
      {"bytes 10-5/20", false, -1, -1, -1},  // last before first
      {"bytes 0-20/20", false, -1, -1, -1},  // past the end
      {"items 0-1/2", false, -1, -1, -1},
      {"bytes=0-1/2", false, -1, -1, -1},
      {"", false, -1, -1, -1},
  };
  for (const Case& c : cases) {
    int64_t f = 7, l = 7, t = 7;
    EXPECT_EQ(ParseContentRange(c.text, f, l, t), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(f, c.first) << c.text;
      EXPECT_EQ(l, c.last) << c.text;
      EXPECT_EQ(t, c.total) << c.text;
    }
  }
}

namespace {

HttpAnswer Answer(int status, int64_t length, uint32_t modified = 0) {
  HttpAnswer a;
  a.status = status;
  a.contentLength = length;
  a.modified = modified;
  return a;
}

HttpAnswer RangeAnswer(int status, int64_t first, int64_t last, int64_t total, uint32_t modified) {
  HttpAnswer a = Answer(status, last >= first ? last - first + 1 : 0, modified);
  a.hasRange = true;
  a.rangeFirst = first;
  a.rangeLast = last;
  a.rangeTotal = total;
  return a;
}

}  // namespace

TEST(HttpPlanTransfer, FileSizeFromAnyAnswer) {
  struct Case {
    const char* what;
    HttpAnswer answer;
    int64_t size;
  } cases[] = {
      {"one byte of a range", RangeAnswer(206, 0, 0, 5000000000, 0), 5000000000},
      {"range ignored", Answer(200, 1234), 1234},
      {"empty file", RangeAnswer(416, -1, -1, 0, 0), 0},
      {"206 without Content-Range", Answer(206, 1), -1},
      {"error page", Answer(404, 162), -1},
      {"no length", Answer(200, -1), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(AnswerFileSize(c.answer), c.size) << c.what;
}

TEST(HttpPlanTransfer, Decisions) {
  const std::string local = "C:\\T\\Setup.exe";
  const uint32_t date = 0x5D8670A4u;
  const std::string partial = PartialFileName(local, 1000, date);  // the file on the server
  struct Case {
    const char* what;
    HttpAnswer answer;
    std::string localFile, resumeFrom;
    int64_t have;
    HttpPlan plan;
    int64_t size;
    std::string partial;
  } cases[] = {
      {"memory, 200", Answer(200, 1000, date), "", "", 0, HttpPlan::Fresh, 1000, ""},
      {"memory, no length", Answer(200, -1), "", "", 0, HttpPlan::NotFound, -1, ""},
      {"memory, zero length", Answer(200, 0), "", "", 0, HttpPlan::NotFound, -1, ""},
      {"memory, 404 page", Answer(404, 162), "", "", 0, HttpPlan::NotFound, -1, ""},
      {"not HTTP, length known", Answer(0, 1000), "", "", 0, HttpPlan::Fresh, 1000, ""},
      {"file, 200", Answer(200, 1000, date), local, "", 0, HttpPlan::Fresh, 1000, partial},
      {"file, 500", Answer(500, 1000, date), local, "", 0, HttpPlan::NotFound, -1, ""},
      {"file, 206 not asked for", RangeAnswer(206, 0, 99, 1000, date), local, "", 0, HttpPlan::NotFound, -1, ""},
      {"resume, same file", RangeAnswer(206, 400, 999, 1000, date), local, partial, 400, HttpPlan::Resume, 1000,
       partial},
      {"resume, range ignored", Answer(200, 1000, date), local, partial, 400, HttpPlan::Fresh, 1000, partial},
      {"resume, size changed", RangeAnswer(206, 400, 1199, 1200, date), local, partial, 400, HttpPlan::Retry, -1,
       ""},
      {"resume, date changed", RangeAnswer(206, 400, 999, 1000, date + 2), local, partial, 400, HttpPlan::Retry, -1,
       ""},
      {"resume, range from elsewhere", RangeAnswer(206, 0, 999, 1000, date), local, partial, 400, HttpPlan::Retry,
       -1, ""},
      {"resume, 206 without range", Answer(206, 600, date), local, partial, 400, HttpPlan::Retry, -1, ""},
      {"resume, already whole", RangeAnswer(416, -1, -1, 1000, date), local, partial, 1000, HttpPlan::Complete, 1000,
       partial},
      {"resume, 416 of a shorter file", RangeAnswer(416, -1, -1, 300, date), local, partial, 400, HttpPlan::Retry,
       -1, ""},
      {"resume, file gone", Answer(404, 162), local, partial, 400, HttpPlan::NotFound, -1, ""},
  };
  for (const Case& c : cases) {
    int64_t size = 7;
    std::string part = "x";
    EXPECT_EQ(PlanTransfer(c.answer, c.localFile, c.resumeFrom, c.have, size, part), c.plan) << c.what;
    if (c.plan != HttpPlan::Retry && c.plan != HttpPlan::NotFound) {
      EXPECT_EQ(size, c.size) << c.what;
      EXPECT_EQ(part, c.partial) << c.what;
    }
  }
}

TEST(HttpErrorPage, RecognisesServerPages) {
  const std::string url = "http://host/Setup.exe";
  const std::string msg404 = "<B>404 File Not Found...</B><P><P>URL:  http://host/Setup.exe." +
                             std::string("<P><P>Please make sure the file is available and access is allowed to this file.");
  const std::string iis = "<P><P>If you are using an IIS webserver you must define appropriate MIME-Types.";
  struct Case {
    const char* what;
    std::string content;
    bool iisHint;
    std::string result;
  } cases[] = {
      {"binary file", std::string("MZ\x90\0\3\0\0\0\x04\0\0\0\xff\xff", 14), false, "Bad Secret Token!"},
      {"empty", "", false, "Bad Secret Token!"},
      {"nginx page", "<html>\r\n<head><title>404 Not Found</title></head>\r\n<body></body></html>", false, msg404},
      {"title only, upper case", "<TITLE>Error 404</TITLE>", false, msg404},
      {"title with attribute", "<title lang=en>404</title>", false, msg404},
      {"any html page", "<HTML><HEAD><TITLE>Welcome</TITLE></HEAD>", false, msg404},
      {"404 after the title", "<title>Oops</title> 404", false, "Bad Secret Token!"},
      {"404 before the title", "404 <title>Oops</title>", false, "Bad Secret Token!"},
      {"title never closed", "<title>404", false, "Bad Secret Token!"},
      {"head after title", "<html><title>x</title><head>", false, "Bad Secret Token!"},
      {"IIS hint asked", "<html><head><title>404</title></head>Microsoft-IIS/5.0", true, msg404 + iis},
      {"IIS hint, not IIS", "<html><head><title>404</title></head>Apache", true, msg404},
      {"IIS hint off", "<html><head><title>404</title></head>IIS", false, msg404},
  };
  for (const Case& c : cases)
    EXPECT_EQ(HttpErrorPageMessage(c.content, url, "Bad Secret Token!", c.iisHint), c.result) << c.what;
}

TEST(HttpRedirect, LocationsResolveAgainstTheAnsweringAddress) {
  const struct {
    const char *from, *location, *want;
  } cases[] = {
      {"http://a.test/dir/Product.info", "http://b.test/x.info", "http://b.test/x.info"},
      {"http://a.test/dir/Product.info", "  https://b.test/x  ", "https://b.test/x"},
      {"https://a.test/dir/Product.info", "//cdn.test/y", "https://cdn.test/y"},
      {"http://a.test:8080/dir/Product.info", "/other/z", "http://a.test:8080/other/z"},
      {"http://a.test/dir/Product.info?x=1", "next.info", "http://a.test/dir/next.info"},
      {"http://a.test", "next.info", "http://a.test/next.info"},
      {"http://a.test/dir/", "FILE:///c:/windows/x", "FILE:///c:/windows/x"},
      {"http://a.test/dir/", "", ""},
      {"ftp://a.test/dir/", "/x", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveRedirect(c.from, c.location), c.want) << c.from << " " << c.location;
}

TEST(HttpRedirect, OnlyHttpNeverDownwardsAndOnOneSchemeWithAKey) {
  const struct {
    const char *from, *to;
    bool sameScheme;
    RedirectVerdict want;
  } cases[] = {
      {"http://a.test/x", "http://b.test/y", false, RedirectVerdict::Allowed},
      {"http://a.test/x", "https://b.test/y", false, RedirectVerdict::Allowed},
      {"https://a.test/x", "HTTPS://b.test/y", false, RedirectVerdict::Allowed},
      {"https://a.test/x", "http://b.test/y", false, RedirectVerdict::Downgrade},
      {"https://a.test/x", "http://b.test/y", true, RedirectVerdict::Downgrade},
      {"http://a.test/x", "https://b.test/y", true, RedirectVerdict::SchemeChange},
      {"http://a.test/x", "http://b.test/y", true, RedirectVerdict::Allowed},
      {"https://a.test/x", "https://b.test/y", true, RedirectVerdict::Allowed},
      {"http://a.test/x", "file:///c:/x", false, RedirectVerdict::NotHttp},
      {"http://a.test/x", "ftp://b.test/y", false, RedirectVerdict::NotHttp},
      {"http://a.test/x", "javascript:alert(1)", false, RedirectVerdict::NotHttp},
      {"http://a.test/x", "", false, RedirectVerdict::NotHttp},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckRedirect(c.from, c.to, c.sameScheme), c.want) << c.from << " " << c.to;
  for (int s : {300, 301, 302, 303, 304, 307, 308, 200}) EXPECT_EQ(IsRedirectStatus(s), s != 300 && s != 304 && s != 200) << s;
}
