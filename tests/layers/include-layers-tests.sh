#!/bin/sh
# The layer check on the tree as it is (it must pass), then on copies of the product folders with one
# include planted at a time: upward, sideways between archive/ and setupcfg/, and to a folder the layers do
# not know, and upward links in the folders' CMakeLists.txt (each must fail and name the planted file), and
# downward ones (must still pass).
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
check=$here/include-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

"$check" "$root" || fail "the tree itself breaks its layers"

# plant FILE INCLUDE EXPECTED: a fresh copy with the line added to FILE; EXPECTED is pass or fail.
plant() {
    rm -rf "$work/tree"
    mkdir -p "$work/tree"
    for folder in resources platform context report archive setupcfg update app; do
        cp -R "$root/$folder" "$work/tree/$folder"
    done
    case $1 in
    *CMakeLists.txt) printf 'target_link_libraries(planted PUBLIC %s)\n' "$2" >>"$work/tree/$1" ;;
    *) printf '#include "%s"\n' "$2" >>"$work/tree/$1" ;;
    esac
    output=$("$check" "$work/tree" 2>&1)
    status=$?
    case $3 in
    pass) [ $status -eq 0 ] || fail "$1 including $2 was refused: $output" ;;
    fail)
        [ $status -eq 1 ] || fail "$1 including $2 gave status $status, not 1: $output"
        printf '%s\n' "$output" | grep -q "$1:" || fail "$1 including $2 was not named: $output"
        ;;
    esac
}

plant platform/text_format.cpp context/updater_context.h fail
plant platform/win32.h report/messages.h fail
plant context/updater_context.h archive/archive.h fail
plant report/messages.cpp update/plan_execution.h fail
plant archive/archive.cpp setupcfg/path_join.h fail
plant setupcfg/setup_config.cpp archive/archive.h fail
plant update/update_plan.cpp app/wizard.h fail
plant archive/archive.h tools/updpack/updpack.h fail
plant archive/CMakeLists.txt updater_update fail
plant platform/CMakeLists.txt updater_context fail
plant report/CMakeLists.txt updater_setupcfg fail
plant app/wizard.cpp update/plan_execution.h pass
plant update/CMakeLists.txt updater_report pass
plant update/disk_copies.h report/wizard_pages.h pass
plant report/wizard_pages.cpp resources/resource.h pass

[ $failures -eq 0 ] && echo "include layers: every planted case as expected"
[ $failures -eq 0 ]
