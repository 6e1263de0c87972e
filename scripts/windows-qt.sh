#!/usr/bin/env bash
# Provides Qt 6.4.2 for Windows (x86-64, mingw-w64) and prints the folder it
# is in (the "qt6-mingw64" prefix the Windows toolchain file uses).
#
# The Qt is kept in a cache outside the tree, ${QL75N_CACHE:-~/.cache/ql75n}.
# When it is not there yet it is unpacked from the prebuilt archive, taken
# from QL75N_QT_ARCHIVE or from ../shared/toolchains beside the clone and
# checked against its .sha256; without an archive it is built once from
# Debian's own qt6-base source package with Debian's mingw-w64 compiler
# (about 25 minutes on two cores). Never inside the tree, never committed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${QL75N_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ql75n}
name=qt-6.4.2-mingw-w64-x86_64
prefix=$cache/$name/qt6-mingw64

if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  echo "$prefix"; exit 0
fi
mkdir -p "$cache"
exec 9>"$cache/$name.lock"
flock 9
if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  echo "$prefix"; exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
apt_install() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >&2
}

archive=${QL75N_QT_ARCHIVE:-$root/../shared/toolchains/$name.tar.xz}
rm -rf "$cache/$name.tmp"; mkdir -p "$cache/$name.tmp"
if [ -f "$archive" ]; then
  if [ -f "$archive.sha256" ]; then
    (cd "$(dirname "$archive")" && sha256sum --quiet -c "$(basename "$archive").sha256") >&2
  fi
  echo "Unpacking $archive into $cache" >&2
  apt_install xz-utils
  tar xJf "$archive" -C "$cache/$name.tmp"
else
  echo "No prebuilt Windows Qt: building it from Debian's qt6-base source (about 25 minutes)" >&2
  apt_install g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools \
    cmake ninja-build xz-utils dpkg-dev
  if ! grep -rqs '^deb-src\|^Types:.*deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    for f in /etc/apt/sources.list.d/*.sources; do
      grep -q '^Types: deb$' "$f" || continue
      sed 's/^Types: deb$/Types: deb-src/' "$f" | "${sudo_cmd[@]}" tee "/etc/apt/sources.list.d/src-$(basename "$f")" >/dev/null
    done
    if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/src-main.list >/dev/null
    fi
    "${sudo_cmd[@]}" apt-get update -qq >&2
  fi
  work=$cache/$name.src
  rm -rf "$work"; mkdir -p "$work"
  (cd "$work" && apt-get source --download-only qt6-base=6.4.2+dfsg-10 >&2 &&
     tar xJf qt6-base_6.4.2+dfsg.orig.tar.xz)
  # The tablet events need a header the Debian source leaves out; with
  # OpenGL off, the Windows plugin of 6.4 builds only without dynamic GL.
  cmake -G Ninja -S "$work/qtbase-everywhere-src-6.4.2" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64-compiler.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$cache/$name.tmp/qt6-mingw64" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON -DFEATURE_jpeg=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF >&2
  ninja -C "$work/build" >&2
  cmake --install "$work/build" >/dev/null
  find "$cache/$name.tmp/qt6-mingw64" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
  rm -rf "$work"
fi
rm -rf "$cache/$name"
mv "$cache/$name.tmp" "$cache/$name"
echo "$prefix"
