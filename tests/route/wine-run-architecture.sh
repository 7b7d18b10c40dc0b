#!/bin/bash
# scripts/wine-run.sh follows the route its prefix was made for: on the x86_64 route it starts the 64-bit
# loader, and refuses a 32-bit program, which would run on this host only because it also executes 32-bit
# code. Stand-in loaders record what they were asked to run.
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "wine_run_architecture: $*" >&2
    failures=$((failures + 1))
}
program() { # FILE MACHINE-BYTES: the start of a Windows program: "MZ", the header offset 0x40, "PE\0\0", machine
    { printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000PE\000\000'"$2"; head -c 200 /dev/zero; } >"$1"
}

mkdir -p "$work/wine" "$work/prefix64" "$work/prefix32"
for loader in wine wine64; do
    printf '#!/bin/sh\necho "%s $WINEARCH $*" >>"%s"\n' "$loader" "$work/calls" >"$work/wine/$loader"
    chmod +x "$work/wine/$loader"
done
touch "$work/prefix64/.ready" "$work/prefix32/.ready"
echo x86_64 >"$work/prefix64/.route"
echo i686 >"$work/prefix32/.route"
program "$work/i686.exe" '\114\001'
program "$work/x86_64.exe" '\144\206'

run() { UPDATER_WINE_LIBDIR="$work/wine" "$scripts/wine-run.sh" "$@" 2>"$work/stderr"; }

run "$work/prefix64" "$work/x86_64.exe" a || fail "a 64-bit program was refused: $(cat "$work/stderr")"
run "$work/prefix64" "$work/i686.exe" b && fail "a 32-bit program was run on the x86_64 route"
grep -q 'is a 32-bit program; the x86_64 route runs 64-bit programs only' "$work/stderr" ||
    fail "the refusal does not say why: $(cat "$work/stderr")"
run "$work/prefix64" regedit c || fail "a program of Wine's own was refused: $(cat "$work/stderr")"
run "$work/prefix32" "$work/i686.exe" d || fail "a 32-bit program was refused on the i686 route"
run "$work/nowhere" "$work/i686.exe" e && fail "a prefix that was never prepared was used"

calls=$(cat "$work/calls")
wanted="wine64 win64 $work/x86_64.exe a
wine64 win64 regedit c
wine win32 $work/i686.exe d"
[ "$calls" = "$wanted" ] || fail "the loaders ran: \"$calls\", wanted \"$wanted\""

[ $failures -eq 0 ] && echo "wine_run_architecture: passed"
exit $((failures > 0))
