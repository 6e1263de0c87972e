#!/usr/bin/env bash
# Builds the level tool and starts it. With a display the tool simply runs.
# Without one it runs on a virtual display: the script waits for the window
# and its first prompt, saves a screenshot to build/screenshot.png, prints
# its path, stops the tool and exits 0 (non-zero when the window never
# appeared).
#
# QL75N_BUILD_DIR builds into another folder than the default preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

title="QL75N Gateway Audio Level Adjustment"
window_timeout=${QL75N_WINDOW_TIMEOUT:-60}
screenshot="$root/build/screenshot.png"

# Inside the virtual display: start, wait, capture, stop.
capture() {
  local exe=$1 status=0 first=""
  # A window manager draws the window's frame and caption.
  openbox >/dev/null 2>&1 &
  wm=$!
  "$exe" &
  pid=$!
  trap 'kill "$pid" "$wm" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
  # Wait for the window, or for the tool to end before it shows one.
  timeout "$window_timeout" xdotool search --sync --onlyvisible --name "^$title" >/dev/null &
  local finder=$!
  wait -n -p first "$finder" "$pid" || status=$?
  if [ "$first" = "$pid" ]; then
    kill "$finder" 2>/dev/null || true
    echo "error: the tool ended (exit code $status) before its window appeared" >&2
    return 1
  fi
  if [ "$status" -ne 0 ]; then
    echo "error: the tool's window did not appear within ${window_timeout} s" >&2
    return 1
  fi
  # The first-show prompt follows the window by about 100 ms; give it and
  # the window time to be drawn.
  timeout 10 xdotool search --sync --onlyvisible --name "^Note" >/dev/null ||
    echo "warning: the first-show prompt did not appear" >&2
  sleep 1
  mkdir -p "$(dirname "$screenshot")"
  import -window root "$screenshot"
  echo "$screenshot"
}

if [ "${1:-}" = "--capture" ]; then
  capture "$2"
  exit
fi

scripts/deps.sh run

build_dir=${QL75N_BUILD_DIR:-$root/build/default}
cmake --preset default -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target ql75n-levels
exe="$build_dir/app/ql75n-levels"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$exe"
fi

echo "No display: running under a virtual one and saving a screenshot."
exec xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24 -nolisten tcp" \
  "$root/scripts/run.sh" --capture "$exe"
