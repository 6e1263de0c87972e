#!/usr/bin/env bash
# Builds the Debian packages ql75n-levels and libcomport-dev into
# build/packages/ from the default preset's build (the API reference too,
# where doxygen is there to make it) and checks them with lintian, which
# must report no error. Then the Windows zips beside them, from the windows
# preset's build: ql75n-levels-1.02-win64.zip (the tool and the serial
# monitor, ready to run from the unpacked folder) and
# comport-1.02-win64-dev.zip (the component for developers on Windows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh package

build=$root/build/default
out=$root/build/packages
cmake --preset default >/dev/null
cmake --build --preset default
if cmake --build --preset default --target help | grep -q '^api-reference:'; then
  cmake --build --preset default --target api-reference
fi
rm -rf "$out"
mkdir -p "$out"
(cd "$out" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out/cpack" >/dev/null)
mv "$out"/cpack/*.deb "$out"/
rm -rf "$out/cpack"
lintian --fail-on error --suppress-tags-from-file "$root/packaging/lintian-accepted" "$out"/*.deb || {
  echo "error: lintian reports errors in the packages" >&2
  exit 1
}
ls "$out"/*.deb

# QL75N_PACKAGE_WINDOWS=0 leaves the Windows zips out.
[ "${QL75N_PACKAGE_WINDOWS:-1}" != 0 ] || exit 0
scripts/deps.sh windows
win_build=$root/build/windows
cmake --preset windows >/dev/null
# What the zips hold: the two programs and the component's libraries.
cmake --build --preset windows --target ql75n-levels line-monitor platform framework comport comsignal
for zip in tool development; do
  (cd "$out" && cpack -G ZIP -D QL75N_ZIP=$zip --config "$win_build/CPackConfig.cmake" -B "$out/cpack" >/dev/null)
done
mv "$out"/cpack/*.zip "$out"/
rm -rf "$out/cpack"
ls "$out"/*.zip
