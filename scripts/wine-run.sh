#!/bin/sh
# Runs a Windows program under Wine in the given prefix (made by scripts/wine-prefix.sh, whose route it
# follows), headless, in code page 932, and passes on its exit status.
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
set -u
scripts=$(cd "$(dirname "$0")" && pwd)
. "$scripts/wine-env.sh"
prefix=$1
shift
[ -f "$prefix/.ready" ] || {
    echo "wine-run: $prefix is not a prepared prefix (scripts/wine-prefix.sh makes one)" >&2
    exit 1
}
route=$(wine_prefix_route "$prefix")
wine_env "$route" "$prefix" || exit 1
# A 32-bit program on the x86_64 route would run here only because this host happens to execute 32-bit
# code too; where the route is needed it cannot, so it is refused everywhere.
if [ "$route" = x86_64 ] && [ -f "$1" ]; then
    header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    machine=$(od -An -tx2 -j$((${header:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    if [ "$machine" = 014c ]; then
        echo "wine-run: $1 is a 32-bit program; the x86_64 route runs 64-bit programs only" >&2
        exit 1
    fi
fi
exec "$wine_loader" "$@"
