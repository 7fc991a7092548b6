#!/usr/bin/env bash
# Packer benchmark (a command, not a test): builds one setup from a corpus of
# real files at zlib level 9 with one compression thread and with all cores,
# and checks that both give the same bytes.
# Usage: scripts/bench-packer.sh [native-build-dir] [work-dir] [corpus-MiB]
# Environment: RUNS (timed runs per contender, default 3; the best counts),
#              JOBS (threads of the parallel contender, default: the cores).
# The work folder defaults to the extraction benchmark's, so both use one corpus.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/native}
work=${2:-/tmp/zs-bench-extract}
corpus_mib=${3:-300}
runs=${RUNS:-3}
jobs=${JOBS:-$(nproc)}
packer=$build/bin/packer
[ -x "$packer" ] || { echo "bench-packer: build $packer first (cmake --build $build --target packer)" >&2; exit 1; }
mkdir -p "$work/packer"
"$here/scripts/make-corpus.sh" "$work/corpus" "$corpus_mib"

# A stand-in stub ("MZ" at 0, "PE" at 0x100) and a manifest with every file.
python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
stub = bytearray(0x400)
stub[0:2] = b"MZ"
stub[0x100:0x104] = b"PE\0\0"
open(f"{work}/packer/stub.exe", "wb").write(bytes(stub))
for name, extra in (("plain", ""), ("repro", "reproducible = 1\n")):
    with open(f"{work}/packer/{name}.manifest", "w") as m:
        m.write(f"[package]\nstub = stub.exe\nno_engine = 1\n{extra}[language English]\ns0 = Corpus\n")
        for f in sorted(os.listdir(f"{work}/corpus")):
            m.write(f"[file]\nsource = {work}/corpus/{f}\ncompression = 9\n")
PY
echo "corpus: $(ls "$work/corpus" | wc -l) files, $(du -sm "$work/corpus" | cut -f1) MiB; zlib level 9; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$packer" "$work/packer" "$runs" "$jobs" <<'PY'
import os, subprocess, sys, time
packer, work, runs, jobs = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
def timed(args):
    t0 = time.perf_counter()
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL)
    _, status, ru = os.wait4(p.pid, 0)
    wall = (time.perf_counter() - t0) * 1000
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{args} failed")
    return wall, (ru.ru_utime + ru.ru_stime) * 1000
contenders = {
    "1 thread": ["build", f"{work}/repro.manifest", "-o", f"{work}/one.exe", "-j", "1"],
    f"{jobs} threads": ["build", f"{work}/repro.manifest", "-o", f"{work}/many.exe", "-j", jobs],
    f"{jobs} thr. plain": ["build", f"{work}/plain.manifest", "-o", f"{work}/plain.exe", "-j", jobs],
}
best = {k: [float("inf"), float("inf")] for k in contenders}
for i in range(runs + 1):  # one warm-up round
    for name, args in contenders.items():
        wall, cpu = timed([packer] + args)
        if i > 0:
            best[name] = [min(best[name][0], wall), min(best[name][1], cpu)]
print(f"{'':16s} {'wall ms':>10s} {'cpu ms':>10s}")
for k, (wall, cpu) in best.items():
    print(f"{k:16s} {wall:10.1f} {cpu:10.1f}")
one, many = best["1 thread"][0], best[f"{jobs} threads"][0]
print(f"speed-up {jobs} threads / 1 thread: {one / many:.2f}x wall  (goal >= 1.7x on 2 cores)")
print(f"seed of a reproducible build: {best[f'{jobs} threads'][0] - best[f'{jobs} thr. plain'][0]:+.0f} ms wall")
same = open(f"{work}/one.exe", "rb").read() == open(f"{work}/many.exe", "rb").read()
print(f"same bytes with 1 and {jobs} threads: {'yes' if same else 'NO'}")
print(f"package: {os.path.getsize(work + '/one.exe') >> 20} MiB")
for n in ("one", "many", "plain"):
    os.remove(f"{work}/{n}.exe")
sys.exit(0 if same else 1)
PY
