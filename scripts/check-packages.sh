#!/usr/bin/env bash
# Installs the packages scripts/package.sh made (build/packages/) on this
# machine with apt, as a user would, and uses them: the installed tool,
# started from /usr/bin under a virtual display, reads the simulated
# gateway's gains (and writes them, as scripts/run.sh drives it), and a
# consumer project finds the installed component with find_package and no
# prefix. Then it purges both packages and what apt brought in for them, and
# checks that none of their files and no package is left: the machine is
# as it was. Needs root; a machine that has either package installed
# already is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
packages=(ql75n-levels libcomport-dev)
debs=("$root"/build/packages/*.deb)
work=$root/build/package-check

if [ "$(id -u)" -ne 0 ]; then
  echo "check-packages: skipped (installing packages needs root)"
  exit 0
fi
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    echo "check-packages: skipped ($p is installed on this machine already)"
    exit 0
  fi
done
[ -e "${debs[0]}" ] || { echo "error: no packages in build/packages (run scripts/package.sh)" >&2; exit 1; }
scripts/deps.sh run

installed_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 ~ /^.i/ { print $2 }' | sort; }
before=$(installed_packages)
export DEBIAN_FRONTEND=noninteractive

cleanup() {
  apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
  local brought
  brought=$(comm -13 <(echo "$before") <(installed_packages))
  [ -z "$brought" ] || apt-get purge -y -qq $brought >/dev/null 2>&1 || true
}
trap cleanup EXIT

apt-get install -y -qq "${debs[@]}" >/dev/null
files=$(dpkg -L "${packages[@]}" | while read -r f; do [ -d "$f" ] || echo "$f"; done)

# What each package must put in place.
for f in /usr/bin/ql75n-levels /usr/share/applications/ql75n-levels.desktop /usr/bin/comport-monitor \
  /usr/lib/cmake/ComPort/ComPortConfig.cmake /usr/include/comport/comport/Comport.h; do
  [ -e "$f" ] || { echo "error: $f is not installed" >&2; exit 1; }
done
if [ -e "$root/build/default/docs/api/html/index.html" ] && [ ! -e /usr/share/doc/libcomport-dev/html/index.html ]; then
  echo "error: the API reference is not installed" >&2
  exit 1
fi

# The installed tool against the simulator, headless.
cmake --build --preset default --target gateway-sim >/dev/null
xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24 -nolisten tcp" \
  scripts/run.sh --capture /usr/bin/ql75n-levels "$root/build/default/tools/gateway-sim/gateway-sim"

# The installed component, found without a prefix.
rm -rf "$work"
cmake -S tests/install/consumer -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work" >/dev/null
"$work/comport_consumer" >/dev/null
echo "check-packages: a consumer built against the installed component and ran"

trap - EXIT
cleanup
left=$(while read -r f; do [ -e "$f" ] && echo "$f"; done <<<"$files" || true)
[ -z "$left" ] || { echo "error: purging left files behind:" >&2; echo "$left" >&2; exit 1; }
[ "$(installed_packages)" = "$before" ] || {
  echo "error: the installed packages differ from before:" >&2
  diff <(echo "$before") <(installed_packages) >&2 || true
  exit 1
}
echo "check-packages: installed, used and purged both packages; nothing is left"
