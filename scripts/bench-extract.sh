#!/usr/bin/env bash
# Extraction benchmark (a command, not a test). Natively on Linux it measures
#  - the engine's extraction time for a corpus of real files against
#    (a) the floor: a bare zlib inflate-and-write loop over the same items
#        (once without and once with setting each file's stored date), and
#    (b) unzip of a zip that holds the same files at the same level;
#  - the peak memory of extracting a package that holds one 1 GiB file.
# Usage: scripts/bench-extract.sh [native-build-dir] [work-dir] [corpus-MiB]
# Environment: RUNS (timed runs per contender, default 3; the best counts),
#              BIG_MIB (size of the single large file, default 1024).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/native}
work=${2:-/tmp/zs-bench-extract}
corpus_mib=${3:-300}
runs=${RUNS:-3}
big_mib=${BIG_MIB:-1024}
level=6
bin=$build/bin/benchextract
[ -x "$bin" ] || { echo "bench-extract: build $bin first (cmake --build $build --target benchextract)" >&2; exit 1; }
command -v zip >/dev/null && command -v unzip >/dev/null || { echo "bench-extract: zip and unzip are needed" >&2; exit 1; }
mkdir -p "$work"

# ---- corpus: real files from /usr/share and /usr/lib, flattened into one folder ----
"$here/scripts/make-corpus.sh" "$work/corpus" "$corpus_mib"
if [ ! -f "$work/corpus.exe" ]; then
  "$bin" pack "$work/corpus" "$work/corpus.exe.tmp" $level
  mv "$work/corpus.exe.tmp" "$work/corpus.exe"
fi
if [ ! -f "$work/corpus.zip" ]; then
  (cd "$work/corpus" && zip -q -$level -r "$work/corpus.zip.tmp" .)
  mv "$work/corpus.zip.tmp" "$work/corpus.zip"
fi
files=$(ls "$work/corpus" | wc -l)
echo "corpus: $files files, $(du -sm "$work/corpus" | cut -f1) MiB; package $(du -m "$work/corpus.exe" | cut -f1) MiB; zip $(du -m "$work/corpus.zip" | cut -f1) MiB"

# ---- timings: one warm-up, then the best of $runs, contenders interleaved ----
# Wall time and CPU time (user + system) of each run. On a busy machine the
# CPU time is the steadier figure; both are printed.
python3 - "$bin" "$work" "$runs" <<'PY'
import os, shutil, subprocess, sys, time
bin, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
out = f"{work}/out"
def timed(args):
    t0 = time.perf_counter()
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL)
    _, status, ru = os.wait4(p.pid, 0)
    wall = (time.perf_counter() - t0) * 1000
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{args} failed")
    return wall, (ru.ru_utime + ru.ru_stime) * 1000
pkg = f"{work}/corpus.exe"
contenders = {"engine": [bin, "engine", pkg, out], "floor": [bin, "floor", pkg, out],
              "floor+dates": [bin, "floor-dates", pkg, out],
              "unzip": ["unzip", "-q", "-o", f"{work}/corpus.zip", "-d", out]}
best = {k: [float("inf"), float("inf")] for k in contenders}
for i in range(runs + 1):
    for name, args in contenders.items():
        shutil.rmtree(out, ignore_errors=True)
        subprocess.run(["sync"])
        wall, cpu = timed(args)
        if i > 0:
            best[name] = [min(best[name][0], wall), min(best[name][1], cpu)]
shutil.rmtree(out, ignore_errors=True)
print(f"{'':12s} {'wall ms':>10s} {'cpu ms':>10s}")
for k, (wall, cpu) in best.items():
    print(f"{k:12s} {wall:10.1f} {cpu:10.1f}")
def ratio(a, b, goal):
    print(f"engine/{b:12s} wall {best[a][0] / best[b][0]:.3f}x  cpu {best[a][1] / best[b][1]:.3f}x  {goal}")
ratio("engine", "floor", "(goal <= 1.05)")
ratio("engine", "floor+dates", "(same files with their stored dates)")
ratio("engine", "unzip", "(goal < 1)")
PY

# ---- peak memory with one large file ----
if [ ! -f "$work/big.exe" ]; then
  rm -rf "$work/big"
  mkdir -p "$work/big"
  # Real, compressible bytes: the corpus repeated up to the size.
  python3 - "$work/corpus" "$work/big/Big.bin" "$big_mib" <<'PY'
import os, sys
src, dest, limit = sys.argv[1], sys.argv[2], int(sys.argv[3]) << 20
names = sorted(os.listdir(src))
written = 0
with open(dest, "wb") as o:
    while written < limit:
        for n in names:
            data = open(os.path.join(src, n), "rb").read()[: limit - written]
            o.write(data)
            written += len(data)
            if written >= limit:
                break
PY
  "$bin" pack "$work/big" "$work/big.exe.tmp" $level
  mv "$work/big.exe.tmp" "$work/big.exe"
  rm -rf "$work/big"
fi
rm -rf "$work/bigout"
rss=$(/usr/bin/time -f "%M" "$bin" engine "$work/big.exe" "$work/bigout" 2>&1 >/dev/null | tail -1)
size=$(stat -c %s "$work/bigout/Big.bin")
rm -rf "$work/bigout"
echo "large file: $((size >> 20)) MiB extracted, peak RSS $rss KiB ($((rss / 1024)) MiB; goal < 16 MiB)"
