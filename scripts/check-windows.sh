#!/usr/bin/env bash
# End-to-end check of the Windows zip: the level tool, unpacked from
# ql75n-levels-1.02-win64.zip, against the simulated gateway, under Wine on
# a virtual display.
#
#   scripts/check-windows.sh [ZIP]
#
# ZIP defaults to a zip made now by CPack from build/windows (configured by
# the windows preset; the two programs are brought up to date first).
#
# 1. The zip holds one folder with both programs, and every library that a
#    program or plugin in it imports is in the folder or is the system's.
# 2. gateway-sim (from build/default) plays the gateway on a pseudo-terminal
#    of its own. In a Wine prefix of this check's own (build/windows/
#    e2e-wine-prefix) the terminal becomes COM5 (the Wine port map), and COM5
#    is registered as a "USB Serial Port" of the Ports device class, which
#    is how the tool finds ports on Windows. Before the tool starts the
#    prefix is checked to have no other device of that class, so whatever
#    line the tool lists and preselects leads to that terminal.
# 3. On a virtual X display (:71, or the next free number) the unpacked
#    tool runs through scripts/wine-run.sh. With X events the check answers
#    the first prompt, sees one line in the list and that line selected
#    (e2e-start.png, e2e-ports.png), presses Open, waits until the simulator
#    sent the gains -3, 6, 0 and the window shows new gains (e2e-gains.png),
#    raises the transmit gain by one step, presses Write, sees the note
#    (e2e-note.png) and checks that the simulator received
#    AT+KVWCMD1=61,-3,9,0; then presses Exit and expects the tool to end
#    with code 0.
#
# Screenshots go to build/windows/e2e-*.png, the simulator's log to
# build/windows/e2e-gateway-sim.log. It exits 0 only when all of that
# happened; the display, the simulator and the prefix's Wine processes are
# ended on every path.
set -euo pipefail
zip=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS

win_build=$root/build/windows
sim=$root/build/default/tools/gateway-sim/gateway-sim
prefix=$win_build/e2e-wine-prefix
sim_log=$win_build/e2e-gateway-sim.log
tool_log=$win_build/e2e-tool.log
shots=$win_build
com_name=COM5
title="QL75N Gateway Audio Level Adjustment"
ports_class="{4D36E978-E325-11CE-BFC1-08002BE10318}"
wineserver=/usr/lib/wine/wineserver

# The simulator's gains, and the write that one transmit step up must send.
sim_gains="-3,6,0"
expected_write="AT+KVWCMD1=61,-3,9,0"

# Client coordinates in the main window, from the window design
# (app/resources/Mainform.ui); without a window manager a window's X
# geometry is its client area. The first two lines of ComPortListBox
# (160,216 297x97), the middle of OpenComPortButton (488,216 113x33), of
# WriteButton (120,520 177x41) and of ExitButton (360,520 177x41), the
# upper half of GWTransmitOutputGainUpDown (64,64 17x21 in GroupBox1 at
# 72,336) and the three gain texts (24,32 41x85 in GroupBox1).
list_line1=(164 219 280 12)
list_line2=(164 236 280 12)
list_empty=(164 280 280 12)
gain_texts=(96 368 41 85)
open_button=(544 232)
write_button=(208 540)
exit_button=(448 540)
transmit_up_arrow=(144 405)

fail() {
  echo "check-windows: error: $*" >&2
  # What the display showed when it went wrong.
  if [ -n "${xvfb:-}" ] && import -window root "$shots/e2e-failure.png" 2>/dev/null; then
    echo "check-windows: screenshot $shots/e2e-failure.png" >&2
  fi
  exit 1
}
step() {
  echo "check-windows: $* ($((SECONDS - started)) s)"
}

