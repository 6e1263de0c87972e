#!/usr/bin/env bash
# Builds the level tool and the simulated gateway and starts both, so the
# whole job can be seen without hardware.
#
# As root the simulator publishes its terminal as /dev/ttyGW<n>, which the
# tool lists as "ttyGW<n>  -  Virtual Serial Port" (a real adapter is still
# listed, and preselected when it is USB). Without root no link can be made
# in /dev, the tool cannot list the simulator, and the tool runs alone.
#
# With a display the tool simply runs beside the simulator: pick the virtual
# port, press Open, see the simulator's gains, change one and Write. The
# simulator stops when the tool ends.
#
# Without one everything runs on a virtual display and the script does that
# same flow itself with X events. The simulator starts after the window, so
# the window must take its port into the list when it appears. The script
# dismisses the first prompt, selects the virtual port, presses Open, waits
# for the gains, saves build/screenshot-gains.png, raises the transmit gain
# by one step, presses Write, saves build/screenshot-note.png of the note
# and checks that the simulator received the written gains. Then it stops
# the simulator, whose link goes as an unplugged adapter's node would, and
# saves build/screenshot-unplugged.png of the window that released the
# port. It exits 0 only when all of that happened. Without root it only
# saves build/screenshot.png of the window and its first prompt, as the
# tool alone can show no more.
#
# QL75N_BUILD_DIR builds into another folder than the default preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

title="QL75N Gateway Audio Level Adjustment"
window_timeout=${QL75N_WINDOW_TIMEOUT:-60}
screenshot="$root/build/screenshot.png"
gains_shot="$root/build/screenshot-gains.png"
note_shot="$root/build/screenshot-note.png"
unplugged_shot="$root/build/screenshot-unplugged.png"
sim_log="$root/build/gateway-sim.log"

# The simulator's gains, and the write that one transmit step up must send.
sim_gains="-3,6,0"
expected_write="AT+KVWCMD1=61,-3,9,0"

# Client coordinates of the controls the flow uses, from the window design
# (app/resources/Mainform.ui): the first line of ComPortListBox (160,216),
# the middle of OpenComPortButton (488,216 113x33) and of WriteButton
# (120,520 177x41), and the upper half of GWTransmitOutputGainUpDown
# (64,64 17x21 inside GroupBox1 at 72,336).
list_first_line=(170 224)
open_button=(544 232)
write_button=(208 540)
transmit_up_arrow=(144 405)

fail() {
  echo "error: $*" >&2
  exit 1
}

sim_pid=""
sim_link=""

# Starts the simulator (as root only) and waits for its READY line; sets
# sim_pid and sim_link. Returns 1 when the virtual port is unavailable.
start_sim() {
  local sim=$1
  if [ "$(id -u)" -ne 0 ]; then
    echo "The virtual port is unavailable: only root can publish it in /dev, where the tool" \
      "looks for ports. Running the tool alone." >&2
    return 1
  fi
  mkdir -p "$(dirname "$sim_log")"
  "$sim" --gains "$sim_gains" >"$sim_log" &
  sim_pid=$!
  wait_for_line READY 10 || fail "the simulated gateway did not start (see $sim_log)"
  sim_link=$(sed -n 's/^LINK //p' "$sim_log")
  [ -n "$sim_link" ] || fail "the simulated gateway published no link (see $sim_log)"
}

stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# Waits up to $2 seconds for a line of the simulator's log that starts
# with $1; gives up at once when the simulator ended.
wait_for_line() {
  local prefix=$1 deadline=$((SECONDS + $2))
  until awk -v p="$prefix" 'index($0, p) == 1 { found = 1; exit } END { exit !found }' \
    "$sim_log" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    if [ -n "$sim_pid" ] && ! kill -0 "$sim_pid" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
}

