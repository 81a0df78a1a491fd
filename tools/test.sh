#!/usr/bin/env bash
# Every test: builds the native tree (AddressSanitizer and UndefinedBehavior-
# Sanitizer) and runs its tests, then builds the Windows tree and runs the same
# tests as Windows executables under wine64. Installs what it lacks first.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VP_BUILD_DIR:-$root/build}
jobs=$(nproc)
logs="$build/logs"
start=$SECONDS

step() { echo "== $* (${SECONDS}s)"; }
fail() { echo "test: $*" >&2; exit 1; }

step "packages"
"$root/tools/install-deps.sh" || fail "the packages could not be installed"
mkdir -p "$logs"

step "native build"
cmake -S "$root" -B "$build/native" -G Ninja -DVP_SANITIZE=ON -DVP_WERROR=ON >"$logs/native-configure.log" ||
    { cat "$logs/native-configure.log"; fail "native configure failed"; }
cmake --build "$build/native" -j "$jobs" || fail "native build failed"

step "native tests"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build/native" -L unit -j "$jobs" --output-on-failure 2>&1 | tee "$logs/native-tests.log"
native_rc=${PIPESTATUS[0]}

step "windows build"
cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DVP_WERROR=ON -DVP_NATIVE_SERVER="$build/native/server/vellumpost-server" \
    -DVP_NOTE_PEER="$build/native/tests/vellumpost-note-peer" -DVP_NATIVE_ROBOT="$build/native/robot/vellumpost-robot" \
    >"$logs/win-configure.log" ||
    { cat "$logs/win-configure.log"; fail "windows configure failed"; }
cmake --build "$build/win" -j "$jobs" || fail "windows build failed"

step "windows tests under wine64"
"$root/tools/wine-session.sh" ctest --test-dir "$build/win" -L wine -j "$jobs" --output-on-failure 2>&1 |
    tee "$logs/wine-tests.log"
wine_rc=${PIPESTATUS[0]}

# One closing line for both runs.
count() {  # LOG -> "passed failed"
    sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$1" | tail -n1
}
read -r native_failed native_total <<<"$(count "$logs/native-tests.log")"
read -r wine_failed wine_total <<<"$(count "$logs/wine-tests.log")"
native_total=${native_total:-0} native_failed=${native_failed:-0}
wine_total=${wine_total:-0} wine_failed=${wine_failed:-0}
failed=$((native_failed + wine_failed))
passed=$((native_total + wine_total - failed))
step "done in $((SECONDS - start))s: native $((native_total - native_failed))/$native_total, wine $((wine_total - wine_failed))/$wine_total"
echo "tests: $passed passed, $failed failed"
((native_rc == 0 && wine_rc == 0 && native_total > 0 && wine_total > 0))
