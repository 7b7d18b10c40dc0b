#!/bin/sh
# Prepares a headless Wine prefix (null graphics driver) for one route once: 32-bit (win32) for i686,
# 64-bit (win64) for x86_64. Later calls find it ready; a prefix of the other route is made anew.
# Usage: wine-prefix.sh PREFIX [ROUTE]   (ROUTE: i686 or x86_64; default what scripts/wine-route.sh decides)
# Every failing step says what failed and where its whole output is.
set -u
scripts=$(cd "$(dirname "$0")" && pwd)
. "$scripts/wine-env.sh"
prefix=$1
route=${2:-}
if [ -z "$route" ]; then
    decision=$("$scripts/wine-route.sh") || exit 1
    route=${decision%% *}
fi
if [ -f "$prefix/.ready" ] && [ "$(wine_prefix_route "$prefix")" = "$route" ]; then exit 0; fi
wine_env "$route" "$prefix" || exit 1
log=$prefix.log
mkdir -p "$(dirname "$prefix")"
rm -rf "$prefix"
: >"$log"

step() { # WHAT COMMAND...: runs one step into the log; on failure shows its end and where the rest is
    what=$1
    shift
    echo "== $what: $*" >>"$log"
    "$@" >>"$log" 2>&1 && return 0
    status=$?
    echo "wine-prefix: $what failed (exit status $status) making the $route prefix $prefix" >&2
    tail -n 15 "$log" | sed 's/^/  | /' >&2
    echo "wine-prefix: whole output: $log; to see Wine's own messages, run the step again with WINEDEBUG=err+all:" >&2
    echo "  WINEPREFIX=$prefix WINEARCH=$WINEARCH WINESERVER=$wine_server WINEDEBUG=err+all $*" >&2
    "$wine_server" -k >/dev/null 2>&1
    exit 1
}

step "wineboot" "$wine_loader" wineboot -i
step "choosing the null graphics driver" "$wine_loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
step "waiting for the Wine server to finish" "$wine_server" -w
echo "$route" >"$prefix/.route"
touch "$prefix/.ready"
