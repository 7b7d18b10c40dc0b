#!/bin/sh
# Prepares a headless 32-bit Wine prefix (null graphics driver) once; later calls find it ready.
# Usage: wine-prefix.sh PREFIX
set -e
prefix=$1
if [ -f "$prefix/.ready" ]; then exit 0; fi
rm -rf "$prefix"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.ready"
