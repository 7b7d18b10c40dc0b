#!/bin/bash
# updpack plan natively, and the --json output of list, test and plan read back with Python's JSON parser:
# every verdict on a laid-out installation (names matched as Windows matches them, a Japanese name, a
# refusal and the items after it, discs found and missing, a missing "SETUP.INI"), every field that
# docs/publishing.md names, the exit statuses, and that the plan writes nothing: the installation, the data
# folder and the discs stay as they were, and no "UPDATE.INI" copy stays in the temporary folder.
# Usage: plan-json.sh UPDPACK WORK_DIR
set -u
updpack=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
export LC_ALL=C.UTF-8
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
cp932() { sed 's/$/\r/' | iconv -f UTF-8 -t CP932; }
snapshot() {
    (cd "$work" && find game data disc1 disc2 -printf '%p %y %s %T@ %m\n' | LC_ALL=C sort && find game data disc1 disc2 -type f -exec sha1sum {} + | LC_ALL=C sort)
}

# The installation: the game, its data folder and two discs (the second holds disk 1's check file).
mkdir -p "$work/game/movie" "$work/data" "$work/disc1" "$work/disc2/movie" "$work/update" "$work/refuse"
cp932 >"$work/game/setup.ini" <<'EOF'
[SETUP]
CompanyName=テストソフト
GameTitle=テストゲーム
GameDir=TestGame
GameExe=game.exe
UninstExe=uninst.exe
SetupBmp=setup.bmp
InstallSelects=1
InstallTitle0=通常
InstallFiles0=game.exe
Shortcuts=0
GameClass=TestGameClass
DiskCheckFile1=DISK1.CHK
DiskCheckFile2=DISK2.CHK
EOF
for name in plain-old.dat newer-old.dat newer-later.dat only-old.dat 表.dat; do echo "installed $name" >"$work/game/$name"; done
echo "player data" >"$work/data/save.dat"
echo "disk 1" >"$work/disc2/DISK1.CHK"
echo "intro" >"$work/disc2/movie/intro.mpg"
echo "readme" >"$work/disc2/readme.txt"
touch -d '2020-01-01 00:00:00 UTC' "$work/game/"*.dat "$work/data/save.dat"
touch -d '2030-01-01 00:00:00 UTC' "$work/game/newer-later.dat"

# The update: every mode and verdict, with names as the publisher wrote them (other case, Japanese).
cp932 >"$work/update/UPDATE.INI" <<'EOF'
[SETUP]
CompanyName=テストソフト
GameTitle=テストゲーム
GameClass=TestGameClass
GameDir=TestGame
[UPDATE]
RequiredDiskSpace=1000
UpdateFile00=plain-new.dat
UpdateFile01=PLAIN-OLD.DAT
UpdateFile02=u,newer-old.dat
UpdateFile03=u,newer-later.dat
UpdateFile04=d,save.dat
UpdateFile05=d,fresh.dat
UpdateFile06=o,only-old.dat
UpdateFile07=o,only-new.dat
UpdateFile08=2,voice.dat
UpdateFile09=表.dat
UpdateFile10=movie\clip.dat
CopyFile00=1:readme.txt
CopyFile01=1:movie
CopyFile02=3,1:other.txt
EOF
for name in plain-new.dat plain-old.dat newer-old.dat newer-later.dat save.dat fresh.dat only-old.dat only-new.dat voice.dat 表.dat clip.dat; do
    echo "new $name" >"$work/update/$name"
done
touch -d '2025-01-01 00:00:00 UTC' "$work/update/"*.dat
"$updpack" create "$work/update.kt2" "$work/update" >/dev/null || fail "create"

before=$(snapshot)
"$updpack" plan "$work/update.kt2" "$work/game" --data "$work/data" --cdrom "$work/disc1" --cdrom "$work/disc2" \
    --variant 1 --add 4 --json >"$work/plan.json" 2>"$work/plan.err"
[ $? -eq 0 ] || fail "plan --json exits $?: $(cat "$work/plan.err")"
"$updpack" plan "$work/update.kt2" "$work/game" --data "$work/data" --cdrom "$work/disc1" --cdrom "$work/disc2" \
    --variant 1 >"$work/plan.txt" 2>&1 || fail "plan exits $?"
[ "$(snapshot)" = "$before" ] || fail "the plan changed the installation, the data folder or a disc"
[ -z "$(ls -A "$TMPDIR")" ] || fail "the plan left $(ls -A "$TMPDIR") in the temporary folder"

python3 - "$work" <<'EOF' || fail "the plan's JSON"
import json, sys
work = sys.argv[1]
plan = json.load(open(work + "/plan.json", encoding="utf-8"))
problems = []
def expect(what, got, wanted):
    if got != wanted:
        problems.append("%s: %r, expected %r" % (what, got, wanted))
for field in ("updater", "game", "data", "variant", "add", "discs", "outcome", "stoppedAt", "messages",
              "overwriteOnly", "freeSpace", "items"):
    if field not in plan:
        problems.append("no field " + field)
