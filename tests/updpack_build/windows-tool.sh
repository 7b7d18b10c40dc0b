#!/bin/bash
# The Windows updpack.exe under Wine against the native updpack, on a folder with Japanese file names (one
# whose code page 932 form ends in the byte 0x5C): create gives the same archive byte for byte, list the same
# listing, test passes, extract gives the files back with their times, build (stub found beside the tool)
# gives the same updater, and list/test read that updater. A name of 255 characters goes through create and
# extract (its whole path is past MAX_PATH). Refusals: names the updater does not tell apart (letters and
# full-width letters in another case), a name code page 932 lacks, a device name, a named pipe in the folder
# and the NUL device as the archive (both refused at once, not waited on), a folder the updater would
# stumble on, a program that carries no archive.
# Usage: windows-tool.sh PREFIX WINDOWS_BIN UPDPACK WORK
set -u
prefix=$1
bin=$(cd "$2" && pwd)
updpack=$3
work=$4
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
failures=0

fail() {
    echo "updpack_build_tool: $*" >&2
    failures=$((failures + 1))
}
wintool() { # runs updpack.exe in the work folder; stdout without the CR of text mode
    local status
    # A run that waits for ever (on a pipe, say) is cut off and fails.
    (cd "$work" && timeout 300 "$scripts/wine-run.sh" "$prefix" "$bin/updpack.exe" "$@" >"$work/wine.stdout" 2>"$work/wine.stderr")
    status=$?
    tr -d '\r' <"$work/wine.stdout"
    grep -av '^fixme\|^err:\|^wine:' "$work/wine.stderr" | tr -d '\r' >"$work/stderr"
    return "$status"
}

rm -rf "$work"
mkdir -p "$work/src" "$work/bad"
work=$(cd "$work" && pwd)
cd "$work" || exit 1
printf '%s\r\n' '[SETUP]' 'CompanyName=テストソフト' 'GameTitle=テスト' 'GameClass=Test' 'GameDir=Test' \
    'AgreementText=同意書.TXT' '[UPDATE]' 'UpdateFile00=1,u,セーブ表.dat' 'UpdateFile01=d,sub\data.bin' |
    iconv -f UTF-8 -t CP932 >src/UPDATE.INI
