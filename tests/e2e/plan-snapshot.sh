# Sourced by plan-before-run.sh and plan-agreement.sh: one listing of an installation, taken before and
# after the run. plan_snapshot FOLDER... prints, for everything under the folders in sorted order, the path
# and "folder", or the path, size, time, mode and content digest of a file (tab-separated).
plan_snapshot() {
    local folder file
    for folder in "$@"; do
        [ -d "$folder" ] || continue
        find "$folder" -mindepth 1 | LC_ALL=C sort | while read -r file; do
            if [ -d "$file" ]; then
                printf '%s\tfolder\n' "$file"
            else
                printf '%s\t%s\t%s\t%s\t%s\n' "$file" "$(stat -c %s "$file")" "$(stat -c %Y "$file")" \
                    "$(stat -c %a "$file")" "$(sha1sum <"$file" | cut -c1-12)"
            fi
        done
    done
}
