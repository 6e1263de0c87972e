#!/usr/bin/env bash
# Runs a Windows program under Wine, safely: in a private mount namespace in
# which every /dev/ttyS* is /dev/null (Wine maps this machine's own serial
# ports, its console among them, to COM names by itself), in a Wine prefix
# of its own, with a pseudo-terminal bridge (wine-pty-bridge.py) whose TCP
# port the program finds in QL75N_PTY_BRIDGE. The Windows build runs its
# tests through it.
#
# Usage: wine-run.sh [--prefix DIR] PROGRAM [ARGS...]
#   DIR defaults to QL75N_WINE_PREFIX, else build/windows/wine-prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=${QL75N_WINE_PREFIX:-$here/../build/windows/wine-prefix}
if [ "${1:-}" = "--prefix" ]; then prefix=$2; shift 2; fi
[ $# -ge 1 ] || { echo "usage: $0 [--prefix DIR] PROGRAM [ARGS...]" >&2; exit 2; }
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "Wine is missing: apt-get install wine64" >&2; exit 2; }

if [ "$(readlink /proc/self/ns/mnt)" = "$(readlink /proc/1/ns/mnt)" ] || [ -z "${QL75N_WINE_INSIDE:-}" ]; then
  # Into a mount namespace of our own (as root; otherwise as the root of a
  # user namespace of our own), then this script again.
  ns=(unshare -m --propagation private)
  [ "$(id -u)" -eq 0 ] || ns=(unshare -Urm --propagation private)
  exec "${ns[@]}" env QL75N_WINE_INSIDE=1 "$0" --prefix "$prefix" "$@"
fi

# Only this namespace sees the masks.
for d in /dev/ttyS*; do
  [ -e "$d" ] || continue
  mount --bind /dev/null "$d"
done
for d in /dev/ttyS*; do
  [ -e "$d" ] || continue
  if [ "$(stat -L -c %t:%T "$d")" != "$(stat -L -c %t:%T /dev/null)" ]; then
    echo "wine-run: $d could not be masked; Wine is not started" >&2
    exit 2
  fi
done

# Runs a command in a session of its own without leading it: a session
# leader that opens a terminal takes it as its controlling terminal, and the
# hang-up of a test's pseudo-terminal would then signal it.
detached() { setsid -w sh -c '"$@"; exit $?' detached "$@"; }

mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# The prefix is made once, by whichever run comes first.
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    detached "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  # Without a display the null graphics driver serves: windows (the
  # system's dialogs among them) can still be made and answered by tests.
  # A display is used where there is one.
  if ! grep -q '^"Graphics"="x11,null"' "$prefix/user.reg" 2>/dev/null; then
    detached "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f </dev/null >/dev/null 2>&1 || true
  fi
) 9>"$prefix.lock"
# The server and the prefix's own processes start here, away from the
# program's output (whoever waits for that output would wait for them too),
# and stay until nothing has run in the prefix for 30 seconds.
detached /usr/lib/wine/wineserver -p30 </dev/null >/dev/null 2>&1 || true
detached "$wine" wineboot </dev/null >/dev/null 2>&1 || true

# The bridge tells its TCP port through a FIFO, read as soon as it listens.
bridge_dir=$(mktemp -d)
mkfifo "$bridge_dir/port"
python3 "$here/wine-pty-bridge.py" "$prefix/dosdevices" "$bridge_dir/port" &
bridge=$!
trap 'kill $bridge 2>/dev/null; wait $bridge 2>/dev/null; rm -rf "$bridge_dir"' EXIT
exec 8<>"$bridge_dir/port"  # opened both ways, so a bridge that died cannot block the open
if ! read -r -t 30 QL75N_PTY_BRIDGE <&8 || [ -z "$QL75N_PTY_BRIDGE" ]; then
  echo "wine-run: the pseudo-terminal bridge did not start" >&2
  exit 2
fi
exec 8<&-
export QL75N_PTY_BRIDGE

# The program runs in a session of its own; when this run is stopped (a
# test's time limit), the whole session goes with it.
set +e
setsid -w sh -c '"$@"; exit $?' detached "$wine" "$@" &
program=$!  # leads the session and its process group
trap 'kill -KILL -- -$program 2>/dev/null; kill $bridge 2>/dev/null; wait $bridge 2>/dev/null; rm -rf "$bridge_dir"' EXIT
trap 'exit 143' TERM INT HUP
wait $program