# Waits up to $1 seconds until the command in the remaining arguments succeeds.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# --- what is cleaned up on every path ---------------------------------------
work="" xvfb="" sim_pid="" tool_pid=""  # set as each is made
cleanup() {
  set +e
  if [ -n "$tool_pid" ] || [ -d "$prefix" ]; then
    # Ends every Wine process of the prefix (the tool, its services); the
    # runner then ends and takes its terminal bridge with it.
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null
  fi
  if [ -n "$tool_pid" ]; then
    wait_until 10 eval '! kill -0 "$tool_pid" 2>/dev/null' || kill -KILL "$tool_pid" 2>/dev/null
    wait "$tool_pid" 2>/dev/null
  fi
  [ -n "$sim_pid" ] && { kill -TERM "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
  [ -n "$xvfb" ] && { kill -TERM "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
  # No COM name of the prefix outlives the terminal it leads to (Wine also
  # maps the masked /dev/ttyS* to names of its own).
  rm -f "$prefix"/dosdevices/com* 2>/dev/null
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

scripts/deps.sh windows >/dev/null
for program in /usr/lib/wine/wine64 "$wineserver" x86_64-w64-mingw32-objdump; do
  command -v "$program" >/dev/null || fail "$program is missing (the Windows build's packages)"
done
[ -x "$sim" ] || { cmake --preset default >/dev/null && cmake --build --preset default --target gateway-sim; }

work=$(mktemp -d /tmp/ql75n-e2e.XXXXXX)
mkdir -p "$shots"
rm -f "$shots"/e2e-*.png

# --- the zip -----------------------------------------------------------------
if [ -z "$zip" ]; then
  [ -f "$win_build/CPackConfig.cmake" ] || fail "build/windows is not configured (cmake --preset windows)"
  cmake --build "$win_build" --target ql75n-levels line-monitor >/dev/null ||
    fail "the Windows build of the tool and the monitor failed"
  (cd "$work" && cpack -G ZIP --config "$win_build/CPackConfig.cmake" -B "$work/cpack" >/dev/null) ||
    fail "CPack could not make the tool's zip from build/windows"
  zip=$work/cpack/ql75n-levels-1.02-win64.zip
fi
[ -f "$zip" ] || fail "no zip at $zip"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder=$work/unpacked/ql75n-levels-1.02-win64
[ "$(ls "$work/unpacked")" = "ql75n-levels-1.02-win64" ] || fail "the zip does not hold exactly one folder ql75n-levels-1.02-win64"
for file in ql75n-levels.exe comport-monitor.exe platforms/qwindows.dll; do
  [ -f "$folder/$file" ] || fail "the zip has no $file"
done
# Nothing but the programs, the libraries and plugins they load and the
# two texts (no tests, headers or static and import libraries).
unexpected=$(cd "$folder" && find . -type f | sed 's|^\./||' |
  grep -v -E '^(ql75n-levels\.exe|comport-monitor\.exe|[^/]+\.dll|platforms/qwindows\.dll|styles/qwindowsvistastyle\.dll|README\.txt|copyright\.txt)$' || true)
[ -z "$unexpected" ] || fail "the zip holds files it should not: $unexpected"

# Every import of every program and library in the folder is in the folder
# or is a library of the system (what Wine's own Windows libraries are).
system_dlls=$(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ | tr 'A-Z' 'a-z')
shipped=$(find "$folder" -iname '*.dll' -printf '%f\n' | tr 'A-Z' 'a-z')
while IFS= read -r -d '' binary; do
  for import in $(x86_64-w64-mingw32-objdump -p "$binary" | awk '/DLL Name:/ { print tolower($3) }'); do
    grep -qx -F "$import" <<<"$shipped" && continue
    grep -qx -F "$import" <<<"$system_dlls" && continue
    case "$import" in api-ms-win-*) continue ;; esac
    fail "${binary#"$folder"/} needs $import, which is neither in the zip nor the system's"
  done
done < <(find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -print0)
step "the zip holds the programs and every library they load"

# --- the display ---------------------------------------------------------------
display=""
for n in $(seq 71 99); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  xdpyinfo -display ":$n" >/dev/null 2>&1 && continue
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  if wait_until 20 eval 'xdpyinfo -display ":$n" >/dev/null 2>&1 || ! kill -0 "$xvfb" 2>/dev/null' &&
    kill -0 "$xvfb" 2>/dev/null; then
    display=:$n
    break
  fi
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
done
[ -n "$display" ] || fail "no free X display from :71 to :99 could be started"
export DISPLAY=$display
step "virtual display $display"

# --- the gateway on a pseudo-terminal, mapped to COM5 ----------------------------
"$sim" --no-link --gains "$sim_gains" >"$sim_log" 2>&1 &
sim_pid=$!
has_line() { grep -q -F -x -- "$1" "$sim_log"; }
starts_line() { grep -q -F -- "$1" "$sim_log"; }
wait_until 10 eval 'grep -q "^READY" "$sim_log" 2>/dev/null || ! kill -0 "$sim_pid" 2>/dev/null'
grep -q "^READY" "$sim_log" 2>/dev/null || fail "the simulated gateway did not start (see $sim_log)"
pty=$(sed -n 's/^PTY //p' "$sim_log")
case "$pty" in /dev/pts/[0-9]*) ;; *) fail "the simulated gateway gave no pseudo-terminal: '$pty'" ;; esac

