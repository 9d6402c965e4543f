#!/usr/bin/env bash
# Sets up the machine and builds what an administrator installs: the signed uxlink.exe and
# the signed uxlink.msi in build/windows/package/. Signed with the release certificate
# when UXLINK_SIGN_CERT and UXLINK_SIGN_KEY name it, else with a throw-away test
# certificate (packaging/sign.sh says more).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows
cmake --build --preset windows --target uxlink_package
ls -l build/windows/package/uxlink.exe build/windows/package/uxlink.msi
