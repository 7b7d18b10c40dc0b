#!/bin/bash
# The kill test: the real update.exe applies a large update (kill/) under Wine and is terminated from
# outside (TerminateProcess, as a crash or the task manager ends it) at moments spread over its writes.
# After every kill each target must be as before (content, time and mode; a new file still missing) or
# wholly new, the player's data file must keep its content, and nothing may lie beside them but the
# updater's temporary names and backups (docs/replacing-files.md). The set must be all old
# (killed before or while preparing), all new (after the commit), or, only inside the commit, mixed with
# every replaced file's old copy under its backup name. Each kill point is one run of
# run-scenario.sh with kill/ whose script ends with "sleep MS" and "terminate".
# More points wait for the first backup of each replaced file, to land inside the commit.
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

before=0 preparing=0 committing=0 after=0 temporaries=0 backups=0
point() { # DELAY_MS [FILE]: one kill point, DELAY_MS after the confirming click or after FILE appears
    local delay=$1 await=${2:-} scenario=$work/point-$1${2:+-${2##*\\}} log old new added aside left kept
    rm -rf "$scenario"
    cp -r "$here/kill" "$scenario"
    mv "$scenario/expect-files-killed" "$scenario/expect-files"
    sed -i '/^expect-page info="アップデートは完了しました"/,$d' "$scenario/script"
    [ -z "$await" ] || printf 'await-file path="%s" timeout=120000 until-info="アップデートは完了しました"\n' \
        "${await//\\/\\\\}" >>"$scenario/script"
    printf 'sleep %s\nterminate\n' "$delay" >>"$scenario/script"
    log=$scenario.log
    run "$scenario" "$scenario.run" "$log" ||
        fail "killed after $delay ms${await:+ from $await}: $(grep -v '^[0-9]* step\|file check' "$log" | tail -5); kept in $work"
    old=$(grep -c 'file check: old-or-new .*: old$' "$log")
    new=$(grep -c 'file check: old-or-new .*: new$' "$log")
    added=$(grep -c 'file check: old-or-new .*: added$' "$log")
    # Replaced with the old file still under its backup name, or moved aside and not yet replaced.
    aside=$(grep -c 'file check: old-or-new .*: \(new, old\|aside\) in ' "$log")
    left=$(grep 'temporary files left:' "$log" | sed 's/.*temporary files left://; s/;.*//; s/^ none$//' | tr -d '\n')
    kept=$(grep 'backups left:' "$log" | sed 's/.*backups left://; s/^ none$//' | tr -d '\n')
    [ -z "$left" ] || temporaries=$((temporaries + 1))
    [ -z "$kept" ] || backups=$((backups + 1))
    # The set: all old (the prepared files may lie beside them), all new, or inside the commit every file
    # that is no longer old restorable from its backup (or added by the update).
    if [ "$new" = 0 ] && [ "$added" = 0 ] && [ "$aside" = 0 ] && [ -z "$kept" ]; then
        if [ -z "$left" ]; then before=$((before + 1)); else preparing=$((preparing + 1)); fi
    elif [ "$old" = 0 ] && [ "$aside" = 0 ] && [ -z "$kept" ]; then
        # Every file new: killed after the commit, at most while its clean-up deleted what was left beside
        # (a staging folder to delete, as after any killed clean-up).
        after=$((after + 1))
    elif [ "$old" != 0 ] && [ "$new" != 0 ]; then
        fail "killed after $delay ms${await:+ from $await}: $old files old and $new new without their old copy; kept in $work"
    elif [ -z "$kept" ]; then
        fail "killed after $delay ms${await:+ from $await}: a mixed set without backups ($old old, $new new, $added added); kept in $work"
    else
        committing=$((committing + 1))
    fi
    echo "killed after $delay ms${await:+ from $await}: $old old, $new new, $added added, $aside restorable from backups," \
        "temporary files left:${left:- none}, backups left:${kept:- none}"
    rm -rf "$scenario" "$scenario.run"
}

for ((i = 0; i < points; i++)); do
    point $((points > 1 ? span * 12 * i / (10 * (points - 1)) : span / 2))
done
# The commit is too quick for points spread over the whole run: these wait until an old file is moved aside
# (the commit runs in plan order) and end the updater at once or a moment later.
for backup in 'C:\game\big1.dat.~bk0' 'C:\game\big2.dat.~bk0' 'C:\game\big3.dat.~bk0' 'C:\game\big5.dat.~bk0' \
    'C:\game\data\save.dat.~bk0' 'C:\game\movie\m1.dat.~bk0'; do
    for delay in 0 2; do
        point "$delay" "$backup"
        points=$((points + 1))
    done
done
# A handful of points can all miss the writes on a machine busier than at the timing: a few more in the
# middle, since points that never land inside the writes show nothing.
for quarter in 2 1 3; do
    [ $((preparing + committing)) -gt 0 ] && break
    point $((span * quarter / 4))
    points=$((points + 1))
done
echo "kill-test: $points kill points: $before before the first prepared file, $preparing while preparing," \
    "$committing inside the commit (restorable from backups), $after after the commit; temporary files" \
    "left at $temporaries, backups at $backups; every target old or wholly new, every set old, new or restorable"
[ $((preparing + committing)) -gt 0 ] || fail "no kill point fell inside the writes"
rm -rf "$work"
