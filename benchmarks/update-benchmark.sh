#!/bin/bash
# The update's speed under Wine (not a test): the real update.exe, built by `updpack build`, applies 16
# files of 12.5 MiB (200 MiB) driven through the wizard by the end-to-end driver, three times (the first
# run writes new files, the others replace them); its time from the confirmation's "次へ" to the completion
# page is printed beside two marks taken afterwards in the same prefix, as often: the floor (every entry
# decoded by an -O2 build of the decoder and written, flushed, into a fresh file: the work no update can
# skip) and a plain copy of the same files. Then where the time goes: the updater's steps timed one by one,
# and the floor with the decoder built -Os; and its start: the time from the start to the first page, and
# the check of its own file that it makes first, timed on its own. A busy machine shows in the spread of
# the three runs.
# The files are slices of the Wine DLLs that the set-up installs, so a machine with the same Wine
# packages packs the same bytes (their checksum is printed).
# Usage: benchmarks/update-benchmark.sh [BUILD_DIR]   (default build/test; after its build)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/test}" && pwd) || exit 1
fail() {
    echo "update-benchmark: $*" >&2
    exit 1
}

route=$(cut -d' ' -f1 "$build/wine-route.txt" 2>/dev/null)
case "$route" in
i686) bin=$build/windows/bin dlls=/usr/lib/i386-linux-gnu/wine/i386-windows ;;
x86_64) bin=$build/windows-x86_64/bin dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows ;;
*) fail "no Wine route in $build/wine-route.txt (configure the build first)" ;;
esac
updpack=${UPDPACK:-$build/bin/updpack} # a release build packs faster
for program in "$bin/update_floor.exe" "$bin/update.exe" "$updpack"; do
    [ -f "$program" ] || fail "missing $program (build $build first)"
done
work=$build/benchmarks/update
template=$build/benchmarks/update-template-prefix
"$root/scripts/wine-prefix.sh" "$template" "$route" || fail "cannot prepare the prefix $template"

# The scenario: 16 entries, the driver's script with two stopwatch marks, the disk checked afterwards.
count=16
size=$((200 * 1024 * 1024 / count))
scenario=$work/scenario
rm -rf "$work"
mkdir -p "$scenario/update"
{
    echo "[SETUP]"
    echo "CompanyName=テストソフト"
    echo "GameTitle=テストゲーム"
    echo "GameClass=TestGameClass"
    echo "GameDir=TestGame"
    echo "UpdaterVersion=1.01"
    echo
    echo "[UPDATE]"
    for ((i = 0; i < count; i++)); do printf 'UpdateFile%02d=part%02d.bin\n' "$i" "$i"; done
} >"$scenario/update/UPDATE.INI"
# Concatenated in name order and cut into consecutive slices (the DLLs hold about 500 MB).
find "$dlls" -maxdepth 1 -name '*.dll' | LC_ALL=C sort | xargs cat 2>/dev/null | head -c $((size * count)) |
    split -b "$size" -d -a 2 --additional-suffix=.bin - "$scenario/update/part"
for ((i = 0; i < count; i++)); do
    [ "$(stat -c %s "$scenario/update/part$(printf %02d $i).bin")" = "$size" ] || fail "the DLLs of $dlls are too few"
done
echo "payload: $count files of $size bytes, sha1 of all $(cat "$scenario"/update/part*.bin | sha1sum | cut -c1-16)"
runs=3
for ((n = 1; n <= runs; n++)); do
    process=process=run$n
    cat <<SCRIPT
stopwatch before$n
start $process
expect-page $process template=100 info="「テストゲーム」のアップデートを開始します"
stopwatch started$n
click $process next
expect-page $process info="アップデートを実行します"
timeout 600000
stopwatch confirmation$n
click $process next
expect-page $process info="アップデートは完了しました"
stopwatch update$n
click $process next
expect-exit $process 1
timeout 30000
SCRIPT
done >"$scenario/script"
: >"$scenario/expect-files"
for ((i = 0; i < count; i++)); do
    printf 'same C:\\game\\part%02d.bin update/part%02d.bin\n' "$i" "$i" >>"$scenario/expect-files"
done

run=$work/run
E2E_KEEP_WORK=1 "$root/tests/e2e/run-scenario.sh" "$scenario" "$run" "$template" "$bin" "$updpack" >"$work/scenario.log" 2>&1 ||
    fail "the update did not pass: $(tail -20 "$work/scenario.log")"
median() { tr ' ' '\n' | grep . | sort -n | sed -n "$(((runs + 1) / 2))p"; }
updates=$(tr -d '\r' <"$work/scenario.log" | sed -n 's/^stopwatch update[0-9]*: \([0-9.]*\) s$/\1/p' | tr '\n' ' ')
[ "$(echo $updates | wc -w)" = $runs ] || fail "no times in $work/scenario.log"
update=$(echo $updates | median)
# From the start to the first page: the updater's check of its own file is most of it.
starts=$(tr -d '\r' <"$work/scenario.log" | sed -n 's/^stopwatch started[0-9]*: \([0-9.]*\) s$/\1/p' | tr '\n' ' ')
start=$(echo $starts | median)
echo "updater: $(stat -c %s "$run/prefix/drive_c/updater/update.exe") bytes"