# Waits up to $2 seconds until a visible window whose name starts with $1
# exists (or, with $3 = gone, until none does); prints its id.
wait_for_window() {
  local name=$1 deadline=$((SECONDS + $2)) want=${3:-shown} ids
  for (( ; ; )); do
    ids=$(xdotool search --onlyvisible --name "^$name" 2>/dev/null || true)
    if [ "$want" = shown ] && [ -n "$ids" ]; then
      echo "$ids" | tail -n 1
      return 0
    fi
    [ "$want" = gone ] && [ -z "$ids" ] && return 0
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# Clicks at client coordinates of window $1.
click_at() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

shoot() {
  mkdir -p "$(dirname "$1")"
  import -window root "$1"
  echo "$1"
}

# The flow a user follows with the simulator, done with X events.
drive_flow() {
  local window=$1 port note
  port=$(basename "$sim_link")

  # The first-show prompt: answer it with Return.
  note=$(wait_for_window Note 10) || fail "the first-show prompt did not appear"
  xdotool windowactivate --sync "$note" key Return
  wait_for_window Note 5 gone || fail "the first-show prompt did not close on Return"

  # Select the virtual port: a click gives the list the focus, typing the
  # start of the line selects it wherever it is in the list.
  xdotool windowactivate --sync "$window"
  click_at "$window" "${list_first_line[@]}"
  xdotool type --delay 50 "$port"
  click_at "$window" "${open_button[@]}"

  wait_for_line "RX AT+KVWCMD1=1" 10 ||
    fail "the tool sent no identify command: $port was not selected or did not open"
  wait_for_line "TX +KVWSTS1=41," 10 || fail "the tool did not read the gains (see $sim_log)"
  sleep 0.5  # let the window draw the gains
  shoot "$gains_shot"

  click_at "$window" "${transmit_up_arrow[@]}"
  click_at "$window" "${write_button[@]}"
  wait_for_line "RX AT+KVWCMD1=61," 10 || fail "the tool sent no write command"
  grep -q -F -x "RX $expected_write" "$sim_log" ||
    fail "the simulator received $(grep '^RX AT+KVWCMD1=61,' "$sim_log" | head -n 1), expected RX $expected_write"
  note=$(wait_for_window Note 5) || fail "the note \"Write successfully.\" did not appear"
  shoot "$note_shot"
  wait_for_window Note 5 gone || fail "the note did not close itself"
  echo "The tool read the gains $sim_gains from $port and wrote ${expected_write#AT+KVWCMD1=61,}."
}

# Unplugging the open port: the simulator ends and removes its link; the
# window releases the port and lists the ports without it.
unplug() {
  local window=$1
  stop_sim
  sleep 1  # let the window take the notice and redraw
  kill -0 "$pid" 2>/dev/null || fail "the tool ended when its port went away"
  shoot "$unplugged_shot"
  echo "The virtual port went away while open: see $unplugged_shot."
}

# Inside the virtual display: start, wait, capture (and drive), stop.
capture() {
  local exe=$1 sim=$2 status=0 first="" window with_sim=0
  pid="" wm=""
  trap 'kill $pid $wm 2>/dev/null || true; wait $pid 2>/dev/null || true; stop_sim' EXIT
  # A window manager draws the window's frame and caption.
  openbox >/dev/null 2>&1 &
  wm=$!
  "$exe" &
  pid=$!
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
  window=$(xdotool search --onlyvisible --name "^$title" | tail -n 1)
  # The first-show prompt follows the window by about 100 ms; give it and
  # the window time to be drawn.
  timeout 10 xdotool search --sync --onlyvisible --name "^Note" >/dev/null ||
    echo "warning: the first-show prompt did not appear" >&2
  sleep 1
  shoot "$screenshot"
  # The simulator starts once the window is up, as a plugged-in adapter
  # would: the window adds its port to the list by itself.
  start_sim "$sim" && with_sim=1
  if [ "$with_sim" -eq 1 ]; then
    drive_flow "$window"
    unplug "$window"
  fi
}

if [ "${1:-}" = "--capture" ]; then
  capture "$2" "$3"
  exit
fi

scripts/deps.sh run

build_dir=${QL75N_BUILD_DIR:-$root/build/default}
cmake --preset default -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target ql75n-levels gateway-sim
exe="$build_dir/app/ql75n-levels"
sim="$build_dir/tools/gateway-sim/gateway-sim"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  start_sim "$sim" || exec "$exe"
  echo "Simulated gateway on $sim_link (log: $sim_log): select" \
    "\"$(basename "$sim_link")  -  Virtual Serial Port\" and press Open."
  trap stop_sim EXIT
  "$exe"
  exit
fi

echo "No display: running under a virtual one and saving screenshots."
exec xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24 -nolisten tcp" \
  "$root/scripts/run.sh" --capture "$exe" "$sim"
