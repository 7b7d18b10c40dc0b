#!/bin/bash
# The Wine route's decision (scripts/wine-route.sh): forced by UPDATER_WINE_ROUTE, or decided by whether a
# 32-bit program runs, and "none" with the missing loader named when the route's Wine is absent. The host's
# own probe must agree with the 32-bit loader where one is installed.
set -u
route=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-route.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "wine_route: $*" >&2
    failures=$((failures + 1))
}
# decide NAME WANTED-PATTERN [VARIABLE=VALUE...]: runs the probe with the given environment and compares
decide() {
    local name=$1 wanted=$2 line
    shift 2
    line=$(env -u UPDATER_WINE_ROUTE "$@" "$route" "$work" 2>&1)
    [[ "$line" == $wanted ]] || fail "$name: got \"$line\", wanted \"$wanted\""
    echo "$name: $line"
}

# Stand-ins: a 32-bit program that runs (status 42) and one the kernel refuses; Wine folders with one
# loader each, and none.
printf '#!/bin/sh\nexit 42\n' >"$work/runs"
printf '#!/bin/sh\necho "cannot execute binary file: Exec format error" >&2\nexit 126\n' >"$work/refused"
mkdir -p "$work/wine32" "$work/wine64" "$work/nowine"
printf '#!/bin/sh\n' | tee "$work/wine32/wine" >"$work/wine64/wine64"
chmod +x "$work/runs" "$work/refused" "$work/wine32/wine" "$work/wine64/wine64"

decide "forced i686" "i686 forced by UPDATER_WINE_ROUTE=i686" UPDATER_WINE_ROUTE=i686 UPDATER_WINE_PROBE="$work/refused"
decide "forced x86_64" "x86_64 forced by UPDATER_WINE_ROUTE=x86_64" UPDATER_WINE_ROUTE=x86_64 UPDATER_WINE_PROBE="$work/runs"
decide "forced none" "none forced by UPDATER_WINE_ROUTE=none" UPDATER_WINE_ROUTE=none
decide "32-bit runs" "i686 this host executes 32-bit x86 programs" UPDATER_WINE_PROBE="$work/runs" \
    UPDATER_WINE_LIBDIR="$work/wine32"
decide "32-bit refused" "x86_64 this host cannot execute 32-bit x86 programs (exit status 126 *)" \
    UPDATER_WINE_PROBE="$work/refused" UPDATER_WINE_LIBDIR="$work/wine64"
decide "32-bit refused, no wine64" "none this host cannot execute 32-bit*$work/nowine/wine64 is missing (package wine64;*" \
    UPDATER_WINE_PROBE="$work/refused" UPDATER_WINE_LIBDIR="$work/nowine"
decide "32-bit runs, no wine32" "none this host executes 32-bit*$work/wine64/wine is missing (package wine32:i386;*" \
    UPDATER_WINE_PROBE="$work/runs" UPDATER_WINE_LIBDIR="$work/wine64"
# A value that is no route is an error, not a silent default.
if line=$(env UPDATER_WINE_ROUTE=i386 "$route" "$work" 2>&1); then
    fail "UPDATER_WINE_ROUTE=i386 was taken: $line"
fi
[[ "$line" == *'must be i686, x86_64 or none, not "i386"'* ]] || fail "wrong refusal of i386: $line"

# The real probe on this host: it leaves nothing behind, and where the 32-bit loader of the C library is
# installed, the loader runs exactly when the probe says 32-bit programs run.
host=$(env -u UPDATER_WINE_ROUTE -u UPDATER_WINE_PROBE UPDATER_WINE_LIBDIR="$work/wine32" "$route" "$work")
echo "this host: $host"
[ -z "$(ls -A "$work" | grep wine-route)" ] || fail "the probe left $(ls "$work" | grep wine-route) behind"
if [ -e /lib/ld-linux.so.2 ]; then
    if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then loader=i686; else loader=other; fi
    case "$host" in i686*) probe=i686 ;; *) probe=other ;; esac
    [ "$loader" = "$probe" ] || fail "the probe says \"$host\" but /lib/ld-linux.so.2 says $loader"
fi

[ $failures -eq 0 ] && echo "wine_route: passed"
exit $((failures > 0))
