#!/usr/bin/env bash
# Sets up the client in a Wine prefix without an installer: the installation
# folder recorded where the client looks for it, and optionally the account it
# logs in with at start (no connect box, no logo).
#
#   tools/client-setup.sh ROOT [USER SERVER PASSWORD]
#
# ROOT is a Windows path (C:\Vellumpost). Run inside tools/wine-session.sh,
# which exports WINE and WINEPREFIX.
set -euo pipefail
root=${1:?usage: client-setup.sh ROOT [USER SERVER PASSWORD]}
WINE=${WINE:-wine64}
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
escaped=${root//\\/\\\\}
{
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarrow Systems\\Vellumpost]\n"RootFolder"="%s"\n' "$escaped"
    if (($# >= 4)); then
        printf '\n[HKEY_CURRENT_USER\\Software\\Tarrow Systems\\Vellumpost\\GeneralOptions]\n'
        printf '"UserName"="%s"\n"ServerName"="%s"\n"UserPassword"="%s"\n' "$2" "$3" "$4"
        printf '"AutoConnect"=dword:00000001\n"SavePassword"=dword:00000001\n'
        printf '"ShowConnectBoxAtStartUp"=dword:00000000\n"ShowLogoBoxAtStartUp"=dword:00000000\n'
    fi
} >"$reg"
"$WINE" regedit /S "Z:${reg//\//\\}"
