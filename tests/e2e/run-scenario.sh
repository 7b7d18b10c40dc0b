#!/bin/bash
# Runs one end-to-end scenario of the updater under Wine, headless, in its own copy of a template prefix, so
# that scenarios can run in parallel. Owns the layout of a scenario folder (tests/e2e/README.md):
#   update/        overlaid on common/update/ and packed into the scenario's archive
#   registry       .reg body imported under Wine (default common/registry)
#   setup.ini      installed as C:\game\SETUP.INI (default common/setup.ini; "no-setup-ini" leaves it out)
#   install/L/     copied onto drive L (C is the prefix's drive_c; other letters get their own folder)
#   cdrom/L/       the same, for a drive that Wine reports as a CD-ROM drive
#   drives         lines "L: cdrom|cdrom-empty|hd|small SIZE" (cdrom-empty: a CD-ROM drive without a disc; small: a tmpfs of SIZE, skipped when mounting is refused);
#                  "L:\FOLDER small SIZE" mounts such a tmpfs at a folder of a drive (a small volume inside a
#                  large drive: the drive's free space says nothing about it)
#   prepare        lines "time PATH WHEN", "readonly PATH", "folder PATH", "file PATH SIZE", "random PATH SIZE", "copy PATH PATH",
#                  "change PATH OFFSET TEXT", "insert PATH OFFSET TEXT", applied after the files are laid out
#                  and before the archive is packed (PATH: a drive path, update/NAME, or base/NAME)
#   base/          made by prepare: the previous release; the updater is built with "updpack build --base"
#   keep-whole     with base/: "--keep-whole" as well
#   update-folder  a path below the repository's root: that update folder (code page 932) is packed as it
#                  stands instead of common/update/ and update/
#   update-remove  names of files of common/update/ to leave out of the archive
#   archive-patch  lines "OFFSET HEXBYTES" written over the packed archive (damaged archives)
#   program-damage lines applied to the built updater (damaged downloads): "flip N" changes the byte N of
#                  its archive (N < 0 counts from the archive's end), "cut N" and "append N" take N bytes
#                  from its end or add N zero bytes to it
#   no-archive     the updater without any "UPDATE" resource
#   script         the driver's steps (tests/e2e/driver)
#   expect-files   lines checked after the driver: "exists|absent|folder|readonly|writable|updated|unchanged|
#                  kept PATH", "same PATH STAGED", "time PATH WHEN", "time-of PATH STAGED", "files FOLDER NAME...",
#                  "entry-form NAME FORM" (the form updpack list gives the archive's entry: patch, compressed);
#                  after a killed run "old-or-new PATH STAGED", "leftovers FOLDER NAME..." (both
#                  accept the old file under its backup name "NAME.~bkN" beside it)
# Files named *.ini or *.txt are written in UTF-8 and converted to code page 932 with CRLF line ends.
# Usage: run-scenario.sh SCENARIO_DIR WORK_DIR TEMPLATE_PREFIX WINDOWS_BIN_DIR UPDPACK
# The work folder is removed after a pass unless E2E_KEEP_WORK=1.
# With E2E_UPDATER=FILE the packed updater is kept in FILE, or taken from it when it exists (no packing).
# With E2E_BEFORE_RUN=FILE that file is sourced just before the driver starts the updater.
# Exit status: 0 pass, 1 fail, 77 skipped (the machine cannot provide what the scenario needs).
set -u
scenario=$(cd "$1" && pwd)
work=$2
template=$3
bin=$(cd "$4" && pwd)
updpack=$5
here=$(cd "$(dirname "$0")" && pwd)
common=$here/common
scripts=$(cd "$here/../../scripts" && pwd)
name=$(basename "$scenario")

fail() {
    echo "e2e.$name: $*" >&2
    exit 1
}

for program in update e2e_driver e2e_game e2e_set_archive; do
    [ -f "$bin/$program.exe" ] || fail "missing $bin/$program.exe (build the Windows targets)"
done
[ -f "$template/.ready" ] || fail "missing template prefix $template (run the e2e.template test)"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/prefix
# The copy keeps the template's route (scripts/wine-prefix.sh), and so its loader and server.
. "$scripts/wine-env.sh"
wine_env "$(wine_prefix_route "$template")" "$prefix" || fail "no Wine route for the template prefix $template"