# The prefix's registry: COM5 leads to the terminal (Wine's port map; Wine
# then lists it in SERIALCOMM too), and the one device of the Ports class is
# a USB serial adapter whose port is COM5. What earlier runs left is
# replaced first. A program that crashes leaves its backtrace in the tool's
# log and ends, instead of waiting behind Wine's crash dialog.
winpath() { echo "Z:${1//\//\\}"; }
cat >"$work/ports.reg" <<EOF
REGEDIT4

[-HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"$com_name"="$pty"

[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS]

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS\\0000]
"ClassGUID"="$ports_class"
"Class"="Ports"
"DeviceDesc"="USB Serial Port"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS\\0000\\Device Parameters]
"PortName"="$com_name"

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000
EOF
mkdir -p "$prefix"
rm -f "$prefix"/dosdevices/com* 2>/dev/null || true
scripts/wine-run.sh --prefix "$prefix" regedit /S "$(winpath "$work/ports.reg")" >"$work/regedit.log" 2>&1 ||
  fail "regedit could not write the prefix's registry: $(cat "$work/regedit.log")"
# Wine reads its port map when its server starts: end the server the
# registry was written with.
WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
wait_until 30 eval '! WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null' || true
ln -sfn "$pty" "$prefix/dosdevices/${com_name,,}"

# Every device of the Ports class in the prefix: only ours.
scripts/wine-run.sh --prefix "$prefix" reg query 'HKLM\SYSTEM\CurrentControlSet\Enum' /s \
  >"$work/enum.txt" 2>&1 || fail "reg could not list the prefix's devices: $(cat "$work/enum.txt")"
