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

mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# The prefix is made once, by whichever run comes first.
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  # Without a display the null graphics driver serves: windows (the
  # system's dialogs among them) can still be made and answered by tests.
  # A display is used where there is one.
  if ! grep -q '^"Graphics"="x11,null"' "$prefix/user.reg" 2>/dev/null; then
    setsid "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f </dev/null >/dev/null 2>&1 || true
  fi
) 9>"$prefix.lock"
# The server and the prefix's own processes start here, away from the
# program's output (whoever waits for that output would wait for them too),
# and stay until nothing has run in the prefix for 30 seconds.
setsid /usr/lib/wine/wineserver -p30 </dev/null >/dev/null 2>&1 || true
setsid "$wine" wineboot </dev/null >/dev/null 2>&1 || true

bridge_port=$(mktemp)
rm -f "$bridge_port"
python3 "$here/wine-pty-bridge.py" "$prefix/dosdevices" "$bridge_port" &
bridge=$!
trap 'kill $bridge 2>/dev/null; wait $bridge 2>/dev/null; rm -f "$bridge_port"' EXIT
for _ in $(seq 1 500); do
  [ -s "$bridge_port" ] && break
  kill -0 $bridge 2>/dev/null || { echo "wine-run: the pseudo-terminal bridge did not start" >&2; exit 2; }
  sleep 0.01
done
export QL75N_PTY_BRIDGE=$(cat "$bridge_port")

# A session of its own keeps the terminal's hang-up away from the server.
set +e
setsid -w "$wine" "$@"
status=$?
exit $status