# The marks, in the same prefix, into fresh folders of the same drive, as many times as the updater ran.
prefix=$run/prefix
sources=()
for ((i = 0; i < count; i++)); do sources+=("Z:$run/update/part$(printf %02d $i).bin"); done
floors="" copies=""
for ((n = 1; n <= runs; n++)); do
    mkdir -p "$prefix/drive_c/floor$n" "$prefix/drive_c/copy$n"
    "$root/scripts/wine-run.sh" "$prefix" "$bin/update_floor.exe" floor 'C:\updater\update.exe' "C:\\floor$n" >"$work/floor.log" 2>&1 ||
        fail "the floor was not measured: $(cat "$work/floor.log")"
    "$root/scripts/wine-run.sh" "$prefix" "$bin/update_floor.exe" copy "C:\\copy$n" "${sources[@]}" >"$work/copy.log" 2>&1 ||
        fail "the copy was not measured: $(cat "$work/copy.log")"
    floor_line=$(tr -d '\r' <"$work/floor.log" | grep '^floor: ')
    copy_line=$(tr -d '\r' <"$work/copy.log" | grep '^copy: ')
    echo "$floor_line"
    echo "$copy_line"
    floors="$floors $(echo "$floor_line" | sed 's/^floor: \([0-9.]*\) s.*/\1/')"
    copies="$copies $(echo "$copy_line" | sed 's/^copy: \([0-9.]*\) s.*/\1/')"
done
for ((i = 0; i < count; i++)); do
    name=part$(printf %02d $i).bin
    cmp -s "$prefix/drive_c/floor1/$name" "$run/update/$name" || fail "the floor wrote $name wrongly"
done
floor=$(echo $floors | median)
copy=$(echo $copies | median)
# The updater's check of its own file, on its own, as often.
checks=""
for ((n = 1; n <= runs; n++)); do
    "$root/scripts/wine-run.sh" "$prefix" "$bin/update_floor.exe" check 'C:\updater\update.exe' >"$work/check.log" 2>&1 ||
        fail "the check was not measured: $(cat "$work/check.log")"
    check_line=$(tr -d '\r' <"$work/check.log" | grep '^check: ')
    echo "$check_line"
    checks="$checks $(echo "$check_line" | sed 's/^check: \([0-9.]*\) s.*/\1/')"
done
check=$(echo $checks | median)
# Where the time goes: the updater's steps one by one, over the files the floor wrote; the decoder built -Os.
"$root/scripts/wine-run.sh" "$prefix" "$bin/update_floor.exe" steps 'C:\updater\update.exe' 'C:\floor1' >"$work/steps.log" 2>&1 ||
    fail "the steps were not measured: $(cat "$work/steps.log")"
mkdir -p "$prefix/drive_c/floor-os"
"$root/scripts/wine-run.sh" "$prefix" "$bin/update_floor_os.exe" floor 'C:\updater\update.exe' 'C:\floor-os' >"$work/floor-os.log" 2>&1 ||
    fail "the floor of the -Os decoder was not measured: $(cat "$work/floor-os.log")"
steps_line=$(tr -d '\r' <"$work/steps.log" | grep '^steps: ')
os_line=$(tr -d '\r' <"$work/floor-os.log" | grep '^floor: ' | sed 's/^floor:/floor, decoder -Os:/')
. "$root/scripts/wine-env.sh"
wine_env "$route" "$prefix" && "$wine_server" -k >/dev/null 2>&1

echo "route: $route"
echo "update.exe:$(printf ' %s s' $updates)"
echo "update.exe, start to first page:$(printf ' %s s' $starts)"
echo "$steps_line"
echo "$os_line"
echo
echo "| $((size * count / 1048576)) MiB in $count files | seconds | × floor |"
echo "|---|---|---|"
awk -v runs="$runs" -v u="$update" -v f="$floor" -v c="$copy" -v k="$check" -v s="$start" 'BEGIN {
    printf "| update.exe, confirmation to completion page (median of %d) | %.3f | %.2f |\n", runs, u, u / f
    printf "| floor: decode (-O2) and flushed writes (median) | %.3f | 1.00 |\n", f
    printf "| plain copy (median) | %.3f | %.2f |\n", c, c / f
    printf "| update.exe, start to first page (median) | %.3f | %.2f |\n", s, s / f
    printf "| the check of its own file (median; %.1f %% of the update) | %.3f | %.2f |\n", 100 * k / u, k, k / f
}'
rm -rf "$run"
