#!/usr/bin/env bash
# Builds and runs comport-bench: the serial component against QSerialPort on
# one pseudo-terminal pair (round trip, the same through a socat relay, bulk
# receive, idle wake-ups), in a Release build in build/bench. Not part of the
# test suite.
#
# Usage: scripts/bench.sh [--quick] [--callgrind] [--syscalls] [--counts-only]
#                         [comport-bench options...]
#   --quick        shorter run: 2000 round trips, 16 MiB, 2 s idle
#   --callgrind    also count user-space instructions per round trip of each
#                  side under callgrind (a delta of two runs with different
#                  round-trip counts, the far end left out) and show where
#                  the component's round trip spends them
#   --syscalls     also count system calls per round trip of each side
#                  (strace, the far end left out)
#   --counts-only  skip the timed run (with --callgrind or --syscalls)
# Other options go to comport-bench (--help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build/bench"
exe="$build/bench/comport-bench"

callgrind=0 syscalls=0 timed=1
args=()
for arg in "$@"; do
  case "$arg" in
    --quick) args+=(--round-trips 2000 --bulk-mib 16 --idle-seconds 2) ;;
    --callgrind) callgrind=1 ;;
    --syscalls) syscalls=1 ;;
    --counts-only) timed=0 ;;
    *) args+=("$arg") ;;
  esac
done

scripts/deps.sh bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQL75N_BUILD_BENCH=ON -DQL75N_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target comport-bench -j2
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

if ((timed)); then
  "$exe" "${args[@]}"
fi

sides=(ours qt floor)
names=([0]=TComPort [1]=QSerialPort [2]="poll+read")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions of one side's measured round trips: callgrind zeroes its
# counts before them and dumps them after (all threads in one profile, the
# far end not collecting).
instructions() {  # run-name side count -> prints "total profile"
  local side=$2 count=$3 out="$work/cg.$1"
  valgrind --tool=callgrind --callgrind-out-file="$out" \
    "$exe" --count-only "$side" --round-trips "$count" --warm-up 100 >"$out.log" 2>&1 || {
    grep -v '^==' "$out.log" | tail -1 >&2
    return 1
  }
  echo "$(awk '/^summary:/ { print $2 }' "$out.1") $out.1"
}

if ((callgrind)); then
  # The count per round trip depends a little on how the far end's replies
  # meet the side's waits (the terminal hands bytes over asynchronously), so
  # each side runs five times: median, lowest and highest.
  runs=5 count=2000
  echo
  echo "user-space instructions per round trip (callgrind, $runs runs of $count round trips)"
  printf '  %-12s %10s %10s %10s\n' side median lowest highest
  for i in "${!sides[@]}"; do
    side=${sides[$i]} perRun=() prefix=
    for ((r = 1; r <= runs; r++)); do
      read -r total prefix < <(instructions "$side.$r" "$side" "$count") || break
      perRun+=("$total")
    done
    if ((${#perRun[@]} < runs)); then
      echo "  ${names[$i]}: not measured"
      continue
    fi
    printf '%s\n' "${perRun[@]}" | sort -n | awk -v name="${names[$i]}" -v n="$count" '
      { v[NR] = $1 / n } END { printf "  %-12s %10.0f %10.0f %10.0f\n", name, v[int((NR + 1) / 2)], v[1], v[NR] }'
    if [ "$side" = ours ]; then
      ourProfile=$prefix
    fi
  done
  if [ -n "${ourProfile:-}" ]; then
    echo
    echo "where TComPort's round trip spends them (last run, instructions per round trip, exclusive;"
    echo "frames still running when the counts were dumped show their inclusive cost: main is the"
    echo "user-interface thread, start_thread the port's event thread)"
    callgrind_annotate --inclusive=no --threshold=100 "$ourProfile" 2>/dev/null |
      awk -v n="$count" '/file:function/ { on = 1; getline; next }
        on && !NF { exit }
        on { sub(/^ +/, ""); c = $1; gsub(",", "", c); sub(/^[^ ]+ +\([^)]*\) +/, ""); sub(/\[.*\//, "[")
             printf "%8.0f  %s\n", c / n, $0; if (++k == 40) exit }' || true
    echo
    echo "the same, inclusive, for the component, its device and the class library:"
    callgrind_annotate --inclusive=yes --threshold=100 "$ourProfile" 2>/dev/null |
      awk -v n="$count" '/file:function/ { on = 1; getline; next }
        on && !NF { exit }
        on { sub(/^ +/, ""); c = $1; gsub(",", "", c); sub(/^[^ ]+ +\([^)]*\) +/, ""); sub(/ \[[^]]*\]$/, "")
             sub(/^[^:]*:/, ""); if ($0 ~ /^(TCustomComPort|TComThread|TThread|TApplication|platform::|\(anonymous namespace\)::Synchronized)/)
             printf "%8.0f  %s\n", c / n, substr($0, 1, 110) }' | head -30 || true
  fi
fi

# System calls of one side's measured round trips: strace of every thread,
# cut at the marks the bench leaves, the far end's thread left out.
if ((syscalls)); then
  echo
  echo "system calls per round trip (strace, 1000 round trips)"
  for i in "${!sides[@]}"; do
    side=${sides[$i]} out="$work/st.${sides[$i]}"
    if ! strace -f -qq -o "$out" "$exe" --count-only "$side" --round-trips 1000 --warm-up 100 >"$out.log" 2>&1; then
      echo "  ${names[$i]}: not measured ($(tail -1 "$out.log"))"
      continue
    fi
    far=$(awk '/^far-end thread id:/ { print $4 }' "$out.log")
    awk -v far="$far" -v name="${names[$i]}" '
      /"bench: begin"/ { on = 1; next }
      /"bench: end"/ { on = 0 }
      on && $1 != far && !/resumed>/ && !/^[0-9]+ (\+\+\+|---)/ { n++; split($2, call, "("); calls[call[1]]++ }
      END {
        line = ""
        for (c in calls) if (calls[c] >= 10) line = line sprintf(" %s %.2f", c, calls[c] / 1000)
        printf "  %-12s %6.2f  (%s )\n", name, n / 1000, line
      }' "$out"
  done
fi
