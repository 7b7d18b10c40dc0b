#!/bin/bash
# Times updpack's create, list, test and extract on a folder of many small files, and checks that extract
# gives the folder back. A measurement to run by hand (with a release build), not one of the tests. On a
# busy machine the wall-clock time includes waiting for a processor; user and system time do not.
# Usage: large-folder-benchmark.sh UPDPACK [COUNT] [WORK]
#   COUNT  files in the folder (default 100000)
#   WORK   a folder to work in, removed first and afterwards (default: a new folder in /dev/shm where the
#          host has it, so that the file system's own cost of creating the files counts for little)
set -eu
updpack=$(realpath "$1")
count=${2:-100000}
work=${3:-}
if [ -z "$work" ]; then
    if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; else base=${TMPDIR:-/tmp}; fi
    work=$(mktemp -d "$base/updpack-benchmark-XXXXXX")
fi
rm -rf "$work"
mkdir -p "$work/source"
trap 'rm -rf "$work"' EXIT
cd "$work"

awk -v n="$count" 'BEGIN {
    for (i = 0; i < n; ++i) {
        # Half the names are Japanese: the updater compares their double-byte characters as characters.
        name = sprintf(i % 2 ? "source/セーブデータ%06d.dat" : "source/file%06d.dat", i)
        printf "small file %d of the benchmark, %s\n", i, (i % 3 ? "text that repeats, text that repeats" : "x") > name
        close(name)
    }
}'

TIMEFORMAT='%R s (user %U s, system %S s)'
measure() { # NAME COMMAND...: runs the command, its output kept in NAME.out, and prints the time it took
    local name=$1 seconds
    shift
    seconds=$( { time "$@" >"$work/$name.out" 2>&1; } 2>&1 ) || {
        echo "$name failed:" >&2
        tail -5 "$work/$name.out" >&2
        exit 1
    }
    printf '%-8s %s\n' "$name" "$seconds"
}

echo "$count files in $work ($(df -T "$work" | awk 'NR == 2 { print $2 }'))"
measure create "$updpack" create large.kt2 source
measure list "$updpack" list large.kt2
measure test "$updpack" test large.kt2
measure extract "$updpack" extract large.kt2 out
grep -q "^$count entries" list.out || { echo "list does not count $count entries" >&2; exit 1; }
[ "$(find out -type f | wc -l)" -eq "$count" ] || { echo "extract did not write $count files" >&2; exit 1; }
diff -r source out >/dev/null || { echo "extract: the files differ" >&2; exit 1; }
echo "archive $(stat -c %s large.kt2) bytes; extract gave the folder back"