printf '%s\r\n' '同意してください。' | iconv -f UTF-8 -t CP932 >src/同意書.txt
head -c 5000 /dev/urandom >src/セーブ表.dat
yes 'data line' | head -c 20000 >src/DATA.BIN
touch -d '2021-03-04 05:06:07.1234567 UTC' src/*
touch -d '1999-12-31 23:59:59 UTC' src/DATA.BIN

"$updpack" create native.kt2 src >/dev/null 2>&1 || fail "native create failed"
"$updpack" list native.kt2 >native.list 2>&1 || fail "native list failed"
"$updpack" build native.exe src --stub "$bin/update.exe" >/dev/null 2>&1 || fail "native build failed"

wintool create win.kt2 src >/dev/null || fail "create failed: $(cat stderr)"
cmp -s win.kt2 native.kt2 || fail "create: the archive differs from the native tool's"
wintool list win.kt2 >win.list || fail "list failed: $(cat stderr)"
cmp -s win.list native.list || fail "list differs: $(diff win.list native.list)"
grep -q 'セーブ表.dat' win.list || fail "list does not name セーブ表.dat"
wintool test win.kt2 >test.out || fail "test failed: $(cat stderr)"
grep -q '4 entries, all sound' test.out || fail "test says: $(cat test.out)"
wintool extract win.kt2 'out\deeper' >/dev/null || fail "extract failed: $(cat stderr)"
diff -r out/deeper src >/dev/null || fail "extract: the files differ: $(diff -r out/deeper src)"
for file in src/*; do
    name=$(basename "$file")
    [ "$(stat -c %Y "out/deeper/$name")" = "$(stat -c %Y "$file")" ] || fail "extract: $name lost its time"
done

# Without --stub the tool takes update.exe beside itself, as the Windows build lays them out.
wintool build win.exe src >build.out || fail "build failed: $(cat stderr)"
cmp -s win.exe native.exe || fail "build: the updater differs from the native tool's"
wintool list native.exe >exe.list || fail "list of the updater failed: $(cat stderr)"
cmp -s exe.list native.list || fail "list of the updater differs from the archive's"
wintool test win.exe >/dev/null || fail "test of the updater failed: $(cat stderr)"

# The longest name a Windows folder holds, in a folder whose path takes it past MAX_PATH.
long=$(printf 'n%.0s' $(seq 251)).dat
mkdir -p longsrc
printf 'long' >"longsrc/$long"
wintool create long.kt2 longsrc >/dev/null || fail "create of a 255-character name failed: $(cat stderr)"
wintool extract long.kt2 'out\long' >/dev/null || fail "extract of a 255-character name failed: $(cat stderr)"
[ "$(cat "out/long/$long" 2>/dev/null)" = long ] || fail "extract: the 255-character name did not come back"
[ "$(ls -A out/long)" = "$long" ] || fail "extract left more than the file: $(ls -A out/long)"

# Refusals.
printf 'x' >bad/CON.txt
wintool create bad.kt2 bad >/dev/null && fail "create took the device name CON.txt"
grep -q '"CON.txt": not a name Windows can hold as written' stderr || fail "CON.txt refusal: $(cat stderr)"
rm -f bad/CON.txt
mkfifo bad/pipe
wintool create bad.kt2 bad >/dev/null && fail "create took a named pipe"
grep -q '"pipe": a pipe or a device, not a regular file' stderr || fail "pipe refusal: $(cat stderr)"
rm -f bad/pipe
wintool list NUL >/dev/null && fail "list took the NUL device"
grep -q 'NUL: a pipe or a device, not a regular file' stderr || fail "NUL refusal: $(cat stderr)"
# Names the updater takes for the same, found by the system's own sort key.
mkdir same
for name in Data.bin DATA.BIN Ａ.txt ａ.txt ア.txt; do printf 'x' >"same/$name"; done
wintool create same.kt2 same >/dev/null && fail "create took names the updater does not tell apart"
grep -q '"DATA.BIN" and "Data.bin": the updater does not tell these names apart' stderr &&
    grep -q '"Ａ.txt" and "ａ.txt"' stderr && [ "$(grep -c 'does not tell' stderr)" = 2 ] ||
    fail "same-name refusal: $(cat stderr)"
printf 'x' >"bad/€.dat"
wintool create bad.kt2 bad >/dev/null && fail "create took a name code page 932 lacks"
grep -q '"€.dat": the name has no code page 932 form' stderr || fail "create refusal: $(cat stderr)"
[ -e bad.kt2 ] && fail "create wrote an archive after refusing"
rm -f "bad/€.dat"
printf '[SETUP]\r\nCompanyName=c\r\nGameTitle=t\r\nGameClass=k\r\n[UPDATE]\r\nUpdateFile00=gone.dat\r\n' >bad/update.ini
wintool build bad.exe bad >/dev/null && fail "build took a folder without GameDir"
grep -q 'has no GameDir' stderr && grep -q 'UpdateFile00 names the file "gone.dat"' stderr ||
    fail "build refusal: $(cat stderr)"
[ -e bad.exe ] && fail "build wrote an updater after refusing"
wintool list "$(echo "Z:$bin/update.exe" | tr '/' '\\')" >/dev/null && fail "list took the stub without an archive"
grep -q 'without an "UPDATE" resource' stderr || fail "list refusal: $(cat stderr)"

cd / && [ $failures -eq 0 ] && rm -rf "$work"
[ $failures -eq 0 ] && echo "updpack_build_tool: passed"
exit $((failures > 0))
