#!/usr/bin/env bash
# morvane-par --slurm on the test cluster of several nodes (.ci/slurm-up), and
# the faults of a cluster: the windows of one run land on two nodes and the
# merge on either; a task cancelled mid-window; a node lost mid-window (its
# slurmd and everything on it killed; the node is started again afterwards);
# a node's slurmd stopped mid-window and started again; a task requeued
# mid-window. After each, the same morvane-par command is given again, and the
# two files must be those of one run of the program, byte for byte. (A
# checkpoint cut short by a stop is tested with GNU parallel, par_runs.sh.)
#
# The faults are made by the test through its own copy of morvane-merge beside
# a link to morvane-par, which finds its programs there and runs each task as
# `morvane-merge --task WORK T`: the copy logs each task (node, T, job id,
# restarts) and, while the file hold exists, the first task to start keeps its
# place and waits. With -w 8 and two jobs, each task is one window.
#
# Usage: par_slurm_faults.sh BUILD_DIR
# It needs the cluster of .ci/slurm-up, found through SLURM_CONF, and root (a
# node is stopped and started again); without them it is skipped (status 77),
# unless MORVANE_REQUIRE_SLURM=1.
set -u
. "$(dirname "$0")/../../tests/checks.sh"
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

skip() {
    echo "$*"
    [ "${MORVANE_REQUIRE_SLURM:-0}" = 1 ] && exit 1
    exit 77
}
command -v sbatch >/dev/null && sinfo -h >/dev/null 2>&1 ||
    skip "no Slurm cluster answers (start one with .ci/slurm-up and export SLURM_CONF)"
cluster_dir=$(dirname "${SLURM_CONF:-/etc/slurm/slurm.conf}")
grep -q 'written by .ci/slurm-up' "$cluster_dir/slurm.conf" 2>/dev/null ||
    skip "the cluster of SLURM_CONF is not the test cluster of .ci/slurm-up"
[ "$(id -u)" -eq 0 ] || skip "stopping and starting a node needs root"
mapfile -t nodes < <(sinfo -h -N -o %N | sort -u)
[ ${#nodes[@]} -ge 2 ] || skip "the cluster has fewer than two nodes: ${nodes[*]}"
export MORVANE_SLURM_DIR=$cluster_dir

work=$(mktemp -d)
tag=morvane-faults-$$
lost=
cleanup() {
    # Nothing of this test stays queued, and a lost node comes back.
    local ids
    ids=$(squeue -h -o '%i %k' 2>/dev/null | awk -v t="$tag" '$2 == t { print $1 }')
    [ -z "$ids" ] || scancel $ids 2>/dev/null
    [ -z "$lost" ] || bash "$source_dir/.ci/slurm-up" >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
is() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }
timed() {  # timed COMMAND...: its status, and the seconds it took
    local start=$SECONDS status
    "$@"
    status=$?
    echo "  ($((SECONDS - start)) s)"
    return $status
}

program=morvane
[ -x "$build/morvane-l" ] && program=morvane-l
args=(97 3000000 0)
options=(--slurm --wait -j 2 -w 8 -t 8 --sbatch "--comment=$tag")
mkdir "$work/one"
(cd "$work/one" && "$build/$program" "${args[@]}")

# The bin folder: morvane-par and every other program of the build through
# links, morvane-merge (which runs the tasks and the final merge) through a
# logging copy.
bin=$work/bin
mkdir "$bin"
for tool in "$build"/morvane*; do
    [ -f "$tool" ] && [ -x "$tool" ] && ln -s "$tool" "$bin/${tool##*/}"
done
rm -f "$bin/morvane-merge"
cat > "$bin/morvane-merge" <<EOF
#!/bin/sh
# A task (--task WORK T): logged; held while $work/hold exists (the first to
# start only); with $work/two-nodes, waits (up to 20 s) until tasks have started
# on two nodes. The final merge (--finish): logged. The job as scancel names
# it: an array task as ARRAY_TASK (the array's own id would name every task).
case "\$1" in
--task)
    job=\${SLURM_JOB_ID:--}
    [ -z "\${SLURM_ARRAY_TASK_ID:-}" ] || job=\${SLURM_ARRAY_JOB_ID}_\${SLURM_ARRAY_TASK_ID}
    echo "\$(hostname) \${SLURMD_NODENAME:--} \$3 \$job \${SLURM_RESTART_COUNT:-0}" >> "$work/log"
    if [ -e "$work/hold" ] && mkdir "$work/held" 2>/dev/null; then
        echo "\$(hostname) \$job" > "$work/held/where"
        while [ -e "$work/hold" ]; do sleep 0.1; done
    fi
    if [ -e "$work/two-nodes" ]; then
        for _ in \$(seq 200); do
            [ "\$(cut -d ' ' -f 1 "$work/log" | sort -u | wc -l)" -ge 2 ] && break
            sleep 0.1
        done
    fi
    ;;
--finish) echo "\$(hostname)" >> "$work/merges" ;;
esac
exec "$build/morvane-merge" "\$@"
EOF
chmod +x "$bin/morvane-merge"

