#!/usr/bin/env bash
# Runs a command inside a Wine session of its own: a fresh prefix in the build tree,
# Xvfb on a free display and a Wine virtual desktop whose tray takes the bridge's icon.
# Stops only what it started. Usage: wine-session.sh BUILD_DIR COMMAND [ARGS...]
set -euo pipefail

build_dir=$(realpath "$1")
shift

export WINEPREFIX="$build_dir/wine"
export WINEDEBUG=-all
# Never ask to install Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

xvfb_pid=""
desktop_pid=""
cleanup() {
    set +e
    [ -n "$desktop_pid" ] && kill "$desktop_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

# A free display: no lock file and no socket.
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
    display=$((display + 1))
done
setsid Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$build_dir/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
export DISPLAY=":$display"
echo "wine-session: Xvfb on $DISPLAY, prefix $WINEPREFIX"

# Nothing from an earlier run survives: the prefix is made anew.
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
# A persistent server keeps each test program's start fast.
wineserver -p
wineboot --init >"$build_dir/wineboot.log" 2>&1

setsid wine explorer /desktop=uxlink,1024x768 </dev/null >"$build_dir/desktop.log" 2>&1 &
desktop_pid=$!
for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q '"uxlink' && break
    sleep 0.1
done

"$@"
