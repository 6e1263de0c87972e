#!/usr/bin/env bash
# Builds and runs the whole test suite: the default build, then under
# AddressSanitizer + UndefinedBehaviorSanitizer, then under ThreadSanitizer;
# then makes the Debian packages and checks them installed.
# Fails when a test fails. QL75N_TEST_PRESETS chooses other presets.
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

# The Debian packages: made from the default build, checked with lintian,
# installed, used and purged (as root; skipped otherwise).
echo "=== packages ==="
scripts/package.sh
scripts/check-packages.sh