expect("variant", plan["variant"], 1)
expect("add", plan["add"], 4)
expect("outcome", plan["outcome"], "completes")
expect("required", plan["freeSpace"]["required"], 1000)
expect("checked", plan["freeSpace"]["checked"], True)
expect("enough", plan["freeSpace"]["enough"], True)
wanted = [
    ("UpdateFile00", "new", work + "/game/plain-new.dat"),
    ("UpdateFile01", "replaced", work + "/game/plain-old.dat"),
    ("UpdateFile02", "replaced", work + "/game/newer-old.dat"),
    ("UpdateFile03", "kept-later", work + "/game/newer-later.dat"),
    ("UpdateFile04", "data-kept", work + "/data/save.dat"),
    ("UpdateFile05", "new", work + "/data/fresh.dat"),
    ("UpdateFile06", "replaced", work + "/game/only-old.dat"),
    ("UpdateFile07", "skipped-missing", work + "/game/only-new.dat"),
    ("UpdateFile08", "filtered", None),
    ("UpdateFile09", "replaced", work + "/game/表.dat"),
    ("UpdateFile10", "new", work + "/game/movie/clip.dat"),
    ("CopyFile00", "copied-file", work + "/game/readme.txt"),
    ("CopyFile01", "copied-folder", work + "/game"),
    ("CopyFile02", "filtered", None),
]
expect("keys", [i["key"] for i in plan["items"]], [w[0] for w in wanted])
for item, (key, verdict, target) in zip(plan["items"], wanted):
    for field in ("key", "list", "value", "mode", "path", "disk", "target", "verdict", "text", "createsFolder",
                  "discFolders", "messages", "bytes"):
        if field not in item:
            problems.append("%s has no field %s" % (key, field))
    expect(key + " verdict", item["verdict"], verdict)
    expect(key + " target", item["target"] and item["target"].rstrip("/"), target)
    if not item["text"]:
        problems.append(key + " has no text")
expect("UpdateFile10 path", plan["items"][10]["path"], "movie\\clip.dat")
expect("UpdateFile02 mode", plan["items"][2]["mode"], "newer")
expect("UpdateFile01 bytes", plan["items"][1]["bytes"], len("new plain-old.dat\n"))
expect("CopyFile00 disc folders", plan["items"][11]["discFolders"], [work + "/disc2"])
expect("CopyFile00 disk", plan["items"][11]["disk"], 1)
expect("CopyFile00 bytes", plan["items"][11]["bytes"], len("readme\n"))
expect("CopyFile01 bytes", plan["items"][12]["bytes"], len("intro\n"))
expect("CopyFile01 text", plan["items"][12]["text"].endswith("(1 files, 6 bytes)"), True)
expect("written", plan["freeSpace"]["written"],
       sum(i["bytes"] for i in plan["items"]))
if problems:
    print("\n".join(problems))
    sys.exit(1)
EOF
grep -q '^UpdateFile03  u,newer-later.dat$' "$work/plan.txt" && grep -q 'kept: the installed file is later than the update' "$work/plan.txt" &&
    grep -q '^outcome: completes$' "$work/plan.txt" || fail "the plan's text: $(cat "$work/plan.txt")"

# The disc in both drives: both folders named, the first used; no disc at all: the updater waits for it.
cp -a "$work/disc2/." "$work/disc1/"
"$updpack" plan "$work/update.kt2" "$work/game" --data "$work/data" --cdrom "$work/disc1" --cdrom "$work/disc2" \
    --variant 1 --json >"$work/both.json" || fail "plan with the disc twice"
"$updpack" plan "$work/update.kt2" "$work/game" --data "$work/data" --variant 1 --json >"$work/none.json" ||
    fail "plan without discs"
python3 - "$work" <<'EOF' || fail "the disc search"
import json, sys
work = sys.argv[1]
both = json.load(open(work + "/both.json", encoding="utf-8"))
none = json.load(open(work + "/none.json", encoding="utf-8"))
copy = [i for i in both["items"] if i["key"] == "CopyFile00"][0]
assert copy["discFolders"] == [work + "/disc1", work + "/disc2"], copy
assert copy["text"].startswith("copied from disc 1 (" + work + "/disc1)"), copy["text"]
assert none["outcome"] == "waits-for-disc", none["outcome"]
copy = [i for i in none["items"] if i["key"] == "CopyFile00"][0]
assert copy["verdict"] == "disc-missing" and copy["messages"] == ["ＣＤ－ＲＯＭドライブに「テストゲーム」ディスク 1 を入れて下さい"], copy
assert [i["verdict"] for i in none["items"]][-2:] == ["not-reached", "filtered"], none["items"]
EOF

