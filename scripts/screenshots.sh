#!/usr/bin/env bash
# Renders the program's windows under Xvfb with Wine's X11 driver and saves
# PNG pictures of them.
#   screenshots.sh <out-dir>
# Environment: ZS_WIN64_BIN (folder of boxdemo.exe and guidriver.exe),
# ZS_SHOT_PREFIX (Wine prefix kept for pictures), ZS_SHOT_DISPLAY (":77"),
# ZS_SHOT_EXTRA (a bash file sourced before the shots run: it may define
# shot_<name> functions and append <name> to SHOTS).
# See docs/screenshots.md.
set -euo pipefail

out=${1:?usage: screenshots.sh <out-dir>}
root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute paths from here on: they go into manifests (read relative to their
# own folder) and into Wine, which runs elsewhere.
BIN=$(realpath -m "${ZS_WIN64_BIN:-$root/build/win64/bin}")
PREFIX=$(realpath -m "${ZS_SHOT_PREFIX:-$root/build/screenshots/prefix}")
NATIVE_BIN=$(realpath -m "${ZS_NATIVE_BIN:-$BIN/../../native/bin}")
[ -z "${ZS_SHOT_EXTRA:-}" ] || ZS_SHOT_EXTRA=$(realpath -m "$ZS_SHOT_EXTRA")
DISPLAY_NUM=${ZS_SHOT_DISPLAY:-}
if [ -z "$DISPLAY_NUM" ]; then  # first free display from :77 on
  n=77
  while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
  DISPLAY_NUM=:$n
fi
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
export WINEPREFIX=$PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" DISPLAY=$DISPLAY_NUM

for tool in Xvfb import; do
  command -v $tool >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
for exe in boxdemo.exe guidriver.exe; do
  [ -f "$BIN/$exe" ] || { echo "screenshots: $BIN/$exe is missing (build the win64 tools first)" >&2; exit 1; }
done

xvfb_pid=
cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  timeout 20 "$WINESERVER" -w >/dev/null 2>&1 || "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# ---- display ----
Xvfb "$DISPLAY_NUM" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sock=/tmp/.X11-unix/X${DISPLAY_NUM#:}
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || { echo "screenshots: Xvfb did not start on $DISPLAY_NUM" >&2; exit 1; }

# ---- prefix: the X11 driver, windows not managed by a window manager, so
# Wine draws the title bars itself ----
if [ ! -f "$PREFIX/.zs-shots" ]; then
  rm -rf "$PREFIX"
  mkdir -p "$(dirname "$PREFIX")"
  "$WINE" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER" -w
  cat > "$work/shots.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  "$WINE" regedit /S "$work/shots.reg" >/dev/null 2>&1
  "$WINESERVER" -w
  touch "$PREFIX/.zs-shots"
fi
# (no output handles for the server: a pipe reading this script's output
# would otherwise stay open as long as the server lives)
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
# Keep the prefix's desktop up for the whole run: programs that start while
# Wine starts or ends its desktop process can hang.
"$WINE" "$BIN/guidriver.exe" windows >/dev/null 2>&1 </dev/null || true
"$WINE" "$BIN/guidriver.exe" idle 1800000 >/dev/null 2>&1 </dev/null &

winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# ---- helpers for shots ----
# capture <name> <class> <command...>: starts the command, waits for its
# window of that class, saves <out>/<name>.png cut to the window (with a
# small margin) and closes the window.
capture() {
  local name=$1 cls=$2
  shift 2
  "$WINE" "$@" >/dev/null 2>&1 &
  local pid=$!
  local info
  if ! info=$("$WINE" "$BIN/guidriver.exe" --timeout=30000 dump "$cls" 2>&1); then
    echo "screenshots: no $cls window for $name: $info" >&2
    kill "$pid" 2>/dev/null || true
    return 1
  fi
  sleep 1  # let it paint
  local rect x y w h
  rect=$(echo "$info" | tr -d '\r' | sed -n 's/^rect=//p')
  IFS=, read -r x y w h <<<"$rect"
  x=$((x > 8 ? x - 8 : 0)); y=$((y > 8 ? y - 8 : 0)); w=$((w + 16)); h=$((h + 16))
  import -display "$DISPLAY_NUM" -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
  "$WINE" "$BIN/guidriver.exe" close "$cls" >/dev/null 2>&1 || true
  "$WINE" "$BIN/guidriver.exe" gone "$cls" 10000 >/dev/null 2>&1 || true
  wait "$pid" 2>/dev/null || true
  echo "saved $out/$name.png"
}

box() { capture "$1" ZMsgBox "$BIN/boxdemo.exe" "${@:2}"; }

# ---- the shots ----
shot_error() {
  box msgbox-error /kind=error /owner=0 \
    "/text=The setup file could not be read.<P>Please download it again and restart <B>Setup</B>."
}

shot_question() {
  box msgbox-question /owner=1 /style=0x23 "/title=Confirm" \
    "/text=<B>Limited Free Space on your Temp Drive! (C:)</B><P><P>Estimated space required on your Temp drive is: <T>  120 MB<P>Free space available on your Temp drive is: <T>  80 MB<P><P>Continue with Setup?"
}

shot_rtl() {
  # Hebrew text in code page 1255, shown with the Hebrew charset.
  printf '\xf9\xec\xe5\xed \xf2\xe5\xec\xed<P>\xe4\xfa\xf7\xf0\xe4 \xe4\xf1\xfa\xe9\xe9\xee\xe4 Setup 2.0' \
    > "$work/hebrew.txt"
  # Wine takes its ANSI code page from the Unix locale; build a private
  # Hebrew locale when the system has none, so no system file changes.
  local locpath=""
  if ! locale -a 2>/dev/null | grep -qi '^he_IL.utf-\?8$' && command -v localedef >/dev/null; then
    mkdir -p "$work/locale"
    localedef -i he_IL -f UTF-8 "$work/locale/he_IL.UTF-8" >/dev/null 2>&1 && locpath=$work/locale
  fi
  local file
  file=$(winpath "$work/hebrew.txt")
  # (bash itself complains that it cannot use the private locale; only Wine needs it)
  { LOCPATH=$locpath LANG=he_IL.UTF-8 LC_ALL=he_IL.UTF-8 box msgbox-rtl /owner=1 /style=0x40 /charset=177 \
      /fontcharset=177 /font=Tahoma "/title=Setup" "/textfile=$file"; } 2> >(grep -v setlocale >&2)
}

shot_wrap() {
  local words="" i
  for i in $(seq 60); do words+="word$i "; done
  box msgbox-wrap /owner=1 /style=0x40 "/title=Long text" "/text=$words"
}

# More shots (the main window with its status text and bars, say) are added
# here: define shot_<name> and put <name> into SHOTS, or do both in the file
# named by ZS_SHOT_EXTRA.
# The main window with its status line and bars: a two-volume setup whose
# second volume is missing stops at the disk prompt with the window shown.
shot_mainwindow() {
  local native=$NATIVE_BIN
  local d=$work/mainwindow
  rm -rf "$d" && mkdir -p "$d"
  head -c 3000000 /dev/urandom > "$d/data.bin"
  cat > "$d/m.ini" <<MANIFEST
[package]
stub = $BIN/stub.exe
output = $d/Setup.exe
volume_size = $(( $(stat -c %s "$BIN/stub.exe") + 1000000 ))
activity_bar = 1
[language English]
s0 = Zelkan Demo Setup
s1 = Extracting Files...
[file]
source = $BIN/testengine.exe
name = Engine.exe
engine =
[file]
source = $d/data.bin
compression = stored
MANIFEST
  "$native/packer" build "$d/m.ini" >/dev/null || return 1
  rm -f "$d/Setup.exe.003"
  "$WINE" "$d/Setup.exe" >/dev/null 2>&1 &
  local pid=$! cls info rect x y w h
  cls=$(winpath "$d/Setup.exe")
  "$WINE" "$BIN/guidriver.exe" --timeout=60000 wait ZMsgBox >/dev/null 2>&1 || { kill $pid; return 1; }
  # The prompt stands over the window: minimise it for the picture.
  "$WINE" "$BIN/guidriver.exe" send ZMsgBox 274 61472 0 >/dev/null 2>&1 || true
  sleep 1
  info=$("$WINE" "$BIN/guidriver.exe" --bare dump "$cls" 2>&1) || { kill $pid; return 1; }
  rect=$(echo "$info" | tr -d '\r' | sed -n 's/^rect=//p')
  IFS=, read -r x y w h <<<"$rect"
  x=$((x > 8 ? x - 8 : 0)); y=$((y > 8 ? y - 8 : 0)); w=$((w + 16)); h=$((h + 16))
  import -display "$DISPLAY_NUM" -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/mainwindow.png"
  "$WINE" "$BIN/guidriver.exe" press ZMsgBox Cancel >/dev/null 2>&1 || true
  wait "$pid" 2>/dev/null || true
  echo "saved $out/mainwindow.png"
}

# The inform window of the update agent, with the button of its link and
# without a link.
inform_body() {
  printf '%s\r\n' "Zelkan Demo 2.0 is available." "" \
    "What is new in this version:" \
    "  - Faster start-up and smaller downloads" \
    "  - Files can be dropped on the main window" \
    "  - Many small fixes" "" \
    "Your version keeps working; update whenever it suits you." > "$work/inform.txt"
  winpath "$work/inform.txt"
}

shot_inform() {
  capture inform-button ZRichEditBox "$BIN/boxdemo.exe" /kind=inform "/title=New Version" /button=Download \
    /link=https://www.example.com/download /size=8 /font=Tahoma "/textfile=$(inform_body)"
}

shot_inform_nolink() {
  capture inform-nolink ZRichEditBox "$BIN/boxdemo.exe" /kind=inform "/title=New Version" /width=420 /height=260 \
    /font=Tahoma "/textfile=$(inform_body)"
}

SHOTS=(error question rtl wrap mainwindow inform inform_nolink)
if [ -n "${ZS_SHOT_EXTRA:-}" ]; then
  # shellcheck source=/dev/null
  . "$ZS_SHOT_EXTRA"
fi

status=0
for s in "${SHOTS[@]}"; do
  "shot_$s" || status=1
done
exit $status
