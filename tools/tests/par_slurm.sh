#!/usr/bin/env bash
# morvane-par --slurm on a running Slurm cluster (.ci/slurm-up starts one on
# this machine): the tasks as a job array, the merge as a job after it, the
# job ids printed, one run's bytes; sbatch options passed through; tasks within
# the cluster's MaxArraySize, requeueable; a failed or killed task fails the
# merge, and the same command again reruns only what is missing.
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

# Every prime's cubes on the cluster, with their record runs and the double
# check: one run's bytes, its three files.
cubes() {
    [ -x "$build/morvane-x" ] || return 0
    mkdir "$work/cubes" "$work/cubes-one"
    (cd "$work/cubes-one" && "$build/morvane-x" -r -k 3 all 5000000 0) || return 1
    (cd "$work/cubes" && timeout 600 "$par" --double-check --slurm --wait -w 4 \
        morvane-x -r -k 3 all 5000000 0) > "$work/out" 2>&1 || { cat "$work/out"; return 1; }
    is "$(ls -A "$work/cubes")" "$(ls -A "$work/cubes-one")" || return 1
    for f in "$work/cubes-one"/*; do cmp "$f" "$work/cubes/${f##*/}" || return 1; done
}
check "morvane-x -r -k 3 all on Slurm with --double-check: one run's three files" cubes

# A task that fails (a folder stands where its checkpoint goes): the merge
# job never runs, --wait says so, the work folder stays; the same command
# again runs only that task.
failed_then_resumed() {
    mkdir "$work/resumed"
    # -w 4 -t 4 over [0, 3000000]: the split starts at 2, task 2 at window 2.
    local name=maxdevF_97-$((2 + 2999999 * 2 / 4)).txt
    local folder=$work/resumed/morvane-par.$program.97-0.3000000.work
    mkdir -p "$folder/$name"
    (cd "$work/resumed" && timeout 600 "$par" --slurm --wait -w 4 -t 4 $program 97 3000000 0) \
        > "$work/out" 2>&1
    is "$?" 1 || { cat "$work/out"; return 1; }
    grep -q 'the merge did not succeed' "$work/out" || { cat "$work/out"; return 1; }
    grep -q "$name" "$folder/task-2.out" || { cat "$folder"/task-*.out; return 1; }
    rmdir "$folder/$name"
    (cd "$work/resumed" && timeout 600 "$par" --slurm --wait -w 4 -t 4 $program 97 3000000 0) \
        > "$work/out" 2>&1 || { cat "$work/out"; return 1; }
    grep -q '^windows: job [0-9]* (1 tasks)$' "$work/out" || { cat "$work/out"; return 1; }
    same_files "$work/resumed"
}
check "a failed task fails --wait; the same command again reruns it alone" failed_then_resumed

# The array within the cluster's MaxArraySize, and --requeue asked for.
limits() {
    local limit
    limit=$(scontrol show config | sed -n 's/^MaxArraySize *= *\([0-9]*\).*/\1/p')
    mkdir "$work/limits"
    (cd "$work/limits" && "$par" --slurm -t $((limit + 1)) $program 97 3000000 0) > "$work/out" 2>&1
    is "$?" 1 && grep -q "at most $limit tasks" "$work/out" || { cat "$work/out"; return 1; }
    is "$(ls -A "$work/limits")" "" || return 1
    # By default as many tasks as windows, up to the limit.
    (cd "$work/limits" && timeout 600 "$par" --slurm --wait -w 3 $program 97 3000000 0) \
        > "$work/out" 2>&1 || { cat "$work/out"; return 1; }
    grep -q '^windows: job [0-9]* (3 tasks)$' "$work/out" || { cat "$work/out"; return 1; }
    local id
    id=$(sed -n 's/^windows: job \([0-9]*\).*/\1/p' "$work/out")
    scontrol show job "$id" 2>/dev/null | grep -q 'Requeue=1' || { echo "  not requeueable"; return 1; }
    same_files "$work/limits"
}
check "tasks within MaxArraySize; the array is requeueable" limits

# A task killed mid-window (SIGKILL): Slurm fails it, the merge never runs;
# the same command again goes on from the task's checkpoint. --status reads
# the run meanwhile.
killed_task() {
    local run=$work/killed args=(--slurm -w 200 -t 2 $program 97 100000000000)
    [ $program = morvane-l ] || args=(--slurm -w 200 -t 2 morvane 97 4000000000)
    mkdir "$run"
    (cd "$run" && "$par" "${args[@]}") > "$work/out" 2>&1 || { cat "$work/out"; return 1; }
    local merge_id folder
    merge_id=$(sed -n 's/^merge: job \([0-9]*\)$/\1/p' "$work/out")
    folder=$(ls -d "$run"/*.work)
    local pid=
    for _ in $(seq 600); do
        [ "$(cat "$folder/task-1.log" 2>/dev/null | grep -c '^window ')" -ge 5 ] &&
            pid=$(sed -n 's/^start \([0-9]*\) .*/\1/p' "$folder/task-1.log" | tail -n 1) && break
        sleep 0.1
    done
    [ -n "$pid" ] || { echo "  task 1 merged no window"; return 1; }
    (cd "$run" && "$par" --status "${args[@]:5}") > "$work/status" || { cat "$work/status"; return 1; }
    grep -q '^windows: [0-9]* of 200 done$' "$work/status" || { cat "$work/status"; return 1; }
    kill -KILL "$pid"
    for _ in $(seq 600); do
        scontrol show job "$merge_id" 2>/dev/null | grep -q 'JobState=\(CANCELLED\|FAILED\)' && break
        squeue -h -j "$merge_id" 2>/dev/null | grep -q . || break
        sleep 0.2
    done
    for _ in $(seq 600); do
        [ -z "$(squeue -h -n morvane-par-tasks,morvane-par-merge 2>/dev/null)" ] && break
        sleep 0.2
    done
    [ -d "$folder" ] || { echo "  the merge ran after a failed task"; return 1; }
    (cd "$run" && timeout 600 "$par" --wait "${args[@]}") > "$work/out" 2>&1 ||
        { cat "$work/out"; return 1; }
    grep -q '^windows: job [0-9]* (1 tasks)$' "$work/out" || { cat "$work/out"; return 1; }
    same_args=("${args[@]:5}")
    rm -rf "$work/one-killed" && mkdir "$work/one-killed"
    (cd "$work/one-killed" && "$build/${same_args[0]}" "${same_args[@]:1}")
    for f in "$work/one-killed"/*; do cmp "$f" "$run/${f##*/}" || return 1; done
}
check "a task killed mid-window on Slurm: the same command again goes on" killed_task

tally
