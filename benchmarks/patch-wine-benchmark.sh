#!/bin/bash
# Applying a patch inside update.exe under Wine, against the whole-file update of the same file (not a
# test). For each pair of patch-benchmark.sh (NAME.old and NAME.new, made by its --pairs-only or taken from
# its folder), `updpack build` makes two updaters of the same update folder: one carrying NAME.new whole,
# one carrying the patch from NAME.old (--base). Each updates a game whose NAME is NAME.old, driven through
# the wizard by the end-to-end driver, RUNS times in a fresh prefix each; the update's time is the driver's
# from the confirmation's "次へ" to the completion page, and the new file is compared with NAME.new.
# Then, in the same prefix, update_floor_os (the same code built -Os, as the updater builds it) takes the
# marks beside it: "apply", ApplyPatch alone and the digest alone over the same result bytes; "floor", the
# whole file's entry decoded and written, flushed. Medians of RUNS; a busy machine shows in their spread.
# On the x86_64 Wine route the programs measured are the 64-bit build of the same code (the i686 updater
# that ships cannot run where the host executes no 32-bit code).
# Usage: benchmarks/patch-wine-benchmark.sh [BUILD_DIR]   (default build/test; after its build)
#   RUNS=N (default 3); PAIRS="NAME..." (default every pair); UPDPACK=FILE (default: a release build of
#   updpack in build/bench, whose suffix sort makes the patches in a minute rather than the sanitized
#   build's many); PATCH_BENCH_WORK as for patch-benchmark.sh.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/test}" && pwd) || exit 1
runs=${RUNS:-3}
fail() {
    echo "patch-wine-benchmark: $*" >&2
    exit 1
}

route=$(cut -d' ' -f1 "$build/wine-route.txt" 2>/dev/null)
case "$route" in
i686) bin=$build/windows/bin ;;
x86_64) bin=$build/windows-x86_64/bin ;;
*) fail "no Wine route in $build/wine-route.txt (configure the build first)" ;;
esac
for program in "$bin/update.exe" "$bin/update_floor_os.exe"; do
    [ -f "$program" ] || fail "missing $program (build $build first)"
done
bench=$root/build/bench
if [ -z "${UPDPACK:-}" ]; then
    cmake -S "$root" -B "$bench" -DCMAKE_BUILD_TYPE=Release -DUPDATER_WINDOWS_BUILD=OFF -DBUILD_TESTING=OFF \
        >/dev/null || fail "cannot configure $bench"
    cmake --build "$bench" --target updpack -j2 >/dev/null || fail "cannot build updpack in $bench"
    UPDPACK=$bench/bin/updpack
fi
pairs_work=${PATCH_BENCH_WORK:-$bench/patch-bench}
PATCH_BENCH_WORK=$pairs_work sh "$root/benchmarks/patch-benchmark.sh" --pairs-only "$bench" >/dev/null ||
    fail "cannot make the pairs in $pairs_work"
names=${PAIRS:-$(cd "$pairs_work" && ls *.old | sed 's/\.old$//' | sort | tr '\n' ' ')}

work=$build/benchmarks/patch-wine
template=$build/benchmarks/update-template-prefix
"$root/scripts/wine-prefix.sh" "$template" "$route" || fail "cannot prepare the prefix $template"
. "$root/scripts/wine-env.sh"
rm -rf "$work"
mkdir -p "$work"
median() { tr ' ' '\n' | grep . | sort -n | sed -n "$(((runs + 1) / 2))p"; }
stored_size() { # UPDATER NAME patch|whole: the stored size of that entry
    "$UPDPACK" list "$1" --json 2>/dev/null | python3 -c '
import json, sys
entries = json.load(sys.stdin)["entries"]
print(next((e["storedSize"] for e in entries if e["name"] == sys.argv[1] and (e["form"] == "patch") == (sys.argv[2] == "patch")), ""))' "$2" "$3"
}
seconds_of() { sed -n "s/^$1: \([0-9.]*\) s.*/\1/p"; }

table="| file (result bytes) | patch | whole entry | whole-file update s | patched update s | patched / whole | ApplyPatch alone s | digest alone s (share of ApplyPatch) | floor: whole entry decoded and written s |
|---|---|---|---|---|---|---|---|---|"
for name in $names; do
    old=$pairs_work/$name.old new=$pairs_work/$name.new
    [ -f "$old" ] && [ -f "$new" ] || fail "no pair $name in $pairs_work"
    scenario=$work/$name/scenario
    mkdir -p "$scenario/update" "$scenario/install/C/game" "$work/$name/pack" "$work/$name/base"
    {
        echo "[SETUP]"
        echo "CompanyName=テストソフト"
        echo "GameTitle=テストゲーム"
        echo "GameClass=TestGameClass"
        echo "GameDir=TestGame"
        echo "UpdaterVersion=1.01"
        echo
        echo "[UPDATE]"
        echo "UpdateFile00=$name"
    } >"$scenario/update/UPDATE.INI"
    ln -f "$new" "$scenario/update/$name"
    ln -f "$old" "$scenario/install/C/game/$name"
    # The update folder as updpack reads it (code page 932, CRLF), and the previous release beside it.
    perl -pe 's/\r?\n/\r\n/' "$scenario/update/UPDATE.INI" | iconv -f UTF-8 -t CP932 >"$work/$name/pack/UPDATE.INI"
    ln -f "$new" "$work/$name/pack/$name"
    ln -f "$old" "$work/$name/base/$name"
    "$UPDPACK" build "$work/$name/whole.exe" "$work/$name/pack" --stub "$bin/update.exe" >"$work/$name/whole.log" 2>&1 ||
        fail "updpack build failed: $(cat "$work/$name/whole.log")"
    "$UPDPACK" build "$work/$name/patched.exe" "$work/$name/pack" --base "$work/$name/base" --stub "$bin/update.exe" \
        >"$work/$name/patched.log" 2>&1 || fail "updpack build --base failed: $(cat "$work/$name/patched.log")"
    patch_size=$(stored_size "$work/$name/patched.exe" "$name" patch)
    [ -n "$patch_size" ] || fail "the updater of $name carries no patch: $(cat "$work/$name/patched.log")"
    whole_size=$(stored_size "$work/$name/whole.exe" "$name" whole)
    cat >"$scenario/script" <<SCRIPT