mounted=""
cleanup() {
    "$wine_server" -k >/dev/null 2>&1
    for point in $mounted; do umount "$point" 2>/dev/null; done
}
trap cleanup EXIT

# The prefix: hard links to the template's files (Wine does not change them in place), real copies of the
# registry, which every run rewrites.
cp -al "$template" "$prefix" || fail "cannot copy the template prefix"
for hive in "$prefix"/*.reg; do
    rm -f "$hive"
    cp "$template/$(basename "$hive")" "$hive"
done
# scripts/render-pages.sh shows the windows on a real (virtual) X display, inside a Wine desktop window that
# draws their frames (there is no window manager), with Japanese fonts standing in for the dialog font.
extra_registry=""
if [ "${E2E_GRAPHICS:-null}" = x11 ]; then
    sed -i 's/^"Graphics"="null"/"Graphics"="x11"/' "$prefix/user.reg"
    extra_registry='
[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Shell Dlg"="IPAPGothic"
"MS Sans Serif"="IPAPGothic"
"Tahoma"="IPAPGothic"
'
    # Read once when Wine starts its desktop, before any import could reach it: straight into the hive.
    cat >>"$prefix/user.reg" <<'HIVE'

[Software\\Wine\\Explorer] 1700000000
"Desktop"="Default"

[Software\\Wine\\Explorer\\Desktops] 1700000000
"Default"="1024x768"
HIVE
fi

# Copies a folder, turning *.ini and *.txt from UTF-8 into code page 932 with CRLF line ends.
stage() {
    local from=$1 to=$2 file relative
    mkdir -p "$to"
    while read -r relative; do mkdir -p "$to/$relative"; done < <(cd "$from" && find . -type d)
    while read -r relative; do
        file=$from/$relative
        case "$relative" in
        *.ini | *.INI | *.txt | *.TXT)
            perl -pe 's/\r?\n/\r\n/' "$file" | iconv -f UTF-8 -t CP932 >"$to/$relative" ||
                fail "cannot convert $relative to code page 932"
            ;;
        *) cp "$file" "$to/$relative" ;;
        esac
        touch -r "$file" "$to/$relative"
    done < <(cd "$from" && find . -type f)
}

mount_small() { # FOLDER SIZE: a small file system there; the scenario is skipped where none can be mounted
    mkdir -p "$1"
    mount -t tmpfs -o "size=$2" tmpfs "$1" 2>/dev/null || {
        echo "e2e.$name: skipped: cannot mount a small file system here" >&2
        exit 77
    }
}

drive_folder() { # the Unix folder behind a drive letter of the prefix
    local letter
    letter=$(echo "$1" | tr 'A-Z' 'a-z')
    if [ "$letter" = c ]; then echo "$prefix/drive_c"; else echo "$work/drives/$letter"; fi
}

unix_path() { # C:\game\a.dat -> the Unix path in this prefix; update/x -> the work folder's file
    local path=$1 letter rest
    case "$path" in
    [A-Za-z]:*) ;;
    *)
        echo "$work/$path"
        return
        ;;
    esac
    letter=${path%%:*}
    rest=$(echo "${path#?:}" | tr '\\' '/')
    echo "$(drive_folder "$letter")$rest"
}

# Drives: other letters get a folder of their own; CD-ROM types go into the registry before Wine starts,
# because Wine's mount manager reads them once.
declare -A drive_type
for folder in "$scenario"/install/? "$scenario"/cdrom/?; do
    [ -d "$folder" ] || continue
    letter=$(basename "$folder" | tr 'A-Z' 'a-z')
    case "$folder" in */cdrom/?) drive_type[$letter]=cdrom ;; *) : "${drive_type[$letter]:=hd}" ;; esac
