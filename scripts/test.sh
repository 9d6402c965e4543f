#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows
cmake --build --preset windows
bash scripts/wine-session.sh build/windows ctest --preset windows "$@"
