#!/usr/bin/env bash
# Sets up the machine, builds, and starts the bridge in a Wine desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows
cmake --build --preset windows

demo() {
    local bin=build/windows/bin
    # The installer creates the log folder; the bridge never does.
    local logs="$WINEPREFIX/drive_c/ProgramData/QuorvixRemote/Logs"
    mkdir -p "$logs"
    # The master process: master_standin serves its pipe, prints what the bridge
    # sends and answers OK; its first line names its pid.
    local master_out=build/windows/master_standin.out
    : >"$master_out"
    wine "$bin/master_standin.exe" >"$master_out" 2>&1 &
    local master=$!
    for _ in $(seq 100); do grep -q "as process" "$master_out" && break; sleep 0.1; done
    local master_pid
    master_pid=$(sed -n 's/.*as process \([0-9]*\).*/\1/p' "$master_out" | tr -d '\r')
    wine "$bin/uxlink.exe" -name=Demo -version=1.2 -pid="$master_pid" -hellomsg=x -rebranded=0 &
    local bridge=$!
    sleep 5
    # The service side's requests, sent as service_client.exe sends them; the
    # bridge's Windows pid opens each of its log lines ("<pid> - ...").
    local pid
    pid=$(head -1 "$logs"/QX_PIPE_BRIDGE_*.log | sed 's/^\xEF\xBB\xBF//; s/^<\([0-9]*\)>.*/\1/')
    echo "--- SUINFO to \\\\.\\pipe\\uxsvc_$pid:"
    wine "$bin/service_client.exe" "$pid" SUINFO || true
    echo "--- log:"
    cat "$logs"/QX_PIPE_BRIDGE_*.log
    echo "--- master process received:"
    cat "$master_out"
    kill "$bridge" "$master" 2>/dev/null || true
}
export -f demo
bash scripts/wine-session.sh build/windows bash -c demo
