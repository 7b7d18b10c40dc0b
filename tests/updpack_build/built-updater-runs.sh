#!/bin/bash
# A program made by the native `updpack build` (stub found on its own, as a publisher runs it, or the stub
# given, such as the 64-bit one of the x86_64 route) runs under Wine: in a prefix where the product is not installed it reads its archive's UPDATE.INI and stops at its
# first box, "「%s」がインストールされていません" with the title from that file, and ends with status 0
# leaving nothing behind. The box is read by the end-to-end driver.
# Usage: built-updater-runs.sh PREFIX WINDOWS_BIN UPDPACK WORK [STUB]
set -u
prefix=$1
bin=$(cd "$2" && pwd)
updpack=$3
work=$4
stub=()
[ -z "${5:-}" ] || stub=(--stub "$5")
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)

fail() {
    echo "updpack_build_runs: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work/update"
work=$(cd "$work" && pwd)
# In code page 932 with CR LF, as a publisher saves it; the company is one no other test registers.
printf '%s\r\n' '[SETUP]' 'CompanyName=ビルド確認社' 'GameTitle=ビルド確認ゲーム' 'GameClass=BuildCheckGame' \
    'GameDir=BuildCheck' '[UPDATE]' 'UpdateFile00=u,Patch.DAT' | iconv -f UTF-8 -t CP932 >"$work/update/UPDATE.INI" ||
    fail "cannot write UPDATE.INI"
head -c 3000 /dev/urandom >"$work/update/patch.dat"

"$updpack" build "$work/update.exe" "$work/update" "${stub[@]}" >"$work/build.log" 2>&1 || fail "updpack build failed: $(cat "$work/build.log")"
grep -q 'warning' "$work/build.log" && fail "unexpected warning: $(cat "$work/build.log")"
machine() { # the machine field of a program's file header: 014c i686, 8664 x86_64
    od -An -tx2 -j$(($(od -An -tu4 -j60 -N4 "$1" | tr -d ' ') + 4)) -N2 "$1" | tr -d ' '
}
from=${5:-$(dirname "$updpack")/update-stub.exe}
[ -f "$from" ] && [ "$(machine "$work/update.exe")" != "$(machine "$from")" ] &&
    fail "the updater's machine $(machine "$work/update.exe") is not its stub's $(machine "$from")"

cat >"$work/script" <<'SCRIPT'
start
expect-box text="「ビルド確認ゲーム」がインストールされていません" caption="UPDATE" buttons=OK icon=error owner=none
press-box OK
expect-exit 0
SCRIPT
updater="Z:$(echo "$work/update.exe" | tr '/' '\\')"
"$scripts/wine-run.sh" "$prefix" "$bin/e2e_driver.exe" "Z:$work/script" "$updater" "Z:$bin/e2e_game.exe" \
    >"$work/driver.log" 2>&1 || {
    grep -av '^fixme\|^err:' "$work/driver.log" | head -20 >&2
    fail "the built updater did not show its first box as expected"
}
rm -rf "$work"
echo "updpack_build_runs: passed"
