#!/usr/bin/env bash
# morvane-x for other sets and powers against p = 97 with squares, measured in
# the same run: N = 10^10 from 1, and windows of 10^11 n at 10^15 and at 10^18
# (their count below nmin and the set-up of the large powers included). Each
# pair is timed in turn (A, B, A, B, ...), user plus system seconds of the
# whole process, and the median of the ratios printed, since the machine may
# be shared. Then every prime to 4*10^11 on every core with morvane-par, and
# morvane-check of its files, each against one run.
#
#   bash bench/set_speed.sh [BUILD_DIR [RUNS]]    (default build, 3)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-3}
program=$build/morvane-x
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# cpu COMMAND...: user + system seconds of one run.
cpu() {
    /usr/bin/time -f '%U %S' -o "$scratch/time" "$@" >/dev/null
    awk '{ printf "%.3f", $1 + $2 }' "$scratch/time"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "each: median of $runs paired runs, user + system seconds"
printf '%-34s %-22s %8s %8s %7s\n' "run" "where" "A s" "97 s" "A/97"
for where in "10000000000" "1000000100000000000 1000000000000000000" \
    "1000100000000000 1000000000000000"; do
    for set in "all" "-k 3 all" "1000" "-k 3 97" "97"; do
        ratios=() as=() bs=()
        for _ in $(seq "$runs"); do
            # shellcheck disable=SC2086
            a=$(cpu "$program" $set $where)
            # shellcheck disable=SC2086
            b=$(cpu "$program" 97 $where)
            as+=("$a") bs+=("$b")
            ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')")
        done
        label=$(echo "$where" | awk '{ if (NF == 1) print "1.." $1; else print $2 " + 10^11" }')
        printf '%-34s %-22s %8s %8s %7s\n' "morvane-x $set" "$label" "$(median "${as[@]}")" \
            "$(median "${bs[@]}")" "$(median "${ratios[@]}")"
    done
done

# Every prime up to 4*10^11: morvane-par on every core against one run (wall
# clock, as a user waits for it), and morvane-check on the run's files against
# the run itself (user + system seconds); and the check of a window far out.
wall() {
    /usr/bin/time -f '%e' -o "$scratch/time" "$@" >/dev/null
    cat "$scratch/time"
}
big=400000000000
echo
echo "every prime, N = 4*10^11, median of $runs: morvane-par -j $(nproc) against one run; morvane-check against the run"
printf '%-44s %8s %8s %7s\n' "run" "A s" "one s" "A/one"
par=$build/morvane-par
check=$build/morvane-check
one_s=() par_s=() check_s=() one_cpu=()
for _ in $(seq "$runs"); do
    rm -rf one par && mkdir one par
    one_s+=("$(cd one && wall "$program" all $big)")
    one_cpu+=("$(cd one && cpu "$program" all $big)")
    par_s+=("$(cd par && wall "$par" -j "$(nproc)" morvane-x all $big)")
    cmp one/maxdevQ_all-1.txt par/maxdevQ_all-1.txt && cmp one/maxdevF_all-1.txt par/maxdevF_all-1.txt
    check_s+=("$(cd one && cpu "$check" morvane-x maxdevQ_all-1.txt maxdevF_all-1.txt)")
done
one=$(median "${one_s[@]}") cpu_one=$(median "${one_cpu[@]}")
printf '%-44s %8s %8s %7s  (one/A: %s times as fast)\n' "morvane-par -j $(nproc) morvane-x all 4*10^11" \
    "$(median "${par_s[@]}")" "$one" \
    "$(awk -v a="$(median "${par_s[@]}")" -v b="$one" 'BEGIN { printf "%.3f", a / b }')" \
    "$(awk -v a="$(median "${par_s[@]}")" -v b="$one" 'BEGIN { printf "%.2f", b / a }')"
printf '%-44s %8s %8s %7s\n' "morvane-check of its two files" "$(median "${check_s[@]}")" "$cpu_one" \
    "$(awk -v a="$(median "${check_s[@]}")" -v b="$cpu_one" 'BEGIN { printf "%.3f", a / b }')"
far="1000000100000000000 1000000000000000000"
rm -rf one && mkdir one
# shellcheck disable=SC2086
run_far=$(cd one && cpu "$program" all $far)
check_far=$(cd one && cpu "$check" morvane-x maxdev*)
printf '%-44s %8s %8s %7s\n' "morvane-check of a window, 10^11 n at 10^18" "$check_far" "$run_far" \
    "$(awk -v a="$check_far" -v b="$run_far" 'BEGIN { printf "%.3f", a / b }')"
