#!/bin/sh
# include-layers.sh [ROOT]: fails when a product folder of ROOT includes a folder above its own layer, or
# one beside it, or its CMakeLists.txt links a library of such a folder. The layers, bottom up:
#   platform < context < report < archive, setupcfg < update < app
# resources/ holds only ids and may be included by any layer. tools/ and tests/ may include any of them and
# are not read. Every offending line is printed as FILE:LINE: FOLDER includes TARGET.
root=${1:-$(dirname "$0")/../..}

rank() {
    case $1 in
    resources | platform) echo 0 ;;
    context) echo 1 ;;
    report) echo 2 ;;
    archive | setupcfg) echo 3 ;;
    update) echo 4 ;;
    app) echo 5 ;;
    *) echo ;;
    esac
}

status=0
checked=0
for folder in platform context report archive setupcfg update app; do
    [ -d "$root/$folder" ] || { echo "include-layers: no folder $root/$folder"; exit 2; }
    own=$(rank "$folder")
    # Lines as FILE:LINE:#include "TARGET/...": only quoted includes name the project's folders.
    listing=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' "$root/$folder" \
                  --include='*.h' --include='*.cpp' --include='*.rc' || true)
    [ -n "$listing" ] || continue
    while IFS= read -r line; do
        checked=$((checked + 1))
        target=$(printf '%s\n' "$line" | sed -E 's/^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"/]+)\/.*/\1/')
        [ "$target" = "$folder" ] && continue
        theirs=$(rank "$target")
        if [ -z "$theirs" ] || [ "$theirs" -ge "$own" ]; then
            where=$(printf '%s\n' "$line" | cut -d: -f1,2)
            echo "$where: $folder includes $target, which is not below it"
            status=1
        fi
    done <<LISTING
$listing
LISTING
done
# The product libraries by folder; a folder's CMakeLists.txt may name only its own and those below.
library_folder() {
    case $1 in
    updater_platform | updater_system_libraries | updater_program_start) echo platform ;;
    updater_context) echo context ;;
    updater_report) echo report ;;
    updater_archive) echo archive ;;
    updater_setupcfg) echo setupcfg ;;
    updater_update) echo update ;;
    updater_lookup | updater_dll_search | updater_program_check | updater_shell) echo app ;;
    *) echo ;;
    esac
}
for folder in platform context report archive setupcfg update app; do
    [ -f "$root/$folder/CMakeLists.txt" ] || continue
    own=$(rank "$folder")
    for library in $(grep -v '^[[:space:]]*#' "$root/$folder/CMakeLists.txt" | grep -oE 'updater_[a-z_]+' | sort -u); do
        target=$(library_folder "$library")
        [ -n "$target" ] || continue
        checked=$((checked + 1))
        [ "$target" = "$folder" ] && continue
        if [ "$(rank "$target")" -ge "$own" ]; then
            echo "$folder/CMakeLists.txt: $folder links $library of $target, which is not below it"
            status=1
        fi
    done
done
if [ "$checked" -eq 0 ]; then
    echo "include-layers: no #include line found under $root"
    exit 2
fi
[ $status -eq 0 ] && echo "include-layers: $checked includes and links, every one downward or within its folder"
exit $status