same_files() {  # same_files FOLDER: the folder holds one run's two files, and nothing else
    is "$(ls -A "$1")" "$(ls -A "$work/one")" || return 1
    for f in "$work/one"/*; do cmp "$f" "$1/${f##*/}" || return 1; done
}
run() {  # run FOLDER: the run's command there, with --wait; its status
    (cd "$1" && timeout 600 "$bin/morvane-par" "${options[@]}" $program "${args[@]}") \
        >> "$work/out" 2>&1
}
# The run's jobs have all left the queue (up to 2 minutes).
drained() {
    for _ in $(seq 240); do
        squeue -h -o %k 2>/dev/null | grep -qx "$tag" || return 0
        sleep 0.5
    done
    echo "  jobs of the run still queued:"
    squeue -o '%i %k %T %N %r' | grep "$tag"
    return 1
}
# wait_for FILE SECONDS
wait_for() {
    for _ in $(seq $(($2 * 10))); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "  no $1 after $2 s"
    return 1
}
fresh() {  # fresh NAME: an empty run folder, empty logs
    rm -rf "${work:?}/$1" "$work/hold" "$work/held" "$work/two-nodes"
    mkdir "$work/$1"
    : > "$work/log"
    : > "$work/merges"
    : > "$work/out"
}
# again FOLDER: the same command once more (the first one's jobs gone), then
# one run's bytes.
again() {
    drained || return 1
    : > "$work/log"
    run "$1" || { echo "  the same command again failed:"; cat "$work/out"; return 1; }
    same_files "$1"
}

# Windows on two nodes, the merge on either: the nodes that ran them, from
# each window's own host name and Slurm's node name.
spread() {
    fresh spread
    touch "$work/two-nodes"
    run "$work/spread" || { echo "  status $?:"; cat "$work/out"; return 1; }
    same_files "$work/spread" || return 1
    local hosts merged
    hosts=$(cut -d ' ' -f 1 "$work/log" | sort -u | paste -s -d ' ')
    is "$(cut -d ' ' -f 1,2 "$work/log" | awk '$1 != $2' | wc -l)" 0 || return 1
    merged=$(tail -n 1 "$work/merges")
    echo "  windows ran on: $hosts; the merge on: ${merged:-?}"
    [ "$(printf '%s\n' $hosts | wc -l)" -ge 2 ] || { echo "  all on one node"; return 1; }
    case " ${nodes[*]} " in *" $merged "*) ;; *) echo "  the merge ran on no node"; return 1 ;; esac
    rm -f "$work/two-nodes"
    again "$work/spread"
}
check "one run's windows on two nodes, the merge on one of them: one run's bytes" timed spread

# held FOLDER: the run started in the background, its first window held;
# sets runner (the pid of morvane-par) and held_node, held_job.
held() {
    touch "$work/hold"
    (cd "$1" && exec timeout 600 "$bin/morvane-par" "${options[@]}" $program "${args[@]}") \
        >> "$work/out" 2>&1 &
    runner=$!
    wait_for "$work/held/where" 120 || return 1
    read -r held_node held_job < "$work/held/where"
    held_nmin=$(awk -v j="$held_job" '$4 == j { print $3; exit }' "$work/log")
}
# finished SECONDS: morvane-par's status once it has ended (killed after
# SECONDS: then 124)
finished() {
    local status
    for _ in $(seq $(($1 * 10))); do
        if ! kill -0 "$runner" 2>/dev/null; then
            wait "$runner"
            return
        fi
        sleep 0.1
    done
    kill "$runner"
    wait "$runner"
    echo "  morvane-par --wait did not return in $1 s"
    return 124
}

