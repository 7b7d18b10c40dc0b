#!/bin/bash
# Holds `updpack plan` against the real updater: for each end-to-end scenario named, the plan is made
# against the laid-out installation just before the updater runs under Wine (plan-before-run.sh), the
# scenario runs and checks itself as usual, and then every verdict of the plan is compared with what
# changed on disk (plan_agreement.py), the outcome with how the run ended.
# Usage: plan-agreement.sh WORK_DIR TEMPLATE_PREFIX WINDOWS_BIN_DIR UPDPACK SCENARIO=OUTCOME...
# Exit status: 0 all agree, 1 a disagreement or a failed scenario, 77 skipped (as the scenario runner).
set -u
work=$1
template=$2
bin=$3
updpack=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/plan-snapshot.sh"
mkdir -p "$work" && work=$(cd "$work" && pwd) || exit 1
status=0
for case in "$@"; do
    scenario=${case%%=*}
    outcome=${case#*=}
    folder=$work/$scenario
    echo "== $scenario (the run: $outcome)"
    E2E_KEEP_WORK=1 E2E_BEFORE_RUN=$here/plan-before-run.sh \
        "$here/run-scenario.sh" "$here/scenarios/$scenario" "$folder" "$template" "$bin" "$updpack" >"$work/$scenario.log" 2>&1
    result=$?
    if [ $result -eq 77 ]; then
        cat "$work/$scenario.log"
        exit 77
    elif [ $result -ne 0 ]; then
        tail -n 20 "$work/$scenario.log"
        echo "plan-agreement: scenario $scenario failed"
        status=1
        continue
    fi
    mapfile -t folders <"$folder/plan-folders.txt"
    plan_snapshot "${folders[@]}" >"$folder/plan-after.txt"
    if python3 "$here/plan_agreement.py" "$folder/plan.json" "$folder/plan-before.txt" "$folder/plan-after.txt" \
        "$outcome"; then
        rm -rf "$folder"
    else
        echo "plan-agreement: $scenario: the plan disagrees with the run; files are kept in $folder"
        status=1
    fi
done
exit $status