done
if [ -f "$scenario/drives" ]; then
    while read -r letter type size; do
        [ -z "$letter" ] || [ "${letter#\#}" != "$letter" ] && continue
        case "$letter" in
        ?:\\*) # a small volume mounted at a folder of a drive
            [ "$type" = small ] || fail "only a small volume can be mounted at a folder: $letter"
            folder=$(unix_path "$letter")
            mount_small "$folder" "$size"
            mounted="$folder $mounted" # inside a drive's folder: unmounted first
            continue
            ;;
        esac
        letter=$(echo "${letter%:}" | tr 'A-Z' 'a-z')
        drive_type[$letter]=$type
        if [ "$type" = small ]; then
            folder=$(drive_folder "$letter")
            mount_small "$folder" "$size"
            mounted="$mounted $folder"
        fi
    done <"$scenario/drives"
fi
for letter in "${!drive_type[@]}"; do
    folder=$(drive_folder "$letter")
    # A CD-ROM drive without a disc: its root leads nowhere.
    [ "${drive_type[$letter]}" = cdrom-empty ] && folder=$work/drives/no-disc-in-$letter || mkdir -p "$folder"
    [ "$letter" = c ] || ln -sfn "$folder" "$prefix/dosdevices/$letter:"
    if [ "${drive_type[$letter]}" = cdrom ] || [ "${drive_type[$letter]}" = cdrom-empty ]; then
        printf '\n[Software\\\\Wine\\\\Drives] 1700000000\n"%s:"="cdrom"\n' "$letter" >>"$prefix/system.reg"
    fi
done
for folder in "$scenario"/install/? "$scenario"/cdrom/?; do
    [ -d "$folder" ] && stage "$folder" "$(drive_folder "$(basename "$folder")")"
done

# The installed SETUP.INI.
if [ ! -e "$scenario/no-setup-ini" ]; then
    setup=$common/setup.ini
    [ -f "$scenario/setup.ini" ] && setup=$scenario/setup.ini
    mkdir -p "$work/setup"
    cp "$setup" "$work/setup/SETUP.INI"
    stage "$work/setup" "$prefix/drive_c/game"
fi

# Times, attributes, folders and sized files that the scenario needs beyond copied files: old or future
# times to compare with the archive's, read-only files, folders in the place of files.
prepare() {
    [ -f "$scenario/prepare" ] || return 0
    local verb path rest target
    while read -r verb path rest; do
        [ -z "$verb" ] || [ "${verb#\#}" != "$verb" ] && continue
        target=$(unix_path "$path")
        case "$verb" in
        time) touch -d "$rest" "$target" || fail "cannot set the time of $path" ;;
        readonly) chmod a-w "$target" || fail "cannot make $path read-only" ;;
        folder) mkdir -p "$target" || fail "cannot create the folder $path" ;;
        file)
            mkdir -p "$(dirname "$target")"
            yes "$path" | head -c "$rest" >"$target" || fail "cannot write $path"
            ;;
        random) # SIZE bytes that do not repeat, as a packed data file's; the same for the same PATH, since
            # the kill test packs its updater once for many runs
            mkdir -p "$(dirname "$target")"
            python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(sys.argv[1]).randbytes(int(sys.argv[2])))' \
                "$path" "$rest" >"$target" || fail "cannot write $path"
            ;;
        copy)
            mkdir -p "$(dirname "$(unix_path "$rest")")"
            cp -p "$target" "$(unix_path "$rest")" || fail "cannot copy $path to $rest"
            ;;
        change | insert) # a next release: TEXT written over the bytes at OFFSET, or inserted there
            local offset=${rest%% *} text=${rest#* } skip=0
            [ "$verb" = change ] && skip=${#text}
            { head -c "$offset" "$target" && printf '%s' "$text" &&
                tail -c +$((offset + 1 + skip)) "$target"; } >"$target.next" &&
                mv "$target.next" "$target" || fail "cannot $verb $path"
            ;;
        *) fail "unknown step $verb in prepare" ;;
        esac
    done <"$scenario/prepare"
}

# The archive and the scenario's own updater.
installer_dir=$prefix/drive_c/updater
mkdir -p "$installer_dir"
if [ -e "$scenario/no-archive" ]; then
    "$scripts/wine-run.sh" "$prefix" "$bin/e2e_set_archive.exe" "Z:$bin/update.exe" 'C:\updater\update.exe' - >"$work/set_archive.log" 2>&1 ||
        fail "e2e_set_archive failed: $(cat "$work/set_archive.log")"
