#!/usr/bin/env bash
# Sets up the machine, builds, and shows the whole bridge in a Wine desktop: the
# master stand-in, the bridge with its greeting, a few requests from the service
# side's client (user information, menu texts, a balloon), a screenshot of the
# desktop with the icon in the tray (build/windows/demo-tray.png), and the close.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows
cmake --build --preset windows

demo() {
    local bin=build/windows/bin
    local out=build/windows
    # The installer creates the log folder; the bridge never does.
    local logs="$WINEPREFIX/drive_c/ProgramData/QuorvixRemote/Logs"
    mkdir -p "$logs"

    # Waits up to 20 s for a line matching $2 in the files $1 and prints it.
    await() {
        for _ in $(seq 200); do
            # shellcheck disable=SC2086
            grep -a -h -m1 "$2" $1 2>/dev/null && return 0
            sleep 0.1
        done
        echo "demo: gave up waiting for '$2' in $1" >&2
        return 1
    }

    # The master process: master_standin serves its pipe, prints what the bridge
    # sends and answers OK; its first line names its pid.
    local master_out=$out/master_standin.out
    : >"$master_out"
    setsid wine "$bin/master_standin.exe" </dev/null >"$master_out" 2>&1 &
    local master_pid
    master_pid=$(await "$master_out" "as process" | sed -n 's/.*as process \([0-9]*\).*/\1/p' | tr -d '\r')

    setsid wine "$bin/uxlink.exe" "-name=Quorvix Remote" -version=1.2 -pid="$master_pid" -hellomsg=x -rebranded=0 \
        </dev/null >/dev/null 2>&1 &
    # The bridge's Windows pid names its pipe, \\.\pipe\uxsvc_<pid>.
    local pid
    pid=$(await "$logs/QX_PIPE_BRIDGE_*.log" "FormCreate()\] PID " | sed -n 's/.*PID \([0-9]*\).*/\1/p' | tr -d '\r')
    await "$logs/QX_PIPE_BRIDGE_*.log" "FormCreate()\] END" >/dev/null

    local client=("wine" "$bin/service_client.exe" "$pid")
    echo "--- SUINFO to \\\\.\\pipe\\uxsvc_$pid:"
    "${client[@]}" SUINFO || true
    echo "--- RESTICHICON (menu texts):"
    "${client[@]}" RESTICHICON label0=Open status0=1 "label1=Disable unattended access" status1=0 \
        label2=Logout status2=1 label3=Quit status3=1 || true
    echo "--- REQTISHOW (a balloon of two lines, the picture with the blue dot):"
    "${client[@]}" REQTISHOW "title=Quorvix Remote" "text=Connected*Double-click the icon to open" iconindex=3 || true
    sleep 2
    import -window root "$out/demo-tray.png"
    echo "--- screenshot of the desktop with the icon in the tray: $out/demo-tray.png"
    echo "--- REQCPIPE (closes the bridge):"
    "${client[@]}" REQCPIPE || true
    sleep 2
    echo "--- log:"
    cat "$logs"/QX_PIPE_BRIDGE_*.log
    echo "--- master process received:"
    cat "$master_out"
}
export -f demo
bash scripts/wine-session.sh build/windows bash -c demo
