#!/bin/bash
# scripts/wine-prefix.sh never fails in silence: with a 64-bit loader that cannot start (as the 32-bit one
# cannot where 32-bit programs do not run) it names the failed step, shows the loader's own message, says
# where the whole output is and leaves no prefix marked ready; a route without Wine is refused by name.
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "wine_prefix_failure: $*" >&2
    failures=$((failures + 1))
}

mkdir -p "$work/wine"
printf '#!/bin/sh\necho "wine64: cannot execute binary file: Exec format error" >&2\nexit 126\n' >"$work/wine/wine64"
printf '#!/bin/sh\nexit 0\n' >"$work/wine/wineserver64"
chmod +x "$work/wine/wine64" "$work/wine/wineserver64"

UPDATER_WINE_LIBDIR="$work/wine" "$scripts/wine-prefix.sh" "$work/prefix" x86_64 >"$work/out" 2>&1 &&
    fail "wine-prefix.sh succeeded with a loader that cannot start"
out=$(cat "$work/out")
echo "$out"
[[ "$out" == *"wineboot failed (exit status 126)"* ]] || fail "the failed step is not named"
[[ "$out" == *"Exec format error"* ]] || fail "the loader's message is not shown"
[[ "$out" == *"whole output: $work/prefix.log"* ]] || fail "the log is not named"
[ -f "$work/prefix.log" ] || fail "there is no log at $work/prefix.log"
[ -e "$work/prefix/.ready" ] && fail "the failed prefix is marked ready"

"$scripts/wine-prefix.sh" "$work/none" none >"$work/out" 2>&1 && fail "wine-prefix.sh took the route none"
grep -q 'no Wine route' "$work/out" || fail "the route none is refused without a word: $(cat "$work/out")"

[ $failures -eq 0 ] && echo "wine_prefix_failure: passed"
exit $((failures > 0))