else
    if [ -f "$scenario/update-folder" ]; then
        # A ready update folder of the repository (code page 932 already), packed as it stands.
        cp -a "$here/../../$(head -1 "$scenario/update-folder")" "$work/update" || fail "cannot copy the update folder"
    else
        stage "$common/update" "$work/update"
        [ -d "$scenario/update" ] && stage "$scenario/update" "$work/update"
    fi
    if [ -f "$scenario/update-remove" ]; then
        while read -r file; do [ -n "$file" ] && rm -f "$work/update/$file"; done <"$scenario/update-remove"
    fi
    prepare
    if [ -f "$scenario/archive-patch" ]; then
        # A damaged archive cannot come from a folder: it is packed, patched and embedded as it is.
        "$updpack" create "$work/update.kt2" "$work/update" >"$work/updpack.log" 2>&1 ||
            fail "updpack failed: $(cat "$work/updpack.log")"
        while read -r offset bytes; do
            [ -z "$offset" ] || [ "${offset#\#}" != "$offset" ] && continue
            printf "$(echo "$bytes" | sed 's/\([0-9a-fA-F][0-9a-fA-F]\)/\\x\1/g; s/ //g')" |
                dd of="$work/update.kt2" bs=1 seek=$((offset)) conv=notrunc status=none
        done <"$scenario/archive-patch"
        "$scripts/wine-run.sh" "$prefix" "$bin/e2e_set_archive.exe" "Z:$bin/update.exe" 'C:\updater\update.exe' "Z:$work/update.kt2" \
            >"$work/set_archive.log" 2>&1 || fail "e2e_set_archive failed: $(cat "$work/set_archive.log")"
    elif [ -n "${E2E_UPDATER:-}" ] && [ -f "$E2E_UPDATER" ]; then
        # Runs of one scenario over and over (the kill test) pack it once: the updater is kept there.
        cp "$E2E_UPDATER" "$installer_dir/update.exe" || fail "cannot copy $E2E_UPDATER"
    else
        # The publisher's way. --force: some scenarios break UPDATE.INI on purpose, which build reports.
        base=()
        [ -d "$work/base" ] && base=(--base "$work/base")
        [ -d "$work/base" ] && [ -e "$scenario/keep-whole" ] && base+=(--keep-whole)
        "$updpack" build "$installer_dir/update.exe" "$work/update" --stub "$bin/update.exe" --force "${base[@]}" \
            >"$work/updpack.log" 2>&1 || fail "updpack build failed: $(cat "$work/updpack.log")"
        [ -z "${E2E_UPDATER:-}" ] || cp "$installer_dir/update.exe" "$E2E_UPDATER" || fail "cannot keep the updater"
    fi
fi

# A damaged download: the built updater changed where its archive lies, or cut, or lengthened.
if [ -f "$scenario/program-damage" ]; then
    [ -f "$installer_dir/update.exe" ] && [ ! -f "$scenario/archive-patch" ] ||
        fail "program-damage needs an updater that updpack builds"
    "$updpack" create "$work/carried.kt2" "$work/update" >"$work/carried.log" 2>&1 ||
        fail "updpack create failed: $(cat "$work/carried.log")"
    while read -r verb count; do
        [ -z "$verb" ] || [ "${verb#\#}" != "$verb" ] && continue
        python3 - "$installer_dir/update.exe" "$work/carried.kt2" "$verb" "$count" <<'PYTHON' || fail "cannot apply $verb $count"
import sys
program = bytearray(open(sys.argv[1], "rb").read())
archive = open(sys.argv[2], "rb").read()
verb, count = sys.argv[3], int(sys.argv[4])
if verb == "flip":
    at = program.find(archive)
    assert at > 0 and program.find(archive, at + 1) < 0, "the archive is not found once in the program"
    program[at + (count if count >= 0 else len(archive) + count)] ^= 0x01
elif verb == "cut":
    del program[len(program) - count:]
elif verb == "append":
    program += bytes(count)
else:
    sys.exit("unknown damage " + verb)
open(sys.argv[1], "wb").write(program)
PYTHON
    done <"$scenario/program-damage"
fi

