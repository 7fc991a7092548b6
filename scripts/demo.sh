#!/usr/bin/env bash
# The main job, headless: installs what is missing, builds what the demo
# runs, packs a sample setup (a few real files, the test engine as the setup
# engine) and runs it under Wine, then tells what the engine saw and the exit
# code.
#   scripts/demo.sh          the self-extracting setup
#   scripts/demo.sh web      a web stub that downloads that setup from nginx
#   scripts/demo.sh update   an installed program updated by its agent from nginx, in a signed release
# (scripts/test.sh builds everything, the fuzz tree included.)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=${ZS_BUILD_ROOT:-$src/build}
mode=${1:-setup}

# What each mode builds, as build.sh <tree>:<target>,... arguments. Every mode
# packs with the native packer and runs under Wine with the x86_64 programs.
demo_tools="win64:stub,testengine,dbgview,launch native:packer"
case $mode in
  setup|web) targets=$demo_tools ;;
  update) targets="${demo_tools/launch/launch,proctool,testwindows,notifyclient,guidriver}" ;;
  *) echo "usage: demo.sh [setup|web|update]" >&2; exit 2 ;;
esac

"$src/scripts/install-deps.sh"

demo=$root/demo
rm -rf "$demo/out" && mkdir -p "$demo/out"
cleanup=('"$src/scripts/wine-prefix.sh" stop "$demo/wine" 1 >/dev/null')
trap 'for c in "${cleanup[@]}"; do eval "$c" || true; done' EXIT
# A new Wine prefix takes a while to make: it is made while the programs build.
"$src/scripts/wine-prefix.sh" start "$demo/wine" 1 >"$demo/out/wine-start.log" 2>&1 &
wine_pid=$!
built=1
# shellcheck disable=SC2086  # one argument per tree
"$src/scripts/build.sh" "$root" $targets || built=0
wait $wine_pid || { cat "$demo/out/wine-start.log" >&2; exit 1; }
[ $built = 1 ] || exit 1

export WINEPREFIX=$demo/wine/prefix0 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
WINE=/usr/lib/wine/wine64
bin=$root/win64/bin
packer=$root/native/bin/packer
winpath() { printf 'Z:%s' "$(realpath -m "$1" | sed 's|/|\\|g')"; }
report=$demo/out/engine-report.txt

# ---- steps the modes are made of ----

# The sample setup: $demo/out/DemoSetup.exe.
pack_demo_setup() {
  cat > "$demo/out/demo.manifest" <<MANIFEST
[package]
stub = $bin/stub.exe
output = $demo/out/DemoSetup.exe
token = DEMO-1
activity_bar = 1

[language English]
include = $src/demo/lang-english.txt

[language German]
include = $src/demo/lang-german.txt

[web]
base = http://127.0.0.1
file = DemoSetup.exe
token = DEMO-WEB-1

[file]
source = $bin/testengine.exe
name = Engine.exe
engine = /ZT_REPORT=$(winpath "$report") /ZT_EXIT=42

[file]
source = $src/demo/welcome.txt
name = Welcome.txt

[file]
source = $src/README.md
name = ReadMe.txt
compression = stored
MANIFEST
  echo "== packing the demo setup"
  "$packer" build "$demo/out/demo.manifest"
  "$packer" inspect "$demo/out/DemoSetup.exe" | sed -n '/^files/,$p'
}

# Serves $demo/www from nginx on a free port of 127.0.0.1; sets $port.
start_nginx() {
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  mkdir -p "$demo/www" "$demo/nginx"
  cat > "$demo/nginx/nginx.conf" <<NGINX
daemon on;
pid $demo/nginx/nginx.pid;
error_log $demo/nginx/error.log;
events {}
http {
  access_log $demo/nginx/access.log;
  client_body_temp_path $demo/nginx/tmp;
  server { listen 127.0.0.1:$port; root $demo/www; }
}
NGINX
  /usr/sbin/nginx -c "$demo/nginx/nginx.conf" -p "$demo/nginx"
  cleanup+=('/usr/sbin/nginx -c "$demo/nginx/nginx.conf" -p "$demo/nginx" -s stop 2>/dev/null')
}

# A web stub that downloads DemoSetup.exe from nginx: $demo/out/WebSetup.exe.
pack_web_stub() {
  echo "== serving DemoSetup.exe from nginx on 127.0.0.1 and packing a web stub"
  cp "$demo/out/DemoSetup.exe" "$demo/www/"
  cat > "$demo/out/web.manifest" <<MANIFEST
[package]
stub = $bin/stub.exe
output = $demo/out/WebSetup.exe
web_setup = 1
[web]
base = http://127.0.0.1:$port
file = DemoSetup.exe
always = 1
token = DEMO-WEB-1
size_of = $demo/out/DemoSetup.exe
[language English]
include = $src/demo/lang-english.txt
MANIFEST
  "$packer" build "$demo/out/web.manifest"
}

# Runs a setup file headless and reports what the stub and the engine did.
run_setup() {
  local setup=$1 out
  echo "== running $(basename "$setup") under Wine (headless; /hide: no questions)"
  rm -f "$report"
  "$WINE" "$bin/dbgview.exe" "/out=$(winpath "$demo/out/debug.txt")" "/ready=$(winpath "$demo/out/debug.ready")" &
  for _ in $(seq 100); do [ -f "$demo/out/debug.ready" ] && break; sleep 0.1; done
  out=$("$WINE" "$bin/launch.exe" "$(winpath "$setup") /hide") || true  # launch exits with the low byte of the code
  "$WINE" "$bin/dbgview.exe" /quit >/dev/null 2>&1 || true
  wait || true
  echo "== debug channel of the stub"
  sed 's/^/  /' "$demo/out/debug.txt"
  echo "== what the setup engine saw"
  if [ -f "$report" ]; then sed 's/^/  /' "$report"; else echo "  (the engine did not run)"; fi
  echo "== exit code of the setup: ${out#exit=}"
}

# ---- the modes ----
case $mode in
  setup)
    pack_demo_setup
    run_setup "$demo/out/DemoSetup.exe"
    ;;
  web)
    pack_demo_setup
    start_nginx
    pack_web_stub
    run_setup "$demo/out/WebSetup.exe"
    ;;
  update)
    # The tests' installed-product fixture, run once with its story printed.
    ZS_SOURCE_DIR=$src ZS_WIN64_BIN=$bin ZS_NATIVE_BIN=$root/native/bin ZS_WINE_WORK=$demo/wine \
      ZS_PREFIX_INDEX=0 python3 "$src/scripts/demo_update.py"
    ;;
esac