# A task cancelled while its window runs: the run cannot end well; the same
# command again runs what is missing, not the whole run.
cancelled() {
    fresh cancelled
    held "$work/cancelled" || return 1
    scancel "$held_job" || return 1
    rm -f "$work/hold"
    finished 120
    local status=$?
    [ $status -ne 124 ] || return 1
    # Done after all, it must be done right.
    [ $status -ne 0 ] || same_files "$work/cancelled" || return 1
    drained || return 1
    cp "$work/log" "$work/log.first"
    again "$work/cancelled" || return 1
    local rerun all
    rerun=$(wc -l < "$work/log")
    all=$(cat "$work/log.first" "$work/log" | cut -d ' ' -f 3 | sort -u | wc -l)
    [ "$rerun" -lt "$all" ] || { echo "  the same command again ran $rerun windows of $all"; return 1; }
}
check "an array task cancelled mid-window (scancel): the same command again ends it" timed cancelled

# A node lost while a window runs on it: its slurmd and all it runs are killed.
# The controller finds it down (SlurmdTimeout) and requeues its task on the
# other node, or the run fails; the node is started again, and the same
# command again leaves one run's bytes.
node_lost() {
    fresh lost
    held "$work/lost" || return 1
    lost=$held_node
    bash "$source_dir/.ci/slurm-down" "$held_node" > /dev/null || return 1
    rm -f "$work/hold"
    finished 300
    local status=$?
    [ $status -ne 124 ] || return 1
    if [ $status -eq 0 ]; then
        same_files "$work/lost" || return 1
        echo "  the run ended on its own: the window held on $held_node ran again on" \
            "$(awk -v n="$held_nmin" '$3 == n { print $1 }' "$work/log" | tail -n 1)"
    else
        echo "  the run failed with $held_node lost (status $status)"
    fi
    bash "$source_dir/.ci/slurm-up" > /dev/null || { echo "  $held_node does not come back"; return 1; }
    lost=
    again "$work/lost"
}
check "a node lost mid-window (slurmd and its jobs killed), started again: one run's bytes" timed node_lost

# A node's slurmd stopped while a window runs there, and started again a few
# seconds later: the window goes on meanwhile (its job step does not need
# slurmd), and the run ends by itself.
slurmd_stopped() {
    fresh stopped
    held "$work/stopped" || return 1
    lost=$held_node
    bash "$source_dir/.ci/slurm-down" --slurmd "$held_node" > /dev/null || return 1
    rm -f "$work/hold"
    sleep 3
    bash "$source_dir/.ci/slurm-up" > /dev/null || { echo "  slurmd of $held_node does not come back"; return 1; }
    lost=
    finished 300 || { echo "  status $?:"; cat "$work/out"; return 1; }
    same_files "$work/stopped" || return 1
    again "$work/stopped"
}
check "a node's slurmd stopped mid-window, started again: the run ends by itself, one run's bytes" \
    timed slurmd_stopped

# A task requeued while its window runs (scontrol requeue): it runs again by
# itself, and the run ends well without help.
requeued() {
    fresh requeued
    held "$work/requeued" || return 1
    scontrol requeue "$held_job" || return 1
    rm -f "$work/hold"
    finished 300 || { echo "  status $?:"; cat "$work/out"; return 1; }
    same_files "$work/requeued" || return 1
    # The held window ran again, in the task's next start.
    awk -v n="$held_nmin" '$3 == n && $5 >= 1 { found = 1 } END { exit !found }' "$work/log" ||
        { echo "  window $held_nmin did not run again after the requeue:"; cat "$work/log"; return 1; }
    again "$work/requeued"
}
check "an array task requeued mid-window (scontrol requeue): ends by itself, one run's bytes" timed requeued

tally