start
expect-page template=100 info="「テストゲーム」のアップデートを開始します"
click next
expect-page info="アップデートを実行します"
timeout 600000
stopwatch confirmation
click next
expect-page info="アップデートは完了しました"
stopwatch update
click next
expect-exit 1
SCRIPT
    printf 'same C:\\game\\%s update/%s\n' "$name" "$name" >"$scenario/expect-files"

    # The disk's cache written back before each timed run, so that one run's writes do not slow the next.
    echo sync >"$work/sync.sh"
    declare -A times=()
    for kind in whole patched; do
        times[$kind]=""
        for ((n = 1; n <= runs; n++)); do
            run=$work/$name/run-$kind
            E2E_KEEP_WORK=1 E2E_UPDATER=$work/$name/$kind.exe E2E_BEFORE_RUN=$work/sync.sh "$root/tests/e2e/run-scenario.sh" "$scenario" "$run" \
                "$template" "$bin" "$UPDPACK" >"$work/$name/$kind.run.log" 2>&1 ||
                fail "the $kind update of $name did not pass: $(tail -20 "$work/$name/$kind.run.log")"
            seconds=$(tr -d '\r' <"$work/$name/$kind.run.log" | seconds_of "stopwatch update")
            [ -n "$seconds" ] || fail "no time in $work/$name/$kind.run.log"
            times[$kind]="${times[$kind]} $seconds"
            [ $n = $runs ] || rm -rf "$run"
        done
    done
    # The marks in the last patched run's prefix: the base again beside the updated game, fresh folders.
    prefix=$work/$name/run-patched/prefix
    applies="" digests="" floors=""
    mkdir -p "$prefix/drive_c/old"
    cp "$old" "$prefix/drive_c/old/$name"
    for ((n = 1; n <= runs; n++)); do
        rm -rf "$prefix/drive_c/new" "$prefix/drive_c/floor"
        mkdir -p "$prefix/drive_c/new" "$prefix/drive_c/floor"
        sync
        "$root/scripts/wine-run.sh" "$prefix" "$bin/update_floor_os.exe" apply 'C:\updater\update.exe' 'C:\old' 'C:\new' \
            >"$work/$name/apply.log" 2>&1 || fail "ApplyPatch was not measured: $(cat "$work/$name/apply.log")"
        cmp -s "$prefix/drive_c/new/$name" "$new" || fail "update_floor applied the patch of $name wrongly"
        line=$(tr -d '\r' <"$work/$name/apply.log" | grep '^apply: ')
        echo "$name: $line"
        applies="$applies $(echo "$line" | seconds_of apply)"
        digests="$digests $(echo "$line" | sed -n 's/.*digest alone \([0-9.]*\) s.*/\1/p')"
        sync
        "$root/scripts/wine-run.sh" "$prefix" "$bin/update_floor_os.exe" floor "Z:$work/$name/whole.exe" 'C:\floor' \
            >"$work/$name/floor.log" 2>&1 || fail "the floor was not measured: $(cat "$work/$name/floor.log")"
        cmp -s "$prefix/drive_c/floor/$name" "$new" || fail "update_floor wrote $name wrongly"
        line=$(tr -d '\r' <"$work/$name/floor.log" | grep '^floor: ')
        echo "$name: $line"
        floors="$floors $(echo "$line" | seconds_of floor)"
    done
    wine_env "$route" "$prefix" && "$wine_server" -k >/dev/null 2>&1
    echo "$name: whole-file update:${times[whole]} s; patched update:${times[patched]} s"
    table="$table
$(awk -v name="$name" -v size="$(stat -c %s "$new")" -v patch="$patch_size" -v whole="$whole_size" \
        -v w="$(echo ${times[whole]} | median)" -v p="$(echo ${times[patched]} | median)" \
        -v a="$(echo $applies | median)" -v d="$(echo $digests | median)" -v f="$(echo $floors | median)" 'BEGIN {
    printf "| %s (%d) | %d | %d | %.3f | %.3f | %.2f | %.3f | %.3f (%.0f %%) | %.3f |", name, size, patch,
        whole, w, p, p / w, a, d, 100 * d / a, f
}')"
    rm -rf "$work/$name/run-whole" "$work/$name/run-patched"
done
echo
echo "route: $route; medians of $runs runs"
echo "$table"
