#!/usr/bin/env bash
# Installs the Debian packages the given purpose needs, when any is missing.
# Usage: scripts/deps.sh build|run|bench|package
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libudev-dev doxygen
                googletest libgtest-dev libgmock-dev)
run_packages=(xvfb xauth xdotool imagemagick openbox)
bench_packages=(qt6-serialport-dev valgrind strace socat)
package_packages=(dpkg-dev lintian)

packages=("${build_packages[@]}")
case "${1:-build}" in
  build) ;;
  run) packages+=("${run_packages[@]}") ;;
  bench) packages+=("${bench_packages[@]}") ;;
  package) packages+=("${package_packages[@]}") ;;
  *) echo "usage: $0 build|run|bench|package" >&2; exit 2 ;;
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
