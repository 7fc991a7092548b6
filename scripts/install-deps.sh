#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: apt-get install skips what is already there.
set -euo pipefail
PKGS=(
  cmake ninja-build g++ make pkg-config python3
  zlib1g-dev libgtest-dev libssl-dev
  mingw-w64 libz-mingw-w64-dev
  wine64 xvfb xauth imagemagick
  clang libclang-rt-14-dev
  nginx-light curl unzip zip osslsigncode openssl
)
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# nginx is started by the tests on private ports only; keep the system one off.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now nginx >/dev/null 2>&1 || true; fi
