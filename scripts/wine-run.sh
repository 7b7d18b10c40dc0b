#!/bin/sh
# Runs a Windows program under Wine in the given prefix, headless, in code page 932, and passes on its
# exit status. Usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
set -e
prefix=$1; shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
exec wine "$@"
