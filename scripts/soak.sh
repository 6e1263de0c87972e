#!/usr/bin/env bash
# Builds and runs soak-bench: the level tool's window against the simulated
# gateway, 10 000 read-level exchanges on one open port, with the time from
# Open to the gains shown. Release build in build/bench; not part of the
# test suite. Options go to soak-bench (--exchanges N, --opens N).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build/bench"
scripts/deps.sh bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQL75N_BUILD_BENCH=ON -DQL75N_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target soak-bench -j2
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/soak/soak-bench" "$@"