# A refusal: an entry the archive lacks stops the run at its item with the updater's two boxes; the items
# after it are not reached and nothing changes.
cp932 >"$work/refuse/UPDATE.INI" <<'EOF'
[SETUP]
CompanyName=テストソフト
GameTitle=テストゲーム
GameClass=TestGameClass
GameDir=TestGame
[UPDATE]
UpdateFile00=plain-new.dat
UpdateFile01=missing.dat
UpdateFile02=nosub\plain-new.dat
EOF
cp "$work/update/plain-new.dat" "$work/refuse/"
"$updpack" create "$work/refuse.kt2" "$work/refuse" >/dev/null || fail "create"
"$updpack" plan "$work/refuse.kt2" "$work/game" --json >"$work/refuse.json" || fail "plan of a refused update"
python3 - "$work" <<'EOF' || fail "the refusal"
import json, sys
plan = json.load(open(sys.argv[1] + "/refuse.json", encoding="utf-8"))
assert plan["outcome"] == "stops", plan["outcome"]
verdicts = [i["verdict"] for i in plan["items"]]
assert verdicts == ["new", "refused", "not-reached"], verdicts
assert plan["items"][1]["messages"] == ["Can't Find File in Resource !!", "ファイルの書き込みに失敗しました"], plan["items"][1]
EOF
# The missing sub-folder is refused once it is reached; the second write of a file replaces the first.
sed -i 's/^UpdateFile01=missing.dat\r$/UpdateFile01=plain-new.dat\r/' "$work/refuse/UPDATE.INI"
"$updpack" create "$work/refuse.kt2" "$work/refuse" >/dev/null || fail "create"
"$updpack" plan "$work/refuse.kt2" "$work/game" --json | python3 -c '
import json, sys
plan = json.load(sys.stdin)
assert [i["verdict"] for i in plan["items"]] == ["new", "replaced", "refused"], plan["items"]
assert plan["items"][2]["messages"] == ["ファイルの書き込みに失敗しました"], plan["items"][2]
' || fail "the missing sub-folder"

# No "SETUP.INI" in the game folder: the updater's message, nothing planned.
mkdir -p "$work/empty"
"$updpack" plan "$work/update.kt2" "$work/empty" --json >"$work/empty.json" || fail "plan without SETUP.INI exits $?"
python3 -c '
import json, sys
plan = json.load(open(sys.argv[1]))
assert plan["outcome"] == "stops" and plan["stoppedAt"] == "SETUP.INI", plan
assert plan["messages"] == ["インストール先に \"SETUP.INI\" ファイルが見つかりません"], plan["messages"]
assert plan["items"] == [], plan["items"]
' "$work/empty.json" || fail "the missing SETUP.INI"
"$updpack" plan "$work/update.kt2" "$work/empty" | grep -q 'the updater stops at SETUP.INI with "インストール先に "SETUP.INI" ファイルが見つかりません"' ||
    fail "the missing SETUP.INI in the text"
"$updpack" plan "$work/nothing.kt2" "$work/game" >/dev/null 2>&1 && fail "plan of a missing updater succeeds"
"$updpack" plan "$work/update.kt2" "$work/nothing" >/dev/null 2>&1 && fail "plan of a missing game folder succeeds"

# list and test: one document each, every entry with name, size, stored size, form and time; statuses as
# without --json.
"$updpack" list "$work/update.kt2" --json >"$work/list.json" || fail "list --json exits $?"
"$updpack" test "$work/update.kt2" --json >"$work/test.json" || fail "test --json exits $?"
python3 - "$work" <<'EOF' || fail "list and test JSON"
import json, sys, os
work = sys.argv[1]
listed = json.load(open(work + "/list.json", encoding="utf-8"))
tested = json.load(open(work + "/test.json", encoding="utf-8"))
names = sorted(os.listdir(work + "/update"))
assert sorted(e["name"] for e in listed["entries"]) == names, listed["entries"]
assert listed["entryCount"] == len(names)
for entry in listed["entries"] + tested["entries"]:
    for field in ("name", "size", "storedSize", "form", "time", "fileTime"):
        assert field in entry, (field, entry)
    assert entry["form"] in ("compressed", "stored"), entry
    assert entry["size"] == os.path.getsize(work + "/update/" + entry["name"]), entry
plain = [e for e in listed["entries"] if e["name"] == "plain-new.dat"][0]
assert plain["time"] == "2025-01-01 00:00:00 UTC", plain
assert tested["sound"] is True and tested["damaged"] == 0 and all(e["sound"] for e in tested["entries"])
assert listed["size"] == sum(e["size"] for e in listed["entries"])
EOF
# A damaged image: test --json says which entry, and exits 1 as test does.
cp "$work/update.kt2" "$work/damaged.kt2"
printf '\377\377\377\377' | dd of="$work/damaged.kt2" bs=1 seek=16 conv=notrunc status=none
"$updpack" test "$work/damaged.kt2" >/dev/null 2>&1
plain=$?
"$updpack" test "$work/damaged.kt2" --json >"$work/damaged.json" 2>/dev/null
[ $? -eq "$plain" ] && [ "$plain" -ne 0 ] || fail "test --json exits other than test on a damaged archive ($plain)"
python3 -c '
import json, sys
tested = json.load(open(sys.argv[1]))
assert tested["sound"] is False and tested["damaged"] >= 1 and not tested["entries"][0]["sound"], tested
' "$work/damaged.json" || fail "test --json on a damaged archive"

[ $failures -eq 0 ] || exit 1
rm -rf "$work"
echo "plan-json: passed"
