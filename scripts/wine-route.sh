#!/bin/sh
# Decides which Windows architecture the test programs are built for and run under Wine: "i686" where this
# host executes 32-bit x86 programs (the 32-bit Wine loader needs that), "x86_64" where it does not (Debian's
# wine64 runs 64-bit programs natively), "none" where neither can run. Prints one line, the route and why:
#   x86_64 this host cannot execute 32-bit x86 programs (exit status 126 from a tiny i386 program)
# UPDATER_WINE_ROUTE=i686|x86_64|none forces the route (none: the Wine tests are skipped).
# Usage: wine-route.sh [--before-install] [WORK_DIR]   (WORK_DIR: where the probe program is written, default
# a temporary folder; --before-install: the route the host calls for, whether its Wine is installed or not)
# Only for the tests of this script: UPDATER_WINE_PROBE names a program run in place of the i386 probe
# (status 42 means it ran), UPDATER_WINE_LIBDIR the folder of Wine's loaders (default /usr/lib/wine).
set -u
installed=1
if [ "${1:-}" = --before-install ]; then
    installed=0
    shift
fi
libdir=${UPDATER_WINE_LIBDIR:-/usr/lib/wine}

case "${UPDATER_WINE_ROUTE:-}" in
i686 | x86_64 | none)
    echo "$UPDATER_WINE_ROUTE forced by UPDATER_WINE_ROUTE=$UPDATER_WINE_ROUTE"
    exit 0
    ;;
"") ;;
*)
    echo "wine-route: UPDATER_WINE_ROUTE must be i686, x86_64 or none, not \"$UPDATER_WINE_ROUTE\"" >&2
    exit 2
    ;;
esac

machine=$(uname -m)
case "$machine" in
x86_64 | amd64 | i?86) ;;
*)
    echo "none this host is $machine, not x86: Wine cannot run the x86 Windows programs here"
    exit 0
    ;;
esac

# A 96-byte static i386 program that ends with status 42 through the 32-bit system call gate. It needs no
# 32-bit library, so it tells whether the kernel runs 32-bit programs even before wine32 is installed.
# Status 42 cannot come from a shell that falls back to reading a non-executable file as a script.
probe=${UPDATER_WINE_PROBE:-}
folder=""
if [ -z "$probe" ]; then
    folder=$(mktemp -d "${1:-${TMPDIR:-/tmp}}/wine-route.XXXXXX") || {
        echo "wine-route: cannot create a folder for the probe in ${1:-${TMPDIR:-/tmp}}" >&2
        exit 2
    }
    probe=$folder/i386-probe
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010' >"$probe"
    printf '\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$probe"
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000' >>"$probe"
    printf '\005\000\000\000\000\020\000\000\273\052\000\000\000\270\001\000\000\000\315\200' >>"$probe"
    chmod +x "$probe"
fi
"$probe" >/dev/null 2>&1
status=$?
[ -z "$folder" ] || rm -rf "$folder"

if [ "$status" = 42 ]; then
    route=i686
    why="this host executes 32-bit x86 programs"
    loader=$libdir/wine
    package="wine32:i386"
else
    route=x86_64
    why="this host cannot execute 32-bit x86 programs (exit status $status from a tiny i386 program)"
    loader=$libdir/wine64
    package="wine64"
fi
if [ "$installed" = 1 ] && [ ! -x "$loader" ]; then
    echo "none $why, and Wine's $route loader $loader is missing (package $package; scripts/install-deps.sh installs it)"
    exit 0
fi
echo "$route $why"
