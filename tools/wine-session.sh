#!/usr/bin/env bash
# A headless Wine session: an Xvfb display, a 64-bit prefix set up for
# unattended runs, and one persistent wineserver shared by every Windows
# program started inside it. Everything is torn down on exit.
#
#   tools/wine-session.sh [--app EXE [ARGS...] --] CMD [ARGS...]
#
# CMD runs natively with DISPLAY, WINEPREFIX and WINE exported (ctest, a shell
# script, or "$WINE" prog.exe). With --app, EXE is started first in the
# background and must have exited by itself within 20 s after CMD ends.
# The exit status is CMD's; 1 when the app failed, 124 when it hung.
#
# Environment: WINEPREFIX (default build/wine-prefix), VP_ARTIFACTS (logs and
# screenshots, default build/artifacts), VP_WINE_TIMEOUT (seconds for CMD,
# default 900).
#
# Why each step is here:
# - One persistent wineserver, started before anything else: otherwise every
#   Windows program pays for a server start and stop (seconds each), and the
#   first program's stdout is inherited by the system processes, so that a
#   test runner reading it waits until its time-out.
# - No crash dialog: a crash prints a backtrace and exits instead of leaving a
#   modal box that nobody closes.
# - A virtual desktop: title bars in screenshots, and hiding or destroying a
#   top-level window does not wait for a window manager that is not there.
# - Wine's own fonts copied into the prefix, or caption buttons render as
#   letters.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINE WINEARCH=win64
export WINEPREFIX=${WINEPREFIX:-$root/build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export VP_ARTIFACTS=${VP_ARTIFACTS:-$root/build/artifacts}

_xvfb_pid=
_app_pid=

_say() { echo "wine-session: $*" >&2; }

_settings() {
    cat <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops\Default]
"EnableShell"=dword:00000001
REG
}

wine_session_start() {
    mkdir -p "$VP_ARTIFACTS" "$(dirname "$WINEPREFIX")"
    local display_file="$VP_ARTIFACTS/.display"
    : >"$display_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>"$VP_ARTIFACTS/xvfb.log" &
    _xvfb_pid=$!
    local _
    for _ in $(seq 200); do [[ -s $display_file ]] && break; sleep 0.05; done
    [[ -s $display_file ]] || { _say "Xvfb did not start"; return 1; }
    export DISPLAY=":$(head -n1 "$display_file")"

    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        _say "creating the prefix $WINEPREFIX"
        "$WINE" wineboot -i >>"$VP_ARTIFACTS/wine.log" 2>&1 </dev/null
        "$WINESERVER" -w
        cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    # The desktop reads its settings when the first program creates it, so a
    # change is applied with every Wine process stopped.
    local reg="$WINEPREFIX/vp-settings.reg"
    if [[ ! -f $reg || $(<"$reg") != "$(_settings)" ]]; then
        _settings >"$reg.new"
        "$WINE" regedit /S "Z:${reg//\//\\}.new" >>"$VP_ARTIFACTS/wine.log" 2>&1 </dev/null &&
            mv "$reg.new" "$reg"
        "$WINESERVER" -k 2>/dev/null
        "$WINESERVER" -w
    fi
    "$WINESERVER" -p
    "$WINE" wineboot >>"$VP_ARTIFACTS/wine.log" 2>&1 </dev/null
    _say "ready: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX"
}

wine_session_stop() {
    if [[ -n $_app_pid ]] && kill -0 "$_app_pid" 2>/dev/null; then kill "$_app_pid" 2>/dev/null; fi
    "$WINESERVER" -k 2>/dev/null
    "$WINESERVER" -w 2>/dev/null
    if [[ -n $_xvfb_pid ]]; then
        kill "$_xvfb_pid" 2>/dev/null
        wait "$_xvfb_pid" 2>/dev/null
    fi
    _xvfb_pid=
}

wine_session_screenshot() {  # FILE
    import -display "$DISPLAY" -window root "$1" 2>/dev/null && _say "screenshot $1"
}

_main() {
    local app=()
    if [[ ${1:-} == --app ]]; then
        shift
        while (($#)) && [[ $1 != -- ]]; do app+=("$1"); shift; done
        [[ ${1:-} == -- ]] && shift
    fi
    (($#)) || { sed -n '2,/^$/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; return 2; }

    trap wine_session_stop EXIT
    wine_session_start || return 1
    if ((${#app[@]})); then
        "$WINE" "${app[@]}" >"$VP_ARTIFACTS/app.log" 2>&1 </dev/null &
        _app_pid=$!
    fi

    local rc=0
    timeout "${VP_WINE_TIMEOUT:-900}" "$@" || rc=$?
    ((rc)) && wine_session_screenshot "$VP_ARTIFACTS/failure.png"
    if [[ -n $_app_pid ]]; then
        local waited=0
        while kill -0 "$_app_pid" 2>/dev/null && ((waited < 200)); do sleep 0.1; ((waited++)); done
        if kill -0 "$_app_pid" 2>/dev/null; then
            wine_session_screenshot "$VP_ARTIFACTS/app-hung.png"
            _say "the app did not exit"
            ((rc)) || rc=124
        else
            local app_rc=0
            wait "$_app_pid" || app_rc=$?
            if ((app_rc)); then
                _say "the app exited with $app_rc (log: $VP_ARTIFACTS/app.log)"
                ((rc)) || rc=1
            fi
        fi
    fi
    return $rc
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    _main "$@"
    exit $?
fi
