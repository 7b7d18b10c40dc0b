# Sourced by run-scenario.sh (E2E_BEFORE_RUN) when the scene is laid out and the updater not yet started:
# runs `updpack plan` on the scenario's updater against its installation, as the registry describes it, with
# the scenario's CD-ROM drives as discs in letter order, and records the installation as it stands for
# plan-agreement.sh. The plan must leave the installation exactly as it was, and its private temporary
# folder empty.
plan_registry_value() { # the string value NAME of the registry file, in the prefix's Unix terms
    tr -d '\r' <"$registry" | sed -n "s/^\"$1\"=\"\\(.*\\)\"\$/\\1/p" | sed 's/\\\\/\\/g' | head -1
}
. "$here/plan-snapshot.sh"
plan_game=$(unix_path "$(plan_registry_value InstPath)")
plan_data_path=$(plan_registry_value DataPath)
plan_variant=$(sed -n 's/^"InstMode"=dword:\([0-9a-fA-F]*\).*/\1/p' "$registry" | head -1)
plan_args=(--variant "$((16#${plan_variant:-0}))" --json)
plan_folders=("$plan_game")
if [ -n "$plan_data_path" ]; then
    plan_folders+=("$(unix_path "$plan_data_path")")
    plan_args+=(--data "$(unix_path "$plan_data_path")")
fi
for plan_letter in $(printf '%s\n' "${!drive_type[@]}" | LC_ALL=C sort); do
    [ "${drive_type[$plan_letter]}" = cdrom ] && plan_args+=(--cdrom "$(drive_folder "$plan_letter")")
done
plan_snapshot "${plan_folders[@]}" >"$work/plan-before.txt"
mkdir -p "$work/plan-tmp"
TMPDIR=$work/plan-tmp "$updpack" plan "$installer_dir/update.exe" "$plan_game" "${plan_args[@]}" \
    >"$work/plan.json" 2>"$work/plan.stderr" || fail "updpack plan failed: $(cat "$work/plan.stderr")"
plan_snapshot "${plan_folders[@]}" | cmp -s - "$work/plan-before.txt" || fail "updpack plan changed the installation"
[ -z "$(ls -A "$work/plan-tmp")" ] || fail "updpack plan left $(ls -A "$work/plan-tmp") in its temporary folder"
printf '%s\n' "${plan_folders[@]}" >"$work/plan-folders.txt"
