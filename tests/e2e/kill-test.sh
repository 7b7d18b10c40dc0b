#!/bin/bash
# The kill test: the real update.exe applies a large update (kill/) under Wine and is terminated from
# outside (TerminateProcess, as a crash or the task manager ends it) at moments spread over its writes.
# After every kill each target must be as before (content, time and mode; a new file still missing) or
# wholly new, the player's data file must keep its content, and nothing may lie beside them but the
# updater's temporary names (README.md, "How files are replaced"). Each kill point is one run of
# run-scenario.sh with kill/ whose script ends with "sleep MS" and "terminate".
# First one run goes to the end unharmed, which times the writes (from the confirming click to the
# completion page); the kill points spread evenly over 0 to 1.2 times that.
# Usage: kill-test.sh WORK_DIR TEMPLATE_PREFIX WINDOWS_BIN_DIR UPDPACK [POINTS]   (default 5 points)
# Many points:  tests/e2e/kill-test.sh /tmp/kill build/test/tests/e2e/template-prefix \
#                   build/test/windows/bin build/test/bin/updpack 200
set -u
work=$1
template=$2
bin=$3
updpack=$4
points=${5:-5}
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "kill-test: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work" || fail "cannot create $work"
work=$(cd "$work" && pwd)
# Packed once, by the unharmed run, for every run.
export E2E_UPDATER=$work/update.exe

# Runs the scenario folder $1 in $2; its output, each line led by the time in milliseconds, goes to $3.
run() {
    "$here/run-scenario.sh" "$1" "$2" "$template" "$bin" "$updpack" 2>&1 |
        while IFS= read -r line; do printf '%s %s\n' "$(date +%s%3N)" "${line%$'\r'}"; done >"$3"
    return "${PIPESTATUS[0]}"
}

run "$here/kill" "$work/calibration" "$work/calibration.log" ||
    fail "the unharmed run failed: $(tail -5 "$work/calibration.log")"
# The second "click next" confirms the update; the third comes once the completion page is shown.
clicks() { awk '$2 == "step" && $4 == "click" && $5 == "next" { print $1 }' "$work/calibration.log"; }
confirmed=$(clicks | sed -n 2p)
completed=$(clicks | sed -n 3p)
[ -n "$confirmed" ] && [ -n "$completed" ] || fail "cannot time the unharmed run: $(cat "$work/calibration.log")"
span=$((completed - confirmed))
echo "unharmed run: the update took $span ms from the confirming click to the completion page"

before=0 during=0 after=0 temporaries=0
point() { # DELAY_MS: one kill point
    local delay=$1 scenario=$work/point-$1 log old new left
    rm -rf "$scenario"
    cp -r "$here/kill" "$scenario"
    mv "$scenario/expect-files-killed" "$scenario/expect-files"
    sed -i '/^expect-page info="アップデートは完了しました"/,$d' "$scenario/script"
    printf 'sleep %s\nterminate\n' "$delay" >>"$scenario/script"
    log=$work/point-$delay.log
    run "$scenario" "$work/run-$delay" "$log" ||
        fail "killed after $delay ms: $(grep -v '^[0-9]* step\|file check' "$log" | tail -5); kept in $work"
    old=$(grep -c 'file check: old-or-new .*: old$' "$log")
    new=$(grep -c 'file check: old-or-new .*: new$' "$log")
    left=$(grep 'temporary files left:' "$log" | sed 's/.*temporary files left://; s/^ none$//' | tr -d '\n')
    [ -z "$left" ] || temporaries=$((temporaries + 1))
    if [ "$new" = 0 ] && [ -z "$left" ]; then
        before=$((before + 1))
    elif [ "$old" = 0 ] && [ -z "$left" ]; then
        after=$((after + 1))
    else
        during=$((during + 1))
    fi
    echo "killed after $delay ms: $old old, $new new, temporary files left:${left:- none}"
    rm -rf "$scenario" "$work/run-$delay"
}

for ((i = 0; i < points; i++)); do
    point $((points > 1 ? span * 12 * i / (10 * (points - 1)) : span / 2))
done
# A handful of points can all miss the writes on a machine busier than at the timing: a few more in the
# middle, since points that never land inside the writes show nothing.
for quarter in 2 1 3; do
    [ "$during" -gt 0 ] && break
    point $((span * quarter / 4))
    points=$((points + 1))
done
echo "kill-test: $points kill points: $before before the first replacement, $during during the writes," \
    "$after after the last; temporary files left at $temporaries; every target old or wholly new"
[ "$during" -gt 0 ] || fail "no kill point fell inside the writes"
rm -rf "$work"
