#!/bin/bash
# The scale of the 32-bit updater under Wine (not part of ctest: each case packs and applies a file of up
# to 2 GB). Each case is an end-to-end scenario (tests/e2e/run-scenario.sh) with one file, big.bin:
#   entry-fits     ENTRY_FITS MiB of zeros (a compressed entry decoded into one block): the update completes
#                  and the file is written whole
#   entry-beyond   ENTRY_BEYOND MiB of zeros: "Can't Allocate Memory !!", then the write failure and the
#                  abandon box; no file and no temporary file are left in the game's folder
#   payload-fits   PAYLOAD_FITS MiB of random bytes (stored as they are: the whole payload is mapped with
#                  the program): the update completes and the file is written whole (updpack build
#                  puts at most 1792 MiB of resources into a program)
# Usage: benchmarks/update-limits.sh [BUILD_DIR [ENTRY_FITS ENTRY_BEYOND [PAYLOAD_FITS]]]
#        (default build/test, 1792 1920 0; a size of 0 skips its case; PAYLOAD_FITS packs slowly)
# UPDPACK=PATH packs with another updpack (a release build packs faster than the sanitized test build).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/test}" && pwd) || exit 1
entry_fits=${2:-1792}
entry_beyond=${3:-1920}
payload_fits=${4:-0}
fail() {
    echo "update-limits: $*" >&2
    exit 1
}

route=$(cut -d' ' -f1 "$build/wine-route.txt" 2>/dev/null)
[ "$route" = i686 ] || fail "the limits are those of the i686 route; this build's route is ${route:-unknown}"
bin=$build/windows/bin
updpack=${UPDPACK:-$build/bin/updpack}
for program in "$bin/update.exe" "$updpack"; do
    [ -f "$program" ] || fail "missing $program (build $build first)"
done
work=$build/benchmarks/limits
template=$build/benchmarks/update-template-prefix
"$root/scripts/wine-prefix.sh" "$template" "$route" || fail "cannot prepare the prefix $template"
rm -rf "$work"

# scenario NAME: the folder with UPDATE.INI naming big.bin; the caller adds big.bin, script and expect-files.
scenario() {
    local folder=$work/$1
    mkdir -p "$folder/update"
    printf '[SETUP]\nCompanyName=テストソフト\nGameTitle=テストゲーム\nGameClass=TestGameClass\nGameDir=TestGame\nUpdaterVersion=1.01\n\n[UPDATE]\nUpdateFile00=big.bin\n' \
        >"$folder/update/UPDATE.INI"
    # Without the common patch.dat: big.bin is the only entry besides UPDATE.INI.
    echo patch.dat >"$folder/update-remove"
    echo "$folder"
}

completes() { # the whole road, the file written whole
    cat >"$1/script" <<'SCRIPT'
start
expect-page template=100
click next
expect-page info="アップデートを実行します"
timeout 900000
click next
expect-page info="アップデートは完了しました"
stopwatch update
timeout 30000
click next
expect-exit 1
SCRIPT
    printf 'same C:\\game\\big.bin update/big.bin\nfiles C:\\game SETUP.INI big.bin\n' >"$1/expect-files"
}

run() { # NAME: runs the scenario, prints its result and the updater's size
    local status
    local started=$SECONDS
    "$root/tests/e2e/run-scenario.sh" "$work/$1" "$work/$1-run" "$template" "$bin" "$updpack" >"$work/$1.log" 2>&1
    status=$?
    local time
    time=$(tr -d '\r' <"$work/$1.log" | sed -n 's/^stopwatch update: //p')
    if [ $status = 0 ]; then
        echo "$1: passed (${time:+update $time, }$((SECONDS - started)) s in all)"
    else
        echo "$1: FAILED, see $work/$1.log"
        tail -5 "$work/$1.log"
        failed=1
    fi
    rm -rf "$work/$1-run"
}
failed=0

if [ "$entry_fits" != 0 ]; then
    folder=$(scenario entry-fits)
    truncate -s "${entry_fits}M" "$folder/update/big.bin"
    completes "$folder"
    echo "entry-fits: one compressed entry of $entry_fits MiB"
    run entry-fits
    rm -rf "$folder"
fi
if [ "$entry_beyond" != 0 ]; then
    folder=$(scenario entry-beyond)
    truncate -s "${entry_beyond}M" "$folder/update/big.bin"
    cat >"$folder/script" <<'SCRIPT'
start
expect-page template=100
click next
expect-page info="アップデートを実行します"
timeout 300000
click next
expect-box text="Can't Allocate Memory !!" caption="テストゲーム アップデータ 1.01" buttons=OK icon=error owner=wizard
timeout 30000
press-box OK
expect-box text="ファイルの書き込みに失敗しました" caption="テストゲーム アップデータ 1.01" buttons=OK icon=error owner=wizard
press-box OK
expect-box text="アップデートが中断されました" caption="テストゲーム アップデータ 1.01" buttons=OK icon=error owner=none
press-box OK
expect-exit 0
SCRIPT
    printf 'absent C:\\game\\big.bin\nfiles C:\\game SETUP.INI\n' >"$folder/expect-files"
    echo "entry-beyond: one compressed entry of $entry_beyond MiB"
    run entry-beyond
    rm -rf "$folder"
fi

if [ "$payload_fits" != 0 ]; then
    folder=$(scenario payload-fits)
    head -c "${payload_fits}M" /dev/urandom >"$folder/update/big.bin"
    completes "$folder"
    echo "payload-fits: one stored entry of $payload_fits MiB"
    run payload-fits
    rm -rf "$folder"
fi
exit $failed