device=$(tr -d '\r' <"$work/enum.txt" | awk -v class="$ports_class" '
  /^HKEY_/ { key = $0 }
  $1 == "ClassGUID" && toupper($3) == class { print key }')
[ "$device" = 'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ROOT\PORTS\0000' ] ||
  fail "the prefix's devices of the Ports class are not just $com_name's: ${device:-none}"
step "$com_name leads to $pty and is the prefix's one USB serial port"

# --- the tool -------------------------------------------------------------------------
shoot() {
  import -window root "$shots/$1"
  echo "check-windows: screenshot $shots/$1"
}
# How many pixels of two pictures of one size differ by more than $1.
pixels_differing() {
  local count
  count=$(compare -metric AE -fuzz "$1" "$2" "$3" null: 2>&1 | grep -o -m 1 '^[0-9]*' || true)
  echo "${count:-0}"
}
crop_window() { # window region output
  import -window "$1" -crop "${2}x${3}+${4}+${5}" +repage "$6" 2>/dev/null
}
# Pixels of a region (x y w h) of the main window's client area that differ
# from the list's empty area, out of all of the region's pixels, in percent.
differing_percent() { # window x y w h
  local window=$1 x=$2 y=$3 w=$4 h=$5 ex=${list_empty[0]} ey=${list_empty[1]} count
  crop_window "$window" "$w" "$h" "$x" "$y" "$work/region.png"
  crop_window "$window" "$w" "$h" "$ex" "$ey" "$work/empty.png"
  count=$(pixels_differing 10% "$work/region.png" "$work/empty.png")
  echo $((count * 100 / (w * h)))
}
# Whether a region of the main window differs from a picture of it taken before.
region_changed() { # window x y w h reference.png
  crop_window "$1" "$4" "$5" "$2" "$3" "$work/now.png" || return 1
  local count
  count=$(pixels_differing 5% "$work/now.png" "$6")
  [ "$count" -gt 0 ]
}
window_id() { # name pattern; the newest visible window
  xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1
}
window_shown() { [ -n "$(window_id "$1")" ]; }
window_gone() { [ -z "$(window_id "$1")" ]; }
tool_running() { kill -0 "$tool_pid" 2>/dev/null; }
tool_crashed() { grep -q "starting debugger" "$tool_log" 2>/dev/null; }
# Where the tool crashed: Wine's line, with the library of the folder whose
# image holds the address and the offset in it (libraries load at their
# preferred base under Wine).
crash_report() {
  local line address binary base size
  line=$(grep -m 1 "starting debugger" "$tool_log")
  address=$(sed -n 's/.* at address \([0-9A-Fa-f]*\) .*/\1/p' <<<"$line")
  echo "$line"
  [ -n "$address" ] || return 0
  while IFS= read -r -d '' binary; do
    read -r base size < <(x86_64-w64-mingw32-objdump -p "$binary" |
      awk '/^ImageBase/ { b = $2 } /^SizeOfImage/ { s = $2 } END { print b, s }')
    if (( 16#$address >= 16#$base && 16#$address < 16#$base + 16#$size )); then
      printf 'in %s at offset 0x%x\n' "${binary#"$folder"/}" $((16#$address - 16#$base))
    fi
  done < <(find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -print0)
}
click() { # window x y
  xdotool mousemove --window "$1" "$2" "$3" click 1
}
# Answers the message box titled $1 with Return: the box takes the X focus,
# which Wine makes its active window, and OK is its default button.
answer_box() {
  local box
  box=$(window_id "^$1") || return 1
  xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
  xdotool key --clearmodifiers Return
}

scripts/wine-run.sh --prefix "$prefix" "$folder/ql75n-levels.exe" >"$tool_log" 2>&1 &
tool_pid=$!
wait_until 120 eval 'window_shown "^$title" || ! tool_running' ||
  fail "the tool's window did not appear within 120 s (see $tool_log)"
tool_running || fail "the tool ended before its window appeared (see $tool_log)"
window=$(window_id "^$title")
step "the tool's window is up"

wait_until 20 window_shown "^Note" || fail "the first prompt did not appear"
note=$(window_id "^Note")
# Drawn when its X window is mapped and the window's content is not blank.
wait_until_drawn() { wait_until 10 eval '[ "$(differing_percent "$window" "${list_line1[@]}")" -gt 0 ]'; }
wait_until_drawn || true
shoot e2e-start.png
for _ in 1 2 3; do
  answer_box Note || true
  wait_until 5 window_gone "^Note" && break
done
window_gone "^Note" || fail "the first prompt did not close on Return"
step "the first prompt was answered"

# The list: its first line is selected (a highlighted band, unlike the
# empty area) and there is no second line. The prefix has one port, so that
# line is COM5, which Open proves below by the simulator's traffic.
wait_until 10 eval '[ "$(differing_percent "$window" "${list_line1[@]}")" -ge 50 ]' ||
  fail "no line of the port list is selected ($(differing_percent "$window" "${list_line1[@]}") % of the first line's band is highlighted)"
line2=$(differing_percent "$window" "${list_line2[@]}")
[ "$line2" -lt 5 ] || fail "the port list has a second line ($line2 % of its band drawn)"
shoot e2e-ports.png
crop_window "$window" "${gain_texts[2]}" "${gain_texts[3]}" "${gain_texts[0]}" "${gain_texts[1]}" "$work/gains-before.png"

click "$window" "${open_button[@]}"
wait_until 20 has_line "RX AT+KVWCMD1=1" ||
  fail "the tool sent no identify command on Open: the preselected port did not open (see $sim_log, $tool_log)"
wait_until 20 starts_line "TX +KVWSTS1=41," || fail "the tool did not read the gains (see $sim_log)"
has_line "TX +KVWSTS1=41,${sim_gains}" || fail "the simulator sent other gains than $sim_gains"
wait_until 10 region_changed "$window" "${gain_texts[@]}" "$work/gains-before.png" ||
  fail "the window does not show the gains it read"
crop_window "$window" "${gain_texts[2]}" "${gain_texts[3]}" "${gain_texts[0]}" "${gain_texts[1]}" "$work/gains-read.png"
shoot e2e-gains.png
step "the tool opened $com_name and shows the gains $sim_gains"

click "$window" "${transmit_up_arrow[@]}"
wait_until 10 region_changed "$window" "${gain_texts[@]}" "$work/gains-read.png" ||
  fail "the transmit gain did not change on its up arrow"
click "$window" "${write_button[@]}"
wait_until 20 starts_line "RX AT+KVWCMD1=61," || fail "the tool sent no write command"
has_line "RX $expected_write" ||
  fail "the simulator received $(grep 'RX AT+KVWCMD1=61,' "$sim_log" | head -n 1), expected RX $expected_write"
wait_until 10 window_shown "^Note" || fail "the note \"Write successfully.\" did not appear"
shoot e2e-note.png
wait_until 10 window_gone "^Note" || fail "the note did not close itself"
step "the tool wrote ${expected_write#AT+KVWCMD1=61,}"

# SERIALCOMM lists the port while the prefix's server runs.
scripts/wine-run.sh --prefix "$prefix" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' >"$work/serialcomm.txt" 2>&1 || true
tr -d '\r' <"$work/serialcomm.txt" | grep -q "REG_SZ *$com_name\$" ||
  fail "SERIALCOMM does not list $com_name: $(tr -d '\r' <"$work/serialcomm.txt")"

click "$window" "${exit_button[@]}"
wait_until 30 eval '! tool_running || tool_crashed' || fail "the tool did not end on Exit"
tool_crashed && fail "the tool crashed on Exit: $(crash_report)"
status=0
wait "$tool_pid" || status=$?
tool_pid=""
[ "$status" -eq 0 ] || fail "the tool ended with code $status (see $tool_log)"
step "the tool ended with code 0 on Exit; end-to-end check passed"
