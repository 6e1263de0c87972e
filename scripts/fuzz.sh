#!/usr/bin/env bash
# Fuzzes the level tool's receive path (receive buffer and reply parser)
# with libFuzzer for the given number of seconds (default 60):
#
#   scripts/fuzz.sh [seconds]
#
# Builds the target with clang (installed when missing) under
# AddressSanitizer and UndefinedBehaviorSanitizer in build/fuzz, runs it
# from the seeds and the saved corpus, then merges what the run found into
# tests/fuzz/corpus/receive-path, keeping only inputs that add coverage. A
# crash leaves its input in build/fuzz and makes the script fail. The test
# suite replays the seeds and the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if ! command -v clang++ >/dev/null; then
  as_root apt-get install -y clang
fi
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$probe/p.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" 2>/dev/null; then
  version=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p')
  as_root apt-get install -y "libclang-rt-${version}-dev"
fi

out=build/fuzz
seeds=tests/fuzz/seeds/receive-path
corpus=tests/fuzz/corpus/receive-path
mkdir -p "$out" "$corpus"
# Coverage guides through the code under test only; the target's own
# checking model is built without it.
flags=(-std=c++20 -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined -I.)
clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c app/GatewayProtocol.cpp -o "$out/GatewayProtocol.o"
clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c app/RxLineBuffer.cpp -o "$out/RxLineBuffer.o"
clang++ "${flags[@]}" -c tests/fuzz/ReceivePathFuzz.cpp -o "$out/ReceivePathFuzz.o"
clang++ "${flags[@]}" -fsanitize=fuzzer "$out/ReceivePathFuzz.o" "$out/GatewayProtocol.o" "$out/RxLineBuffer.o" \
  -o "$out/receive-path-fuzz"

found="$out/found"
rm -rf "$found"
mkdir -p "$found"
status=0
"$out/receive-path-fuzz" "$found" "$seeds" "$corpus" -max_total_time="$seconds" -max_len=8192 \
  -artifact_prefix="$out/" -print_final_stats=1 || status=$?

# Keep the corpus small: a near-minimal set of the old corpus and this
# run's inputs that covers what the seeds do not. The seeds go into the
# merge first, so only coverage beyond them counts, and are taken out after.
merged="$out/merged"
rm -rf "$merged"
mkdir -p "$merged"
cp "$seeds"/* "$merged"/
"$out/receive-path-fuzz" -set_cover_merge=1 -use_counters=0 "$merged" "$corpus" "$found" >/dev/null 2>&1
for seed in "$seeds"/*; do rm -f "$merged/$(basename "$seed")"; done
find "$corpus" -type f ! -name .keep -delete
cp "$merged"/* "$corpus"/ 2>/dev/null || true
echo "corpus: $(find "$corpus" -type f ! -name .keep | wc -l) inputs in $corpus"
exit "$status"
