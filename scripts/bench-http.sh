#!/usr/bin/env bash
# Download throughput of the HTTP client: HttpDownload under Wine (through
# httpget) against curl natively, both fetching the same file from the same
# nginx on 127.0.0.1. A command to run by hand, not a test.
#   bench-http.sh [build-root]      (default ./build; needs <root>/win64/bin/httpget.exe)
# ZS_BENCH_MB (default 200) sets the file size, ZS_BENCH_RUNS (default 3) the
# runs per client; the best and the median run are printed.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(cd "${1:-$src/build}" && pwd)
exe=${ZS_HTTPGET:-$root/win64/bin/httpget.exe}
work=${ZS_BENCH_WORK:-$root/bench-http}
[ -f "$exe" ] || { echo "bench-http: missing $exe (build win64 first)" >&2; exit 2; }
command -v curl >/dev/null || { echo "bench-http: curl is needed" >&2; exit 2; }
mkdir -p "$work"

# The prefix's wineserver keeps its output open: send it to a file, not a pipe.
"$src/scripts/wine-prefix.sh" start "$work/wine" 1 >"$work/wine-prefix.log" 2>&1
trap '"$src/scripts/wine-prefix.sh" stop "$work/wine" 1 >/dev/null 2>&1 || true' EXIT

python3 - "$src" "$exe" "$work" "${ZS_BENCH_MB:-200}" "${ZS_BENCH_RUNS:-3}" <<'PY'
import hashlib, os, pathlib, statistics, subprocess, sys, time
src, exe, work, mb, runs = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
sys.path.insert(0, os.path.join(src, "tests", "wine"))
from httpservers import Nginx

size = mb * 1_000_000
env = dict(os.environ, WINEPREFIX=str(work / "wine" / "prefix0"), WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=",
           http_proxy="", HTTP_PROXY="", https_proxy="", HTTPS_PROXY="")
env.pop("DISPLAY", None)


def digest(p):
    h = hashlib.sha256()
    with open(p, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


with Nginx(work) as web:
    body = web.root / "bench.bin"
    with open(body, "wb") as f:
        for _ in range(mb):
            f.write(os.urandom(1_000_000))
    want = digest(body)
    url = web.url("bench.bin")
    curl_out, wine_out = work / "curl.bin", work / "wine.bin"
    wine_target = "Z:" + str(wine_out.resolve()).replace("/", "\\")
    curl_s, wine_s, wine_proc_s = [], [], []
    for i in range(runs):
        r = subprocess.run(["curl", "-s", "-S", "-o", str(curl_out), "-w", "%{time_total}", url],
                           capture_output=True, text=True, check=True)
        curl_s.append(float(r.stdout))
        if wine_out.exists():
            wine_out.unlink()
        t0 = time.time()
        r = subprocess.run(["/usr/lib/wine/wine64", exe, "download", url, wine_target], env=env,
                           capture_output=True, text=True)
        wine_proc_s.append(time.time() - t0)
        res = dict(l.split("=", 1) for l in r.stdout.splitlines() if "=" in l)
        if r.returncode != 0 or res.get("error"):
            sys.exit(f"httpget failed: {r.stdout}{r.stderr}")
        wine_s.append(float(res["ms"]) / 1000.0)
    if digest(curl_out) != want or digest(wine_out) != want:
        sys.exit("a download differs from the served file")
    for p in (curl_out, wine_out, body):
        p.unlink()

rate = lambda s: size / s / 1e6
print(f"file: {mb} MB from nginx on 127.0.0.1, {runs} runs each (best / median)")
print(f"curl (native)            {rate(min(curl_s)):8.1f} / {rate(statistics.median(curl_s)):8.1f} MB/s")
print(f"HttpDownload (Wine)      {rate(min(wine_s)):8.1f} / {rate(statistics.median(wine_s)):8.1f} MB/s"
      "   (time inside the call)")
print(f"httpget process (Wine)   {rate(min(wine_proc_s)):8.1f} / {rate(statistics.median(wine_proc_s)):8.1f} MB/s"
      "   (with Wine's process start)")
print(f"ratio HttpDownload/curl  {min(curl_s) / min(wine_s):8.2f} / "
      f"{statistics.median(curl_s) / statistics.median(wine_s):8.2f}   (goal: at least 0.5)")
PY
