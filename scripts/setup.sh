#!/usr/bin/env bash
# Installs what building and testing uxlink needs, from Debian's packages only.
# Idempotent: packages already present are left alone; runs as root (or via sudo).
set -euo pipefail

packages=(
    cmake ninja-build
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
    wine wine64 xvfb x11-utils xauth
    nlohmann-json3-dev googletest
    imagemagick
    msitools wixl osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The posix thread model gives std::thread, std::jthread and std::mutex to mingw-w64.
for tool in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-gcc; do
    if [ -x "/usr/bin/$tool-posix" ] && [ "$(readlink -f "/usr/bin/$tool")" != "/usr/bin/$tool-posix" ]; then
        echo "note: $tool is not the posix variant; the toolchain file names the -posix compilers directly"
    fi
done
