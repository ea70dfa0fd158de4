#!/usr/bin/env bash
# morvane-check, measured: windows far out (at 10^18) scanned one after the
# other, then all their files checked in one call; the check's time against
# the scans' time, and per record line. Then the dearest line there is, one
# whose count is counted afresh (a gap of more than 2^18 n before it): the
# check of a file whose every line is one.
#
#   bash bench/check_speed.sh [BUILD_DIR [WINDOWS [LENGTH]]]
#       (default build, 20 windows of 10^9 n)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
windows=${2:-20}
length=${3:-1000000000}
start=1000000000000000000

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
# best SECONDS...: the smallest
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
for program in morvane-x morvane-l; do
    [ -x "$build/$program" ] || continue
    for p in 97 13; do
        dir=$scratch/$program-$p
        mkdir "$dir"
        t=$(now)
        for ((k = 0; k < windows; k++)); do
            a=$((start + k * length))
            (cd "$dir" && "$build/$program" "$p" $((a + length - 1)) "$a")
        done
        scan=$(since "$t")
        lines=$(cat "$dir"/maxdev* | wc -l)
        checks=()
        for _ in 1 2 3; do
            t=$(now)
            (cd "$dir" && "$build/morvane-check" "$program" maxdev*)
            checks+=("$(since "$t")")
        done
        check=$(best "${checks[@]}")
        awk -v pr="$program" -v p="$p" -v w="$windows" -v l="$length" -v s="$scan" -v c="$check" \
            -v n="$lines" 'BEGIN {
                printf "%s %s, %d windows of %d n from 10^18: scan %.3f s, check of %d lines %.3f s (best of 3): %.4f of the scan, %.1f us a line\n",
                       pr, p, w, l, s, n, c, c / s, 1e6 * c / n }'
    done
done
