#!/usr/bin/env bash
# Window runs, measured: one run of a program against morvane-par on one job
# and on every core; 10^5 short windows against the scan itself; the cost of
# a finished task; the set-up of one window far out (at 10^18); the cost of
# morvane-merge per record line and per window; and, with window_cost (built
# with -DMORVANE_BENCH=ON), a window's parts and the final merge of a cluster
# run's task files. Prints the figures; it checks nothing but that the merged
# files are one run's.
#
#   bash bench/par_speed.sh [BUILD_DIR [N]]    (default build, 10^11)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
N=${2:-100000000000}
program=morvane-l
[ -x "$build/$program" ] || program=morvane
cores=$(nproc)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
# best SECONDS...: the smallest
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

echo "machine: $cores cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "program: $program 97 $N"

# Best of five, the three ways taken in turn, since the machine may be shared.
mkdir "$scratch/one"
ones=() singles=() alls=()
for _ in 1 2 3 4 5; do
    t=$(now); (cd "$scratch/one" && "$build/$program" 97 "$N"); ones+=("$(since "$t")")
    for jobs in 1 "$cores"; do
        rm -rf "$scratch/par" && mkdir "$scratch/par"
        t=$(now); (cd "$scratch/par" && "$build/morvane-par" -j "$jobs" "$program" 97 "$N"); par=$(since "$t")
        cmp -s "$scratch/one/maxdevQ_97-1.txt" "$scratch/par/maxdevQ_97-1.txt" &&
            cmp -s "$scratch/one/maxdevF_97-1.txt" "$scratch/par/maxdevF_97-1.txt" ||
            { echo "morvane-par -j $jobs: other files than one run's"; exit 1; }
        if [ "$jobs" = 1 ]; then singles+=("$par"); else alls+=("$par"); fi
    done
done
one=$(best "${ones[@]}")
echo "one run:                 $one s (best of 5)"
for jobs in 1 "$cores"; do
    if [ "$jobs" = 1 ]; then par=$(best "${singles[@]}"); else par=$(best "${alls[@]}"); fi
    plan=$("$build/morvane-merge" --plan --head "$jobs" 0 0 "$program" 97 "$N")
    windows="$(printf '%s\n' "$plan" | sed -n 's/^windows //p') windows, a head among them, in $(printf '%s\n' "$plan" | sed -n 's/^tasks //p') tasks"
    echo "morvane-par -j $jobs:        $par s ($windows), one run / this = $(awk -v a="$one" -v b="$par" 'BEGIN { printf "%.2f", a / b }')"
done

# 10^5 windows of 3*10^5 n each in 8 tasks, against one run of the same 3*10^10
# n: what the windows, their checks and checkpoints cost besides the scan.
short=30000000000
mkdir -p "$scratch/short-one"
ones=() shorts=()
for _ in 1 2 3; do
    t=$(now); (cd "$scratch/short-one" && "$build/$program" 97 $short); ones+=("$(since "$t")")
    rm -rf "$scratch/short" && mkdir "$scratch/short"
    t=$(now); (cd "$scratch/short" && "$build/morvane-par" -j "$cores" -w 100000 -t 8 "$program" 97 $short)
    shorts+=("$(since "$t")")
    cmp -s "$scratch/short-one/maxdevQ_97-1.txt" "$scratch/short/maxdevQ_97-1.txt" ||
        { echo "10^5 windows: other files than one run's"; exit 1; }
done
one=$(best "${ones[@]}") many=$(best "${shorts[@]}")
echo "10^5 windows of 3e5 n:   $many s on $cores jobs; one run of 3e10 n $one s; windows / one run = $(awk -v a="$many" -v b="$one" 'BEGIN { printf "%.2f", a / b }'), per window $(awk -v a="$many" -v b="$one" -v c="$cores" 'BEGIN { printf "%.0f", (a - b / c) * c / 1e5 * 1e6 }') us of a core besides the scan"

# A finished task: 1000 tasks of one window of 10^6 n each, against the same
# windows in one task.
for tasks in 1 1000; do
    runs=()
    for _ in 1 2 3; do
        rm -rf "$scratch/tasks" && mkdir "$scratch/tasks"
        t=$(now); (cd "$scratch/tasks" && "$build/morvane-par" -j "$cores" -w 1000 -t $tasks "$program" 97 1000000000); runs+=("$(since "$t")")
    done
    if [ $tasks = 1 ]; then in_one=$(best "${runs[@]}"); else in_many=$(best "${runs[@]}"); fi
done
echo "a finished task:         $(awk -v a="$in_many" -v b="$in_one" -v c="$cores" 'BEGIN { printf "%.1f", (a - b) * c / 999 * 1000 }') ms of a core (1000 windows in 1000 tasks $in_many s, in one task $in_one s)"

# The set-up of one window at 10^18: a window of 1000 n (whose scan takes
# about 0.1 microsecond), best of 5, against a run near 1 of the same length.
if [ "$program" = morvane-l ]; then
    far=() near=()
    mkdir "$scratch/w"
    for _ in 1 2 3 4 5; do
        t=$(now); (cd "$scratch/w" && "$build/$program" 97 1000000000000000999 1000000000000000000); far+=("$(since "$t")")
        t=$(now); (cd "$scratch/w" && "$build/$program" 97 1999 1000); near+=("$(since "$t")")
    done
    echo "one window at 10^18:     $(best "${far[@]}") s as a program of its own (a window near 1: $(best "${near[@]}") s)"
fi
if [ -x "$build/bench/window_cost" ]; then
    "$build/bench/window_cost"
fi

# The merge: windows of p = 3, whose F-excess makes many record lines in each
# window, merged as morvane-par merges them; then the cost per window and per
# record line from the two.
fit=()
for windows in 10 1000; do
    rm -rf "$scratch/m" && mkdir -p "$scratch/m/w"
    length=$((200000000 / windows))
    for ((k = 0; k < windows; k++)); do echo "$((k * length + 1)) $(((k + 1) * length))"; done |
        (cd "$scratch/m/w" && xargs -P "$cores" -L 1 sh -c "'$build/$program' 3 \"\$2\" \"\$1\"" _)
    lines=$(cat "$scratch/m/w"/* | wc -l)
    runs=()
    for _ in 1 2 3; do
        t=$(now); (cd "$scratch/m" && "$build/morvane-merge" "$program" w/maxdev*); runs+=("$(since "$t")")
    done
    merge=$(best "${runs[@]}")
    echo "merge of $windows windows:  $lines record lines in $merge s"
    fit+=("$windows" "$lines" "$merge")
done
awk -v w1="${fit[0]}" -v l1="${fit[1]}" -v t1="${fit[2]}" -v w2="${fit[3]}" -v l2="${fit[4]}" -v t2="${fit[5]}" 'BEGIN {
    line = (t2 - t1 * w2 / w1) / (l2 - l1 * w2 / w1)
    window = (t1 - line * l1) / w1
    printf "merge cost:              about %.0f us per window and %.2f us per record line\n", window * 1e6, line * 1e6
}'
