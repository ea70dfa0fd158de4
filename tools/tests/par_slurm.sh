#!/usr/bin/env bash
# morvane-par --slurm on a running Slurm cluster (.ci/slurm-up starts one on
# this machine): the windows as a job array, the merge as a job after it, the
# job ids printed, one run's bytes; sbatch options passed through; a failed
# window fails the merge, and the same command again reruns only that window.
#
# Usage: par_slurm.sh BUILD_DIR
# Without a cluster it is skipped (status 77), unless MORVANE_REQUIRE_SLURM=1.
set -u
. "$(dirname "$0")/../../tests/checks.sh"
build=$(cd "$1" && pwd)
par=$build/morvane-par

if ! command -v sbatch >/dev/null || ! sinfo -h >/dev/null 2>&1; then
    echo "no Slurm cluster answers (start one with .ci/slurm-up and export SLURM_CONF)"
    [ "${MORVANE_REQUIRE_SLURM:-0}" = 1 ] && exit 1
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
is() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }
program=morvane
[ -x "$build/morvane-l" ] && program=morvane-l

mkdir "$work/one"
(cd "$work/one" && "$build/$program" 97 3000000 0)
same_files() {  # same_files FOLDER: the folder holds one run's two files, and nothing else
    is "$(ls -A "$1")" "$(ls -A "$work/one")" || return 1
    for f in "$work/one"/*; do cmp "$f" "$1/${f##*/}" || return 1; done
}

# --wait: the ids at once, then the merge's status when it has ended.
waited() {
    mkdir "$work/waited"
    (cd "$work/waited" && timeout 600 "$par" --slurm --wait -w 5 --sbatch --comment=morvane-test \
        $program 97 3000000 0) > "$work/out" 2> "$work/err" ||
        { echo "  status $?"; cat "$work/out" "$work/err"; return 1; }
    grep -q '^windows: job [0-9]* (5 tasks)$' "$work/out" && grep -q '^merge: job [0-9]*$' "$work/out" ||
        { echo "  no job ids:"; cat "$work/out"; return 1; }
    same_files "$work/waited" || return 1
    # The option reached sbatch for both jobs.
    local id
    for id in $(sed -n 's/^[a-z]*: job \([0-9]*\).*/\1/p' "$work/out"); do
        scontrol show job "$id" | grep -q 'Comment=morvane-test' ||
            { echo "  job $id has no comment"; return 1; }
    done
}
check "--slurm --wait: one run's bytes, job ids, sbatch options passed" waited

# Without --wait: it returns once submitted; the merged files come later.
submitted() {
    mkdir "$work/submitted"
    (cd "$work/submitted" && "$par" --slurm -w 3 -j 2 $program 97 3000000 0) > "$work/out" 2>&1 ||
        { cat "$work/out"; return 1; }
    local merge_id
    merge_id=$(sed -n 's/^merge: job \([0-9]*\)$/\1/p' "$work/out")
    [ -n "$merge_id" ] || { cat "$work/out"; return 1; }
    # The same command while its jobs are queued: refused, nothing submitted.
    (cd "$work/submitted" && "$par" --slurm -w 3 -j 2 $program 97 3000000 0) > "$work/again" 2>&1
    is "$?" 1 && grep -q 'still queued or running' "$work/again" || { cat "$work/again"; return 1; }
    for _ in $(seq 600); do
        scontrol show job "$merge_id" 2>/dev/null | grep -q 'JobState=COMPLETED' && break
        sleep 0.5
    done
    same_files "$work/submitted"
}
check "--slurm: returns at once, the merge job leaves one run's bytes" submitted

# A window that fails: the merge job never runs, --wait says so, the work
# folder stays; the same command again runs only that window.
bin=$work/bin
mkdir "$bin"
ln -s "$par" "$bin/morvane-par"
ln -s "$build/morvane-merge" "$bin/morvane-merge"
cat > "$bin/$program" <<EOF
#!/bin/sh
echo "\$3" >> "$work/log"
if [ "\$3" = 1500001 ] && [ -e "$work/fail" ]; then exit 1; fi
exec "$build/$program" "\$@"
EOF
chmod +x "$bin/$program"
failed_then_resumed() {
    mkdir "$work/resumed"
    touch "$work/fail"
    (cd "$work/resumed" && timeout 600 "$bin/morvane-par" --slurm --wait -w 4 $program 97 3000000 0) \
        > "$work/out" 2>&1
    is "$?" 1 || return 1
    ls -d "$work/resumed"/*.work >/dev/null || { echo "  no work folder"; return 1; }
    rm "$work/fail"
    : > "$work/log"
    (cd "$work/resumed" && timeout 600 "$bin/morvane-par" --slurm --wait -w 4 $program 97 3000000 0) \
        > "$work/out" 2>&1 || { cat "$work/out"; return 1; }
    grep -q '^windows: job [0-9]* (1 tasks)$' "$work/out" || { cat "$work/out"; return 1; }
    is "$(cat "$work/log")" 1500001 || return 1
    same_files "$work/resumed"
}
check "a failed window fails --wait; the same command again reruns it alone" failed_then_resumed

tally