# The updater is of the route's architecture, as the driver is: on the x86_64 route a 32-bit one would run
# here only because this host also executes 32-bit code.
machine() { od -An -tx2 -j$(($(od -An -tu4 -j60 -N4 "$1" | tr -d ' ') + 4)) -N2 "$1" | tr -d ' '; }
[ "$(machine "$installer_dir/update.exe")" = "$(machine "$bin/e2e_driver.exe")" ] ||
    fail "the updater's machine $(machine "$installer_dir/update.exe") is not the driver's $(machine "$bin/e2e_driver.exe")"

# The registry of the installed product.
registry=$common/registry
[ -f "$scenario/registry" ] && registry=$scenario/registry
{
    printf '\xff\xfe'
    { printf 'Windows Registry Editor Version 5.00\n\n'; cat "$registry"; echo "$extra_registry"; } |
        sed 's/\r$//; s/$/\r/' | iconv -f UTF-8 -t UTF-16LE
} >"$work/registry.reg"
"$scripts/wine-run.sh" "$prefix" regedit /S "Z:$work/registry.reg" >"$work/regedit.log" 2>&1 || fail "regedit failed: $(cat "$work/regedit.log")"

# What "unchanged" compares with: size, time, mode and content of each such file before the run.
fingerprint() { # unchanged: content, time and mode; kept: the content alone
    [ -f "$2" ] || {
        echo "no file"
        return
    }
    if [ "$1" = unchanged ]; then
        echo "$(stat -c '%s bytes, time %Y, mode %a' "$2"), content $(sha1sum <"$2" | cut -c1-12)"
    else
        echo "$(stat -c '%s bytes' "$2"), content $(sha1sum <"$2" | cut -c1-12)"
    fi
}
# The backup beside target ("NAME.~bkN") whose fingerprint of kind $1 is $2, or nothing.
backup_as() {
    local candidate
    for candidate in "$3".~bk[0-9A-F]; do
        [ -f "$candidate" ] && [ "$(fingerprint "$1" "$candidate")" = "$2" ] && echo "$candidate" && return
    done
}
declare -A before
if [ -f "$scenario/expect-files" ]; then
    while read -r check path other; do
        case "$check" in
        unchanged | kept) before[$check $path]=$(fingerprint "$check" "$(unix_path "$path")") ;;
        old-or-new) before[$check $path]=$(fingerprint unchanged "$(unix_path "$path")") ;;
        esac
    done <"$scenario/expect-files"
fi

# E2E_BEFORE_RUN=FILE: sourced here, with the scene laid out and nothing run yet (plan-agreement.sh).
[ -z "${E2E_BEFORE_RUN:-}" ] || . "$E2E_BEFORE_RUN"

# The scenario.
started=$(date +%s)
"$scripts/wine-run.sh" "$prefix" "$bin/e2e_driver.exe" "Z:$scenario/script" 'C:\updater\update.exe' \
    "Z:$bin/e2e_game.exe" 2>"$work/driver.stderr"
status=$?
ended=$(date +%s)
[ $status -eq 0 ] || {
    grep -v '^fixme\|^err:' "$work/driver.stderr" | head -20 >&2
    fail "the driver reported a failure (status $status); files are kept in $work"
}

