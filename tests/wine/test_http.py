"""The HTTP client under Wine, driven through httpget against nginx and the
fault server: downloads into memory and into files, resume from partial
files, stale partial files, servers that ignore Range, misbehave or stall,
and the abort through a close request."""
import calendar
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winelib  # noqa: E402
from httpservers import FaultServer, Nginx, free_port  # noqa: E402
from winelib import case, winpath  # noqa: E402

WORK = winelib.fresh_dir("http")
WEB = None    # Nginx, started in __main__
FAULT = None  # FaultServer
# Wine's WinINet honours a proxy from the environment; these tests talk to 127.0.0.1 directly.
NO_PROXY = {"http_proxy": "", "HTTP_PROXY": "", "https_proxy": "", "HTTPS_PROXY": ""}


def httpget(*args, timeout=120, env=None):
    """Runs httpget; returns (exit code, {key: value} of its output, stderr)."""
    r = winelib.run([winelib.exe("httpget.exe")] + [str(a) for a in args], timeout=timeout,
                    env=dict(NO_PROXY, **(env or {})))
    out = {}
    for line in r.stdout.splitlines():
        k, sep, v = line.partition("=")
        if sep:
            out[k] = v
    return r.returncode, out, r.stderr


def dos_time(mtime):
    t = time.gmtime(mtime)
    return ((t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday) << 16 | (t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2)


def partial_name(local, data, mtime):
    return local.with_name(f"{local.name}.{len(data) + dos_time(mtime)}")


def folder(name):
    d = WORK / name
    d.mkdir()
    return d


def names(d):
    return sorted(p.name for p in d.iterdir())


def payload(n, seed):
    # Distinct bytes per test, so a mix-up of two files shows.
    return bytes((i * 7 + seed + i // 251) & 0xFF for i in range(n))


MTIME = calendar.timegm((2024, 5, 17, 10, 30, 44))


@case
def download_into_memory_and_file():
    data = os.urandom(300_000)
    (WEB.root / "a.bin").write_bytes(data)
    out = WORK / "mem.out"
    rc, res, err = httpget("download", WEB.url("a.bin"), "-", "/out=" + winpath(out), "/show=window")
    assert rc == 0 and res["error"] == "", res
    assert out.read_bytes() == data
    # 300,000 / 10,240 = 29.3 steps, plus one; resumed position 0
    assert res["reset"] == "0,30,0,1", res
    assert int(res["steps"]) >= 10, res
    assert res["text"].startswith("300000/300000 Bytes   "), res
    assert res["visible"] == "1", "the show target was not shown"
    assert "HTTP_DownloadFile_Incremental FileSize=300000  " + WEB.url("a.bin") in err, err

    d = folder("file")
    local = d / "Setup.exe"
    for show in ("0", "1"):  # 1 asks for a fresh copy from the server
        rc, res, _ = httpget("download", WEB.url("a.bin"), winpath(local), "/show=" + show)
        assert rc == 0 and res["error"] == "" and res["length"] == "0", res
        assert local.read_bytes() == data
        assert names(d) == ["Setup.exe"], names(d)


@case
def tiny_files_arrive_whole():
    for n in (1, 9, 10, 25):
        data = payload(n, n)
        (WEB.root / f"tiny{n}").write_bytes(data)
        out = WORK / f"tiny{n}.out"
        rc, res, _ = httpget("download", WEB.url(f"tiny{n}"), "-", "/out=" + winpath(out))
        assert rc == 0 and res["error"] == "", (n, res)
        assert out.read_bytes() == data, n


@case
def interrupted_download_resumes():
    data = payload(200_000, 1)
    FAULT.add("r.bin", data, MTIME, mode="cut:70000")
    d = folder("resume")
    local = d / "Setup.exe"
    rc, res, _ = httpget("download", FAULT.url("r.bin"), winpath(local))
    assert rc == 1 and "Download Incomplete" in res["error"], res
    part = partial_name(local, data, MTIME)
    assert names(d) == [part.name], names(d)
    assert part.read_bytes() == data[:70000]

    FAULT.set_mode("r.bin", "normal")
    rc, res, _ = httpget("download", FAULT.url("r.bin"), winpath(local))
    assert rc == 0 and res["error"] == "", res
    assert local.read_bytes() == data
    assert names(d) == ["Setup.exe"], names(d)
    assert FAULT.requests("r.bin")[-1].get("range") == "bytes=70000-", FAULT.requests("r.bin")[-1]
    # The progress bar starts where the partial file ended: 70,000 / 10,240 = 6.8 chunks.
    assert res["reset"] == "0,21,7,1", res


@case
def resume_from_nginx_uses_its_range_answer():
    data = payload(150_000, 2)
    FAULT.add("n.bin", data, MTIME, mode="cut:40000")
    (WEB.root / "n.bin").write_bytes(data)
    os.utime(WEB.root / "n.bin", (MTIME, MTIME))
    d = folder("nginx-resume")
    local = d / "Setup.exe"
    httpget("download", FAULT.url("n.bin"), winpath(local))
    assert partial_name(local, data, MTIME).stat().st_size == 40000
    rc, res, _ = httpget("download", WEB.url("n.bin"), winpath(local))
    assert rc == 0 and res["error"] == "", res
    assert local.read_bytes() == data
    assert "206|bytes=40000-|GET /n.bin HTTP/1.1" in WEB.access_log(), WEB.access_log()


@case
def changed_file_discards_stale_partials():
    data = payload(120_000, 3)
    (WEB.root / "c.bin").write_bytes(data)
    os.utime(WEB.root / "c.bin", (MTIME, MTIME))
    stale_sources = {
        "size": (payload(125_000, 9), MTIME),
        "date": (data, MTIME - 86400),
    }
    for what, (old, old_mtime) in stale_sources.items():
        d = folder("stale-" + what)
        local = d / "Setup.exe"
        local.write_bytes(b"previous version")
        stale = partial_name(local, old, old_mtime)
        stale.write_bytes(old[:30000])
        (d / "Setup.exe.log").write_bytes(b"not a partial file")
        rc, res, _ = httpget("download", WEB.url("c.bin"), winpath(local))
        assert rc == 0 and res["error"] == "", (what, res)
        assert local.read_bytes() == data, what
        assert names(d) == ["Setup.exe", "Setup.exe.log"], (what, names(d))


@case
def without_the_size_first_the_partial_file_is_still_checked():
    # The first one-byte request fails, so the client guesses the partial file
    # from the folder and lets the range answer decide.
    data = payload(90_000, 10)
    FAULT.add("p.bin", data, MTIME, mode="cut:30000")
    d = folder("noprobe")
    local = d / "Setup.exe"
    httpget("download", FAULT.url("p.bin"), winpath(local))
    assert partial_name(local, data, MTIME).stat().st_size == 30000
    FAULT.set_mode("p.bin", "noprobe")
    rc, res, _ = httpget("download", FAULT.url("p.bin"), winpath(local))
    assert rc == 0 and local.read_bytes() == data, res
    assert FAULT.requests("p.bin")[-1].get("range") == "bytes=30000-"

    # A partial file of another version: its range answer does not fit, the
    # whole file is fetched and the stale partial file goes.
    local.unlink()
    stale = partial_name(local, data, MTIME - 86400)
    stale.write_bytes(data[:20000])
    rc, res, _ = httpget("download", FAULT.url("p.bin"), winpath(local))
    assert rc == 0 and local.read_bytes() == data, res
    assert [h.get("range") for h in FAULT.requests("p.bin")[-2:]] == ["bytes=20000-", None]
    assert names(d) == ["Setup.exe"], names(d)


@case
def server_ignoring_range_restarts_cleanly():
    data = payload(100_000, 4)
    FAULT.add("i.bin", data, MTIME, mode="cut:50000")
    d = folder("norange")
    local = d / "Setup.exe"
    httpget("download", FAULT.url("i.bin"), winpath(local))
    FAULT.set_mode("i.bin", "norange")
    rc, res, _ = httpget("download", FAULT.url("i.bin"), winpath(local))
    assert rc == 0 and res["error"] == "", res
    assert local.read_bytes() == data, "the whole body was appended to the partial file"
    assert FAULT.requests("i.bin")[-1].get("range") == "bytes=50000-"
    assert names(d) == ["Setup.exe"], names(d)


@case
def failures_save_nothing():
    FAULT.add("nolen.bin", payload(5000, 5), MTIME, mode="nolength")
    FAULT.add("gone.bin", payload(5000, 6), MTIME, mode="missing")
    refused = f"http://127.0.0.1:{free_port()}/x.bin"
    cases = [
        ("no length", FAULT.url("nolen.bin"), FAULT.url("nolen.bin") + "<P><P>File Not Found !"),
        ("404 page", FAULT.url("gone.bin"), FAULT.url("gone.bin") + "<P><P>File Not Found !"),
        ("refused", refused, "Unable to open Internet Connection <P>URL: " + refused),
    ]
    for what, url, error in cases:
        d = folder("fail-" + what.replace(" ", "-"))
        rc, res, err = httpget("download", url, winpath(d / "Setup.exe"))
        assert rc == 1 and res["error"] == error, (what, res)
        assert names(d) == [], (what, names(d))
        assert " HTTP_DownloadFile_Incremental: " + error in err, (what, err)
        rc, res, _ = httpget("download", url, "-")
        assert res["error"] == error and res["length"] == "0", (what, res)


@case
def memory_download_is_bounded():
    """A body taken into memory (the agent's INFO file) may be at most 1 MiB:
    a larger one is refused from its announced length, before it is read."""
    limit = 1 << 20
    FAULT.add("limit.info", payload(limit, 11), MTIME)
    FAULT.add("huge.info", payload(limit + 1, 12), MTIME)
    rc, res, _ = httpget("download", FAULT.url("limit.info"), "-")
    assert rc == 0 and res["error"] == "" and res["length"] == str(limit), res
    rc, res, err = httpget("download", FAULT.url("huge.info"), "-")
    assert rc == 1 and res["length"] == "0", res
    assert res["error"] == f"File too large ({limit + 1} bytes) <P>URL: " + FAULT.url("huge.info"), res
    # The same file into a local file is no memory matter.
    d = folder("huge-to-file")
    rc, res, _ = httpget("download", FAULT.url("huge.info"), winpath(d / "huge.info"))
    assert rc == 0 and (d / "huge.info").read_bytes() == payload(limit + 1, 12), res


@case
def redirects_are_checked_hop_by_hop():
    """The client follows redirects itself: to http and https only, never from
    https to http, and for the signed update channel only on its own scheme."""
    data = payload(3000, 21)
    FAULT.add("target.bin", data, MTIME)
    https_port = free_port()
    moves = {
        "to-http.bin": FAULT.url("target.bin"),
        "relative.bin": "/target.bin",
        "to-file.bin": "file:///C:/windows/win.ini",
        "to-https.bin": f"https://127.0.0.1:{https_port}/target.bin",
        "loop.bin": FAULT.url("loop.bin"),
    }
    for name, to in moves.items():
        FAULT.add(name, b"", MTIME, mode="redirect:" + to)
    refused = "Download refused: "
    cases = [
        ("to another http address", "to-http.bin", [], ""),
        ("relative", "relative.bin", [], ""),
        ("same scheme, signed", "to-http.bin", ["/samescheme"], ""),
        ("to a file", "to-file.bin", [], refused + "redirect to an address that is not http or https"),
        ("to https, signed", "to-https.bin", ["/samescheme"],
         refused + "redirect to another scheme (signed updates stay on the scheme of their address)"),
        ("to https, unsigned: followed (nothing listens there)", "to-https.bin", [], "Unable to open"),
        ("endless", "loop.bin", [], refused + "too many redirects"),
    ]
    for n, (what, name, flags, error) in enumerate(cases):
        d = folder(f"redirect-{n}")
        rc, res, _ = httpget("download", FAULT.url(name), winpath(d / "got.bin"), *flags)
        if not error:
            assert rc == 0 and (d / "got.bin").read_bytes() == data, (what, res)
        else:
            assert rc == 1 and res["error"].startswith(error), (what, res)
            assert names(d) == [], (what, names(d))
            if error.startswith(refused):
                assert "<P>URL: " + FAULT.url(name) in res["error"], (what, res)
        rc, res, _ = httpget("size", FAULT.url(name), *flags)
        assert res["size"] == (str(len(data)) if not error else "-1"), (what, res)


@case
def published_size_and_freshness_bound_a_download():
    """A file announced larger than published is refused before a byte of it
    is stored; a fresh download asks past every cache."""
    data = payload(20000, 22)
    FAULT.add("bounded.bin", data, MTIME)
    d = folder("bounded")
    rc, res, _ = httpget("download", FAULT.url("bounded.bin"), winpath(d / "b.bin"), "/max=19999")
    assert rc == 1 and res["error"] == ("File larger than published (20000 bytes, published 19999) <P>URL: " +
                                        FAULT.url("bounded.bin")), res
    assert names(d) == [], names(d)
    rc, res, _ = httpget("download", FAULT.url("bounded.bin"), winpath(d / "b.bin"), "/max=20000")
    assert rc == 0 and (d / "b.bin").read_bytes() == data, res
    before = len(FAULT.log)
    rc, res, _ = httpget("download", FAULT.url("bounded.bin"), "-", "/fresh")
    assert rc == 0, res
    asked = [h for path, h in FAULT.log[before:] if path == "/bounded.bin"]
    assert asked and all("no-cache" in h.get("pragma", "") + h.get("cache-control", "") for h in asked), asked


@case
def file_size():
    (WEB.root / "s.bin").write_bytes(payload(123_457, 7))
    FAULT.add("gone2.bin", b"x", MTIME, mode="missing")
    cases = [
        (WEB.url("s.bin"), "123457"),
        (FAULT.url("gone2.bin"), "-1"),  # the error page's length is not the file's
        (f"http://127.0.0.1:{free_port()}/x.bin", "-1"),
    ]
    for url, size in cases:
        rc, res, _ = httpget("size", url)
        assert res["size"] == size, (url, res)


@case
def close_request_aborts_the_download():
    data = payload(2_000_000, 8)
    FAULT.add("slow.bin", data, MTIME, mode="slow")
    d = folder("abort")
    local = d / "Setup.exe"
    part = partial_name(local, data, MTIME)
    proc = winelib.start([winelib.exe("httpget.exe"), "download", FAULT.url("slow.bin"), winpath(local)],
                         env=NO_PROXY, stdout=subprocess.PIPE)
    try:
        winelib.wait_until(lambda: part.exists() and part.stat().st_size >= 20000, 60, what="download under way")
        rc, _, _ = httpget("close")
        assert rc == 0, "no httpget window to close"
        out, _ = proc.communicate(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
    assert "error=Download Aborted" in out.decode("latin-1"), out
    assert proc.returncode == 1
    got = part.read_bytes()
    assert 20000 <= len(got) < len(data) and got == data[:len(got)]
    assert not local.exists()


# Short timeouts for the stall tests (connect, send, receive in ms). The
# receive wait is what a stall costs; "a little" above it stays below a
# second wait, so a call that waited twice fails the bound.
RECEIVE_MS = 4000
SHORT = f"/timeouts=2000,2000,{RECEIVE_MS}"
LITTLE_MS = 3000


def assert_one_wait(res, what):
    ms = float(res["ms"])
    assert RECEIVE_MS * 0.8 <= ms <= RECEIVE_MS + LITTLE_MS, (what, ms)


@case
def stalled_server_ends_the_download_and_the_next_run_resumes():
    data = payload(400_000, 11)
    stalls = [
        # mode, requests the stalled run makes, bytes the partial file keeps (None: no file), error
        ("silent", 1, None, "Unable to open Internet Connection <P>URL: {url}"),
        ("stall:0", 2, 0, "Download Incomplete (0 of 400000 Bytes) <P>URL: {url}"),
        ("stall:70000", 2, 70000, "Download Incomplete (70000 of 400000 Bytes) <P>URL: {url}"),
    ]
    for mode, requests, kept, error in stalls:
        name = "stall-" + mode.replace(":", "-")
        FAULT.add(name, data, MTIME, mode=mode)
        d = folder(name)
        local = d / "Setup.exe"
        rc, res, _ = httpget("download", FAULT.url(name), winpath(local), SHORT)
        assert rc == 1 and res["error"] == error.format(url=FAULT.url(name)), (mode, res)
        assert_one_wait(res, mode)
        # A first contact without an answer ends the call: no second request.
        assert len(FAULT.requests(name)) == requests, (mode, FAULT.requests(name))
        part = partial_name(local, data, MTIME)
        if kept is None:
            assert names(d) == [], (mode, names(d))
        else:
            assert names(d) == [part.name], (mode, names(d))
            assert part.read_bytes() == data[:kept], mode

        FAULT.set_mode(name, "normal")
        rc, res, _ = httpget("download", FAULT.url(name), winpath(local))
        assert rc == 0 and res["error"] == "", (mode, res)
        assert local.read_bytes() == data, mode
        assert names(d) == ["Setup.exe"], (mode, names(d))
        if kept:
            assert FAULT.requests(name)[-1].get("range") == f"bytes={kept}-", (mode, FAULT.requests(name)[-1])


@case
def file_size_of_a_silent_server_costs_one_wait():
    FAULT.add("silent-size", b"x", MTIME, mode="silent")
    t = time.time()
    rc, res, _ = httpget("size", FAULT.url("silent-size"), SHORT)
    assert rc == 1 and res["size"] == "-1", res
    assert len(FAULT.requests("silent-size")) == 1, FAULT.requests("silent-size")
    assert time.time() - t < RECEIVE_MS / 1000 + 15  # with Wine's process start


@case
def close_request_during_a_stall_aborts_when_the_wait_ends():
    data = payload(300_000, 12)
    cases = [
        # mode, held requests once the client waits, bytes the partial file keeps (None: no file)
        ("silent", 1, None),
        ("stall:1000", 2, 1000),
    ]
    for mode, held, kept in cases:
        name = "abort-" + mode.replace(":", "-")
        FAULT.add(name, data, MTIME, mode=mode)
        d = folder(name)
        local = d / "Setup.exe"
        proc = winelib.start([winelib.exe("httpget.exe"), "download", FAULT.url(name), winpath(local), SHORT],
                             env=NO_PROXY, stdout=subprocess.PIPE)
        try:
            winelib.wait_until(lambda: FAULT.stalls(name) >= held, 30, what=f"{mode}: the client waiting")
            rc, _, _ = httpget("close")
            assert rc == 0, "no httpget window to close"
            out, _ = proc.communicate(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
        res = dict(line.partition("=")[::2] for line in out.decode("latin-1").splitlines())
        assert res["error"] == "Download Aborted" and proc.returncode == 1, (mode, res)
        assert_one_wait(res, mode)  # the close request waits for the end of the wait, not longer
        assert len(FAULT.requests(name)) == held, (mode, FAULT.requests(name))
        part = partial_name(local, data, MTIME)
        assert names(d) == ([] if kept is None else [part.name]), (mode, names(d))
        if kept is not None:
            assert part.read_bytes() == data[:kept], mode


@case
def body_longer_than_announced_stops_at_the_size():
    data = payload(150_000, 13)
    FAULT.add("long.bin", data, MTIME, mode="cut:40000")
    d = folder("longer")
    local = d / "Setup.exe"
    httpget("download", FAULT.url("long.bin"), winpath(local))
    FAULT.set_mode("long.bin", "longer:5000")
    rc, res, _ = httpget("download", FAULT.url("long.bin"), winpath(local))
    assert rc == 0 and res["error"] == "", res
    assert local.read_bytes() == data
    assert names(d) == ["Setup.exe"], names(d)


@case
def error_page_recognition_reads_the_file_head():
    page = b"<html>\r\n<head><title>404 Not Found</title></head><body>nginx</body></html>"
    url = "http://example.invalid/Setup.exe"
    msg404 = ("<B>404 File Not Found...</B><P><P>URL:  " + url + ".<P><P>Please make sure the file is "
              "available and access is allowed to this file.")
    d = folder("describe")
    (d / "page.htm").write_bytes(page)
    (d / "binary.exe").write_bytes(b"MZ" + bytes(range(256)) * 4)
    (d / "late.htm").write_bytes(b" " * 10000 + page)
    (d / "content.htm").write_bytes(page)
    cases = [
        ("saved page", d / "page.htm", None, msg404),
        ("binary file", d / "binary.exe", None, "Bad Secret Token!"),
        ("page after the first 10,000 bytes", d / "late.htm", None, "Bad Secret Token!"),
        ("existing file replaces the content", d / "binary.exe", d / "content.htm", "Bad Secret Token!"),
        ("missing file keeps the content", d / "none.exe", d / "content.htm", msg404),
        # The file is there but held by another program: its content is unknown, not the caller's.
        ("existing file that cannot be opened", d / "binary.exe", d / "content.htm", "Bad Secret Token!", "/locked"),
    ]
    for what, local, content, expected, *extra in cases:
        args = ["describe", winpath(local), url, "Bad Secret Token!"] + extra
        if content:
            args.append("/content=" + winpath(content))
        rc, res, _ = httpget(*args)
        assert res.get("message") == expected, (what, res)


@case
def connection_check_reports_consistently():
    rc, res, _ = httpget("connected")
    assert res["connected"] in ("TRUE", "FALSE"), res
    assert (res["connected"] == "TRUE") == (res["error"] == ""), res


@case
def without_wininet_everything_fails_softly():
    off = {"WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe,wininet="}  # no WinINet at all
    (WEB.root / "w.bin").write_bytes(b"payload")
    d = folder("no-wininet")
    rc, res, _ = httpget("connected", env=off)
    assert res["connected"] == "FALSE" and res["error"] != "", res
    rc, res, _ = httpget("size", WEB.url("w.bin"), env=off)
    assert res["size"] == "-1", res
    rc, res, _ = httpget("download", WEB.url("w.bin"), winpath(d / "w.bin"), env=off)
    assert res["error"] == 'Unable to initialize "WinINet.dll"', res
    assert names(d) == []


if __name__ == "__main__":
    with Nginx(WORK) as WEB, FaultServer() as FAULT:
        winelib.main()
