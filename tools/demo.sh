#!/usr/bin/env bash
# The demo: builds the programs (natively and for Windows) and runs what
# exists so far. Installs what it lacks first.
#
# The client, the server and the robot do not exist yet: for now this builds
# both trees and runs the tests natively, so that a fresh machine
# shows the build working end to end.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VP_BUILD_DIR:-$root/build}
jobs=$(nproc)

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/release" -j "$jobs"
cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$build/win" -j "$jobs"

echo
echo "demo: no program to run yet (the client, server and robot come later);"
echo "demo: running the tests of the native build instead."
ctest --test-dir "$build/release" -j "$jobs"
