#!/usr/bin/env bash
# Builds everything and runs the benchmark in a Wine session of its own; prints the
# table. Options go to bench.exe, e.g. `bash scripts/bench.sh --idle-seconds 10`.
# The exit code says whether the benchmark ran, not whether its targets were met.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows
cmake --build --preset windows
bash scripts/wine-session.sh build/windows wine build/windows/bin/bench.exe "$@"
