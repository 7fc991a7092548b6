#!/usr/bin/env bash
# Bounded fuzz run of the package reader.
#   run-fuzz.sh <fuzz-bin-dir> <work-dir>
# Builds a seed corpus with the native packer (fake stub: "MZ" at 0, "PE" at
# 0x100), then runs fuzz_package for 60 seconds. Non-zero exit on a finding.
set -euo pipefail
bin=${1:?usage: run-fuzz.sh <fuzz-bin-dir> <work-dir>}
work=${2:?usage: run-fuzz.sh <fuzz-bin-dir> <work-dir>}
src=$(cd "$(dirname "$0")/.." && pwd)
packer=${ZS_NATIVE_BIN:-$src/build/native/bin}/packer
fuzzer=$bin/fuzz_package
[ -x "$fuzzer" ] || { echo "run-fuzz: missing $fuzzer (build with -DZS_FUZZ=ON)" >&2; exit 1; }
[ -x "$packer" ] || { echo "run-fuzz: missing $packer (set ZS_NATIVE_BIN)" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/corpus" "$work/seed" "$work/artifacts"
cd "$work/seed"
python3 - <<'PY'
b = bytearray(0x200)
b[0:2] = b"MZ"
b[0x100:0x104] = b"PE\0\0"
open("stub.exe", "wb").write(bytes(b))
open("engine.exe", "wb").write(b"MZ engine " * 20)
open("data.txt", "wb").write(b"line of text\r\n" * 40)
PY
cat > plain.txt <<'M'
[package]
stub = stub.exe
output = plain.exe
token = PRODUCT
silent = 1
[language English]
s0 = Setup
s11 =
[file]
source = engine.exe
engine = /LANG=DE
[file]
source = data.txt
compression = stored
M
cat > web.txt <<'M'
[package]
stub = stub.exe
output = web.exe
update_url = http://example.test/upd
info_file = App.info
agent_exe = Agent.exe
web_setup = 1
is_update_agent = 1
temp_drive_notice = 1
[web]
base = http://example.test/dl
file = Full.exe
token = WEB
size = 1234
[language German]
s0 = Installation
[language Turkish]
Charset = 162
[file]
source = data.txt
M
cat > span.txt <<'M'
[package]
stub = stub.exe
output = span.exe
volume_size = 900
checksum = 0
no_engine = 1
[language English]
s0 = Setup
[file]
source = data.txt
compression = stored
M
for m in plain web span; do "$packer" build "$m.txt" >/dev/null; done
cp plain.exe web.exe span.exe span.exe.002 "$work/corpus/"
"$packer" inform "$work/corpus/inform.txt" --token PRODUCT --body "New <B>version</B>|x" >/dev/null
"$packer" inform "$work/corpus/inform-scrambled.txt" --token PRODUCT --body "Hello" --scrambled >/dev/null

cd "$work"
"$fuzzer" -max_total_time="${ZS_FUZZ_SECONDS:-60}" -max_len=8192 -timeout=10 -rss_limit_mb=1024 \
  -artifact_prefix="$work/artifacts/" corpus 2>"$work/fuzz.log" || {
  echo "run-fuzz: finding; see $work/fuzz.log and $work/artifacts" >&2
  tail -n 40 "$work/fuzz.log" >&2
  exit 1
}
tail -n 3 "$work/fuzz.log"
