#!/usr/bin/env bash
# Builds and runs the whole test suite: the default build, then under
# AddressSanitizer + UndefinedBehaviorSanitizer, then under ThreadSanitizer,
# then the Windows build under Wine with the end-to-end check of its zip;
# then makes the Debian packages and the Windows zips and checks the
# packages installed.
# Fails when a test fails. QL75N_TEST_PRESETS chooses other presets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build

presets=(${QL75N_TEST_PRESETS:-default asan tsan windows})
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  [ "$preset" != windows ] || scripts/deps.sh windows
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" --timeout 300
  # The Windows build's tool, from its zip, under Wine against the
  # simulated gateway.
  [ "$preset" != windows ] || scripts/check-windows.sh
done

# The Debian packages: made from the default build, checked with lintian,
# installed, used and purged (as root; skipped otherwise).
echo "=== packages ==="
windows=0
for preset in "${presets[@]}"; do [ "$preset" != windows ] || windows=1; done
QL75N_PACKAGE_WINDOWS=$windows scripts/package.sh
scripts/check-packages.sh
