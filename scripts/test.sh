#!/usr/bin/env bash
# Builds and runs the whole test suite: the default build, then under
# AddressSanitizer + UndefinedBehaviorSanitizer, then under ThreadSanitizer.
# Fails when a test fails. The ThreadSanitizer run leaves out the window
# tests that start the simulated gateway as a child process: once Qt has
# started a process, the race checker no longer sees the locks the
# user-interface thread takes, and reports accesses made under them as
# races. QL75N_TEST_PRESETS chooses other presets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build

presets=(${QL75N_TEST_PRESETS:-default asan tsan})
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" --timeout 300
done
