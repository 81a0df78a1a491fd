#!/usr/bin/env bash
# Installs with apt-get whatever of the build and test packages this machine
# lacks (Debian 12, run as root). Does nothing when everything is there.
set -euo pipefail

packages=(
    cmake ninja-build g++ libgtest-dev googletest           # native build and tests
    g++-mingw-w64-x86-64-posix mingw-w64-tools              # the Windows build
    wine64 fonts-wine xvfb imagemagick xdotool    # Windows programs under Wine, screenshots, the pointer
    chromium chromium-driver python3 curl                   # browser tests
    libreoffice-writer-nogui                                # RTF from and to another program
    pkg-config libboost1.81-dev libsqlite3-dev libsodium-dev libcli11-dev libspdlog-dev   # the server
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
((${#missing[@]})) || exit 0

if [[ $(id -u) != 0 ]]; then
    echo "install-deps: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
