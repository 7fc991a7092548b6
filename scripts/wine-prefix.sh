#!/usr/bin/env bash
# Starts or stops the private Wine prefixes used by the tests.
#   wine-prefix.sh start <work-dir> [count]   makes <work-dir>/prefix<N> (N = 0..count-1)
#   wine-prefix.sh stop  <work-dir> [count]
# With ZS_DESKTOP_KEEPER set to a Windows program that idles with a window
# (guidriver.exe), one copy runs per prefix: Wine's desktop process then
# never stops and restarts between tests, which can stall a program that
# starts at that moment.
# Headless: Wine's null graphics driver; each prefix keeps its wineserver
# alive for the whole run (wineserver -p) so that later starts are quick.
set -euo pipefail
cmd=${1:?start|stop}
work=$(realpath -m "${2:?work dir}")
count=${3:-2}
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$work"

make_prefix() {
  local p=$1
  if [ ! -f "$p/.zs-ready" ]; then
    rm -rf "$p"
    WINEPREFIX=$p "$WINE" wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX=$p "$WINESERVER" -w
    cat > "$p/zs.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Control Panel\Desktop]
"ForegroundLockTimeout"=dword:00000000
REG
    WINEPREFIX=$p "$WINE" regedit /S "$p/zs.reg" >/dev/null 2>&1
    WINEPREFIX=$p "$WINESERVER" -w
    [ -d "$p/drive_c/windows" ] || { echo "wine-prefix: could not create $p" >&2; exit 1; }
    touch "$p/.zs-ready"
  fi
}

case $cmd in
  start)
    make_prefix "$work/prefix0"
    for ((i = 1; i < count; i++)); do
      if [ ! -f "$work/prefix$i/.zs-ready" ]; then
        rm -rf "$work/prefix$i"
        cp -a "$work/prefix0" "$work/prefix$i"
      fi
    done
    for ((i = 0; i < count; i++)); do
      # A server left from an earlier run (a test script run by hand) would
      # refuse the persistent start and keep that run's programs: end it first.
      WINEPREFIX=$work/prefix$i "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
      WINEPREFIX=$work/prefix$i "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
      WINEPREFIX=$work/prefix$i "$WINESERVER" -p </dev/null >/dev/null 2>&1
      # First program start in a prefix is slow; pay it here, once.
      WINEPREFIX=$work/prefix$i timeout 120 "$WINE" cmd /c exit 0 >/dev/null 2>&1 || true
      if [ -n "${ZS_DESKTOP_KEEPER:-}" ]; then
        (WINEPREFIX=$work/prefix$i nohup "$WINE" "$ZS_DESKTOP_KEEPER" idle 14400000 </dev/null >/dev/null 2>&1 &)
      fi
    done
    echo "wine prefixes ready in $work"
    ;;
  stop)
    for ((i = 0; i < count; i++)); do
      [ -d "$work/prefix$i" ] && WINEPREFIX=$work/prefix$i "$WINESERVER" -k 2>/dev/null || true
    done
    echo "wine prefixes stopped"
    ;;
  *) echo "usage: $0 start|stop <work-dir> [count]" >&2; exit 2 ;;
esac