# The disk afterwards.
mtime() { stat -c %Y "$1" 2>/dev/null; }
if [ -f "$scenario/expect-files" ]; then
    while read -r check path other; do
        [ -z "$check" ] || [ "${check#\#}" != "$check" ] && continue
        target=$(unix_path "$path")
        case "$check" in
        exists) [ -f "$target" ] || fail "expected file $path is missing" ;;
        absent) [ ! -e "$target" ] || fail "file $path should not exist" ;;
        same) cmp -s "$target" "$work/$other" || fail "file $path differs from $other" ;;
        folder) [ -d "$target" ] || fail "expected folder $path is missing" ;;
        # Read-only under Wine is a file without any write permission bit.
        readonly) [ -f "$target" ] && [ -z "$(find "$target" -perm /222)" ] || fail "file $path is not read-only" ;;
        writable) [ -f "$target" ] && [ -n "$(find "$target" -perm /200)" ] || fail "file $path is read-only" ;;
        time)
            [ "$(mtime "$target")" = "$(date -d "$other" +%s)" ] ||
                fail "file $path has the time $(date -u -d "@$(mtime "$target")" '+%F %T UTC'), expected $other"
            ;;
        time-of)
            [ "$(mtime "$target")" = "$(mtime "$work/$other")" ] ||
                fail "file $path has the time $(mtime "$target"), not the time $(mtime "$work/$other") of $other"
            ;;
        updated) # written by this run with the time of the update
            when=$(mtime "$target")
            [ -n "$when" ] && [ "$when" -ge $((started - 1)) ] && [ "$when" -le $((ended + 1)) ] ||
                fail "file $path does not carry the time of the run ($started..$ended): ${when:-missing}"
            ;;
        unchanged | kept)
            after=$(fingerprint "$check" "$target")
            if [ "$after" != "${before[$check $path]}" ] && [ "$check" = kept ] && [ ! -e "$target" ]; then
                # A run killed during the commit may hold the file under its backup name alone.
                aside=$(backup_as "$check" "${before[$check $path]}" "$target")
                [ -n "$aside" ] && after=${before[$check $path]} && other="in ${aside##*/}"
            fi
            [ "$after" = "${before[$check $path]}" ] ||
                fail "file $path changed: before ${before[$check $path]}; after $after"
            ;;
        files) # exactly these names in the folder: nothing else written, no temporary file left behind
            found=$(cd "$target" && LC_ALL=C ls -A | tr '\n' ' ' | sed 's/ $//')
            wanted=$(echo "$other" | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
            [ "$found" = "$wanted" ] || fail "folder $path holds \"$found\", expected \"$wanted\""
            ;;
        old-or-new) # after a killed run: as before (content, time and mode, or still missing) or wholly new;
            # inside the commit the old file may stand beside it under its backup name instead
            after=$(fingerprint unchanged "$target")
            aside=""
            [ "${before[$check $path]}" = "no file" ] || aside=$(backup_as unchanged "${before[$check $path]}" "$target")
            if [ "$after" = "${before[$check $path]}" ]; then
                other="$other: old"
            elif [ -f "$target" ] && cmp -s "$target" "$work/$other"; then
                if [ "${before[$check $path]}" = "no file" ]; then
                    other="$other: added"
                elif [ -n "$aside" ]; then
                    other="$other: new, old in ${aside##*/}"
                else
                    other="$other: new"
                fi
            elif [ ! -e "$target" ] && [ -n "$aside" ]; then
                other="$other: aside in ${aside##*/}"
            else
                fail "file $path is neither as before (${before[$check $path]}) nor $other: $after"
            fi
            ;;
        leftovers) # after a killed run: only these names, the updater's temporary names and backups beside them
            left=""
            backups=""
            while read -r found; do
                known=no
                for wanted in $other; do
                    case "$found" in "$wanted" | "$wanted".~up[0-9A-F] | "$wanted".~bk[0-9A-F]) known=yes ;; esac
                done
                case "$found" in "~"[0-9A-F] | "~b"[0-9A-F]) known=yes ;; esac
                [ $known = yes ] || fail "folder $path holds $found, neither expected nor a temporary file"
                case "$found" in *.~up? | "~"?) left="$left $found" ;; *.~bk? | "~b"?) backups="$backups $found" ;; esac
            done < <(cd "$target" && LC_ALL=C ls -A)
            other="$other: temporary files left:${left:- none}; backups left:${backups:- none}"
            ;;
        entry-form)
            "$updpack" list "$installer_dir/update.exe" >"$work/list.log" 2>&1 || fail "updpack list failed"
            awk -v name="$path" -v form="$other" '$NF == name && $3 == form { found = 1 } END { exit !found }' \
                "$work/list.log" || fail "the archive holds no $other entry $path: $(cat "$work/list.log")"
            ;;
        *) fail "unknown check $check in expect-files" ;;
        esac
        echo "file check: $check $path ${other:-}"
    done <"$scenario/expect-files"
fi
cleanup
trap - EXIT
# E2E_KEEP_WORK=1: the benchmarks take their marks in the same prefix afterwards.
[ "${E2E_KEEP_WORK:-0}" = 1 ] || rm -rf "$work"
echo "e2e.$name: passed"
