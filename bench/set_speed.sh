#!/usr/bin/env bash
# morvane-x for other sets and powers against p = 97 with squares, measured in
# the same run: N = 10^10 from 1, and windows of 10^11 n at 10^15 and at 10^18
# (their count below nmin and the set-up of the large powers included). Each
# pair is timed in turn (A, B, A, B, ...), user plus system seconds of the
# whole process, and the median of the ratios printed, since the machine may
# be shared. It checks nothing.
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
