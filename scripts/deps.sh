#!/usr/bin/env bash
# Installs the Debian packages the given purpose needs, when any is missing.
# Usage: scripts/deps.sh build|run|bench|package|windows
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libudev-dev doxygen
                googletest libgtest-dev libgmock-dev)
run_packages=(xvfb xauth xdotool imagemagick openbox)
bench_packages=(qt6-serialport-dev valgrind strace socat)
package_packages=(dpkg-dev lintian)
# The Windows build (mingw-w64, POSIX threads) and its runs under Wine, with
# the pseudo-terminal bridge, on a virtual display for the end-to-end check.
windows_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 python3 xz-utils
                  zip unzip xvfb xauth xdotool imagemagick)

packages=("${build_packages[@]}")
case "${1:-build}" in
  build) ;;
  run) packages+=("${run_packages[@]}") ;;
  bench) packages+=("${bench_packages[@]}") ;;
  package) packages+=("${package_packages[@]}") ;;
  windows) packages+=("${windows_packages[@]}") ;;
  *) echo "usage: $0 build|run|bench|package|windows" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
